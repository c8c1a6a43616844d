#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quorlen {

// Returns the text of a new random (version 4) UUID: 36 characters, uppercase hexadecimal
// in groups of 8-4-4-4-12 joined by hyphens. Aborts only if the system has no randomness.
std::string makeUUIDText();

// Returns the 16 bytes of `text` when it is a UUID in its standard textual form
// (8-4-4-4-12 hexadecimal digits, either case); empty otherwise.
std::optional<std::array<std::uint8_t, 16>> parseUUID(std::string_view text);

// Returns the bytes as text when they are well-formed UTF-8 (no overlong forms, no
// surrogates, nothing past U+10FFFF, no truncated sequence); empty otherwise. The view
// aliases `bytes`: nothing is copied.
std::optional<std::string_view> decodeUTF8(std::span<const std::uint8_t> bytes);

// Returns the number of extended grapheme clusters in well-formed UTF-8 `text`, 0 for
// empty text, and the largest size_t when the text cannot be segmented.
std::size_t graphemeCount(std::string_view text);

// Returns true for the white-space and line-break set: general category Z, U+0009 to
// U+000D, and U+0085.
bool isWhiteSpaceOrNewline(char32_t c);

// Returns `text` without leading and trailing white space and line breaks. Ill-formed
// bytes count as not white space.
std::string_view trimWhiteSpaceAndNewlines(std::string_view text);

}  // namespace quorlen
