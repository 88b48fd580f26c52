#pragma once

// The device's end of the end-to-end tests: the real program started against
// a pseudo-terminal, and the lines it writes there read back whole.

#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/desktop_peers_linux.hpp"
#include "support/pty_linux.hpp"
#include "support/temp_folder.hpp"

namespace olvex::testing_support {

// Reads whole lines from the device's side of the link.
class DeviceLines {
public:
    explicit DeviceLines(const PtyMaster& device) : device_(device) {}

    // The next non-empty line without its line feed; "" if none came within
    // `patience` (the hello frame starts with a lone line feed).
    std::string next(std::chrono::milliseconds patience = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        for (;;) {
            if (auto line = take_line()) {
                if (line->empty()) continue;
                return *line;
            }
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline) return "";
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
            const std::string chunk = device_.receive(1, left);
            if (chunk.empty()) return "";
            pending_ += chunk;
            pending_ += device_.receive(1 << 16, std::chrono::milliseconds(0));
        }
    }

    // The next line whose "event" is `event`, passing over others; "" if none
    // came within `patience`.
    std::string next_event(std::string_view event, std::chrono::milliseconds patience = std::chrono::seconds(10)) {
        const std::string prefix = R"({"event":")" + std::string(event) + '"';
        const auto deadline = std::chrono::steady_clock::now() + patience;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return "";
            std::string line = next(left);
            if (line.empty() || line.starts_with(prefix)) return line;
        }
    }

    // Every line that arrives within `window`.
    std::vector<std::string> collect(std::chrono::milliseconds window) {
        std::vector<std::string> lines;
        const auto deadline = std::chrono::steady_clock::now() + window;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return lines;
            std::string line = next(left);
            if (line.empty()) return lines;
            lines.push_back(std::move(line));
        }
    }

private:
    std::optional<std::string> take_line() {
        const auto end = pending_.find('\n');
        if (end == std::string::npos) return std::nullopt;
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return line;
    }

    const PtyMaster& device_;
    std::string pending_;
};

// The real program, with OLVEX_AUDIO_PORT naming `port`, its state folder and
// (unless `extra_environment` names one) its runtime folder in `state`, and
// `extra_environment` ("K=V") added. A runtime folder of its own keeps it
// from taking a copy of another test for itself. `launcher` (a command and
// its arguments) starts it, when given.
class Program {
public:
    Program(const std::string& port, const TempFolder& state, std::vector<std::string> extra_environment = {},
            std::vector<std::string> launcher = {})
        : process_(with_program(std::move(launcher)), with_port(port, state, std::move(extra_environment)),
                   state.path() / "program-output.txt") {}

    [[nodiscard]] bool started() const { return process_.pid() > 0; }

    // Sends `signal` and returns the exit status, or -1 if it ended otherwise
    // or did not end within ten seconds.
    int end_with(int signal) {
        ::kill(process_.pid(), signal);
        const auto status = process_.wait_for_exit(std::chrono::seconds(10));
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }

    // The exit status once the program ended by itself within `limit`.
    std::optional<int> exit_status(std::chrono::milliseconds limit) {
        const auto status = process_.wait_for_exit(limit);
        if (!status || !WIFEXITED(*status)) return std::nullopt;
        return WEXITSTATUS(*status);
    }

private:
    static std::vector<std::string> with_program(std::vector<std::string> launcher) {
        launcher.emplace_back(OLVEX_PROGRAM);
        return launcher;
    }

    static std::vector<std::string> with_port(const std::string& port, const TempFolder& state,
                                              std::vector<std::string> extra) {
        const bool own_runtime = std::ranges::none_of(
            extra, [](const std::string& setting) { return setting.starts_with("XDG_RUNTIME_DIR="); });
        extra.insert(extra.begin(), {"OLVEX_AUDIO_PORT=" + port, "XDG_STATE_HOME=" + state.path().string()});
        if (own_runtime) extra.push_back("XDG_RUNTIME_DIR=" + state.path().string());
        return extra;
    }

    ChildProcess process_;
};

}  // namespace olvex::testing_support
