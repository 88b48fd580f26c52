#include "app/subscriber.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace olvex::app {
namespace {

using namespace std::chrono_literals;
using protocol::HostMessage;
using testing::ElementsAre;
using volume::VolumeCommand;

media::SessionSnapshot snapshot_of(const std::string& app, const std::string& title, std::int32_t status = 4) {
    media::SessionSnapshot snapshot;
    snapshot.source_app_id = app;
    snapshot.title = title;
    snapshot.status = status;
    snapshot.position = Duration{3, 0};
    snapshot.end_time = Duration{200, 0};
    return snapshot;
}

// Everything the subscriber touches, with one log of the order of effects.
class SubscriberTest : public testing::Test {
protected:
    SubscriberTest() {
        auto [outbound, outbound_receiver] = channel<protocol::HostMessage>();
        auto [commands, command_receiver] = channel<volume::VolumeCommand>();
        outbound_ = std::make_unique<Receiver<protocol::HostMessage>>(std::move(outbound_receiver));
        commands_ = std::make_unique<Receiver<volume::VolumeCommand>>(std::move(command_receiver));
        auto [fired_sender, fired_receiver] = channel<media::SessionSnapshot>();
        fired_ = std::make_unique<Receiver<media::SessionSnapshot>>(std::move(fired_receiver));
        debouncer_ = TrackDebouncer::start(
            Duration::from_millis(100), [sender = fired_sender](media::SessionSnapshot s) { sender.send(std::move(s)); });
        subscriber_ =
            make_media_subscriber({std::move(outbound), std::move(commands), debouncer_, &applications_, nullptr, {}});
    }

    void connect_volume_watcher() {
        applications_.set([this](std::optional<volume::MediaApplication> app) {
            std::lock_guard lock(mutex_);
            posted_.push_back(app ? app->id : "<no application>");
            return true;
        });
    }

    std::vector<protocol::HostMessage> messages_now() {
        std::vector<protocol::HostMessage> messages;
        while (auto message = outbound_->try_recv()) messages.push_back(std::move(*message));
        return messages;
    }

    std::vector<std::string> posted() {
        std::lock_guard lock(mutex_);
        return posted_;
    }

    std::unique_ptr<Receiver<protocol::HostMessage>> outbound_;
    std::unique_ptr<Receiver<volume::VolumeCommand>> commands_;
    std::unique_ptr<Receiver<media::SessionSnapshot>> fired_;  // what the debouncer fired
    std::shared_ptr<TrackDebouncer> debouncer_;
    volume::CurrentApplicationChannel applications_;
    std::mutex mutex_;
    std::vector<std::string> posted_;
    media::Subscriber subscriber_;
};

TEST_F(SubscriberTest, NoSessionSendsNoneThenEmptyArtAndCancelsThePendingTrack) {
    connect_volume_watcher();
    subscriber_(snapshot_of("player", "Song"), media::SessionChange::MediaPropertiesChanged);
    subscriber_(std::nullopt, media::SessionChange::MediaPropertiesChanged);
    EXPECT_THAT(messages_now(), ElementsAre(protocol::HostMessage(protocol::NowPlaying{}), protocol::HostMessage(protocol::Art{})));
    EXPECT_THAT(posted(), ElementsAre("<no application>"));
    EXPECT_FALSE(fired_->recv_for(400ms).has_value());
}

TEST_F(SubscriberTest, PlayStateGoesOutAtOnceAndMetadataWaitsForTheQuietPeriod) {
    subscriber_(snapshot_of("player", "Song", 5), media::SessionChange::PlaybackInfoChanged);
    subscriber_(snapshot_of("player", "Song", 4), media::SessionChange::TimelinePropertiesChanged);
    const auto messages = messages_now();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(std::get<protocol::NowPlaying>(messages[0]).status, protocol::PlaybackStatus::paused);
    const auto& playing = std::get<protocol::NowPlaying>(messages[1]);
    EXPECT_EQ(playing.status, protocol::PlaybackStatus::playing);
    EXPECT_DOUBLE_EQ(playing.position_s, 3.0);
    EXPECT_DOUBLE_EQ(playing.duration_s, 200.0);

    subscriber_(snapshot_of("player", "New title"), media::SessionChange::MediaPropertiesChanged);
    EXPECT_TRUE(messages_now().empty());
    EXPECT_FALSE(commands_->try_recv().has_value());
    const auto fired = fired_->recv_for(5s);
    ASSERT_TRUE(fired.has_value());
    EXPECT_EQ(fired->title, "New title");
}

TEST_F(SubscriberTest, ANewSessionNamesItsApplicationThenTriggers) {
    subscriber_(snapshot_of("early.exe", "Before"), media::SessionChange::SessionAttached);  // no watcher yet: no post
    connect_volume_watcher();
    subscriber_(snapshot_of("player.exe", "Song"), media::SessionChange::SessionAttached);
    EXPECT_THAT(posted(), ElementsAre("player.exe"));
    for (const char* app : {"early.exe", "player.exe"}) {
        const auto command = commands_->try_recv();
        ASSERT_TRUE(command.has_value());
        EXPECT_EQ(*command, (volume::VolumeCommand{.kind = volume::VolumeCommand::Kind::AppChanged, .app = {.id = app}}));
    }
    EXPECT_TRUE(messages_now().empty());
    const auto fired = fired_->recv_for(5s);
    ASSERT_TRUE(fired.has_value());
    EXPECT_EQ(fired->title, "Song");  // the burst fires once, with its last snapshot
    EXPECT_FALSE(fired_->recv_for(300ms).has_value());
}

// The locked player quit: the device hears that the lock is off, then what
// plays now, as when it unlocks itself.
TEST_F(SubscriberTest, AReleasedLockIsToldBeforeTheSessionThatFollows) {
    subscriber_(snapshot_of("player.exe", "Song"), media::SessionChange::LockReleased);
    EXPECT_THAT(messages_now(), ElementsAre(protocol::HostMessage(protocol::Lock{false})));
    EXPECT_TRUE(commands_->try_recv().has_value());
    EXPECT_TRUE(fired_->recv_for(5s).has_value());

    subscriber_(std::nullopt, media::SessionChange::LockReleased);
    EXPECT_THAT(messages_now(), ElementsAre(protocol::HostMessage(protocol::Lock{false}), protocol::HostMessage(protocol::NowPlaying{}),
                                            protocol::HostMessage(protocol::Art{})));
}

}  // namespace
}  // namespace olvex::app
