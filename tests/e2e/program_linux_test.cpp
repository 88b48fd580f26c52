// The real program against a pseudo-terminal that plays the device.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/pty_linux.hpp"
#include "support/temp_folder.hpp"

extern char** environ;

namespace olvex {
namespace {

using testing_support::PtyMaster;
using testing_support::TempFolder;

// The next whole line from the program, without its line feed ("" if none
// came in time).
std::string next_line(const PtyMaster& device) {
    std::string line;
    for (;;) {
        const std::string byte = device.receive(1);
        if (byte.empty()) return "";
        if (byte == "\n") {
            if (!line.empty()) return line;
            continue;  // the hello frame starts with an empty line
        }
        line += byte;
    }
}

class Program {
public:
    Program(const std::string& port, const TempFolder& state) {
        std::vector<std::string> settings{"OLVEX_AUDIO_PORT=" + port, "XDG_STATE_HOME=" + state.path().string()};
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string setting(*entry);
            if (!setting.starts_with("OLVEX_AUDIO_PORT=") && !setting.starts_with("XDG_STATE_HOME=")) {
                settings.push_back(setting);
            }
        }
        std::vector<char*> env;
        for (auto& setting : settings) env.push_back(setting.data());
        env.push_back(nullptr);
        char* argv[] = {const_cast<char*>(OLVEX_PROGRAM), nullptr};
        if (::posix_spawn(&pid_, OLVEX_PROGRAM, nullptr, nullptr, argv, env.data()) != 0) pid_ = -1;
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    ~Program() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    // Sends `signal` and returns the exit status, or -1 if it ended otherwise.
    int end_with(int signal) {
        ::kill(pid_, signal);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    [[nodiscard]] bool started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

// Without media session or volume control, the state this program reports.
constexpr std::string_view VOLUME_LINE = R"({"event":"volume","volume":0.0,"muted":false})";
constexpr std::string_view UNLOCKED_LINE = R"({"event":"lock","locked":false})";

// The next line that reports state, passing over the "nothing plays" pair
// (now_playing none, empty art) that the media side sends once at start: it
// goes out only if the device is already connected, which is a race.
std::string next_state_line(const PtyMaster& device) {
    for (;;) {
        std::string line = next_line(device);
        if (!line.starts_with(R"({"event":"now_playing","status":"none",)") && line != R"({"event":"art","data":""})") {
            return line;
        }
    }
}

// Answers the greeting and checks the state push of a program without media
// session or volume control.
void handshake(const PtyMaster& device) {
    ASSERT_EQ(next_line(device), R"({"event":"hello"})");
    device.send("{\"event\":\"hello_ack\"}\n");
    EXPECT_EQ(next_state_line(device), VOLUME_LINE);
    EXPECT_EQ(next_state_line(device), UNLOCKED_LINE);
}

TEST(Program, GreetsTheDevicePushesItsStateAnswersResyncAndEndsOnTerm) {
    PtyMaster device;
    TempFolder state;
    Program program(device.slave_path(), state);
    ASSERT_TRUE(program.started());
    handshake(device);

    device.send("{\"event\":\"resync\",\"what\":0}\n{\"event\":\"set_lock\",\"locked\":true}\n");
    EXPECT_EQ(next_state_line(device), UNLOCKED_LINE);  // nothing to lock to
    device.send("{\"event\":\"resync\",\"what\":12}\n");
    EXPECT_EQ(next_state_line(device), VOLUME_LINE);
    EXPECT_EQ(next_state_line(device), UNLOCKED_LINE);

    EXPECT_EQ(program.end_with(SIGTERM), 0);
}

TEST(Program, FindsTheDeviceAgainAfterItWasGone) {
    TempFolder state;
    // The port's name stays; the device behind it is replaced, as when it is
    // unplugged and plugged in again.
    const auto port = state.path() / "device-port";
    auto first = std::make_unique<PtyMaster>();
    std::filesystem::create_symlink(first->slave_path(), port);
    Program program(port.string(), state);
    ASSERT_TRUE(program.started());
    handshake(*first);

    PtyMaster second;
    std::filesystem::remove(port);
    std::filesystem::create_symlink(second.slave_path(), port);
    first.reset();
    handshake(second);  // the program searches again as soon as the first is gone
    EXPECT_EQ(program.end_with(SIGTERM), 0);
}

TEST(Program, EndsWithSuccessOnInterrupt) {
    PtyMaster device;
    TempFolder state;
    Program program(device.slave_path(), state);
    ASSERT_TRUE(program.started());
    ASSERT_EQ(next_line(device), R"({"event":"hello"})");
    EXPECT_EQ(program.end_with(SIGINT), 0);
}

}  // namespace
}  // namespace olvex
