#include "app/volume_worker.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "fakes/fake_audio.hpp"
#include "fakes/fake_media_platform.hpp"

namespace olvex::app {
namespace {

using namespace std::chrono_literals;
using protocol::HostMessage;
using testing::HasSubstr;
using testing_support::FakeAudio;
using testing_support::FakeAudioSessionData;
using testing_support::FakeMediaManager;
using testing_support::FakeTrack;

constexpr std::uint32_t PLAYER = 10;
constexpr std::uint32_t OTHER = 20;

// Waits until `condition` holds, for a while.
bool eventually(const std::function<bool()>& condition) {
    for (int i = 0; i < 500; ++i) {
        if (condition()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

class VolumeWorkerTest : public testing::Test {
protected:
    VolumeWorkerTest() {
        audio_->add_device("speakers");
        audio_->set_master("speakers", 0.25f, true);
        audio_->add_process(PLAYER, {std::nullopt, "player.exe"});
        audio_->add_process(OTHER, {std::nullopt, "other.exe"});
    }

    void play_in_media_session(const std::string& app) {
        auto session = media_->make_session("A");
        FakeTrack track;
        track.source_app_id = app;
        session->set_track(track);
        media_->set_current(session);
    }

    void start() {
        auto [commands, command_receiver] = channel<volume::VolumeCommand>();
        auto [outbound, outbound_receiver] = channel<protocol::HostMessage>();
        commands_.emplace(std::move(commands));
        outbound_.emplace(std::move(outbound_receiver));
        start_volume_worker({audio_->backend(), std::move(command_receiver), std::move(outbound), state_,
                             media::start_watcher(media_).value(), &applications_});
    }

    // The next "volume" message, if one comes.
    std::optional<protocol::Volume> next_report(std::chrono::milliseconds wait = 5s) {
        auto message = outbound_->recv_for(wait);
        if (!message) return std::nullopt;
        return std::get<protocol::Volume>(*message);
    }

    void command(volume::VolumeCommand::Kind kind, float level = 0.0f, bool muted = false, std::string app = "player.exe") {
        commands_->send(volume::VolumeCommand{kind, muted, level, std::move(app)});
    }

    std::shared_ptr<FakeAudio> audio_ = std::make_shared<FakeAudio>();
    std::shared_ptr<FakeMediaManager> media_ = std::make_shared<FakeMediaManager>();
    std::shared_ptr<volume::VolumeState> state_ = std::make_shared<volume::VolumeState>();
    volume::CurrentApplicationChannel applications_;
    std::optional<Sender<volume::VolumeCommand>> commands_;
    std::optional<Receiver<protocol::HostMessage>> outbound_;
};

TEST_F(VolumeWorkerTest, WithoutAMediaSessionTheFirstReportIsTheMasterVolume) {
    audio_->add_session("speakers", FakeAudioSessionData::of_process(PLAYER).at_level(0.8f));
    start();
    EXPECT_EQ(next_report(), protocol::volume_message(0.25f, true));
    EXPECT_EQ(state_->read(), (volume::VolumeState::Reading{0.25f, true}));
}

TEST_F(VolumeWorkerTest, TheFirstReportIsTheApplicationsWhenItHasASession) {
    play_in_media_session("player.exe");
    audio_->add_session("speakers", FakeAudioSessionData::of_process(PLAYER).at_level(0.8f));
    start();
    EXPECT_EQ(next_report(), protocol::volume_message(0.8f, false));
}

TEST_F(VolumeWorkerTest, SettingTheLevelReachesEverySessionAndIsReportedOnce) {
    audio_->add_device("headphones");
    play_in_media_session("player.exe");
    const auto first = audio_->add_session("speakers", FakeAudioSessionData::of_process(PLAYER));
    const auto second = audio_->add_session("headphones", FakeAudioSessionData::of_process(PLAYER));
    const auto system_sounds = audio_->add_session("speakers", FakeAudioSessionData::of_process(PLAYER).as_system_sounds());
    const auto other = audio_->add_session("speakers", FakeAudioSessionData::of_process(OTHER));
    start();
    ASSERT_TRUE(next_report());
    ASSERT_TRUE(eventually([&] { return first.sink_count() == 1; }));  // the watcher listens on the default device

    command(volume::VolumeCommand::Kind::SetLevel, 0.5f);
    EXPECT_EQ(next_report(), (protocol::Volume{50.0, false}));
    EXPECT_FALSE(next_report(300ms)) << "the change's own notification must not be reported again";
    EXPECT_EQ(first.level(), 0.5f);
    EXPECT_EQ(second.level(), 0.5f);
    EXPECT_EQ(system_sounds.level(), 1.0f);
    EXPECT_EQ(other.level(), 1.0f);

    command(volume::VolumeCommand::Kind::SetLevel, 1.7f);
    EXPECT_EQ(next_report(), (protocol::Volume{100.0, false}));
    command(volume::VolumeCommand::Kind::SetLevel, -0.3f);
    EXPECT_EQ(next_report(), (protocol::Volume{0.0, false}));
    command(volume::VolumeCommand::Kind::SetMute, 0.0f, true);
    EXPECT_EQ(next_report(), (protocol::Volume{0.0, true}));
    EXPECT_TRUE(second.muted());
}

TEST_F(VolumeWorkerTest, CommandsForAnApplicationWithoutSessionsReportNothing) {
    start();
    ASSERT_TRUE(next_report());  // the master volume, at start only
    command(volume::VolumeCommand::Kind::SetLevel, 0.5f, false, "silent.exe");
    command(volume::VolumeCommand::Kind::AppChanged, 0.0f, false, "");
    EXPECT_FALSE(next_report(300ms));
}

TEST_F(VolumeWorkerTest, ChangesMadeElsewhereAreReported) {
    play_in_media_session("player.exe");
    const auto session = audio_->add_session("speakers", FakeAudioSessionData::of_process(PLAYER));
    start();
    ASSERT_TRUE(next_report());
    ASSERT_TRUE(eventually([&] { return session.sink_count() == 1 && audio_->endpoint_volume_sinks("speakers") == 1; }));

    audio_->change_session_volume(session, 0.3f, false);
    EXPECT_EQ(next_report(), protocol::volume_message(0.3f, false));
    audio_->change_master("speakers", 0.6f, false);
    EXPECT_EQ(next_report(), protocol::volume_message(0.6f, false));
    EXPECT_FALSE(next_report(200ms));
}

TEST_F(VolumeWorkerTest, TheWatcherFollowsNewSessionsApplicationsAndTheDefaultDevice) {
    play_in_media_session("player.exe");
    start();
    ASSERT_TRUE(next_report());
    ASSERT_TRUE(eventually([&] { return audio_->creation_sinks("speakers") == 1; }));

    const auto later = audio_->add_session("speakers", FakeAudioSessionData::of_process(PLAYER));  // causes a rescan
    EXPECT_TRUE(eventually([&] { return later.sink_count() == 1; }));
    audio_->expire_session(later);
    EXPECT_TRUE(eventually([&] { return later.sink_count() == 0; }));

    const auto other = audio_->add_session("speakers", FakeAudioSessionData::of_process(OTHER));
    ASSERT_TRUE(applications_.is_set());
    applications_.post(volume::MediaApplication{.id = "other.exe"});
    EXPECT_TRUE(eventually([&] { return other.sink_count() == 1; }));
    applications_.post(std::nullopt);
    EXPECT_TRUE(eventually([&] { return other.sink_count() == 0; }));
    applications_.post(volume::MediaApplication{.id = "other.exe"});

    audio_->add_device("headphones");
    const auto on_headphones = audio_->add_session("headphones", FakeAudioSessionData::of_process(OTHER));
    audio_->switch_default_device("headphones");
    EXPECT_TRUE(eventually([&] {
        return on_headphones.sink_count() == 1 && other.sink_count() == 0 &&
               audio_->endpoint_volume_sinks("speakers") == 0 && audio_->endpoint_volume_sinks("headphones") == 1 &&
               audio_->creation_sinks("speakers") == 0 && audio_->creation_sinks("headphones") == 1;
    }));
}

// The media side tells of a new application while the worker is still
// reading the old one at start: the watcher must end up on the new one.
TEST_F(VolumeWorkerTest, AnApplicationChangeDuringTheFirstReadingIsFollowed) {
    auto session = media_->make_session("A");
    FakeTrack track;
    track.source_app_id = "player.exe";
    session->set_track(track);
    media_->set_current(session);
    const auto player = audio_->add_session("speakers", FakeAudioSessionData::of_process(PLAYER));
    const auto other = audio_->add_session("speakers", FakeAudioSessionData::of_process(OTHER));
    session->after_next_app_id_read([&] { applications_.post(volume::MediaApplication{.id = "other.exe"}); });

    start();
    ASSERT_TRUE(next_report());
    EXPECT_TRUE(eventually([&] { return other.sink_count() == 1 && player.sink_count() == 0; }))
        << "player sinks " << player.sink_count() << ", other sinks " << other.sink_count();
}

TEST_F(VolumeWorkerTest, ClosingTheCommandQueueStopsTheWatcher) {
    play_in_media_session("player.exe");
    const auto session = audio_->add_session("speakers", FakeAudioSessionData::of_process(PLAYER));
    start();
    ASSERT_TRUE(next_report());
    ASSERT_TRUE(eventually([&] { return session.sink_count() == 1; }));
    commands_.reset();
    EXPECT_TRUE(eventually([&] {
        return session.sink_count() == 0 && audio_->endpoint_volume_sinks("speakers") == 0 &&
               audio_->creation_sinks("speakers") == 0 && audio_->endpoint_notification_sinks() == 0;
    }));
}

TEST_F(VolumeWorkerTest, WithoutAVolumeControlTheWorkerLogsAndEnds) {
    audio_->fail_join(true);
    testing::internal::CaptureStderr();
    start();
    EXPECT_FALSE(next_report(300ms));
    const std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_THAT(logged, HasSubstr("volume: could not initialize volume control: CoIncrementMTAUsage failed"));
    EXPECT_FALSE(applications_.is_set());
}

TEST_F(VolumeWorkerTest, AFailedDeviceRegistrationFailsTheControlAndStopsItsWatcher) {
    audio_->fail_endpoint_registration(true);
    testing::internal::CaptureStderr();
    start();
    EXPECT_FALSE(next_report(300ms));
    EXPECT_THAT(testing::internal::GetCapturedStderr(), HasSubstr("volume: could not initialize volume control: "));
    EXPECT_TRUE(eventually([&] { return audio_->creation_sinks("speakers") == 0; }));
}

}  // namespace
}  // namespace olvex::app
