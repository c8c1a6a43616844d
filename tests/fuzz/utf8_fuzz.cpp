// Strict UTF-8 decoding, checked against two decoders that share no code with it: a
// code-point state machine written here, and ICU's conversion without substitution.
#include <unicode/ustring.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "platform/text.h"

namespace {

// Decodes code point by code point and judges each by its value: the shortest form only,
// no surrogates, nothing past U+10FFFF.
bool referenceValid(const std::uint8_t* data, std::size_t size) {
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t lead = data[i];
        std::size_t length;
        char32_t c;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            c = lead & 0x1Fu;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            c = lead & 0x0Fu;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            c = lead & 0x07u;
        } else {
            return false;  // a continuation byte or 0xF8..0xFF in lead position
        }
        if (size - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((data[i + k] & 0xC0) != 0x80) return false;
            c = (c << 6) | (data[i + k] & 0x3Fu);
        }
        static constexpr char32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < kShortest[length] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return false;
        i += length;
    }
    return true;
}

bool icuValid(const std::uint8_t* data, std::size_t size) {
    // UTF-16 never needs more units than UTF-8 has bytes.
    std::vector<UChar> out(size + 1);
    int32_t length = 0;
    UErrorCode error = U_ZERO_ERROR;
    u_strFromUTF8(out.data(), static_cast<int32_t>(out.size()), &length,
                  reinterpret_cast<const char*>(data), static_cast<int32_t>(size), &error);
    return U_SUCCESS(error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto text = quorlen::decodeUTF8(std::span(data, size));
    const bool reference = referenceValid(data, size);
    if (text.has_value() != reference || reference != icuValid(data, size)) std::abort();
    // The text is the input itself, not a copy or a part of it.
    if (text && (static_cast<const void*>(text->data()) != data || text->size() != size)) {
        std::abort();
    }
    return 0;
}
