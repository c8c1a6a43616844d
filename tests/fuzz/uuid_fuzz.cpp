// UUID text: a text parses exactly when it has the 8-4-4-4-12 form, and the bytes it parses
// to give back the same text, whatever the case of its digits.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/text.h"

namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool hasUUIDForm(std::string_view text) {
    if (text.size() != 36) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        if (hyphen ? text[i] != '-' : !isHexDigit(text[i])) return false;
    }
    return true;
}

std::string textOf(const std::array<std::uint8_t, 16>& bytes, const char* digits) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0F]);
    }
    return text;
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A made identifier is in the form it promises and carries version 4.
    const std::string made = quorlen::makeUUIDText();
    const auto bytes = quorlen::parseUUID(made);
    if (!hasUUIDForm(made) || made != upper(made) || !bytes || ((*bytes)[6] >> 4) != 4 ||
        ((*bytes)[8] & 0xC0) != 0x80) {
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto bytes = quorlen::parseUUID(text);
    if (bytes.has_value() != hasUUIDForm(text)) std::abort();
    if (!bytes) return 0;

    const std::string canonical = textOf(*bytes, "0123456789ABCDEF");
    if (canonical != upper(text)) std::abort();
    for (const std::string& again : {canonical, textOf(*bytes, "0123456789abcdef")}) {
        const auto reparsed = quorlen::parseUUID(again);
        if (!reparsed || *reparsed != *bytes) std::abort();
    }
    return 0;
}
