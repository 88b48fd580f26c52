#include "media/winrt_string_win.hpp"

#include <gtest/gtest.h>

#include <string>

namespace olvex::media::winrt {
namespace {

std::string round_trip(std::wstring_view text) {
    auto made = make_hstring(text);
    EXPECT_TRUE(made.has_value());
    return made ? utf8_from_hstring(made->get()) : "<failed>";
}

TEST(HStringWin, NullIsTheEmptyString) { EXPECT_EQ(utf8_from_hstring(nullptr), ""); }

TEST(HStringWin, ConvertsEveryPlaneAndKeepsEmbeddedNul) {
    EXPECT_EQ(round_trip(L"Abc"), "Abc");
    EXPECT_EQ(round_trip(L"Caf\u00e9 \u266b"), "Caf\xC3\xA9 \xE2\x99\xAB");
    EXPECT_EQ(round_trip(L"\U0001F3B5"), "\xF0\x9F\x8E\xB5");
    EXPECT_EQ(round_trip(std::wstring_view(L"a\0b", 3)), std::string("a\0b", 3));
}

TEST(HStringWin, UnpairedSurrogatesBecomeReplacementCharacters) {
    const wchar_t lone_high[] = {L'x', static_cast<wchar_t>(0xD83C), L'y'};
    EXPECT_EQ(round_trip(std::wstring_view(lone_high, 3)), "x\xEF\xBF\xBDy");
    const wchar_t lone_low_then_high_at_end[] = {static_cast<wchar_t>(0xDF75), static_cast<wchar_t>(0xD83C)};
    EXPECT_EQ(round_trip(std::wstring_view(lone_low_then_high_at_end, 2)), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
}  // namespace olvex::media::winrt
