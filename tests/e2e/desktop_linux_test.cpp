// The real program on a real (private) Linux desktop: a session bus, a
// PulseAudio server with null sinks, and real players (mpv with its MPRIS
// plugin, vlc) playing tagged tracks, with a pseudo-terminal as the device.

#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "e2e/device_peer_linux.hpp"

namespace olvex {
namespace {

using namespace std::chrono_literals;
using namespace testing_support;

constexpr std::string_view NOTHING_PLAYS =
    R"({"event":"now_playing","status":"none","title":"","artist":"","album":"","position_s":0.0,"duration_s":0.0})";
constexpr std::string_view NO_ART = R"({"event":"art","data":""})";
constexpr std::string_view UNLOCKED = R"({"event":"lock","locked":false})";
constexpr std::string_view MPV = "org.mpris.MediaPlayer2.mpv";

// The bytes that base64 `text` stands for, or -1 if it is not base64. (No
// std::regex here: it recurses once per character and overflows the stack on
// a picture's worth of text.)
long base64_decoded_size(std::string_view text) {
    const auto symbols = text.substr(0, text.find_last_not_of('=') + 1);
    const auto padding = text.size() - symbols.size();
    const bool alphabet = symbols.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/") ==
                          std::string_view::npos;
    if (text.size() % 4 != 0 || padding > 2 || !alphabet) return -1;
    return static_cast<long>(text.size() / 4 * 3 - padding);
}

std::string art_data(const std::string& line) {
    const std::string prefix = R"({"event":"art","data":")";
    if (!line.starts_with(prefix) || !line.ends_with("\"}")) return "<not art>";
    return line.substr(prefix.size(), line.size() - prefix.size() - 2);
}

// The number after `"member":` in a message line.
std::optional<double> number_member(const std::string& line, const std::string& member) {
    const auto at = line.find('"' + member + "\":");
    if (at == std::string::npos) return std::nullopt;
    return std::stod(line.substr(at + member.size() + 3));
}

std::vector<std::string> events_of(const std::vector<std::string>& lines, std::string_view event) {
    std::vector<std::string> found;
    const std::string prefix = R"({"event":")" + std::string(event) + '"';
    for (const auto& line : lines) {
        if (line.starts_with(prefix)) found.push_back(line);
    }
    return found;
}

