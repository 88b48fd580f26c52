#include "app/track_announcer.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/subscriber.hpp"
#include "art/sample_pictures.hpp"
#include "art/thumbnail.hpp"
#include "fakes/fake_media_platform.hpp"

namespace olvex::app {
namespace {

using protocol::HostMessage;
using testing::ElementsAre;
using testing_support::FakeMediaManager;
using testing_support::FakeMediaSession;
using testing_support::FakeTrack;
using Fault = FakeTrack::ThumbnailFault;

std::string sample_png() {
    return {reinterpret_cast<const char*>(art::samples::PNG_RGB), sizeof art::samples::PNG_RGB};
}

class ThumbnailTest : public testing::Test {
protected:
    media::PlatformResult<std::optional<std::string>> read_with(std::optional<std::string> thumbnail,
                                                                Fault fault = Fault::none) {
        FakeTrack track;
        track.title = "Song";
        track.thumbnail = std::move(thumbnail);
        track.thumbnail_fault = fault;
        session_->set_track(track);
        return art::read_thumbnail(watcher_);
    }

    std::shared_ptr<FakeMediaManager> manager_ = std::make_shared<FakeMediaManager>();
    std::shared_ptr<FakeMediaSession> session_ = manager_->make_session("A");
    media::MediaWatcherHandle watcher_ = [this] {
        manager_->set_current(session_);
        return media::start_watcher(manager_).value();
    }();
};

TEST_F(ThumbnailTest, ReadsTheFileUnchangedOrNothing) {
    EXPECT_EQ(read_with(std::string("\x89PNG\0bytes", 10)).value(), std::string("\x89PNG\0bytes", 10));
    EXPECT_EQ(read_with(std::string()).value(), std::string());  // empty, yet not "nothing"
    EXPECT_EQ(read_with(std::nullopt).value(), std::nullopt);
    for (const Fault fault :
         {Fault::reference_fails, Fault::open_fails, Fault::size_fails, Fault::read_fails, Fault::claims_4_gib}) {
        EXPECT_EQ(read_with(std::string("bytes"), fault).value(), std::nullopt);
    }

    FakeTrack gone;
    gone.media_properties_fail = true;
    session_->set_track(gone);
    EXPECT_FALSE(art::read_thumbnail(watcher_).has_value());

    manager_->set_current(nullptr);
    manager_->raise(media::ManagerEvent::current_session_changed);
    EXPECT_EQ(art::read_thumbnail(watcher_).value(), std::nullopt);
}

class TrackAnnouncerTest : public ThumbnailTest {
protected:
    std::vector<protocol::HostMessage> announce(std::optional<std::string> thumbnail) {
        FakeTrack track;
        track.title = "Song";
        track.thumbnail = std::move(thumbnail);
        session_->set_track(track);
        auto [outbound, messages] = channel<protocol::HostMessage>();
        auto on_fire = make_track_announcer(std::move(outbound), watcher_,
                                            [this](std::string title) { tooltips_.push_back(std::move(title)); });
        media::SessionSnapshot snapshot;
        snapshot.title = "Song";
        snapshot.status = media::PLATFORM_STATUS_PLAYING;
        on_fire(std::move(snapshot));
        std::vector<protocol::HostMessage> sent;
        while (auto message = messages.try_recv()) sent.push_back(std::move(*message));
        return sent;
    }

    std::vector<std::string> tooltips_;
};

TEST_F(TrackAnnouncerTest, SendsTheTrackThenItsArtOnce) {
    const auto sent = announce(sample_png());
    ASSERT_EQ(sent.size(), 2u);
    const auto& now_playing = std::get<protocol::NowPlaying>(sent[0]);
    EXPECT_EQ(now_playing.title, "Song");
    EXPECT_EQ(now_playing.status, protocol::PlaybackStatus::playing);
    const auto& art = std::get<protocol::Art>(sent[1]);
    EXPECT_EQ(art.data.size(), 21848u);
    EXPECT_THAT(tooltips_, ElementsAre("Song"));
}

TEST_F(TrackAnnouncerTest, WithoutUsableArtOnlyTheTrackGoesOut) {
    for (const auto& thumbnail : {std::optional<std::string>(), std::optional<std::string>("GIF89a not art")}) {
        const auto sent = announce(thumbnail);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_TRUE(std::holds_alternative<protocol::NowPlaying>(sent[0]));
    }
}

// The last session ends while an announcement reads its thumbnail: the
// device's last word is nothing-plays, and so is the tooltip's.
TEST_F(TrackAnnouncerTest, NothingOfARunningAnnouncementFollowsNothingPlays) {
    auto [outbound, messages] = channel<protocol::HostMessage>();
    auto [volume_commands, volume_receiver] = channel<volume::VolumeCommand>();
    const auto gate = std::make_shared<AnnouncementGate>();
    const TooltipSetter set_tooltip = [this](std::string title) { tooltips_.push_back(std::move(title)); };
    const auto subscriber = app::make_media_subscriber(
        {outbound, volume_commands, app::TrackDebouncer::start(Duration::from_seconds(60), [](auto) {}), nullptr,
         gate, set_tooltip});
    FakeTrack track;
    track.title = "Song";
    track.thumbnail = sample_png();
    track.while_opening_thumbnail = [&] { subscriber(std::nullopt, media::SessionChange::SessionAttached); };
    session_->set_track(track);

    media::SessionSnapshot snapshot;
    snapshot.title = "Song";
    make_track_announcer(outbound, watcher_, set_tooltip, gate)(std::move(snapshot));

    std::vector<protocol::HostMessage> sent;
    while (auto message = messages.try_recv()) sent.push_back(std::move(*message));
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(std::get<protocol::NowPlaying>(sent[0]).title, "Song");
    EXPECT_EQ(std::get<protocol::NowPlaying>(sent[1]), protocol::NowPlaying{});
    EXPECT_EQ(std::get<protocol::Art>(sent[2]), protocol::Art{});
    EXPECT_THAT(tooltips_, ElementsAre("Song", "Nothing playing"));
}

}  // namespace
}  // namespace olvex::app
