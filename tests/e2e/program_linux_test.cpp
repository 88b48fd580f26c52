// The real program against a pseudo-terminal that plays the device.

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <thread>
#include <utility>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "e2e/device_peer_linux.hpp"

namespace olvex {
namespace {

using namespace std::chrono_literals;
using testing_support::ChildProcess;
using testing_support::DeviceLines;
using testing_support::PrivateSessionBus;
using testing_support::Program;
using testing_support::PtyMaster;
using testing_support::TempFolder;

// A desktop with a session bus but no media player and no sound server.
class QuietDesktop {
public:
    [[nodiscard]] std::vector<std::string> environment() const {
        return {"DBUS_SESSION_BUS_ADDRESS=" + bus_.address(), "PULSE_SERVER=unix:" + (state_.path() / "none").string()};
    }

private:
    PrivateSessionBus bus_;
    TempFolder state_;
};

// Without media session or volume control, the state this program reports.
constexpr std::string_view VOLUME_LINE = R"({"event":"volume","volume":0.0,"muted":false})";
constexpr std::string_view UNLOCKED_LINE = R"({"event":"lock","locked":false})";

// The next line that reports state, passing over the "nothing plays" pair
// (now_playing none, empty art) that the media side sends once at start: it
// goes out only if the device is already connected, which is a race.
std::string next_state_line(DeviceLines& device) {
    for (;;) {
        std::string line = device.next();
        if (!line.starts_with(R"({"event":"now_playing","status":"none",)") && line != R"({"event":"art","data":""})") {
            return line;
        }
    }
}

// Answers the greeting and checks the state push of a program without media
// session or volume control.
void handshake(const PtyMaster& device, DeviceLines& lines) {
    ASSERT_EQ(lines.next(), R"({"event":"hello"})");
    device.send("{\"event\":\"hello_ack\"}\n");
    EXPECT_EQ(next_state_line(lines), VOLUME_LINE);
    EXPECT_EQ(next_state_line(lines), UNLOCKED_LINE);
}

TEST(Program, GreetsTheDevicePushesItsStateAnswersResyncAndEndsOnTerm) {
    QuietDesktop desktop;
    PtyMaster device;
    DeviceLines lines(device);
    TempFolder state;
    Program program(device.slave_path(), state, desktop.environment());
    ASSERT_TRUE(program.started());
    handshake(device, lines);

    device.send("{\"event\":\"resync\",\"what\":0}\n{\"event\":\"set_lock\",\"locked\":true}\n");
    EXPECT_EQ(next_state_line(lines), UNLOCKED_LINE);  // nothing to lock to
    device.send("{\"event\":\"resync\",\"what\":12}\n");
    EXPECT_EQ(next_state_line(lines), VOLUME_LINE);
    EXPECT_EQ(next_state_line(lines), UNLOCKED_LINE);

    EXPECT_EQ(program.end_with(SIGTERM), 0);
}

// A player on `desktop` as hostile as any process of the user may be (see
// stand_in_player_linux.cpp for `settings`).
ChildProcess hostile_player(const QuietDesktop& desktop, const std::vector<std::string>& settings,
                            const std::filesystem::path& output) {
    auto environment = desktop.environment();
    environment.insert(environment.end(), settings.begin(), settings.end());
    return ChildProcess({OLVEX_STAND_IN_PLAYER, "/bin/sleep", "600"}, environment, output);
}

// The program connected to a device on a quiet desktop, for the players of
// the cases below.
class ProgramWithPlayers : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(program.started());
        handshake(device, lines);
    }

    QuietDesktop desktop;
    PtyMaster device;
    DeviceLines lines{device};
    TempFolder state;
    Program program{device.slave_path(), state, desktop.environment()};
};

// A title of a megabyte and ten thousand artists reach the device cut, and
// no line but art is longer than the device's bound.
TEST_F(ProgramWithPlayers, BoundsEveryLineWhateverThePlayerSends) {
    auto player = hostile_player(desktop, {"STAND_IN_TITLE_BYTES=1000000", "STAND_IN_ARTISTS=10000"},
                                 state.path() / "player-output.txt");

    std::string artists;
    for (int i = 0; artists.size() < 300; ++i) artists += (i == 0 ? "" : ", ") + ("Artist " + std::to_string(i));
    const std::string announced = R"({"event":"now_playing","status":"playing","title":")" + std::string(256, 'x') +
                                  R"(","artist":")" + artists.substr(0, 256) + R"(","album":"",)";
    std::vector<std::string> seen;
    const auto announced_seen = [&] {
        return std::ranges::any_of(seen, [&](const std::string& line) { return line.starts_with(announced); });
    };
    ASSERT_TRUE(testing_support::wait_until([&] {
        std::ranges::move(lines.collect(500ms), std::back_inserter(seen));
        return announced_seen();
    }, 15s)) << (seen.empty() ? "" : seen.back().substr(0, 400));
    for (const auto& line : seen) {
        if (line.starts_with(R"({"event":"art",)")) continue;
        EXPECT_LE(line.size() + 1, 4096U) << line.substr(0, 100);
    }
    EXPECT_EQ(program.end_with(SIGTERM), 0);
}

