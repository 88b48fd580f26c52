#include "serial/port_list.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/text.hpp"
#include "base/unicode_space.hpp"

namespace olvex::serial {
namespace {

using Ports = std::vector<PortRecord>;

constexpr std::nullopt_t NO_OVERRIDE = std::nullopt;

std::string utf8_of(char16_t code_point) { return utf16_to_utf8(std::u16string(1, code_point)); }

// ---- order without an override ----

TEST(PortCandidates, MarkedPortsComeFirstThenTheRest) {
    const Ports ports = {
        {"COM3", "USB Serial Device (COM3)"},
        {"COM7", "cIRCUITpYTHON cdc2 Control"},
        {"COM8", "CircuitPython CDC control"},
    };
    const Ports expected = {ports[1], ports[0], ports[2]};
    EXPECT_EQ(select_port_candidates(ports, NO_OVERRIDE), expected);
}

TEST(PortCandidates, EnumerationOrderIsKeptWithinEachGroup) {
    const Ports ports = {
        {"A", "plain"}, {"B", "CircuitPython CDC2 data"},    {"C", "other"}, {"D", "x circuitpython cdc2"},
        {"E", ""},      {"F", "CIRCUITPYTHON CDC2 CONTROL"},
    };
    const Ports expected = {ports[1], ports[3], ports[5], ports[0], ports[2], ports[4]};
    EXPECT_EQ(select_port_candidates(ports, NO_OVERRIDE), expected);
}

// Full lower-casing turns U+0130 into "i" and a combining dot, which breaks the
// marker; a simple per-character mapping would turn it into a bare "i".
TEST(PortCandidates, MarkerIsMatchedAfterFullLowerCasing) {
    const Ports ports = {
        {"DOTTED", "C\xC4\xB0RCUITPYTHON CDC2"},  // U+0130 in place of I
        {"ACCENTED", "\xC3\x89tiquette: CircuitPython CDC2 control"},
    };
    const Ports expected = {ports[1], ports[0]};
    EXPECT_EQ(select_port_candidates(ports, NO_OVERRIDE), expected);
}

TEST(PortCandidates, NoPortsGiveNoCandidates) { EXPECT_TRUE(select_port_candidates({}, NO_OVERRIDE).empty()); }

// ---- the override ----

TEST(PortOverride, PicksTheFirstListedPortWhateverItsAsciiCase) {
    const Ports ports = {{"COM3", "CircuitPython CDC2 control"}, {"COM7", "USB Serial Device (COM7)"}, {"com7", ""}};
    EXPECT_EQ(select_port_candidates(ports, " com7 "), Ports{ports[1]});
}

TEST(PortOverride, AnUnlistedPortIsStillTheOnlyCandidate) {
    const Ports ports = {{"COM7", "CircuitPython CDC2 control"}};
    EXPECT_EQ(select_port_candidates(ports, "COM9"), (Ports{{"COM9", ""}}));
    EXPECT_EQ(select_port_candidates({}, "/dev/ttyACM4"), (Ports{{"/dev/ttyACM4", ""}}));
}

TEST(PortOverride, OnlyAsciiLettersIgnoreCase) {
    const std::string upper_umlaut = "PORT\xC3\x84", lower_umlaut = "port\xC3\xA4";  // Ä, ä
    const std::string kelvin_sign = "COM\xE2\x84\xAA";                               // U+212A, lower-cases to k
    const Ports ports = {{upper_umlaut, ""}, {"COMK", ""}};
    EXPECT_EQ(select_port_candidates(ports, lower_umlaut), (Ports{{lower_umlaut, ""}}));
    EXPECT_EQ(select_port_candidates(ports, kelvin_sign), (Ports{{kelvin_sign, ""}}));
}

TEST(PortOverride, BlankValueNamesAPortWithAnEmptyName) {
    const Ports ports = {{"COM7", "CircuitPython CDC2 control"}};
    EXPECT_EQ(select_port_candidates(ports, ""), (Ports{{"", ""}}));
    EXPECT_EQ(select_port_candidates(ports, " \t\xE3\x80\x80 "), (Ports{{"", ""}}));
}

// ---- white space trimming ----

// Every character with the White_Space property, encoded independently of the
// trimming code's own table.
TEST(UnicodeWhitespace, EveryWhiteSpaceCharacterIsTrimmedAtBothEnds) {
    const char16_t white_space[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,   0xA0,   0x1680,
                                    0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
                                    0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
    for (const char16_t space : white_space) {
        const std::string s = utf8_of(space);
        EXPECT_EQ(trim_unicode_whitespace(s + s + "COM7" + s), "COM7") << std::hex << static_cast<unsigned>(space);
    }
}

TEST(UnicodeWhitespace, InvisibleCharactersWithoutThePropertyStay) {
    // ZERO WIDTH SPACE, MONGOLIAN VOWEL SEPARATOR (white space before Unicode 6.3),
    // ZERO WIDTH NO-BREAK SPACE, and a neighbour of IDEOGRAPHIC SPACE.
    for (const char16_t kept : {u'\u200B', u'\u180E', u'\uFEFF', u'\u3001'}) {
        const std::string k = utf8_of(kept);
        EXPECT_EQ(trim_unicode_whitespace(" " + k + "COM7" + k + " "), k + "COM7" + k)
            << std::hex << static_cast<unsigned>(kept);
    }
}

}  // namespace
}  // namespace olvex::serial
