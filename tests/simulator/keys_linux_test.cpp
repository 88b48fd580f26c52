#include "keys.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

namespace olvex::simulator {
namespace {

using namespace std::chrono_literals;

DeviceState playing_at(double position, double duration, Clock::time_point at) {
    DeviceState state;
    state.now_playing = {protocol::PlaybackStatus::playing, "t", "a", "b", position, duration};
    state.now_playing_at = at;
    state.has_now_playing = true;
    return state;
}

TEST(KeyReader, ReadsPlainKeysAndArrowSequences) {
    KeyReader reader;
    const std::vector<Key> expected = {
        {Action::play_pause}, {Action::next},        {Action::seek_tenth, 7}, {Action::volume_up},
        {Action::seek_back},  {Action::seek_forward}, {Action::volume_down},  {Action::quit},
    };
    // "x" and Ctrl+arrow's modifier part mean nothing; ESC O is the
    // application-cursor form of an arrow.
    EXPECT_EQ(reader.feed(" nx7\x1b[A\x1b[D\x1b[1;5C\x1bOBq"), expected);
}

TEST(KeyReader, KeepsAnEscapeSequenceCutBetweenReads) {
    KeyReader reader;
    EXPECT_TRUE(reader.feed("\x1b").empty());
    EXPECT_TRUE(reader.feed("[").empty());
    EXPECT_EQ(reader.feed("Cm"), (std::vector<Key>{{Action::seek_forward}, {Action::mute}}));
    EXPECT_EQ(reader.feed("\x03"), (std::vector<Key>{{Action::quit}}));
}

TEST(KeyNamed, NamesEveryKeyOfTheDevice) {
    EXPECT_EQ(key_named("space"), Key{Action::play_pause});
    EXPECT_EQ(key_named("left"), Key{Action::seek_back});
    EXPECT_EQ(key_named("-"), Key{Action::volume_down});
    EXPECT_EQ(key_named("0"), (Key{Action::seek_tenth, 0}));
    EXPECT_EQ(key_named("9"), (Key{Action::seek_tenth, 9}));
    EXPECT_FALSE(key_named("10").has_value());
    EXPECT_FALSE(key_named("SPACE").has_value());
}

TEST(EventForKey, SeeksFromThePositionTheDeviceShowsWithinTheTrack) {
    const auto start = Clock::time_point{} + 100s;
    const DeviceState state = playing_at(50.0, 65.0, start);
    const Key back{Action::seek_back};
    const Key forward{Action::seek_forward};
    EXPECT_EQ(event_for_key(back, state, start + 2s), protocol::DeviceEvent{protocol::Seek{42.0}});
    EXPECT_EQ(event_for_key(forward, state, start + 2s), protocol::DeviceEvent{protocol::Seek{62.0}});
    EXPECT_EQ(event_for_key(forward, state, start + 6s), protocol::DeviceEvent{protocol::Seek{65.0}});
    EXPECT_EQ(event_for_key(back, playing_at(3.0, 0.0, start), start), protocol::DeviceEvent{protocol::Seek{0.0}});
    // Without a known duration a forward seek has no end to stop at.
    EXPECT_EQ(event_for_key(forward, playing_at(3.0, 0.0, start), start), protocol::DeviceEvent{protocol::Seek{13.0}});
    EXPECT_EQ(event_for_key({Action::seek_tenth, 3}, state, start), protocol::DeviceEvent{protocol::SeekRelative{0.3}});
}

TEST(EventForKey, StepsTheReportedVolumeAndTogglesTheReportedFlags) {
    DeviceState state;
    const auto now = Clock::now();
    const Key up{Action::volume_up};
    const Key down{Action::volume_down};
    EXPECT_EQ(event_for_key(up, state, now), protocol::DeviceEvent{protocol::SetVolume{5.0}});
    state.volume = protocol::volume_message(0.3F, false);  // 30.000001...
    EXPECT_EQ(event_for_key(up, state, now), protocol::DeviceEvent{protocol::SetVolume{35.0}});
    state.volume = protocol::Volume{98.0, true};
    EXPECT_EQ(event_for_key(up, state, now), protocol::DeviceEvent{protocol::SetVolume{100.0}});
    state.volume = protocol::Volume{3.0, true};
    EXPECT_EQ(event_for_key(down, state, now), protocol::DeviceEvent{protocol::SetVolume{0.0}});
    EXPECT_EQ(event_for_key({Action::mute}, state, now), protocol::DeviceEvent{protocol::SetMute{false}});
    EXPECT_EQ(event_for_key({Action::lock}, state, now), protocol::DeviceEvent{protocol::SetLock{true}});
    state.locked = true;
    EXPECT_EQ(event_for_key({Action::lock}, state, now), protocol::DeviceEvent{protocol::SetLock{false}});
    EXPECT_EQ(event_for_key({Action::resync}, state, now), protocol::DeviceEvent{protocol::Resync{15}});
    EXPECT_FALSE(event_for_key({Action::quit}, state, now).has_value());
}

}  // namespace
}  // namespace olvex::simulator
