#include "screen.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <limits>
#include <string>
#include <vector>

#include "art/art.hpp"

namespace olvex::simulator {
namespace {

using namespace std::chrono_literals;

bool any_line_holds(const std::vector<std::string>& lines, const std::string& text) {
    return std::ranges::any_of(lines, [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

TEST(PositionAt, MovesOnlyWhilePlayingAndStaysWithinTheTrack) {
    const auto at = Clock::time_point{} + 10s;
    DeviceState state;
    ASSERT_FALSE(apply_message(state, protocol::NowPlaying{protocol::PlaybackStatus::playing, "", "", "", 30.0, 40.0}, at));
    EXPECT_DOUBLE_EQ(position_at(state, at + 2500ms), 32.5);
    EXPECT_DOUBLE_EQ(position_at(state, at + 60s), 40.0);
    EXPECT_DOUBLE_EQ(position_at(state, at - 1s), 30.0);  // a clock read before the message
    ASSERT_FALSE(apply_message(state, protocol::NowPlaying{protocol::PlaybackStatus::paused, "", "", "", 30.0, 40.0}, at));
    EXPECT_DOUBLE_EQ(position_at(state, at + 5s), 30.0);
}

TEST(ApplyMessage, KeepsTheArtOnlyWhenItIsAWholeSquare) {
    DeviceState state;
    const std::vector<std::uint8_t> square(art::ART_BYTES, 0xFF);
    EXPECT_FALSE(apply_message(state, protocol::Art{art::base64_encode(square)}, Clock::now()));
    EXPECT_EQ(state.art.pixels.size(), art::ART_BYTES);
    EXPECT_TRUE(apply_message(state, protocol::Art{"AAAA"}, Clock::now()).has_value());
    EXPECT_TRUE(state.art.pixels.empty());
    ASSERT_FALSE(apply_message(state, protocol::Art{art::base64_encode(square)}, Clock::now()));
    EXPECT_FALSE(apply_message(state, protocol::Art{""}, Clock::now()));  // no session: no art
    EXPECT_TRUE(state.art.pixels.empty());
}

TEST(FormatTime, WritesMinutesAndSecondsAndHoursWhenNeeded) {
    EXPECT_EQ(format_time(0.0), "0:00");
    EXPECT_EQ(format_time(59.9), "0:59");
    EXPECT_EQ(format_time(754.0), "12:34");
    EXPECT_EQ(format_time(3725.0), "1:02:05");
    EXPECT_EQ(format_time(-3.0), "0:00");
    EXPECT_EQ(format_time(std::numeric_limits<double>::quiet_NaN()), "0:00");
}

TEST(FitToWidth, CountsCharactersNotBytes) {
    EXPECT_EQ(fit_to_width("Ärger", 5), "Ärger");
    EXPECT_EQ(fit_to_width("Ärger über", 5), "Ärge\u2026");
    EXPECT_EQ(fit_to_width("abc", 0), "");
}

TEST(ProgressBar, FillsTheShareOfItsCells) {
    EXPECT_EQ(progress_bar(0.5, 4), "\u2501\u2501\u2500\u2500");
    EXPECT_EQ(progress_bar(2.0, 2), "\u2501\u2501");
    EXPECT_EQ(progress_bar(-1.0, 2), "\u2500\u2500");
}

TEST(ArtEdge, FitsBesideTheTextAndWithinTheRows) {
    EXPECT_EQ(art_edge({200, 100}), 128U);
    EXPECT_EQ(art_edge({100, 34}), 54U);  // rows decide
    EXPECT_EQ(art_edge({81, 60}), 38U);   // columns decide, made even
    EXPECT_EQ(art_edge({50, 60}), 0U);    // too narrow for a useful picture
}

TEST(ComposeScreen, ShowsTheTrackWithinTheTerminal) {
    DeviceState state;
    const auto at = Clock::now();
    ASSERT_FALSE(apply_message(
        state, protocol::NowPlaying{protocol::PlaybackStatus::playing, "First Light", "The Test Tones", "Sample", 61.0, 120.0},
        at));
    ASSERT_FALSE(apply_message(state, protocol::Volume{40.0, true}, at));
    const ScreenFacts facts{"/dev/pts/9", {"log 1", "log 2", "log 3", "log 4"}};
    const auto lines = compose_screen(state, facts, at + 1s, {100, 34});
    EXPECT_LE(lines.size(), 34U);
    for (const char* text : {"/dev/pts/9", "First Light", "The Test Tones", "playing", "1:02", "2:00", "muted",
                             "(no art)", "log 2", "log 4", "q quit"}) {
        EXPECT_TRUE(any_line_holds(lines, text)) << text;
    }
    EXPECT_FALSE(any_line_holds(lines, "log 1"));  // only the last three lines of the program
    EXPECT_EQ(compose_screen(state, facts, at, {100, 5}).size(), 5U);
}

}  // namespace
}  // namespace olvex::simulator
