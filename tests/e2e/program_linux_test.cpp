// The real program against a pseudo-terminal that plays the device.

#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "e2e/device_peer_linux.hpp"

namespace olvex {
namespace {

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

}  // namespace
}  // namespace olvex