class Desktop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        tracks_folder_ = new TempFolder;
        ::chmod(tracks_folder_->path().c_str(), 0755);  // vlc plays them as another user
        tracks_ = new std::vector<SampleTrack>(make_sample_tracks(tracks_folder_->path()));
    }
    static void TearDownTestSuite() {
        delete tracks_;
        delete tracks_folder_;
    }

    void SetUp() override {
        for (const char* program : {"dbus-daemon", "pulseaudio", "pactl", "mpv", "dbus-send"}) {
            if (!program_available(program)) GTEST_SKIP() << program << " is not installed";
        }
        ASSERT_EQ(tracks_->size(), 3U) << "tools/make-sample-tracks.sh failed (is ffmpeg installed?)";
        ASSERT_TRUE(bus_.started());
        ASSERT_TRUE(pulse_.started());
    }

    [[nodiscard]] std::vector<std::string> environment() const {
        return {"DBUS_SESSION_BUS_ADDRESS=" + bus_.address(), "PULSE_SERVER=" + pulse_.server()};
    }

    // Starts the program and answers its greeting.
    void start_program() {
        program_.emplace(device_.slave_path(), state_, environment());
        ASSERT_TRUE(program_->started());
        ASSERT_EQ(lines_.next(), R"({"event":"hello"})");
        send(R"({"event":"hello_ack"})");
    }

    void send(const std::string& line) const { device_.send(line + "\n"); }

    ChildProcess play_in_mpv(const SampleTrack& track) const {
        return ChildProcess({"mpv", "--no-terminal", "--no-video", "--ao=pulse", "--loop-file=inf", track.file.string()},
                            environment());
    }

    // vlc refuses to run as root, so it plays as nobody, with a home of its own.
    ChildProcess play_in_vlc(const SampleTrack& track) const {
        const auto home = state_.path() / "vlc-home";
        std::filesystem::create_directories(home);
        ::chmod(home.c_str(), 0777);
        // setpriv executes vlc in its own place, so vlc stays our child and
        // ends with the test however the test ends.
        auto settings = environment();
        settings.push_back("HOME=" + home.string());
        return ChildProcess({"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--pdeathsig=KILL", "--",
                             "cvlc", "-I", "dummy", "--aout", "pulse", "--loop", track.file.string()},
                            settings);
    }

    // Waits for the announcement of `track` (its now_playing line followed by
    // its art line) and returns those two lines.
    std::vector<std::string> announcement_of(const SampleTrack& track) {
        const std::string names = R"("title":")" + track.title + R"(","artist":")" + track.artist +
                                  R"(","album":")" + track.album + '"';
        std::string previous;
        for (;;) {
            std::string line = lines_.next(10s);
            if (line.empty()) return {};
            if (line.starts_with(R"({"event":"art")") && previous.find(names) != std::string::npos) {
                return {previous, line};
            }
            previous = std::move(line);
        }
    }

    // Asks the player for a property of its Player interface; the reply's text.
    [[nodiscard]] std::string player_property(std::string_view player, const std::string& property) const {
        return run_command("DBUS_SESSION_BUS_ADDRESS='" + bus_.address() +
                           "' dbus-send --session --print-reply --dest=" + std::string(player) +
                           " /org/mpris/MediaPlayer2 org.freedesktop.DBus.Properties.Get"
                           " string:org.mpris.MediaPlayer2.Player string:" + property)
            .value_or("");
    }

    [[nodiscard]] std::optional<double> player_position_seconds(std::string_view player) const {
        static const std::regex value("int64 (-?[0-9]+)");
        std::smatch match;
        const std::string reply = player_property(player, "Position");
        if (!std::regex_search(reply, match, value)) return std::nullopt;
        return std::stod(match[1]) / 1e6;
    }

    // The first stream's volume in percent and its mute, as pactl shows them.
    [[nodiscard]] std::optional<std::pair<int, bool>> stream_volume() const {
        static const std::regex volume(R"(Volume: [a-z-]+: [0-9]+ /\s*([0-9]+)%)");
        static const std::regex mute(R"(Mute: (yes|no))");
        const std::string listing = pulse_.pactl({"list", "sink-inputs"}).value_or("");
        std::smatch volume_match;
        std::smatch mute_match;
        if (!std::regex_search(listing, volume_match, volume) || !std::regex_search(listing, mute_match, mute)) {
            return std::nullopt;
        }
        return std::pair{std::stoi(volume_match[1]), mute_match[1] == "yes"};
    }

    // The index and the volume in percent of the stream whose process binary
    // is `binary`, as pactl shows them.
    [[nodiscard]] std::optional<std::pair<std::string, int>> stream_of(const std::string& binary) const {
        static const std::regex volume(R"(Volume: [a-z-]+: [0-9]+ /\s*([0-9]+)%)");
        const std::string heading = "Sink Input #";
        const std::string listing = pulse_.pactl({"list", "sink-inputs"}).value_or("");
        for (auto at = listing.find(heading); at != std::string::npos;) {
            const auto next = listing.find(heading, at + 1);
            const std::string block = listing.substr(at + heading.size(), next - at - heading.size());
            std::smatch match;
            if (block.find("application.process.binary = \"" + binary + '"') != std::string::npos &&
                std::regex_search(block, match, volume)) {
                return std::pair{block.substr(0, block.find('\n')), std::stoi(match[1])};
            }
            at = next;
        }
        return std::nullopt;
    }

    [[nodiscard]] std::string first_stream_index() const {
        const std::string listing = pulse_.pactl({"list", "short", "sink-inputs"}).value_or("");
        return listing.substr(0, listing.find('\t'));
    }

    static const SampleTrack& track(std::size_t index) { return (*tracks_)[index]; }

    PrivateSessionBus bus_;
    PrivatePulseServer pulse_;
    PtyMaster device_;
    DeviceLines lines_{device_};
    TempFolder state_;
    std::optional<Program> program_;

    static inline TempFolder* tracks_folder_ = nullptr;
    static inline std::vector<SampleTrack>* tracks_ = nullptr;
};

