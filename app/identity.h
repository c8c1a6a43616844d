#pragma once

#include <string_view>

namespace quorlen {

// Compiled-in, so both hold from the first instruction of every mode, probes included.
// The store's service name under which every key is kept.
inline constexpr std::string_view service = "com.quorlen.safe.v1";
// The program's reverse-DNS identifier; read by the self-check only.
inline constexpr std::string_view identifier = "com.quorlen.safe";

// The authentication actions registered for the program, one per prompting flow.
inline constexpr std::string_view copyAction = "com.quorlen.safe.copy";
inline constexpr std::string_view deleteAction = "com.quorlen.safe.delete";

}  // namespace quorlen
