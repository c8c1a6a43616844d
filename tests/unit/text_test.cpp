#include "platform/text.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace quorlen {
namespace {

std::vector<std::uint8_t> bytesOf(std::initializer_list<int> values) {
    std::vector<std::uint8_t> out;
    for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
    return out;
}

std::string repeat(std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

TEST(GraphemeCount, CountsUserPerceivedCharacters) {
    const struct {
        std::string text;
        std::size_t count;
    } cases[] = {
        {"", 0},
        {"abc", 3},
        {"e\xCC\x81", 1},                         // e + U+0301
        {"\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA", 1},  // flag DE
        {"\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7", 1},  // family
        {"\r\n", 1},
        {"  a  ", 5},
        {repeat("\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7", 120), 120},
        {"\xE2\x80\x8B", 1},  // U+200B is a character of its own
    };
    for (const auto& c : cases) EXPECT_EQ(graphemeCount(c.text), c.count) << c.text;
}

TEST(WhiteSpace, IsCategoryZPlusControlsAndNextLine) {
    const std::set<char32_t> expected = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                         0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                         0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                         0x2029, 0x202F, 0x205F, 0x3000};
    std::set<char32_t> found;
    for (char32_t c = 0; c < 0x30000; ++c) {
        if (isWhiteSpaceOrNewline(c)) found.insert(c);
    }
    EXPECT_EQ(found, expected);
    EXPECT_FALSE(isWhiteSpaceOrNewline(0x200B));  // zero-width space is not white space
    EXPECT_FALSE(isWhiteSpaceOrNewline(0xFEFF));
}

TEST(Trim, RemovesOnlyTheWhiteSpaceSetAtBothEnds) {
    const struct {
        std::string text;
        std::string trimmed;
    } cases[] = {
        {"", ""},
        {" \t\r\n\xC2\xA0\xE2\x80\xA8\xC2\x85", ""},
        {"  key name \n", "key name"},
        {"\xE3\x80\x80name\xE2\x80\xAF", "name"},  // ideographic and narrow no-break space
        {"\xE2\x80\x8Bname", "\xE2\x80\x8Bname"},  // U+200B stays
        {" a b ", "a b"},
        {"\xFF ", "\xFF"},  // ill-formed bytes are not white space
    };
    for (const auto& c : cases) EXPECT_EQ(trimWhiteSpaceAndNewlines(c.text), c.trimmed);
}

TEST(UUID, MadeTextIsUppercaseVersion4AndParses) {
    std::set<std::string> seen;
    for (int i = 0; i < 64; ++i) {
        const std::string text = makeUUIDText();
        ASSERT_EQ(text.size(), 36u);
        EXPECT_EQ(text[14], '4') << text;
        EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos) << text;
        for (char c : text) EXPECT_FALSE(c >= 'a' && c <= 'z') << text;
        auto bytes = parseUUID(text);
        ASSERT_TRUE(bytes.has_value()) << text;
        EXPECT_EQ((*bytes)[6] >> 4, 4);
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 64u);
}

TEST(UUID, ParsesTheStandardFormOnly) {
    auto bytes = parseUUID("00112233-4455-6677-8899-aAbBcCdDeEfF");
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ((*bytes)[0], 0x00);
    EXPECT_EQ((*bytes)[9], 0x99);
    EXPECT_EQ((*bytes)[15], 0xFF);
    for (const char* bad :
         {"", "not-a-uuid", "00112233-4455-6677-8899-AABBCCDDEEF",
          "00112233-4455-6677-8899-AABBCCDDEEFF0", "001122334455-6677-8899-AABBCCDDEEFF",
          "00112233_4455_6677_8899_AABBCCDDEEFF", "{00112233-4455-6677-8899-AABBCCDDEEFF}",
          "0011223G-4455-6677-8899-AABBCCDDEEFF", " 00112233-4455-6677-8899-AABBCCDDEEF",
          "00112233-4455-6677-8899-AABBCCDDEEFF\n"}) {
        EXPECT_FALSE(parseUUID(bad).has_value()) << bad;
    }
}

TEST(UTF8, AcceptsWellFormedText) {
    for (const auto& bytes :
         {bytesOf({}), bytesOf({0x20}), bytesOf({0x00}), bytesOf({0xC3, 0xA9}),
          bytesOf({0xE2, 0x80, 0xA6}), bytesOf({0xED, 0x9F, 0xBF}), bytesOf({0xEE, 0x80, 0x80}),
          bytesOf({0xF0, 0x90, 0x80, 0x80}), bytesOf({0xF4, 0x8F, 0xBF, 0xBF})}) {
        auto text = decodeUTF8(bytes);
        ASSERT_TRUE(text.has_value());
        EXPECT_EQ(text->size(), bytes.size());
        EXPECT_EQ(static_cast<const void*>(text->data()), static_cast<const void*>(bytes.data()));
    }
}

TEST(UTF8, RejectsIllFormedBytes) {
    const std::vector<std::uint8_t> cases[] = {
        bytesOf({0x80}),                    // lone continuation
        bytesOf({0xC0, 0xAF}),              // overlong '/'
        bytesOf({0xC1, 0xBF}),              // overlong
        bytesOf({0xE0, 0x80, 0xAF}),        // overlong three-byte
        bytesOf({0xF0, 0x80, 0x80, 0xAF}),  // overlong four-byte
        bytesOf({0xED, 0xA0, 0x80}),        // surrogate U+D800
        bytesOf({0xED, 0xBF, 0xBF}),        // surrogate U+DFFF
        bytesOf({0xF4, 0x90, 0x80, 0x80}),  // past U+10FFFF
        bytesOf({0xF5, 0x80, 0x80, 0x80}),
        bytesOf({0xFF}),
        bytesOf({0xC3}),                    // truncated
        bytesOf({0xE2, 0x80}),              // truncated
        bytesOf({0xF0, 0x9F, 0x98}),        // truncated
        bytesOf({0x61, 0xE2, 0x28, 0xA1}),  // bad continuation
    };
    for (const auto& bytes : cases) EXPECT_FALSE(decodeUTF8(bytes).has_value());
}

}  // namespace
}  // namespace quorlen
