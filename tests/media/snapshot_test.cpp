#include "media/snapshot.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fakes/fake_media_platform.hpp"

namespace olvex::media {
namespace {

using testing_support::FakeCallLog;
using testing_support::FakeMediaSession;
using testing_support::FakeTrack;
using testing_support::ticks_of_seconds;

// A fixed "now" keeps the carried-forward arithmetic exact.
constexpr DateTimeTicks NOW = 134'000'000'000'000'000;

FakeTrack playing_track(double position_s, double seconds_since_update) {
    FakeTrack track;
    track.status = PLATFORM_STATUS_PLAYING;
    track.position = ticks_of_seconds(position_s);
    track.last_updated_time = NOW - ticks_of_seconds(seconds_since_update);
    return track;
}

class SnapshotTest : public testing::Test {
protected:
    SessionSnapshot read(FakeTrack track) {
        session_->set_track(std::move(track));
        auto snapshot = read_snapshot(*session_, NOW);
        EXPECT_TRUE(snapshot.has_value()) << snapshot.error().message;
        return snapshot.value_or(SessionSnapshot{});
    }
    double position_of(FakeTrack track) { return read(std::move(track)).position.as_seconds_f64(); }

    std::shared_ptr<FakeMediaSession> session_ =
        std::make_shared<FakeMediaSession>("A", std::make_shared<FakeCallLog>());
};

TEST_F(SnapshotTest, PlayingPositionIsCarriedForwardAtTheRate) {
    EXPECT_DOUBLE_EQ(position_of(playing_track(10, 2)), 12.0);
    auto track = playing_track(10, 2);
    track.rate = 2.0;
    EXPECT_DOUBLE_EQ(position_of(track), 14.0);
    for (const double frozen : {0.0, -1.0, std::nan("")}) {
        track.rate = frozen;
        EXPECT_DOUBLE_EQ(position_of(track), 10.0) << frozen;
    }
    track.unreadable.insert(FakeTrack::Property::rate);  // counts as absent
    EXPECT_DOUBLE_EQ(position_of(track), 12.0);
}

TEST_F(SnapshotTest, CarriedPositionStopsAtANonZeroEnd) {
    auto track = playing_track(10, 2);
    track.end_time = ticks_of_seconds(11);
    EXPECT_DOUBLE_EQ(position_of(track), 11.0);
    track.end_time = 0;
    EXPECT_DOUBLE_EQ(position_of(track), 12.0);
}

TEST_F(SnapshotTest, NothingIsAddedWhenPausedOrWhenTheUpdateLiesAhead) {
    auto paused = playing_track(10, 86'400);
    paused.status = PLATFORM_STATUS_PAUSED;
    EXPECT_DOUBLE_EQ(position_of(paused), 10.0);
    EXPECT_DOUBLE_EQ(position_of(playing_track(10, -5)), 10.0);
    auto unknown_update = playing_track(10, 2);
    unknown_update.unreadable.insert(FakeTrack::Property::last_updated_time);
    EXPECT_DOUBLE_EQ(position_of(unknown_update), 10.0);
    auto never_updated = playing_track(10, 2);
    never_updated.last_updated_time = 0;  // never set: not four centuries ago
    EXPECT_DOUBLE_EQ(position_of(never_updated), 10.0);
}

TEST_F(SnapshotTest, AbsurdTimesSaturateInsteadOfWrapping) {
    auto track = playing_track(0, 0);
    track.position = std::numeric_limits<TimeSpanTicks>::max();
    track.last_updated_time = std::numeric_limits<DateTimeTicks>::min();
    track.rate = 1e300;
    const auto snapshot = read(track);
    EXPECT_EQ(snapshot.position.seconds, std::numeric_limits<std::uint64_t>::max());
    track.rate = std::numeric_limits<double>::infinity();
    track.last_updated_time = NOW;  // no time elapsed: infinity times zero must not poison the sum
    EXPECT_EQ(read(track).position, duration_from_ticks(std::numeric_limits<TimeSpanTicks>::max()));
}

TEST_F(SnapshotTest, NegativePositionReadsAsZeroAndStartIsNotSubtracted) {
    FakeTrack track;
    track.position = -ticks_of_seconds(3);
    EXPECT_DOUBLE_EQ(position_of(track), 0.0);

    track.position = ticks_of_seconds(30);
    track.start_time = ticks_of_seconds(5);
    track.end_time = ticks_of_seconds(65);
    const auto now_playing = now_playing_from(read(track));
    EXPECT_DOUBLE_EQ(now_playing.duration_s, 60.0);
    EXPECT_DOUBLE_EQ(now_playing.position_s, 30.0);

    track.end_time = ticks_of_seconds(3);
    EXPECT_DOUBLE_EQ(now_playing_from(read(track)).duration_s, 0.0);
}

TEST_F(SnapshotTest, StatusMapsToTheDevicesPlayState) {
    using protocol::PlaybackStatus;
    EXPECT_EQ(playback_status_from(4), PlaybackStatus::playing);
    EXPECT_EQ(playback_status_from(5), PlaybackStatus::paused);
    for (const std::int32_t other : {0, 1, 2, 3, 7, -1}) {
        EXPECT_EQ(playback_status_from(other), PlaybackStatus::stopped) << other;
    }
    EXPECT_EQ(now_playing_from(std::nullopt), protocol::NowPlaying{});
    EXPECT_EQ(now_playing_from(std::nullopt).status, PlaybackStatus::none);
}

TEST_F(SnapshotTest, UnreadablePropertiesTakeDefaultsButMissingObjectsFailTheReading) {
    FakeTrack track;
    track.unreadable = {FakeTrack::Property::title, FakeTrack::Property::status};
    track.title = "Title";
    track.artist = "Artist";
    track.album_title = "Album";
    track.source_app_id = "player.exe";
    const auto snapshot = read(track);
    EXPECT_EQ(snapshot.title, "");
    EXPECT_EQ(snapshot.artist, "Artist");
    EXPECT_EQ(snapshot.album_title, "Album");
    EXPECT_EQ(snapshot.status, 0);
    EXPECT_EQ(snapshot.source_app_id, "player.exe");

    for (bool FakeTrack::*part : {&FakeTrack::media_properties_fail, &FakeTrack::playback_info_fail,
                                  &FakeTrack::timeline_fail}) {
        FakeTrack broken;
        broken.*part = true;
        session_->set_track(broken);
        const auto failed = read_snapshot(*session_, NOW);
        ASSERT_FALSE(failed.has_value());
        EXPECT_NE(failed.error().message.find("0x80004005"), std::string::npos);
    }
}

TEST(SecondsToDuration, RoundsToTheNearestNanosecondAndRefusesWhatNoDurationHolds) {
    EXPECT_EQ(seconds_to_duration(12.5), (Duration{12, 500'000'000}));
    EXPECT_EQ(seconds_to_duration(0.4e-9), Duration{});
    EXPECT_EQ(seconds_to_duration(12.5), (Duration{12, 500'000'000}));
    EXPECT_EQ(seconds_to_duration(-0.0), Duration{});
    EXPECT_EQ(seconds_to_duration(18446744073709549568.0), (Duration{18446744073709549568u, 0}));
    for (const double invalid : {-1e-12, -5.0, std::nan(""), 18446744073709551616.0,
                                 std::numeric_limits<double>::infinity()}) {
        EXPECT_FALSE(seconds_to_duration(invalid).has_value()) << invalid;
    }
}

TEST(PlatformTicks, ConvertBothWaysAndSaturate) {
    EXPECT_EQ(position_ticks(*seconds_to_duration(12.5)), 125'000'000);
    EXPECT_EQ(position_ticks(Duration{0, 199}), 1);  // rounded down
    constexpr auto max = std::numeric_limits<TimeSpanTicks>::max();
    EXPECT_EQ(position_ticks(duration_from_ticks(max)), max);
    EXPECT_EQ(position_ticks(Duration{922'337'203'686, 0}), max);
    EXPECT_EQ(position_ticks(Duration{std::numeric_limits<std::uint64_t>::max(), 999'999'999}), max);
    EXPECT_EQ(duration_from_ticks(max), (Duration{922'337'203'685, 477'580'700}));
    EXPECT_EQ(duration_from_ticks(0), Duration{});
    EXPECT_EQ(duration_from_ticks(-1), Duration{});

    // 2026 lies between 2020-01-01 and 2100-01-01 in DateTime ticks.
    const auto now = current_date_time_ticks();
    EXPECT_GT(now, 132'223'104'000'000'000);
    EXPECT_LT(now, 157'469'184'000'000'000);
}

}  // namespace
}  // namespace olvex::media
