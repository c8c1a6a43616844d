#include "platform/text.h"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <cstdlib>
#include <limits>
#include <memory>

#include "platform/random.h"

namespace quorlen {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isHyphenPosition(std::size_t i) { return i == 8 || i == 13 || i == 18 || i == 23; }

struct UTextCloser {
    void operator()(UText* text) const { utext_close(text); }
};

}  // namespace

std::string makeUUIDText() {
    std::array<std::uint8_t, 16> bytes{};
    // Without randomness no identifier can be trusted to be unique; nothing sane is left.
    if (!fillRandom(bytes)) std::abort();
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
        text.push_back(kHexDigits[bytes[i] >> 4]);
        text.push_back(kHexDigits[bytes[i] & 0x0F]);
    }
    return text;
}

std::optional<std::array<std::uint8_t, 16>> parseUUID(std::string_view text) {
    if (text.size() != 36) return std::nullopt;
    std::array<std::uint8_t, 16> bytes{};
    std::size_t nibble = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isHyphenPosition(i)) {
            if (text[i] != '-') return std::nullopt;
            continue;
        }
        int value = hexValue(text[i]);
        if (value < 0) return std::nullopt;
        auto& byte = bytes[nibble / 2];
        byte = static_cast<std::uint8_t>(nibble % 2 == 0 ? value << 4 : byte | value);
        ++nibble;
    }
    return bytes;
}

std::optional<std::string_view> decodeUTF8(std::span<const std::uint8_t> bytes) {
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        std::uint8_t low = 0x80, high = 0xBF;  // bounds of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;   // no overlong forms
            if (lead == 0xED) high = 0x9F;  // no surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;   // no overlong forms
            if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
        } else {
            return std::nullopt;
        }
        if (n - i < length) return std::nullopt;
        if (bytes[i + 1] < low || bytes[i + 1] > high) return std::nullopt;
        for (std::size_t k = 2; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) return std::nullopt;
        }
        i += length;
    }
    return std::string_view(reinterpret_cast<const char*>(bytes.data()), n);
}

std::size_t graphemeCount(std::string_view text) {
    // A text that cannot be counted must not pass a length limit as if it were short.
    constexpr std::size_t kUncountable = std::numeric_limits<std::size_t>::max();
    if (text.empty()) return 0;
    UErrorCode error = U_ZERO_ERROR;
    std::unique_ptr<UText, UTextCloser> utext(
        utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &error));
    if (U_FAILURE(error)) return kUncountable;
    std::unique_ptr<icu::BreakIterator> breaks(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), error));
    if (U_FAILURE(error) || !breaks) return kUncountable;
    breaks->setText(utext.get(), error);
    if (U_FAILURE(error)) return kUncountable;
    std::size_t count = 0;
    breaks->first();
    while (breaks->next() != icu::BreakIterator::DONE) ++count;
    return count;
}

bool isWhiteSpaceOrNewline(char32_t c) {
    if ((c >= 0x09 && c <= 0x0D) || c == 0x85) return true;
    const auto category = u_charType(static_cast<UChar32>(c));
    return category == U_SPACE_SEPARATOR || category == U_LINE_SEPARATOR ||
           category == U_PARAGRAPH_SEPARATOR;
}

std::string_view trimWhiteSpaceAndNewlines(std::string_view text) {
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(s, next, length, c);
        if (c < 0 || !isWhiteSpaceOrNewline(static_cast<char32_t>(c))) break;
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(s, start, previous, c);
        if (c < 0 || !isWhiteSpaceOrNewline(static_cast<char32_t>(c))) break;
        end = previous;
    }
    return text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

}  // namespace quorlen
