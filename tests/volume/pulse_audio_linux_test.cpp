// The PulseAudio backend against a real server of the test's own, with null
// sinks and paplay streams of silence.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pulse/context.h>
#include <pulse/stream.h>
#include <pulse/mainloop.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/volume_worker.hpp"
#include "base/channel.hpp"
#include "fakes/fake_media_platform.hpp"
#include "support/desktop_peers_linux.hpp"
#include "volume/audio_platform.hpp"
#include "volume/session_matching.hpp"

namespace olvex::volume {
namespace {

using namespace std::chrono_literals;
using testing::HasSubstr;
using testing_support::ChildProcess;
using testing_support::PrivatePulseServer;
using testing_support::ScopedEnvironment;
using testing_support::wait_until;

constexpr EventContext OURS{{0x5E, 0x1F}};

// Everything the backend calls a sink with, in order.
struct Heard {
    enum class Kind { volume, expired, disconnected, created, master, default_device, device };
    Kind kind = Kind::volume;
    float level = 0.0f;
    bool muted = false;
    std::optional<EventContext> context;
};

class Recorder final : public SessionEventSink,
                       public SessionCreationSink,
                       public EndpointVolumeSink,
                       public EndpointNotificationSink {
public:
    void on_simple_volume_changed(float level, bool muted, const std::optional<EventContext>& context) override {
        heard(Heard{Heard::Kind::volume, level, muted, context});
    }
    void on_state_changed(AudioSessionState state) override {
        if (state == AudioSessionState::expired) heard(Heard{Heard::Kind::expired, 0.0f, false, {}});
    }
    void on_session_disconnected() override { heard(Heard{Heard::Kind::disconnected, 0.0f, false, {}}); }
    void on_session_created() override { heard(Heard{Heard::Kind::created, 0.0f, false, {}}); }
    void on_notify(float level, bool muted, const EventContext& context) override {
        heard(Heard{Heard::Kind::master, level, muted, context});
    }
    void on_default_device_changed(std::int32_t data_flow, std::int32_t role) override {
        if (data_flow == 0 && role == 0) heard(Heard{Heard::Kind::default_device, 0.0f, false, {}});
    }
    void on_device_event(DeviceEventKind) override { heard(Heard{Heard::Kind::device, 0.0f, false, {}}); }

    // The next call of the kind, skipping others; nothing if none comes.
    std::optional<Heard> next(Heard::Kind kind, std::chrono::milliseconds wait = 5s) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (auto item = receiver_.recv_until(deadline)) {
            if (item->kind == kind) return *item;
        }
        return std::nullopt;
    }

private:
    void heard(Heard item) { ends_.first.send(std::move(item)); }

    std::pair<Sender<Heard>, Receiver<Heard>> ends_ = channel<Heard>();
    Receiver<Heard>& receiver_ = ends_.second;
};

class PulseAudioTest : public testing::Test {
protected:
    void SetUp() override {
        if (!testing_support::program_available("pulseaudio") || !testing_support::program_available("paplay")) {
            GTEST_SKIP() << "needs pulseaudio and paplay (pulseaudio-utils)";
        }
        server_.emplace();
        ASSERT_TRUE(server_->started());
        environment_.emplace("PULSE_SERVER", server_->server());
    }

    // Silence from /dev/zero for as long as the process lives.
    // `properties` are paplay's "--property=KEY=VALUE" options.
    ChildProcess play(const std::string& client, int channels = 2, const std::vector<std::string>& properties = {}) const {
        std::vector<std::string> argv{"paplay", "--raw", "--format=s16le", "--rate=44100",
                                      "--channels=" + std::to_string(channels), "--client-name=" + client,
                                      "--stream-name=" + client + " stream"};
        argv.insert(argv.end(), properties.begin(), properties.end());
        if (channels == 4) argv.emplace_back("--channel-map=front-left,front-right,rear-left,rear-right");
        argv.emplace_back("/dev/zero");
        return ChildProcess(std::move(argv), {"PULSE_SERVER=" + server_->server()});
    }