TEST_F(Desktop, ATrackIsAnnouncedAfterTheQuietSecondWithItsArtOnce) {
    start_program();
    const auto started = std::chrono::steady_clock::now();
    auto player = play_in_mpv(track(0));

    const auto announcement = announcement_of(track(0));
    ASSERT_EQ(announcement.size(), 2U);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_NE(announcement[0].find(R"("status":"playing")"), std::string::npos) << announcement[0];
    EXPECT_NEAR(number_member(announcement[0], "duration_s").value_or(0), 30.0, 0.1);
    EXPECT_EQ(base64_decoded_size(art_data(announcement[1])), 128 * 128);
    // The same picture again would cost the device two seconds of its line.
    EXPECT_FALSE(lines_.next(1500ms).starts_with(R"({"event":"art")"));
}

TEST_F(Desktop, PlayPauseFromTheDevicePausesThePlayerAndIsReportedAtOnce) {
    start_program();
    auto player = play_in_mpv(track(0));
    ASSERT_EQ(announcement_of(track(0)).size(), 2U);

    send(R"({"event":"play_pause"})");
    const std::string report = lines_.next_event("now_playing", 5s);
    EXPECT_NE(report.find(R"("status":"paused","title":"First Light")"), std::string::npos) << report;
    // At once: not the announcement after the quiet second, which brings art.
    for (const auto& line : lines_.collect(1500ms)) EXPECT_FALSE(line.starts_with(R"({"event":"art")")) << line;
    EXPECT_NE(player_property(MPV, "PlaybackStatus").find("\"Paused\""), std::string::npos);
}

TEST_F(Desktop, VolumeAndMuteFromTheDeviceMoveThePlayersStreamAndAreReportedOnce) {
    start_program();
    auto player = play_in_mpv(track(0));
    ASSERT_EQ(announcement_of(track(0)).size(), 2U);
    lines_.collect(1500ms);  // whatever the start brought

    send(R"({"event":"set_volume","volume":40})");
    auto volumes = events_of(lines_.collect(1500ms), "volume");
    ASSERT_EQ(volumes.size(), 1U) << pulse_.pactl({"list", "sink-inputs"}).value_or("");
    EXPECT_NEAR(number_member(volumes[0], "volume").value_or(-1), 40.0, 0.1) << volumes[0];
    EXPECT_EQ(stream_volume(), (std::pair{40, false}));

    send(R"({"event":"set_mute","muted":true})");
    volumes = events_of(lines_.collect(1500ms), "volume");
    ASSERT_EQ(volumes.size(), 1U);
    EXPECT_NE(volumes[0].find(R"("muted":true)"), std::string::npos) << volumes[0];
    EXPECT_EQ(stream_volume(), (std::pair{40, true}));

    ASSERT_TRUE(pulse_.pactl({"set-sink-input-volume", first_stream_index(), "70%"}));
    volumes = events_of(lines_.collect(1500ms), "volume");
    ASSERT_EQ(volumes.size(), 1U);
    EXPECT_NEAR(number_member(volumes[0], "volume").value_or(-1), 70.0, 0.1) << volumes[0];
}