// A thousand seeks a second for five seconds: what is sent while they last is
// kept current, so a resync afterwards is answered within a second, with
// where the player stopped.
TEST_F(ProgramWithPlayers, AnswersAResyncPromptlyAfterAFloodOfSeeks) {
    const auto output = state.path() / "player-output.txt";
    auto player = hostile_player(desktop, {"STAND_IN_PAUSED=1", "STAND_IN_SEEKS=1000,5"}, output);
    std::size_t during_flood = 0;
    ASSERT_TRUE(testing_support::wait_until([&] {
        during_flood += lines.collect(200ms).size();
        return testing_support::read_file(output).find("flood over") != std::string::npos;
    }, 30s));

    // The lock is sent only in answer, so the line before it is the answer too.
    device.send("{\"event\":\"resync\",\"what\":9}\n");
    const auto answer = lines.collect(1s);
    const auto lock = std::ranges::find(answer, UNLOCKED_LINE);
    ASSERT_NE(lock, answer.end()) << answer.size() << " lines, " << during_flood << " during the flood";
    ASSERT_NE(lock, answer.begin());
    EXPECT_TRUE((lock - 1)->starts_with(R"({"event":"now_playing","status":"paused","title":"Stand-in Song",)"))
        << *(lock - 1);
    EXPECT_NE((lock - 1)->find(R"("position_s":5.0,)"), std::string::npos) << *(lock - 1);
    EXPECT_EQ(program.end_with(SIGTERM), 0);
}

// A browser pauses with three signals at once (rate, seek, status): the
// device hears of it once.
TEST_F(ProgramWithPlayers, ABrowsersPauseIsOneLine) {
    const auto output = state.path() / "player-output.txt";
    auto player = hostile_player(desktop, {"STAND_IN_PAUSE=1"}, output);
    ASSERT_TRUE(testing_support::wait_until(
        [&] { return testing_support::read_file(output).find("paused") != std::string::npos; }, 20s));
    std::vector<std::string> paused;
    for (const auto& line : lines.collect(2s)) {
        if (line.starts_with(R"({"event":"now_playing","status":"paused")")) paused.push_back(line);
    }
    EXPECT_EQ(paused.size(), 1U) << (paused.empty() ? "" : paused.back());
    EXPECT_EQ(program.end_with(SIGTERM), 0);
}