    std::shared_ptr<AudioSystem> open() {
        auto system = backend_->open_audio_system();
        EXPECT_TRUE(system) << (system ? "" : system.error().message);
        return system ? *system : nullptr;
    }

    // The session of process `pid` on the default sink, once it plays.
    AudioSessionPtr session_of(AudioSystem& system, pid_t pid) {
        AudioSessionPtr found;
        const bool playing = wait_until([&] {
            auto device = system.default_render_device();
            if (!device) return false;
            auto sessions = (*device)->session_manager().value()->sessions();
            if (!sessions) return false;
            for (auto& session : *sessions) {
                if (session->process_id() == static_cast<std::uint32_t>(pid)) found = std::move(session);
            }
            return found != nullptr;
        });
        EXPECT_TRUE(playing) << "no stream of process " << pid;
        return found;
    }

    // The index of the one sink input, for pactl.
    std::string only_stream() const {
        std::istringstream lines(server_->pactl({"list", "short", "sink-inputs"}).value_or(""));
        std::string index;
        lines >> index;
        return index;
    }

    std::string stream_volumes() const {
        const std::string listing = server_->pactl({"list", "sink-inputs"}).value_or("");
        std::smatch found;
        return std::regex_search(listing, found, std::regex("Volume: ([^\n]*)")) ? found[1].str() : "";
    }