// A browser plays from a child process with an executable of its own, not
// from the process that owns its media session; the device's volume is that
// stream's, and other streams are left alone.
TEST_F(Desktop, VolumeFollowsAPlayerThatSoundsFromItsChildProcess) {
    const auto sound_player = state_.path() / "sound-player";  // pacat, as paplay, under a name of its own
    std::filesystem::copy_file("/usr/bin/pacat", sound_player);
    const std::vector<std::string> silence{"--raw", "--format=s16le", "--rate=44100", "--channels=2", "/dev/zero"};
    std::vector<std::string> unrelated_argv{"pacat"};
    unrelated_argv.insert(unrelated_argv.end(), silence.begin(), silence.end());
    std::vector<std::string> player_argv{OLVEX_STAND_IN_PLAYER, sound_player.string()};
    player_argv.insert(player_argv.end(), silence.begin(), silence.end());

    start_program();
    ChildProcess unrelated(unrelated_argv, environment());
    ChildProcess player(player_argv, environment());
    std::string announced = lines_.next_event("now_playing");
    // The start's "nothing plays" goes out only if the device was quick: a race.
    if (announced == NOTHING_PLAYS) announced = lines_.next_event("now_playing");
    EXPECT_NE(announced.find("Stand-in Song"), std::string::npos) << announced;
    ASSERT_TRUE(wait_until([&] { return stream_of("sound-player") && stream_of("pacat"); }));
    lines_.collect(1500ms);  // whatever the start brought

    send(R"({"event":"set_volume","volume":40})");
    auto volumes = events_of(lines_.collect(1500ms), "volume");
    ASSERT_EQ(volumes.size(), 1U) << pulse_.pactl({"list", "sink-inputs"}).value_or("");
    EXPECT_NEAR(number_member(volumes[0], "volume").value_or(-1), 40.0, 0.1) << volumes[0];
    EXPECT_EQ(stream_of("sound-player").value_or(std::pair{"", -1}).second, 40);
    EXPECT_EQ(stream_of("pacat").value_or(std::pair{"", -1}).second, 100);

    ASSERT_TRUE(pulse_.pactl({"set-sink-input-volume", stream_of("pacat").value().first, "55%"}));
    ASSERT_TRUE(pulse_.pactl({"set-sink-input-volume", stream_of("sound-player").value().first, "70%"}));
    volumes = events_of(lines_.collect(1500ms), "volume");
    ASSERT_EQ(volumes.size(), 1U);
    EXPECT_NEAR(number_member(volumes[0], "volume").value_or(-1), 70.0, 0.1) << volumes[0];
}

TEST_F(Desktop, SeeksFromTheDeviceMoveThePosition) {
    start_program();
    auto player = play_in_mpv(track(0));
    ASSERT_EQ(announcement_of(track(0)).size(), 2U);

    send(R"({"event":"seek","position_s":12.5})");
    EXPECT_TRUE(wait_until([&] { return std::abs(player_position_seconds(MPV).value_or(0) - 13.0) < 1.5; }, 3s));
    send(R"({"event":"seek_relative","position":0.75})");
    EXPECT_TRUE(wait_until([&] { return std::abs(player_position_seconds(MPV).value_or(0) - 23.0) < 1.5; }, 3s));
}

TEST_F(Desktop, ASecondPlayerBecomesCurrentUnlessTheDeviceLockedTheSession) {
    start_program();
    auto first = play_in_mpv(track(0));
    ASSERT_EQ(announcement_of(track(0)).size(), 2U);

    send(R"({"event":"set_lock","locked":true})");
    EXPECT_EQ(lines_.next_event("lock"), R"({"event":"lock","locked":true})");
    auto second = play_in_mpv(track(1));
    for (const auto& line : events_of(lines_.collect(3s), "now_playing")) {
        EXPECT_EQ(line.find("Second Wind"), std::string::npos) << "the lock did not hold: " << line;
    }

    send(R"({"event":"set_lock","locked":false})");
    EXPECT_EQ(lines_.next_event("lock"), R"({"event":"lock","locked":false})");
    second.stop();
    if (!program_available("cvlc") || !program_available("setpriv")) GTEST_SKIP() << "vlc is not installed";
    auto third = play_in_vlc(track(2));  // its cover is only inside the file
    const auto announcement = announcement_of(track(2));
    ASSERT_EQ(announcement.size(), 2U);
    EXPECT_EQ(base64_decoded_size(art_data(announcement[1])), 128 * 128);
}

