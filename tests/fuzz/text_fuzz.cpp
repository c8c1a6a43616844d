// Grapheme counting and trimming on any input: trimming removes white space only, from the
// ends only; counting takes any well-formed text and never counts a trimmed text higher.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "platform/text.h"

namespace {

// The next code point of `text` from `i` and its length; -1 with length 1 for a byte that
// starts no well-formed sequence. Lenient on purpose: only for telling white space apart.
struct Step {
    long c;
    std::size_t length;
};

Step next(std::string_view text, std::size_t i) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || text.size() - i < length) return {-1, 1};
    const auto piece = std::span(reinterpret_cast<const std::uint8_t*>(text.data()) + i, length);
    if (!quorlen::decodeUTF8(piece)) return {-1, 1};
    long c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (piece[k] & 0x3F);
    return {c, length};
}

bool isSpace(long c) { return c >= 0 && quorlen::isWhiteSpaceOrNewline(static_cast<char32_t>(c)); }

// True when `part` decodes entirely to white space.
bool allSpace(std::string_view part) {
    for (std::size_t i = 0; i < part.size();) {
        const Step s = next(part, i);
        if (!isSpace(s.c)) return false;
        i += s.length;
    }
    return true;
}

// The last code point of `text`: walks back over continuation bytes, at most three.
long last(std::string_view text) {
    for (std::size_t back = 1; back <= 4 && back <= text.size(); ++back) {
        const std::size_t i = text.size() - back;
        const auto byte = static_cast<std::uint8_t>(text[i]);
        if ((byte & 0xC0) != 0x80) {
            const Step s = next(text, i);
            return s.length == back ? s.c : -1;
        }
    }
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string_view trimmed = quorlen::trimWhiteSpaceAndNewlines(text);

    // A part of the input itself, with only white space cut from either end.
    if (trimmed.data() < text.data() || trimmed.data() + trimmed.size() > text.data() + size) {
        std::abort();
    }
    const auto start = static_cast<std::size_t>(trimmed.data() - text.data());
    if (!allSpace(text.substr(0, start)) || !allSpace(text.substr(start + trimmed.size()))) {
        std::abort();
    }
    if (!trimmed.empty() && (isSpace(next(trimmed, 0).c) || isSpace(last(trimmed)))) std::abort();
    if (quorlen::trimWhiteSpaceAndNewlines(trimmed) != trimmed) std::abort();

    if (!quorlen::decodeUTF8(std::span(data, size))) return 0;
    const std::size_t count = quorlen::graphemeCount(text);
    std::size_t codePoints = 0;
    for (std::size_t i = 0; i < size; i += next(text, i).length) ++codePoints;
    if (count > codePoints || (size > 0 && count == 0)) std::abort();
    if (quorlen::graphemeCount(trimmed) > count) std::abort();
    return 0;
}
