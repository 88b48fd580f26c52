// The simulator program itself, scripted, with the test in the program's
// place on the other side of its pseudo-terminal.

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/desktop_peers_linux.hpp"
#include "support/temp_folder.hpp"

namespace olvex::simulator {
namespace {

using namespace std::chrono_literals;
using testing_support::ChildProcess;
using testing_support::TempFolder;

class ScriptedSimulator : public ::testing::Test {
protected:
    // Starts the simulator with `script`; standard output and error go to
    // one file (see printed_messages and output).
    void start(const std::string& script) {
        testing_support::write_file(folder_.path() / "script", script);
        simulator_.emplace(std::vector<std::string>{OLVEX_SIMULATOR, "--script", (folder_.path() / "script").string(),
                                                    "--port-file", port_file().string()},
                           std::vector<std::string>{}, folder_.path() / "output");
        ASSERT_NE(simulator_->pid(), 0);
    }

    // Opens the simulator's port as the program would.
    void open_port() {
        ASSERT_TRUE(testing_support::wait_until([this] { return std::filesystem::exists(port_file()); }));
        std::string path = testing_support::read_file(port_file());
        path.pop_back();
        port_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(port_, 0) << path;
    }

    void send(const std::string& bytes) const {
        ASSERT_EQ(::write(port_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // What arrives on the port until `count` line feeds came or 5 s passed.
    [[nodiscard]] std::string receive_lines(std::size_t count) const {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (static_cast<std::size_t>(std::ranges::count(got, '\n')) < count &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd entry{port_, POLLIN, 0};
            if (::poll(&entry, 1, 50) != 1) continue;
            char buffer[512];
            const auto read = ::read(port_, buffer, sizeof buffer);
            if (read <= 0) break;
            got.append(buffer, static_cast<std::size_t>(read));
        }
        return got;
    }

    [[nodiscard]] int exit_status() {
        const auto status = simulator_->wait_for_exit(5s);
        if (!status || !WIFEXITED(*status)) return -1;
        return WEXITSTATUS(*status);
    }

    [[nodiscard]] std::string output() const { return testing_support::read_file(folder_.path() / "output"); }

    // The JSON lines of the output: the messages the simulator printed.
    [[nodiscard]] std::vector<std::string> printed_messages() const {
        std::vector<std::string> lines;
        std::istringstream text(output());
        for (std::string line; std::getline(text, line);) {
            if (line.starts_with('{')) lines.push_back(line);
        }
        return lines;
    }

    void TearDown() override {
        if (port_ >= 0) ::close(port_);
    }

    [[nodiscard]] std::filesystem::path port_file() const { return folder_.path() / "port"; }

    TempFolder folder_;
    std::optional<ChildProcess> simulator_;
    int port_ = -1;
};

TEST_F(ScriptedSimulator, AnswersHelloPrintsWhatItAcceptsAndCarriesOutTheScript) {
    start("wait-for now_playing \"title\":\"Song\"\nsend {\"event\":\"next\"}\nkey m\nquit\n");
    open_port();
    send("\n{\"event\":\"hello\"}\n");
    EXPECT_EQ(receive_lines(1), "{\"event\":\"hello_ack\",\"version\":\"0.1.0\",\"device\":\"olvex-simulator\"}\n");

    const std::string volume = R"({"event":"volume","volume":30.0,"muted":true})";
    const std::string song =
        R"({"event":"now_playing","status":"playing","title":"Song","artist":"Band","album":"X","position_s":1.0,"duration_s":9.0})";
    send("not json\n" + volume + "\n" + song + "\n");
    // Mute asks for the opposite of the volume message's flag.
    EXPECT_EQ(receive_lines(2), "{\"event\":\"next\"}\n{\"event\":\"set_mute\",\"muted\":false}\n");

    EXPECT_EQ(exit_status(), 0) << output();
    EXPECT_EQ(printed_messages(), (std::vector<std::string>{R"({"event":"hello"})", volume, song}));
    EXPECT_NE(output().find("not one JSON value: not json"), std::string::npos) << output();
}

TEST_F(ScriptedSimulator, EndsWithStatusOneWhenAWaitTimesOut) {
    start("timeout 0.2\nwait-for art\nquit\n");
    EXPECT_EQ(exit_status(), 1);
    EXPECT_NE(output().find("no art message within 0.2 s"), std::string::npos) << output();
}

TEST_F(ScriptedSimulator, EndsWithStatusTwoOnAScriptLineItCannotRead) {
    start("sleep 0.1\nsend {\"type\":\"next\"}\n");
    EXPECT_EQ(exit_status(), 2);
    EXPECT_NE(output().find("script line 2: not a device event"), std::string::npos) << output();
}

}  // namespace
}  // namespace olvex::simulator
