#include "app/event_handler.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "art/sample_pictures.hpp"
#include "fakes/fake_media_platform.hpp"
#include "tray/tray.hpp"

namespace olvex::app {
namespace {

using testing::ElementsAre;
using testing::IsEmpty;
using testing_support::FakeMediaManager;
using testing_support::FakeMediaSession;
using testing_support::FakeTrack;
using testing_support::ticks_of_seconds;
using volume::VolumeCommand;

// The process has one tray handle; every test here shares it.
std::shared_ptr<tray::TrayHandle> shared_tray() {
    static const auto handle = [] {
        auto created = std::make_shared<tray::TrayHandle>();
        tray::publish_tray_handle(created);
        return tray::tray_handle();
    }();
    return handle;
}

std::string wire_names(const std::vector<protocol::HostMessage>& messages) {
    std::string names;
    for (const auto& message : messages) names += std::string(protocol::wire_name(message)) + " ";
    return names;
}

class EventHandlerTest : public testing::Test {
protected:
    EventHandlerTest() { (void)shared_tray(); }

    void with_session(FakeTrack track = playing_track()) {
        session_->set_track(std::move(track));
        manager_->set_current(session_);
        manager_->raise(media::ManagerEvent::current_session_changed);
    }

    static FakeTrack playing_track() {
        FakeTrack track;
        track.source_app_id = "player.exe";
        track.title = "Song";
        track.start_time = 0;
        track.end_time = ticks_of_seconds(200);
        return track;
    }

    void handle(device::LinkEvent event) { handle_link_event(context_, std::move(event)); }
    void device(protocol::DeviceEvent event) { handle(device::Device{std::move(event)}); }

    std::vector<protocol::HostMessage> sent() {
        std::vector<protocol::HostMessage> messages;
        while (auto message = outbound_.try_recv()) messages.push_back(std::move(*message));
        return messages;
    }
    std::vector<volume::VolumeCommand> volume_commands() {
        std::vector<volume::VolumeCommand> commands;
        while (auto command = commands_.try_recv()) commands.push_back(std::move(*command));
        return commands;
    }

    std::shared_ptr<FakeMediaManager> manager_ = std::make_shared<FakeMediaManager>();
    std::shared_ptr<FakeMediaSession> session_ = manager_->make_session("A");
    std::pair<Sender<protocol::HostMessage>, Receiver<protocol::HostMessage>> outbound_ends_ =
        channel<protocol::HostMessage>();
    std::pair<Sender<volume::VolumeCommand>, Receiver<volume::VolumeCommand>> command_ends_ =
        channel<volume::VolumeCommand>();
    Receiver<protocol::HostMessage>& outbound_ = outbound_ends_.second;
    Receiver<volume::VolumeCommand>& commands_ = command_ends_.second;
    std::shared_ptr<volume::VolumeState> volume_ = std::make_shared<volume::VolumeState>();
    SessionContext context_{media::start_watcher(manager_).value(), outbound_ends_.first, command_ends_.first,
                            volume_};
};

TEST_F(EventHandlerTest, ConnectingPushesTheWholeStateInOrderAndSwitchesTheIcon) {
    FakeTrack track = playing_track();
    track.thumbnail = std::string(reinterpret_cast<const char*>(art::samples::PNG_RGB), sizeof art::samples::PNG_RGB);
    with_session(track);
    volume_->store(0.4f, true);

    handle(device::Connected{"COM7", {}});
    EXPECT_EQ(shared_tray()->icon(), tray::ICON_CONNECTED);
    const auto messages = sent();
    EXPECT_EQ(wire_names(messages), "now_playing art volume lock ");
    EXPECT_EQ(std::get<protocol::NowPlaying>(messages[0]).title, "Song");
    EXPECT_EQ(std::get<protocol::Art>(messages[1]).data.size(), 21848u);
    EXPECT_EQ(messages[2], protocol::HostMessage(protocol::volume_message(0.4f, true)));
    EXPECT_EQ(messages[3], protocol::HostMessage(protocol::Lock{false}));

    handle(device::Disconnected{});
    EXPECT_EQ(shared_tray()->icon(), tray::ICON_NO_DEVICE);
    EXPECT_THAT(sent(), IsEmpty());
}

TEST_F(EventHandlerTest, WithoutASessionOrPictureOnlyWhatExistsIsPushed) {
    handle(device::Connected{"COM7", {}});
    EXPECT_EQ(wire_names(sent()), "volume lock ");
    with_session();  // no thumbnail
    device(protocol::Resync{FULL_STATE});
    EXPECT_EQ(wire_names(sent()), "now_playing volume lock ");
}

TEST_F(EventHandlerTest, ResyncSendsOnlyTheAskedItems) {
    with_session();
    device(protocol::Resync{0});
    EXPECT_THAT(sent(), IsEmpty());
    device(protocol::Resync{protocol::resync_what::VOLUME | protocol::resync_what::LOCK});
    EXPECT_EQ(wire_names(sent()), "volume lock ");
    device(protocol::Resync{protocol::resync_what::NOW_PLAYING | 0x30});
    EXPECT_EQ(wire_names(sent()), "now_playing ");
}

// A player that does not answer (each reading of it fails, if only after a
// time limit) is asked once per resync, and its volume stays in reach.
TEST_F(EventHandlerTest, AnUnreadableSessionIsAskedOncePerResyncAndKeepsItsVolumeCommands) {
    FakeTrack track = playing_track();
    track.thumbnail = std::string(reinterpret_cast<const char*>(art::samples::PNG_RGB), sizeof art::samples::PNG_RGB);
    track.media_properties_fail = true;
    with_session(track);
    const int before = session_->property_requests();
    device(protocol::Resync{FULL_STATE});
    EXPECT_EQ(wire_names(sent()), "volume lock ");
    EXPECT_EQ(session_->property_requests() - before, 1);

    device(protocol::SetVolume{40});
    const auto commands = volume_commands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].app.id, "player.exe");
}