    std::optional<PrivatePulseServer> server_;
    std::optional<ScopedEnvironment> environment_;
    std::shared_ptr<AudioBackend> backend_ = platform_audio_backend();
};

int occurrences(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

TEST_F(PulseAudioTest, SinksAreDevicesAndTheirStreamsAreSessionsOfIdentifiedProcesses) {
    ChildProcess player = play("tone player");
    const auto system = open();
    ASSERT_TRUE(system);
    EXPECT_EQ(system->active_render_devices().value().size(), 2U);
    const auto session = session_of(*system, player.pid());
    ASSERT_TRUE(session);
    EXPECT_EQ(session->session_identifier(), "tone player");
    EXPECT_EQ(session->session_instance_identifier(), "tone player stream");
    EXPECT_EQ(session->is_system_sounds_session(), false);
    EXPECT_EQ(session->state(), AudioSessionState::active);
    EXPECT_EQ(system->process_identity(static_cast<std::uint32_t>(player.pid())).executable_name, "pacat");
    EXPECT_FALSE(system->process_identity(1).executable_name) << "a process that plays nothing";

    // A Flatpak player is known by the sandbox's id, its desktop entry, over
    // whatever application.id it claims.
    ChildProcess sandboxed = play("sandboxed player", 2,
                                  {"--property=pipewire.access.portal.app_id=org.example.Sandboxed",
                                   "--property=application.id=org.example.Claimed"});
    const auto sandboxed_session = session_of(*system, sandboxed.pid());
    ASSERT_TRUE(sandboxed_session);
    EXPECT_TRUE(session_matches_app(*sandboxed_session, *system, {.id = "org.example.sandboxed"}));
    EXPECT_FALSE(session_matches_app(*sandboxed_session, *system, {.id = "org.example.Claimed"}));

    auto other = system->active_render_devices().value().at(1)->session_manager().value()->sessions();
    ASSERT_TRUE(other);
    EXPECT_TRUE(other->empty()) << "the stream plays on the default sink only";
}

// A client of the test's own that plays a stream while its client says
// nothing of its process, as PipeWire's clients whose properties come late;
// it claims to be a client of PipeWire's PulseAudio server, whose peer
// process (pipewire.sec.pid) is that server's and never the application's.
class LateSpeakingClient {
public:
    explicit LateSpeakingClient(const std::string& server) : loop_(pa_mainloop_new()) {
        pa_proplist* claims = pa_proplist_new();
        pa_proplist_sets(claims, "client.api", "pipewire-pulse");
        pa_proplist_sets(claims, "pipewire.sec.pid", "1");
        context_ = pa_context_new_with_proplist(pa_mainloop_get_api(loop_), "late speaker", claims);
        pa_proplist_free(claims);
        pa_context_connect(context_, server.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr);
        ready_ = until([&] { return pa_context_get_state(context_) == PA_CONTEXT_READY; });
        const char* unsaid[] = {PA_PROP_APPLICATION_PROCESS_ID, PA_PROP_APPLICATION_PROCESS_BINARY, nullptr};
        ready_ = ready_ && finished(pa_context_proplist_remove(context_, unsaid, nullptr, nullptr));
        const pa_sample_spec sample_format{PA_SAMPLE_S16LE, 44100, 2};
        stream_ = pa_stream_new(context_, "late stream", &sample_format, nullptr);
        pa_stream_connect_playback(stream_, nullptr, nullptr, PA_STREAM_NOFLAGS, nullptr, nullptr);
        ready_ = ready_ && until([&] { return pa_stream_get_state(stream_) == PA_STREAM_READY; });
    }
    ~LateSpeakingClient() {
        pa_stream_unref(stream_);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        pa_mainloop_free(loop_);
    }
    LateSpeakingClient(const LateSpeakingClient&) = delete;
    LateSpeakingClient& operator=(const LateSpeakingClient&) = delete;

    [[nodiscard]] bool ready() const { return ready_; }

    // Names this process, as the client's properties that arrive late.
    bool speak() {
        pa_proplist* process = pa_proplist_new();
        pa_proplist_sets(process, PA_PROP_APPLICATION_PROCESS_ID, std::to_string(::getpid()).c_str());
        pa_proplist_sets(process, PA_PROP_APPLICATION_PROCESS_BINARY, "late-speaker");
        const bool spoken =
            finished(pa_context_proplist_update(context_, PA_UPDATE_REPLACE, process, nullptr, nullptr));
        pa_proplist_free(process);
        return spoken;
    }

private:
    // Runs the loop until `done`; the loop runs only here.
    bool until(const std::function<bool()>& done) {
        return wait_until([&] {
            while (pa_mainloop_iterate(loop_, 0, nullptr) > 0) {
            }
            return done();
        });
    }

    bool finished(pa_operation* operation) {
        if (operation == nullptr) return false;
        const bool done = until([&] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; });
        pa_operation_unref(operation);
        return done;
    }

    pa_mainloop* loop_;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    bool ready_ = false;
};

TEST_F(PulseAudioTest, AStreamThatNamesNoProcessIsItsClientsOnceTheClientSpeaks) {
    const auto system = open();
    ASSERT_TRUE(system);
    const auto recorder = std::make_shared<Recorder>();
    const auto creation =
        system->default_render_device().value()->session_manager().value()->register_session_creation(recorder);
    ASSERT_TRUE(creation);
    LateSpeakingClient client(server_->server());
    ASSERT_TRUE(client.ready());
    ASSERT_TRUE(recorder->next(Heard::Kind::created));
    auto sessions = system->default_render_device().value()->session_manager().value()->sessions();
    ASSERT_EQ(sessions.value().size(), 1U);
    EXPECT_FALSE(sessions->front()->process_id()) << "neither the stream nor its client names the process";

    ASSERT_TRUE(client.speak());
    EXPECT_TRUE(recorder->next(Heard::Kind::created)) << "the stream is worth a second look";
    const auto session = session_of(*system, ::getpid());
    ASSERT_TRUE(session);
    EXPECT_EQ(system->process_identity(static_cast<std::uint32_t>(::getpid())).executable_name, "late-speaker");
    EXPECT_TRUE(session_matches_app(*session, *system, {.id = "late-speaker"}));
}

TEST_F(PulseAudioTest, ALevelReachesEveryChannelAndReadsBackAsMixersShowIt) {
    ChildProcess player = play("four channels", 4);
    const auto system = open();
    ASSERT_TRUE(system);
    const auto session = session_of(*system, player.pid());
    ASSERT_TRUE(session);
    EXPECT_EQ(session->level(), 1.0f);

    ASSERT_TRUE(session->set_level(0.5f, OURS));
    EXPECT_EQ(occurrences(stream_volumes(), "32768 /  50%"), 4) << stream_volumes();
    EXPECT_EQ(session_of(*system, player.pid())->level(), 0.5f);

    // 0.4 and 0.33 are no whole number of channel volume units.
    ASSERT_TRUE(session->set_level(0.4f, OURS));
    EXPECT_EQ(session->level(), 0.4f);
    EXPECT_EQ(session_of(*system, player.pid())->level(), 0.4f) << "read back as it was set";
    ASSERT_TRUE(session->set_level(0.33f, OURS));
    EXPECT_EQ(occurrences(stream_volumes(), "/  33%"), 4) << stream_volumes();
    EXPECT_EQ(session_of(*system, player.pid())->level(), 0.33f);

    ASSERT_TRUE(session->set_muted(true, OURS));
    const auto muted = session_of(*system, player.pid());
    EXPECT_EQ(muted->muted(), true);
    EXPECT_EQ(muted->level(), 0.33f) << "muting keeps the level";

    ASSERT_TRUE(server_->pactl({"set-sink-input-volume", only_stream(), "27%"}));
    EXPECT_EQ(session_of(*system, player.pid())->level(), 0.27f) << "a mixer's percentage, as it shows it";
    ASSERT_TRUE(server_->pactl({"set-sink-input-volume", only_stream(), "150%"}));
    EXPECT_EQ(session_of(*system, player.pid())->level(), 1.0f) << "levels end at 1.0";
}

TEST_F(PulseAudioTest, OurOwnChangesComeBackWithOurContextAndOthersWithNone) {
    ChildProcess player = play("tone player");
    const auto setter = open();   // as the volume worker and
    const auto watcher = open();  // the volume watcher do
    ASSERT_TRUE(setter && watcher);
    const auto recorder = std::make_shared<Recorder>();
    const auto registration = session_of(*watcher, player.pid())->register_events(recorder);
    ASSERT_TRUE(registration);

    ASSERT_TRUE(session_of(*setter, player.pid())->set_level(0.5f, OURS));
    auto heard = recorder->next(Heard::Kind::volume);
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->level, 0.5f);
    EXPECT_EQ(heard->context, OURS);

