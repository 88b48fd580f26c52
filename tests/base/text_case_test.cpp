#include "base/text_case.hpp"

#include <gtest/gtest.h>

#include <string>

namespace olvex {
namespace {

TEST(UnicodeLowercase, LowersLettersOfEveryScriptAndKeepsTheRest) {
    EXPECT_EQ(unicode_lowercase(""), "");
    EXPECT_EQ(unicode_lowercase("Spotify.EXE 2024_[x]"), "spotify.exe 2024_[x]");
    EXPECT_EQ(unicode_lowercase("\xC3\x84\xC3\x96\xC3\x9C"), "\xC3\xA4\xC3\xB6\xC3\xBC") << "A, O, U with diaeresis";
    EXPECT_EQ(unicode_lowercase("\xD0\x9C\xD0\xA3\xD0\x97\xD0\xAB\xD0\x9A\xD0\x90"),
              "\xD0\xBC\xD1\x83\xD0\xB7\xD1\x8B\xD0\xBA\xD0\xB0")
        << "Cyrillic, whose lower case moves to another lead byte";
    EXPECT_EQ(unicode_lowercase("\xE9\x9F\xB3\xE6\xA5\xBD \xE2\x82\xAC"), "\xE9\x9F\xB3\xE6\xA5\xBD \xE2\x82\xAC")
        << "no case: CJK and the euro sign stay";
}

// Context-free lowering gives the non-final sigma everywhere; a system that
// applies the final-sigma rule gives the final form at the end. Both are lower case.
TEST(UnicodeLowercase, LowersSigmaToEitherForm) {
    const std::string lowered = unicode_lowercase("\xCE\xA3\xCE\x91\xCE\xA3");
    const std::string sigma_alpha = "\xCF\x83\xCE\xB1";
    EXPECT_TRUE(lowered == sigma_alpha + "\xCF\x83" || lowered == sigma_alpha + "\xCF\x82") << lowered;
}

// Outside the Basic Multilingual Plane, where UTF-16 needs a surrogate pair.
TEST(UnicodeLowercase, LowersLettersBeyondTheBasicPlane) {
    EXPECT_EQ(unicode_lowercase("\xF0\x90\x90\x80x"), "\xF0\x90\x90\xA8x") << "Deseret long I";
    EXPECT_EQ(unicode_lowercase("\xF0\x9F\x8E\xB5"), "\xF0\x9F\x8E\xB5") << "a musical note has no case";
}

TEST(UnicodeLowercase, KeepsReplacementCharactersForIllFormedBytes) {
    EXPECT_EQ(unicode_lowercase("A\xFF" "B\xC3"), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    EXPECT_EQ(unicode_lowercase("\xE2\x82Z"), "\xEF\xBF\xBDz") << "a truncated sequence is one U+FFFD";
}

// Capital I with dot above lowers to "i" followed by a combining dot in full
// (SpecialCasing) lowering; one-to-one tables give a plain "i" or keep it. The
// systems differ, so only "not upper case any more, or unchanged" is asked.
TEST(UnicodeLowercase, CapitalIWithDotAboveIsLoweredAsTheSystemSays) {
    const std::string lowered = unicode_lowercase("\xC4\xB0");
    EXPECT_TRUE(lowered == "i" || lowered == "i\xCC\x87" || lowered == "\xC4\xB0") << lowered;
    RecordProperty("capital_i_with_dot_above", lowered);
}

}  // namespace
}  // namespace olvex