TEST_F(EventHandlerTest, MediaCommandsReachTheSession) {
    with_session();
    device(protocol::PlayPause{});
    device(protocol::Next{});
    device(protocol::Previous{});
    device(device::normalise(protocol::Seek{-5.0}));
    device(protocol::Seek{12.5});
    device(protocol::SeekRelative{0.5});
    device(device::normalise(protocol::SeekRelative{1.5}));
    device(protocol::HelloAck{});
    EXPECT_THAT(session_->commands(),
                ElementsAre("toggle_play_pause", "skip_next", "skip_previous", "change_position 0",
                            "change_position 125000000", "change_position 1000000000",
                            "change_position 2000000000"));
    EXPECT_THAT(sent(), IsEmpty());
}

TEST_F(EventHandlerTest, VolumeCommandsNeedASessionAndCarryItsApplication) {
    device(protocol::SetVolume{40});
    device(protocol::SetMute{true});
    EXPECT_THAT(volume_commands(), IsEmpty());

    with_session();
    device(protocol::SetVolume{40});
    device(protocol::SetMute{true});
    const auto commands = volume_commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].kind, volume::VolumeCommand::Kind::SetLevel);
    EXPECT_FLOAT_EQ(commands[0].level, 0.4f);
    EXPECT_EQ(commands[0].app.id, "player.exe");
    EXPECT_EQ(commands[1], (volume::VolumeCommand{volume::VolumeCommand::Kind::SetMute, true, 0.0f, "player.exe"}));

    device(protocol::SetVolume{1e300});  // far beyond what a float holds
    device(protocol::SetVolume{-7});
    const auto clamped = volume_commands();
    ASSERT_EQ(clamped.size(), 2u);
    EXPECT_EQ(clamped[0].level, 1.0f);
    EXPECT_EQ(clamped[1].level, 0.0f);
}

TEST_F(EventHandlerTest, SetLockReportsTheLockAsItIs) {
    device(protocol::SetLock{true});  // nothing to lock to
    EXPECT_THAT(sent(), ElementsAre(protocol::HostMessage(protocol::Lock{false})));

    with_session();
    device(protocol::SetLock{true});
    EXPECT_THAT(sent(), ElementsAre(protocol::HostMessage(protocol::Lock{true})));

    auto other = manager_->make_session("B");
    manager_->set_current(other);
    manager_->raise(media::ManagerEvent::current_session_changed);
    EXPECT_EQ(context_.media.current_session(), session_);  // pinned

    device(protocol::SetLock{false});
    EXPECT_THAT(sent(), ElementsAre(protocol::HostMessage(protocol::Lock{false})));
    EXPECT_EQ(context_.media.current_session(), other);  // re-attached at once
    device(protocol::SetLock{false});
    EXPECT_THAT(sent(), ElementsAre(protocol::HostMessage(protocol::Lock{false})));
}

}  // namespace
}  // namespace olvex::app