    ASSERT_TRUE(server_->pactl({"set-sink-input-volume", only_stream(), "30%"}));
    heard = recorder->next(Heard::Kind::volume);
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->level, 0.3f);
    EXPECT_FALSE(heard->muted);
    EXPECT_EQ(heard->context, std::nullopt);

    ASSERT_TRUE(server_->pactl({"set-sink-input-mute", only_stream(), "1"}));
    heard = recorder->next(Heard::Kind::volume);
    ASSERT_TRUE(heard);
    EXPECT_TRUE(heard->muted);
    EXPECT_EQ(heard->context, std::nullopt);

    ASSERT_TRUE(server_->pactl({"move-sink-input", only_stream(), "othersink"}));
    ASSERT_TRUE(server_->pactl({"suspend-sink", "othersink", "1"}));
    EXPECT_FALSE(recorder->next(Heard::Kind::volume, 500ms)) << "changes that leave level and mute alone";
}

TEST_F(PulseAudioTest, StreamsThatStartOrMoveHereAreNewSessionsAndEndedOnesExpire) {
    ChildProcess early = play("early player");
    ASSERT_TRUE(wait_until([&] { return !only_stream().empty(); }));
    const std::string early_stream = only_stream();
    const auto system = open();
    ASSERT_TRUE(system);
    const auto here = std::make_shared<Recorder>();
    const auto elsewhere = std::make_shared<Recorder>();
    auto devices = system->active_render_devices().value();
    const auto creation = devices.at(0)->session_manager().value()->register_session_creation(here);
    const auto other_creation = devices.at(1)->session_manager().value()->register_session_creation(elsewhere);
    ASSERT_TRUE(creation && other_creation);

    std::optional<ChildProcess> player(play("tone player"));
    EXPECT_TRUE(here->next(Heard::Kind::created));
    EXPECT_FALSE(elsewhere->next(Heard::Kind::created, 300ms));
    const auto events = session_of(*system, player->pid())->register_events(here);
    ASSERT_TRUE(events);

    ASSERT_TRUE(server_->pactl({"move-sink-input", early_stream, "othersink"}));
    EXPECT_TRUE(elsewhere->next(Heard::Kind::created)) << "a stream older than the connection moved";
    player.reset();
    EXPECT_TRUE(here->next(Heard::Kind::expired));
}

