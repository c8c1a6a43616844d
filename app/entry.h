#pragma once

#include <span>
#include <string_view>

namespace quorlen {

enum class Mode { windowed, availabilityProbe, signatureProbe, usageError };

// Returns the mode for the whole argument vector, program path first. Only the whole list
// is matched: no option parser, no abbreviations, no values.
Mode modeFor(std::span<const char* const> arguments);

// The exit status of an argument list that is not understood.
inline constexpr int kUsageErrorStatus = 64;

// The probes' fixed output lines.
inline constexpr std::string_view kAvailableTrue = "{\"available\":true}\n";
inline constexpr std::string_view kAvailableFalse = "{\"available\":false}\n";
inline constexpr std::string_view kSignedTrue = "{\"signed\":true}\n";
inline constexpr std::string_view kSignedFalse = "{\"signed\":false}\n";

}  // namespace quorlen
