#include "app/event_handler.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "art/sample_pictures.hpp"
#include "fakes/fake_media_platform.hpp"
#include "tray/tray.hpp"

namespace olvex::device {
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

std::string wire_names(const std::vector<HostMessage>& messages) {
    std::string names;
    for (const auto& message : messages) names += std::string(wire_name(message)) + " ";
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

    void handle(LinkEvent event) { handle_link_event(context_, std::move(event)); }
    void device(DeviceEvent event) { handle(Device{std::move(event)}); }

    std::vector<HostMessage> sent() {
        std::vector<HostMessage> messages;
        while (auto message = outbound_.try_recv()) messages.push_back(std::move(*message));
        return messages;
    }
    std::vector<VolumeCommand> volume_commands() {
        std::vector<VolumeCommand> commands;
        while (auto command = commands_.try_recv()) commands.push_back(std::move(*command));
        return commands;
    }

    std::shared_ptr<FakeMediaManager> manager_ = std::make_shared<FakeMediaManager>();
    std::shared_ptr<FakeMediaSession> session_ = manager_->make_session("A");
    std::pair<Sender<HostMessage>, Receiver<HostMessage>> outbound_ends_ = channel<HostMessage>();
    std::pair<Sender<VolumeCommand>, Receiver<VolumeCommand>> command_ends_ = channel<VolumeCommand>();
    Receiver<HostMessage>& outbound_ = outbound_ends_.second;
    Receiver<VolumeCommand>& commands_ = command_ends_.second;
    std::shared_ptr<volume::VolumeState> volume_ = std::make_shared<volume::VolumeState>();
    SessionContext context_{media::start_watcher(manager_).value(), outbound_ends_.first, command_ends_.first,
                            volume_};
};

TEST_F(EventHandlerTest, ConnectingPushesTheWholeStateInOrderAndSwitchesTheIcon) {
    FakeTrack track = playing_track();
    track.thumbnail = std::string(reinterpret_cast<const char*>(art::samples::PNG_RGB), sizeof art::samples::PNG_RGB);
    with_session(track);
    volume_->store(0.4f, true);

    handle(Connected{"COM7", {}});
    EXPECT_EQ(shared_tray()->icon(), tray::ICON_CONNECTED);
    const auto messages = sent();
    EXPECT_EQ(wire_names(messages), "now_playing art volume lock ");
    EXPECT_EQ(std::get<NowPlaying>(messages[0]).title, "Song");
    EXPECT_EQ(std::get<Art>(messages[1]).data.size(), 21848u);
    EXPECT_EQ(messages[2], HostMessage(volume_message(0.4f, true)));
    EXPECT_EQ(messages[3], HostMessage(Lock{false}));

    handle(Disconnected{});
    EXPECT_EQ(shared_tray()->icon(), tray::ICON_NO_DEVICE);
    EXPECT_THAT(sent(), IsEmpty());
}

TEST_F(EventHandlerTest, WithoutASessionOrPictureOnlyWhatExistsIsPushed) {
    handle(Connected{"COM7", {}});
    EXPECT_EQ(wire_names(sent()), "volume lock ");
    with_session();  // no thumbnail
    device(Resync{FULL_STATE});
    EXPECT_EQ(wire_names(sent()), "now_playing volume lock ");
}

TEST_F(EventHandlerTest, ResyncSendsOnlyTheAskedItems) {
    with_session();
    device(Resync{0});
    EXPECT_THAT(sent(), IsEmpty());
    device(Resync{resync_what::VOLUME | resync_what::LOCK});
    EXPECT_EQ(wire_names(sent()), "volume lock ");
    device(Resync{resync_what::NOW_PLAYING | 0x30});
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
    device(Resync{FULL_STATE});
    EXPECT_EQ(wire_names(sent()), "volume lock ");
    EXPECT_EQ(session_->property_requests() - before, 1);

    device(SetVolume{40});
    const auto commands = volume_commands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0].app.id, "player.exe");
}

TEST_F(EventHandlerTest, MediaCommandsReachTheSession) {
    with_session();
    device(PlayPause{});
    device(Next{});
    device(Previous{});
    device(normalise(Seek{-5.0}));
    device(Seek{12.5});
    device(SeekRelative{0.5});
    device(normalise(SeekRelative{1.5}));
    device(HelloAck{});
    EXPECT_THAT(session_->commands(),
                ElementsAre("toggle_play_pause", "skip_next", "skip_previous", "change_position 0",
                            "change_position 125000000", "change_position 1000000000",
                            "change_position 2000000000"));
    EXPECT_THAT(sent(), IsEmpty());
}

TEST_F(EventHandlerTest, VolumeCommandsNeedASessionAndCarryItsApplication) {
    device(SetVolume{40});
    device(SetMute{true});
    EXPECT_THAT(volume_commands(), IsEmpty());

    with_session();
    device(SetVolume{40});
    device(SetMute{true});
    const auto commands = volume_commands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].kind, VolumeCommand::Kind::SetLevel);
    EXPECT_FLOAT_EQ(commands[0].level, 0.4f);
    EXPECT_EQ(commands[0].app.id, "player.exe");
    EXPECT_EQ(commands[1], (VolumeCommand{VolumeCommand::Kind::SetMute, true, 0.0f, "player.exe"}));

    device(SetVolume{1e300});  // far beyond what a float holds
    device(SetVolume{-7});
    const auto clamped = volume_commands();
    ASSERT_EQ(clamped.size(), 2u);
    EXPECT_EQ(clamped[0].level, 1.0f);
    EXPECT_EQ(clamped[1].level, 0.0f);
}

TEST_F(EventHandlerTest, SetLockReportsTheLockAsItIs) {
    device(SetLock{true});  // nothing to lock to
    EXPECT_THAT(sent(), ElementsAre(HostMessage(Lock{false})));

    with_session();
    device(SetLock{true});
    EXPECT_THAT(sent(), ElementsAre(HostMessage(Lock{true})));

    auto other = manager_->make_session("B");
    manager_->set_current(other);
    manager_->raise(media::ManagerEvent::current_session_changed);
    EXPECT_EQ(context_.media.current_session(), session_);  // pinned

    device(SetLock{false});
    EXPECT_THAT(sent(), ElementsAre(HostMessage(Lock{false})));
    EXPECT_EQ(context_.media.current_session(), other);  // re-attached at once
    device(SetLock{false});
    EXPECT_THAT(sent(), ElementsAre(HostMessage(Lock{false})));
}

}  // namespace
}  // namespace olvex::device