TEST_F(PulseAudioTest, ASinkThatGoesAwayGivesErrorsNotHangs) {
    const auto module = server_->pactl({"load-module", "module-null-sink", "sink_name=usbsink"});
    ASSERT_TRUE(module);
    ChildProcess player = play("tone player");
    const auto system = open();
    ASSERT_TRUE(system);
    ASSERT_TRUE(session_of(*system, player.pid()));
    ASSERT_TRUE(server_->pactl({"move-sink-input", only_stream(), "usbsink"}));
    auto devices = system->active_render_devices().value();
    ASSERT_EQ(devices.size(), 3U);
    auto volume = devices.at(2)->endpoint_volume().value();
    const auto recorder = std::make_shared<Recorder>();
    const auto master = volume->register_changes(recorder);
    const auto notifications = system->register_endpoint_notifications(recorder);
    ASSERT_TRUE(master && notifications);

    ASSERT_TRUE(server_->pactl({"unload-module", std::string(module->substr(0, module->find('\n')))}));
    EXPECT_TRUE(recorder->next(Heard::Kind::device));
    EXPECT_FALSE(volume->master_level());
    EXPECT_EQ(system->active_render_devices().value().size(), 2U);
    EXPECT_TRUE(session_of(*system, player.pid())) << "the stream moved on to a remaining sink";
}

TEST_F(PulseAudioTest, MasterVolumeAndDefaultSinkChangesAreAnnounced) {
    const auto system = open();
    ASSERT_TRUE(system);
    const auto recorder = std::make_shared<Recorder>();
    auto volume = system->default_render_device().value()->endpoint_volume().value();
    const auto master = volume->register_changes(recorder);
    const auto devices = system->register_endpoint_notifications(recorder);
    ASSERT_TRUE(master && devices);

    ASSERT_TRUE(server_->pactl({"set-sink-volume", "testsink", "40%"}));
    const auto heard = recorder->next(Heard::Kind::master);
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->level, 0.4f);
    EXPECT_NE(heard->context, OURS);
    EXPECT_EQ(volume->master_level(), 0.4f);
    ASSERT_TRUE(server_->pactl({"set-sink-mute", "testsink", "1"}));
    EXPECT_TRUE(recorder->next(Heard::Kind::master));
    EXPECT_EQ(volume->muted(), true);

    ASSERT_TRUE(server_->pactl({"set-default-sink", "othersink"}));
    EXPECT_TRUE(recorder->next(Heard::Kind::default_device));
    auto now_default = system->default_render_device().value()->endpoint_volume().value();
    EXPECT_EQ(now_default->muted(), false) << "the default device is othersink now";
}

