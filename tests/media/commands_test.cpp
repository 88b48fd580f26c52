#include "media/commands.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fakes/fake_media_platform.hpp"

namespace olvex::media {
namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using testing_support::FakeMediaManager;
using testing_support::FakeMediaSession;
using testing_support::FakeTrack;
using testing_support::ticks_of_seconds;

class CommandsTest : public testing::Test {
protected:
    void SetUp() override {
        FakeTrack track;
        track.start_time = ticks_of_seconds(10);
        track.end_time = ticks_of_seconds(70);
        session_->set_track(track);
    }

    MediaWatcherHandle watch(bool with_session) {
        if (with_session) manager_->set_current(session_);
        return start_watcher(manager_).value();
    }

    std::shared_ptr<FakeMediaManager> manager_ = std::make_shared<FakeMediaManager>();
    std::shared_ptr<FakeMediaSession> session_ = manager_->make_session("A");
};

TEST_F(CommandsTest, CommandsReachTheCurrentSession) {
    const auto watcher = watch(true);
    EXPECT_EQ(toggle_play_pause(watcher), true);
    EXPECT_EQ(skip_next(watcher), true);
    session_->set_command_result(false);
    EXPECT_EQ(skip_previous(watcher), false);
    session_->set_command_result(make_error("busy (0x8000000E)"));
    EXPECT_EQ(seek_to(watcher, Duration{12, 500'000'000}).error().message, "busy (0x8000000E)");
    EXPECT_THAT(session_->commands(),
                ElementsAre("toggle_play_pause", "skip_next", "skip_previous", "change_position 125000000"));
}

TEST_F(CommandsTest, WithoutASessionNothingIsAskedOfThePlatform) {
    const auto watcher = watch(false);
    EXPECT_EQ(toggle_play_pause(watcher), false);
    EXPECT_EQ(skip_next(watcher), false);
    EXPECT_EQ(seek_to(watcher, Duration{1, 0}), false);
    seek_to_fraction(watcher, 0.5);
    EXPECT_FALSE(has_session(watcher));
    EXPECT_EQ(read_current(watcher).value(), std::nullopt);
    EXPECT_THAT(session_->commands(), IsEmpty());
}

TEST_F(CommandsTest, SeekToSecondsTakesOnlyValuesThatAreDurations) {
    const auto watcher = watch(true);
    seek_to_seconds(watcher, 12.5);
    seek_to_seconds(watcher, 0.0);
    seek_to_seconds(watcher, 1e18);  // a duration, but beyond the platform's range
    for (const double invalid : {-5.0, std::nan(""), 1e20, std::numeric_limits<double>::infinity()}) {
        seek_to_seconds(watcher, invalid);
    }
    EXPECT_THAT(session_->commands(), ElementsAre("change_position 125000000", "change_position 0",
                                                  "change_position 9223372036854775807"));
}

TEST_F(CommandsTest, SeekToFractionIsAShareOfTheTrackPastItsStart) {
    const auto watcher = watch(true);
    seek_to_fraction(watcher, 0.5);
    seek_to_fraction(watcher, 1.5);
    seek_to_fraction(watcher, 0.0);
    seek_to_fraction(watcher, -0.5);
    seek_to_fraction(watcher, std::nan(""));
    EXPECT_THAT(session_->commands(),
                ElementsAre("change_position 400000000", "change_position 1000000000", "change_position 100000000"));

    FakeTrack backwards;  // end before start: a span of zero
    backwards.start_time = ticks_of_seconds(5);
    backwards.end_time = ticks_of_seconds(3);
    session_->set_track(backwards);
    seek_to_fraction(watcher, 0.7);
    EXPECT_EQ(session_->commands().back(), "change_position 50000000");

    FakeTrack unreadable;
    unreadable.timeline_fail = true;
    session_->set_track(unreadable);
    seek_to_fraction(watcher, 0.5);
    EXPECT_EQ(session_->commands().size(), 4u);
    EXPECT_FALSE(read_current(watcher).has_value());
}

}  // namespace
}  // namespace olvex::media
