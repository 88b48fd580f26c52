#pragma once

// Real desktop services for tests: child processes, a private session bus,
// a private PulseAudio server and sample tracks. Nothing here touches the
// user's own bus or sound server.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_folder.hpp"

namespace olvex::testing_support {

// Whether `program` is found on PATH.
[[nodiscard]] bool program_available(const std::string& program);

// Waits until `condition` holds, checking every 20 ms; false if it still does
// not hold when `limit` has passed.
[[nodiscard]] bool wait_until(const std::function<bool()>& condition,
                              std::chrono::milliseconds limit = std::chrono::seconds(10));

// A started program. The current environment is passed on, with the "K=V"
// entries of `extra_environment` added or replacing. Standard output and
// error go to /dev/null unless `output` names a file. The destructor ends the
// program (SIGTERM, then SIGKILL after one second) and reaps it.
class ChildProcess {
public:
    explicit ChildProcess(std::vector<std::string> argv, std::vector<std::string> extra_environment = {},
                          std::optional<std::filesystem::path> output = std::nullopt);
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ~ChildProcess();

    // The process id; 0 if the program could not be started.
    [[nodiscard]] pid_t pid() const { return pid_; }
    [[nodiscard]] bool running();
    // Ends the program as the destructor does and returns its wait status.
    int stop();
    // Waits for the program to end by itself; its wait status, or nothing if
    // it was still running when `limit` passed.
    std::optional<int> wait_for_exit(std::chrono::milliseconds limit);

private:
    pid_t pid_ = 0;
    std::optional<int> status_;
};

// Sets an environment variable for the life of the object and restores the
// previous value (or its absence) afterwards.
class ScopedEnvironment {
public:
    ScopedEnvironment(std::string name, const std::string& value);
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
    ~ScopedEnvironment();

private:
    std::string name_;
    std::optional<std::string> previous_;
};

// A dbus-daemon of the test's own that any user may join (vlc refuses to run
// as root, so it joins as another user).
class PrivateSessionBus {
public:
    PrivateSessionBus();
    [[nodiscard]] bool started() const { return !address_.empty(); }
    // The value for DBUS_SESSION_BUS_ADDRESS.
    [[nodiscard]] const std::string& address() const { return address_; }
    // Ends the daemon now, dropping every connection to it.
    void stop() {
        if (daemon_) daemon_->stop();
    }

private:
    TempFolder folder_;
    std::optional<ChildProcess> daemon_;
    std::string address_;
};

// A PulseAudio server of the test's own with a null sink per name, reached
// through a unix socket that any user may use.
class PrivatePulseServer {
public:
    explicit PrivatePulseServer(const std::vector<std::string>& sink_names = {"testsink", "othersink"});
    [[nodiscard]] bool started() const { return started_; }
    // The value for PULSE_SERVER.
    [[nodiscard]] const std::string& server() const { return server_; }
    // Runs pactl against this server with `arguments`; its standard output,
    // or nothing if it failed.
    [[nodiscard]] std::optional<std::string> pactl(const std::vector<std::string>& arguments) const;
    // Ends the server and starts a new one with the same sinks on the same
    // socket, as a sound server that restarts does; whether it started.
    bool restart();

private:
    void start();

    std::vector<std::string> sink_names_;
    TempFolder folder_;
    std::string server_;
    std::optional<ChildProcess> daemon_;
    bool started_ = false;
};

// PipeWire as a desktop runs it, of the test's own: pipewire, wireplumber and
// pipewire-pulse on a private runtime folder, joined to the session bus at
// `bus_address`. Its null sink "testsink" is defined in PipeWire's own
// configuration, so that it outlives a restart of pipewire-pulse, and
// PulseAudio clients are told never to start a server of their own.
class PrivatePipeWire {
public:
    explicit PrivatePipeWire(const std::string& bus_address);
    // Whether all three run and testsink is the default sink.
    [[nodiscard]] bool started() const { return started_; }
    // The settings ("K=V") that lead PipeWire's and PulseAudio's clients here.
    [[nodiscard]] std::vector<std::string> client_environment() const;
    // Runs pactl here with `arguments`; its standard output, or nothing if it failed.
    [[nodiscard]] std::optional<std::string> pactl(const std::vector<std::string>& arguments) const;
    // Ends pipewire-pulse and starts it anew, as an update does; whether it answers again.
    bool restart_pulse_server();

private:
    [[nodiscard]] std::vector<std::string> daemon_environment() const;
    ChildProcess start(const std::string& program) const;

    TempFolder folder_;
    std::filesystem::path runtime_;
    std::string bus_address_;
    std::optional<ChildProcess> pipewire_;
    std::optional<ChildProcess> session_manager_;
    std::optional<ChildProcess> pulse_server_;
    bool started_ = false;
};

// Short tagged tracks written by tools/make-sample-tracks.sh, with a cover.png
// beside them.
struct SampleTrack {
    std::filesystem::path file;
    std::string title;
    std::string artist;
    std::string album;
};

// Writes the sample tracks into `folder`; empty if the script failed.
[[nodiscard]] std::vector<SampleTrack> make_sample_tracks(const std::filesystem::path& folder);

// The sanitizers' settings for a program that runs as another user: every
// suppressions file named in ASAN_, LSAN_, TSAN_ or UBSAN_OPTIONS is copied
// into `folder`, which that user can read (a checkout under a 0700 folder is
// out of its reach), and the setting names the copy instead. "K=V" entries
// for ChildProcess; none when no setting names a file.
[[nodiscard]] std::vector<std::string> sanitizer_settings_for_other_user(const std::filesystem::path& folder);

// Runs a shell command line and returns its standard output, or nothing if it
// did not exit with status 0.
[[nodiscard]] std::optional<std::string> run_command(const std::string& command_line);

}  // namespace olvex::testing_support