TEST_F(Desktop, WhenTheLockedPlayerQuitsTheLockIsLetGoAndTheCurrentPlayerShown) {
    start_program();
    auto first = play_in_mpv(track(0));
    ASSERT_EQ(announcement_of(track(0)).size(), 2U);
    send(R"({"event":"set_lock","locked":true})");
    EXPECT_EQ(lines_.next_event("lock"), R"({"event":"lock","locked":true})");
    auto second = play_in_mpv(track(1));
    lines_.collect(2s);  // the second has become the platform's current player meanwhile

    first.stop();
    EXPECT_EQ(lines_.next_event("lock"), UNLOCKED);
    const std::string state = lines_.next_event("now_playing");
    EXPECT_NE(state.find(R"("title":")" + track(1).title + '"'), std::string::npos) << state;
}

// A stopped process answers nothing on the bus, as a hung player would.
TEST_F(Desktop, APlayerThatStopsAnsweringHoldsUpNeitherTheDeviceNorTheVolume) {
    start_program();
    auto player = play_in_mpv(track(0));
    ASSERT_EQ(announcement_of(track(0)).size(), 2U);
    lines_.collect(1500ms);  // whatever the start brought

    ASSERT_EQ(::kill(player.pid(), SIGSTOP), 0);
    const auto asked = std::chrono::steady_clock::now();
    send(R"({"event":"resync","what":15})");
    EXPECT_TRUE(lines_.next_event("volume", 6s).starts_with(R"({"event":"volume")"));
    EXPECT_EQ(lines_.next_event("lock", 6s), UNLOCKED);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 6s);

    send(R"({"event":"set_volume","volume":40})");
    EXPECT_NEAR(number_member(lines_.next_event("volume", 6s), "volume").value_or(-1), 40.0, 0.1);
    EXPECT_EQ(stream_volume(), (std::pair{40, false}));

    ASSERT_EQ(::kill(player.pid(), SIGCONT), 0);
    send(R"({"event":"resync","what":1})");
    const std::string state = lines_.next_event("now_playing");
    EXPECT_NE(state.find(R"("title":")" + track(0).title + '"'), std::string::npos) << state;
}

TEST_F(Desktop, WhenTheLastPlayerStopsNothingPlays) {
    start_program();
    auto player = play_in_mpv(track(0));
    ASSERT_EQ(announcement_of(track(0)).size(), 2U);

    player.stop();
    EXPECT_EQ(lines_.next_event("now_playing"), NOTHING_PLAYS);
    EXPECT_EQ(lines_.next(), NO_ART);
}

// The same desktop on PipeWire, as Debian's and Ubuntu's desktops run it:
// beside PulseAudio clients, players that speak PipeWire natively, whose
// streams name their process only through their client. One PipeWire serves
// every case, since starting one costs seconds; WirePlumber gives a new
// stream the level last set on one of its kind, so no case counts on a
// stream's level at start.
class PipeWireDesktop : public ::testing::Test {
protected:
    struct Shown {
        std::string index;
        int percent = -1;
        bool muted = false;
        bool operator==(const Shown&) const = default;
    };

    static bool programs_available() {
        return std::ranges::all_of(std::vector<std::string>{"pipewire", "wireplumber", "pipewire-pulse", "pw-play",
                                                            "pactl", "pacat", "mpv", "dbus-daemon", "ffmpeg"},
                                   program_available);
    }

    static void SetUpTestSuite() {
        if (!programs_available()) return;
        files_ = new TempFolder;
        tracks_ = new std::vector<SampleTrack>(make_sample_tracks(files_->path()));
        const auto silence = files_->path() / "child.flac";
        (void)run_command("ffmpeg -v error -f lavfi -i anullsrc=r=8000:cl=mono -t 600 " + silence.string());
        std::error_code failed;  // SetUp finds the silence missing
        std::filesystem::copy_file(silence, files_->path() / "other.flac", failed);
        bus_ = new PrivateSessionBus;
        pipewire_ = new PrivatePipeWire(bus_->address());
    }
    static void TearDownTestSuite() {
        delete pipewire_;
        delete bus_;
        delete tracks_;
        delete files_;
    }

    void SetUp() override {
        if (!programs_available()) GTEST_SKIP() << "PipeWire, pw-play, pactl, pacat, mpv or ffmpeg is missing";
        ASSERT_EQ(tracks_->size(), 3U);
        ASSERT_TRUE(std::filesystem::exists(files_->path() / "other.flac")) << "ffmpeg made no silence";
        ASSERT_TRUE(bus_->started());
        ASSERT_TRUE(pipewire_->started());
    }

    [[nodiscard]] static std::vector<std::string> environment() {
        auto settings = pipewire_->client_environment();
        settings.push_back("DBUS_SESSION_BUS_ADDRESS=" + bus_->address());
        return settings;
    }

    void start_program() {
        program_.emplace(device_.slave_path(), state_, environment());
        ASSERT_TRUE(program_->started());
        ASSERT_EQ(lines_.next(), R"({"event":"hello"})");
        send(R"({"event":"hello_ack"})");
    }

    void send(const std::string& line) const { device_.send(line + "\n"); }

    [[nodiscard]] static ChildProcess play_in_native_mpv() {
        return ChildProcess({"mpv", "--no-terminal", "--no-video", "--ao=pipewire", "--loop-file=inf",
                             (*tracks_)[0].file.string()},
                            environment());
    }

    [[nodiscard]] static std::string silence(const std::string& name) { return (files_->path() / name).string(); }

    // The stream whose entry in pactl's listing holds `mark`.
    [[nodiscard]] static std::optional<Shown> stream_marked(const std::string& mark) {
        static const std::regex volume(R"(Volume: [a-z-]+: [0-9]+ /\s*([0-9]+)%)");
        const std::string heading = "Sink Input #";
        const std::string listing = pipewire_->pactl({"list", "sink-inputs"}).value_or("");
        for (auto at = listing.find(heading); at != std::string::npos;) {
            const auto next = listing.find(heading, at + 1);
            const std::string entry = listing.substr(at + heading.size(), next - at - heading.size());
            std::smatch match;
            if (entry.find(mark) != std::string::npos && std::regex_search(entry, match, volume)) {
                return Shown{entry.substr(0, entry.find('\n')), std::stoi(match[1]),
                             entry.find("Mute: yes") != std::string::npos};
            }
            at = next;
        }
        return std::nullopt;
    }

    static bool set_stream_volume(const std::string& mark, const std::string& percent) {
        const auto stream = stream_marked(mark);
        return stream && pipewire_->pactl({"set-sink-input-volume", stream->index, percent + "%"});
    }

    // Whether a now_playing line with `title` comes, passing over others (the
    // "nothing plays" of the program's start among them).
    bool announced(const std::string& title) {
        for (;;) {
            const std::string line = lines_.next_event("now_playing");
            if (line.empty() || line.find(title) != std::string::npos) return !line.empty();
        }
    }

    // The next volume report, which a sanitizer build may take seconds to
    // send, and any that follow it within a second.
    std::vector<std::string> volume_reports() {
        std::vector<std::string> reports;
        if (std::string first = lines_.next_event("volume", 6s); !first.empty()) reports.push_back(std::move(first));
        std::ranges::move(events_of(lines_.collect(1000ms), "volume"), std::back_inserter(reports));
        return reports;
    }

    // One volume report follows, of `percent`.
    void expect_one_report_of(int percent) {
        const auto volumes = volume_reports();
        ASSERT_EQ(volumes.size(), 1U) << pipewire_->pactl({"list", "sink-inputs"}).value_or("");
        EXPECT_NEAR(number_member(volumes[0], "volume").value_or(-1), percent, 0.1) << volumes[0];
    }

    // The device's knob and mute button reach the stream holding `mark`, and
    // each is reported back once.
    void expect_knob_and_mute_reach(const std::string& mark, int percent) {
        send(R"({"event":"set_volume","volume":)" + std::to_string(percent) + "}");
        expect_one_report_of(percent);
        EXPECT_EQ(stream_marked(mark).value_or(Shown{}).percent, percent);
        send(R"({"event":"set_mute","muted":true})");
        const auto volumes = volume_reports();
        ASSERT_EQ(volumes.size(), 1U);
        EXPECT_NE(volumes[0].find(R"("muted":true)"), std::string::npos) << volumes[0];
        EXPECT_TRUE(stream_marked(mark).value_or(Shown{}).muted);
    }

    static inline TempFolder* files_ = nullptr;
    static inline std::vector<SampleTrack>* tracks_ = nullptr;
    static inline PrivateSessionBus* bus_ = nullptr;
    static inline PrivatePipeWire* pipewire_ = nullptr;

    PtyMaster device_;
    DeviceLines lines_{device_};
    TempFolder state_;
    std::optional<Program> program_;
};

constexpr const char* NATIVE_MPV = R"(application.id = "mpv")";

// Debian's mpv plays through its PipeWire output unless told otherwise.
TEST_F(PipeWireDesktop, VolumeAndMuteReachMpvsOwnPipeWireStreamAndOutsideChangesAreReportedOnce) {
    start_program();
    auto player = play_in_native_mpv();
    EXPECT_TRUE(announced("First Light"));
    ASSERT_TRUE(wait_until([] { return stream_marked(NATIVE_MPV).has_value(); }));
    lines_.collect(1500ms);  // whatever the start brought

    expect_knob_and_mute_reach(NATIVE_MPV, 30);
    ASSERT_TRUE(set_stream_volume(NATIVE_MPV, "70"));
    expect_one_report_of(70);
}

TEST_F(PipeWireDesktop, APlayerWhoseChildPlaysWithPwPlayIsFollowedAndOtherStreamsAreLeftAlone) {
    const std::string child_stream = "/child.flac\"";
    const std::string other_stream = "/other.flac\"";
    const std::string pulse_stream = R"(application.process.binary = "pacat")";
    start_program();
    ChildProcess unrelated_native({"pw-play", silence("other.flac")}, environment());
    ChildProcess unrelated_pulse({"pacat", "--raw", "--format=s16le", "--rate=44100", "--channels=2", "/dev/zero"},
                                 environment());
    ChildProcess player({OLVEX_STAND_IN_PLAYER, "/usr/bin/pw-play", silence("child.flac")}, environment());
    EXPECT_TRUE(announced("Stand-in Song"));
    const auto others = [&] { return std::pair{stream_marked(other_stream), stream_marked(pulse_stream)}; };
    ASSERT_TRUE(wait_until([&] { return stream_marked(child_stream) && others().first && others().second; }));
    // WirePlumber gives a new stream the state last saved for its role: the
    // case before may have left it muted, and a mute that changes nothing is
    // not reported again.
    send(R"({"event":"set_mute","muted":false})");
    lines_.collect(1500ms);  // whatever the start and the unmuting brought
    const auto others_before = others();

    expect_knob_and_mute_reach(child_stream, 40);
    EXPECT_EQ(others(), others_before);

    ASSERT_TRUE(set_stream_volume(other_stream, "55"));
    ASSERT_TRUE(set_stream_volume(pulse_stream, "56"));
    ASSERT_TRUE(set_stream_volume(child_stream, "70"));
    expect_one_report_of(70);
}

// pipewire-pulse restarts on every update of PipeWire; the players' streams
// play on, and the program reaches them through the new server.
TEST_F(PipeWireDesktop, AfterPipeWirePulseRestartsTheDeviceKeepsTheVolume) {
    start_program();
    auto player = play_in_native_mpv();
    ASSERT_TRUE(wait_until([] { return stream_marked(NATIVE_MPV).has_value(); }));
    lines_.collect(2s);  // whatever the start brought

    ASSERT_TRUE(pipewire_->restart_pulse_server());
    send(R"({"event":"set_volume","volume":45})");
    EXPECT_NEAR(number_member(lines_.next_event("volume"), "volume").value_or(-1), 45.0, 0.1);
    EXPECT_EQ(stream_marked(NATIVE_MPV).value_or(Shown{}).percent, 45);

    // The watcher registers anew some time after the program reconnects; a
    // mixer sets one level after another until one is reported.
    int percent = 60;
    EXPECT_TRUE(wait_until([&] {
        return set_stream_volume(NATIVE_MPV, std::to_string(++percent)) && !lines_.next_event("volume", 500ms).empty();
    }));
}

}  // namespace
}  // namespace olvex
