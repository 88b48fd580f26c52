#include "base/text.hpp"

#include <gtest/gtest.h>

#include <string>

namespace olvex {
namespace {

TEST(Utf8ToUtf16, ConvertsAllPlanes) {
    EXPECT_EQ(utf8_to_utf16("A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5"), u"A\u00E9\u20AC\U0001F3B5");
    EXPECT_EQ(utf8_to_utf16(""), u"");
}

struct IllFormed {
    const char* bytes;
    std::u16string expected;
};

class Utf8Replacement : public testing::TestWithParam<IllFormed> {};

// Each maximal ill-formed subsequence becomes exactly one U+FFFD.
TEST_P(Utf8Replacement, ReplacesMaximalSubparts) {
    EXPECT_EQ(utf8_to_utf16(GetParam().bytes), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Replacement,
    testing::Values(IllFormed{"a\x80" "b", u"a\uFFFDb"},                 // stray continuation
                    IllFormed{"\xE2\x82", u"\uFFFD"},                     // truncated at the end
                    IllFormed{"\xE2\x82z", u"\uFFFDz"},                   // truncated in the middle
                    IllFormed{"\xC0\xAF", u"\uFFFD\uFFFD"},               // overlong lead
                    IllFormed{"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},     // overlong three-byte
                    IllFormed{"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},     // encoded surrogate
                    IllFormed{"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
                    IllFormed{"\xF0\x9F\x8E", u"\uFFFD"},                 // truncated four-byte
                    IllFormed{"\xFF\xFE", u"\uFFFD\uFFFD"}));

TEST(Utf16ToUtf8, PairsSurrogatesAndReplacesLoneOnes) {
    EXPECT_EQ(utf16_to_utf8(u"\U0001F3B5x"), "\xF0\x9F\x8E\xB5x");
    const char16_t lone_high[] = {u'a', 0xD83C, u'b', 0};
    EXPECT_EQ(utf16_to_utf8(lone_high), "a\xEF\xBF\xBD" "b");
    const char16_t lone_low_at_end[] = {0xDFB5, 0};
    EXPECT_EQ(utf16_to_utf8(lone_low_at_end), "\xEF\xBF\xBD");
}

TEST(SanitizeUtf8, KeepsValidTextAndReplacesTheRest) {
    EXPECT_EQ(sanitize_utf8("Caf\xC3\xA9 \xEF\xBF\xBD"), "Caf\xC3\xA9 \xEF\xBF\xBD");
    EXPECT_EQ(sanitize_utf8("x\xC3(y"), "x\xEF\xBF\xBD(y");
    EXPECT_EQ(sanitize_utf8(std::string("\0\x7F", 2)), std::string("\0\x7F", 2));
}

TEST(AsciiCase, FoldsOnlyAsciiLetters) {
    EXPECT_TRUE(ascii_iequals("COM3", "com3"));
    EXPECT_FALSE(ascii_iequals("com3", "com33"));
    EXPECT_FALSE(ascii_iequals("\xC3\x89", "\xC3\xA9")) << "E acute differs in case outside ASCII";
    EXPECT_EQ(ascii_to_lower("CircuitPython CDC2 \xC3\x89"), "circuitpython cdc2 \xC3\x89");
}

}  // namespace
}  // namespace olvex