TEST(PulseAudioWithoutServerTest, OpeningFailsWithAClearMessageAndStartsNoServer) {
    testing_support::TempFolder folder;
    const ScopedEnvironment nowhere("PULSE_SERVER", "unix:" + (folder.path() / "no-server").string());
    const auto start = std::chrono::steady_clock::now();
    const auto system = platform_audio_backend()->open_audio_system();
    ASSERT_FALSE(system);
    EXPECT_THAT(system.error().message, HasSubstr("could not connect to the sound server"));
    EXPECT_THAT(system.error().message, testing::ContainsRegex("\\(0x[0-9A-F]{8}\\)$"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
}

// What was listed or registered through a lost connection stays with it; the
// system itself reaches the next server, and device watchers hear of both.
TEST_F(PulseAudioTest, AfterTheServerDiesTheSameSystemReachesTheNextOne) {
    ChildProcess player = play("tone player");
    const auto system = open();
    ASSERT_TRUE(system);
    auto session = session_of(*system, player.pid());
    ASSERT_TRUE(session);
    const auto recorder = std::make_shared<Recorder>();
    const auto registration = session->register_events(recorder);
    const auto devices = system->register_endpoint_notifications(recorder);
    ASSERT_TRUE(registration && devices);

    server_.reset();
    EXPECT_TRUE(recorder->next(Heard::Kind::disconnected));
    EXPECT_TRUE(recorder->next(Heard::Kind::default_device)) << "so that watchers register anew";
    EXPECT_FALSE(system->active_render_devices());
    EXPECT_FALSE(system->default_render_device());
    EXPECT_FALSE(session->set_level(0.5f, OURS));

    server_.emplace();
    ASSERT_TRUE(server_->started());
    environment_.emplace("PULSE_SERVER", server_->server());
    EXPECT_EQ(system->active_render_devices().value().size(), 2U);
    EXPECT_TRUE(recorder->next(Heard::Kind::default_device)) << "the next connection";
    EXPECT_FALSE(session->set_level(0.5f, OURS)) << "a stream index means nothing to another server";
    ASSERT_TRUE(server_->pactl({"set-default-sink", "othersink"}));
    EXPECT_TRUE(recorder->next(Heard::Kind::default_device)) << "device events of the next server";
}

// A unix socket that takes connections and never answers: a hung server.
class SilentSocket {
public:
    explicit SilentSocket(const std::filesystem::path& path) : descriptor_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.string().copy(address.sun_path, sizeof(address.sun_path) - 1);
        listening_ = descriptor_ >= 0 &&
                     ::bind(descriptor_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 &&
                     ::listen(descriptor_, 8) == 0;
    }
    ~SilentSocket() {
        if (descriptor_ >= 0) ::close(descriptor_);
    }
    SilentSocket(const SilentSocket&) = delete;
    SilentSocket& operator=(const SilentSocket&) = delete;
    [[nodiscard]] bool listening() const { return listening_; }

private:
    int descriptor_;
    bool listening_ = false;
};

TEST_F(PulseAudioTest, AServerThatNeverAnswersIsNotWaitedForOnEveryCall) {
    const auto system = open();
    ASSERT_TRUE(system);
    const auto recorder = std::make_shared<Recorder>();
    const auto devices = system->register_endpoint_notifications(recorder);
    ASSERT_TRUE(devices);
    server_.reset();
    ASSERT_TRUE(recorder->next(Heard::Kind::default_device)) << "the connection is seen lost";
    testing_support::TempFolder folder;
    const SilentSocket silent(folder.path() / "silent.sock");
    ASSERT_TRUE(silent.listening());
    environment_.emplace("PULSE_SERVER", "unix:" + (folder.path() / "silent.sock").string());

    const auto first = std::chrono::steady_clock::now();
    const auto waited = system->active_render_devices();
    ASSERT_FALSE(waited);
    EXPECT_THAT(waited.error().message, HasSubstr("could not connect to the sound server"));
    ASSERT_GT(std::chrono::steady_clock::now() - first, 1s) << "the attempt waited for an answer";
    const auto next = std::chrono::steady_clock::now();
    EXPECT_FALSE(system->default_render_device());
    EXPECT_FALSE(system->active_render_devices());
    EXPECT_LT(std::chrono::steady_clock::now() - next, 1s) << "calls right after it fail at once";
}

TEST_F(PulseAudioTest, ConnectionsComeAndGoWhileChangesFlow) {
    ChildProcess player = play("tone player");
    ASSERT_TRUE(session_of(*open(), player.pid()));
    const std::string stream = only_stream();
    std::atomic<bool> done{false};
    std::thread mixer([&] {
        for (int i = 0; !done; ++i) (void)server_->pactl({"set-sink-input-volume", stream, i % 2 ? "20%" : "80%"});
    });
    for (int round = 0; round < 15; ++round) {
        const auto system = open();
        ASSERT_TRUE(system);
        const auto recorder = std::make_shared<Recorder>();
        auto session = session_of(*system, player.pid());
        ASSERT_TRUE(session);
        auto events = session->register_events(recorder);
        auto master = system->default_render_device().value()->endpoint_volume().value()->register_changes(recorder);
        (void)session->set_level(0.5f, OURS);
        std::this_thread::sleep_for(20ms);
    }
    done = true;
    mixer.join();
}

// The portable volume worker over this backend, for paplay's streams (their
// process binary is pacat).
class PulseVolumeWorkerTest : public PulseAudioTest {
protected:
    void start_worker() {
        auto media = std::make_shared<testing_support::FakeMediaManager>();
        auto media_session = media->make_session("A");
        testing_support::FakeTrack track;
        track.source_app_id = "pacat";
        media_session->set_track(track);
        media->set_current(media_session);
        auto [commands, command_receiver] = channel<VolumeCommand>();
        auto [outbound, outbound_receiver] = channel<protocol::HostMessage>();
        commands_.emplace(std::move(commands));
        reports_.emplace(std::move(outbound_receiver));
        app::start_volume_worker({backend_, std::move(command_receiver), std::move(outbound),
                             std::make_shared<VolumeState>(), media::start_watcher(media).value(), &applications_});
    }

    void set_level(float level) {
        commands_->send(VolumeCommand{VolumeCommand::Kind::SetLevel, false, level, {.id = "pacat"}});
    }

    std::optional<protocol::Volume> next_report(std::chrono::milliseconds wait) {
        auto message = reports_->recv_for(wait);
        if (!message) return std::nullopt;
        return std::get<protocol::Volume>(*message);
    }

    // The watcher registers on a stream some time after it starts: the mixer
    // sets one level after another (none that the tests set) until one is
    // reported; then the reports are let settle.
    bool watcher_reports_mixer_changes() {
        for (int percent = 60; percent < 100; ++percent) {
            if (!server_->pactl({"set-sink-input-volume", only_stream(), std::to_string(percent) + "%"})) continue;
            if (!next_report(250ms)) continue;
            while (next_report(500ms)) {
            }
            return true;
        }
        return false;
    }

    CurrentApplicationChannel applications_;
    std::optional<Sender<VolumeCommand>> commands_;
    std::optional<Receiver<protocol::HostMessage>> reports_;
};

// The device's change is reported once, a mixer's change once more.
TEST_F(PulseVolumeWorkerTest, TheVolumeWorkerSetsAndReportsThePlayingApplication) {
    ChildProcess player = play("tone player");
    ASSERT_TRUE(session_of(*open(), player.pid()));
    start_worker();
    EXPECT_EQ(next_report(5s), (protocol::Volume{100.0, false}));
    ASSERT_TRUE(watcher_reports_mixer_changes());

    set_level(0.5f);
    EXPECT_EQ(next_report(5s), (protocol::Volume{50.0, false}));
    EXPECT_FALSE(next_report(700ms)) << "the echo of the device's own change";

    ASSERT_TRUE(server_->pactl({"set-sink-input-volume", only_stream(), "25%"}));
    EXPECT_EQ(next_report(5s), (protocol::Volume{25.0, false}));
}

// Sound servers restart (pipewire-pulse on every update); the device keeps
// control of the application that plays on the new one.
TEST_F(PulseVolumeWorkerTest, TheVolumeWorkerCarriesOnAfterTheServerRestarts) {
    std::optional<ChildProcess> player(play("tone player"));
    ASSERT_TRUE(session_of(*open(), player->pid()));
    start_worker();
    EXPECT_EQ(next_report(5s), (protocol::Volume{100.0, false}));
    ASSERT_TRUE(watcher_reports_mixer_changes());

    ASSERT_TRUE(server_->restart());
    player.reset();
    player.emplace(play("tone player"));
    ASSERT_TRUE(wait_until([&] { return !only_stream().empty(); }));

    set_level(0.4f);
    EXPECT_EQ(next_report(5s), (protocol::Volume{40.0, false}))
        << "the level set, read back unchanged";
    EXPECT_EQ(occurrences(stream_volumes(), "/  40%"), 2) << stream_volumes();
    ASSERT_TRUE(watcher_reports_mixer_changes()) << "the watcher registered on the new server";
    ASSERT_TRUE(server_->pactl({"set-sink-input-volume", only_stream(), "25%"}));
    EXPECT_EQ(next_report(5s), (protocol::Volume{25.0, false}));
}

}  // namespace
}  // namespace olvex::volume