// A player that owns its name and never answers holds up no newcomer: the
// newcomer's title comes after the quiet period of a second, and the silent
// player's questions, a second each, add nothing to it.
TEST_F(ProgramWithPlayers, ASilentPlayerHoldsUpNoOther) {
    auto silent = hostile_player(desktop, {"STAND_IN_NAME=Silent", "STAND_IN_SILENT=1"}, state.path() / "silent.txt");
    std::this_thread::sleep_for(300ms);  // the program is asking it by now

    const auto start = std::chrono::steady_clock::now();
    auto player = hostile_player(desktop, {}, state.path() / "player-output.txt");
    std::string line;
    while (line.find("Stand-in Song") == std::string::npos) {
        line = lines.next_event("now_playing");
        ASSERT_FALSE(line.empty());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
    EXPECT_EQ(program.end_with(SIGTERM), 0);
}

TEST(Program, FindsTheDeviceAgainAfterItWasGone) {
    QuietDesktop desktop;
    TempFolder state;
    // The port's name stays; the device behind it is replaced, as when it is
    // unplugged and plugged in again.
    const auto port = state.path() / "device-port";
    auto first = std::make_unique<PtyMaster>();
    std::filesystem::create_symlink(first->slave_path(), port);
    Program program(port.string(), state, desktop.environment());
    ASSERT_TRUE(program.started());
    {
        DeviceLines lines(*first);
        handshake(*first, lines);
    }

    PtyMaster second;
    DeviceLines lines(second);
    std::filesystem::remove(port);
    std::filesystem::create_symlink(second.slave_path(), port);
    first.reset();
    handshake(second, lines);  // the program searches again as soon as the first is gone
    EXPECT_EQ(program.end_with(SIGTERM), 0);
}

TEST(Program, ASecondCopyEndsAtOnceAndTheFirstKeepsItsDevice) {
    QuietDesktop desktop;
    PtyMaster device;
    DeviceLines lines(device);
    TempFolder state;
    Program first(device.slave_path(), state, desktop.environment());
    ASSERT_TRUE(first.started());
    handshake(device, lines);

    TempFolder other_state;
    auto environment = desktop.environment();
    environment.push_back("XDG_RUNTIME_DIR=" + state.path().string());
    Program second(device.slave_path(), other_state, environment);
    ASSERT_TRUE(second.started());
    EXPECT_EQ(second.exit_status(std::chrono::seconds(10)), 0);
    EXPECT_EQ(testing_support::read_file(other_state.path() / "program-output.txt"), "already running\n");

    // A stray greeting from the second copy would come before these.
    device.send("{\"event\":\"resync\",\"what\":12}\n");
    EXPECT_EQ(next_state_line(lines), VOLUME_LINE);
    EXPECT_EQ(next_state_line(lines), UNLOCKED_LINE);
    EXPECT_EQ(first.end_with(SIGTERM), 0);
}

TEST(Program, EndsWithSuccessOnInterrupt) {
    QuietDesktop desktop;
    PtyMaster device;
    DeviceLines lines(device);
    TempFolder state;
    Program program(device.slave_path(), state, desktop.environment());
    ASSERT_TRUE(program.started());
    ASSERT_EQ(lines.next(), R"({"event":"hello"})");
    EXPECT_EQ(program.end_with(SIGINT), 0);
}

TEST(Program, WithoutASessionBusWritesTheErrorLineAndEndsWithFailure) {
    PtyMaster device;
    TempFolder state;
    Program program(device.slave_path(), state,
                    {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + (state.path() / "no-bus").string()});
    ASSERT_TRUE(program.started());
    EXPECT_EQ(program.exit_status(std::chrono::seconds(10)), 1);
    EXPECT_TRUE(testing_support::read_file(state.path() / "program-output.txt").starts_with("Error: "));
}

// Run as a user without rights to the port (root may open anything, so root
// runs it as nobody), the program says once what to do and searches on.
TEST(Program, SaysOnceThatItMayNotOpenThePort) {
    std::vector<std::string> launcher;
    if (::geteuid() == 0) {
        if (!testing_support::program_available("setpriv")) GTEST_SKIP() << "setpriv is not installed";
        launcher = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--pdeathsig=KILL", "--"};
    }
    QuietDesktop desktop;
    PtyMaster device;
    TempFolder state;
    ASSERT_EQ(::chmod(device.slave_path().c_str(), 0), 0);
    ASSERT_EQ(::chmod(state.path().c_str(), 0777), 0);
    auto environment = desktop.environment();
    std::ranges::copy(testing_support::sanitizer_settings_for_other_user(state.path()), std::back_inserter(environment));
    Program program(device.slave_path(), state, environment, launcher);
    ASSERT_TRUE(program.started());

    const std::string said = "serial: " + device.slave_path() +
                             ": permission denied (install the package's device rules, or add your user to the "
                             "dialout group)\n";
    const auto output = [&] { return testing_support::read_file(state.path() / "program-output.txt"); };
    ASSERT_TRUE(testing_support::wait_until([&] { return output().find(said) != std::string::npos; })) << output();
    std::this_thread::sleep_for(2500ms);  // the search comes round again after 2 s
    const std::string all = output();
    EXPECT_EQ(all.find(said), all.rfind(said)) << all;
    EXPECT_EQ(program.end_with(SIGTERM), 0);
}

// The command line is answered before anything starts: without a session bus
// and without writing a log.
TEST(Program, AnswersVersionAndHelpAndRefusesOtherArguments) {
    TempFolder state;
    const std::vector<std::string> environment{
        "DBUS_SESSION_BUS_ADDRESS=unix:path=" + (state.path() / "no-bus").string(),
        "XDG_STATE_HOME=" + state.path().string()};
    int runs = 0;
    const auto run = [&](std::vector<std::string> arguments) -> std::pair<int, std::string> {
        const auto output = state.path() / ("output-" + std::to_string(++runs) + ".txt");
        arguments.insert(arguments.begin(), OLVEX_PROGRAM);
        ChildProcess program(std::move(arguments), environment, output);
        const auto status = program.wait_for_exit(10s);
        const int exit_status = status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
        return {exit_status, testing_support::read_file(output)};
    };

    EXPECT_EQ(run({"--version"}), std::pair(0, std::string("OLVEX-Audio-Control " OLVEX_VERSION "\n")));
    const auto [help_status, help] = run({"--help"});
    EXPECT_EQ(help_status, 0);
    EXPECT_TRUE(help.starts_with("Usage: olvex-audio-control [--help | --version]\n")) << help;
    EXPECT_NE(help.find("OLVEX_AUDIO_PORT"), std::string::npos) << help;
    EXPECT_NE(help.find("~/.local/state/olvex-audio-control/crash.log"), std::string::npos) << help;
    EXPECT_EQ(run({"--versio"}),
              std::pair(2, std::string("olvex-audio-control: unexpected argument '--versio' (see --help)\n")));
    EXPECT_EQ(run({"--help", "me"}),
              std::pair(2, std::string("olvex-audio-control: unexpected argument 'me' (see --help)\n")));
    EXPECT_FALSE(std::filesystem::exists(state.path() / "olvex-audio-control")) << "no log was written";
}

}  // namespace
}  // namespace olvex
