#include "companion_process_linux.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <utility>

#include "system_error_linux.hpp"

namespace olvex::simulator {
namespace {

constexpr auto STOP_PATIENCE = std::chrono::seconds(2);
constexpr auto STOP_POLL = std::chrono::milliseconds(20);

[[noreturn]] void become_program(const std::vector<std::string>& argv, const std::string& port, int output,
                                 pid_t simulator) {
    ::setpgid(0, 0);  // keys typed at the simulator's terminal are not the program's signals
    // Should the simulator be killed, the program must not stay behind
    // searching for a port that is gone.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != simulator) ::_exit(127);
    const int nothing = ::open("/dev/null", O_RDONLY);
    ::dup2(nothing, STDIN_FILENO);
    ::dup2(output, STDOUT_FILENO);
    ::dup2(output, STDERR_FILENO);
    ::setenv("OLVEX_AUDIO_PORT", port.c_str(), 1);
    std::vector<char*> arguments;
    for (const auto& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    ::execvp(arguments[0], arguments.data());
    const std::string failure = system_error("cannot start " + argv[0]).message + "\n";
    [[maybe_unused]] const auto ignored = ::write(STDERR_FILENO, failure.data(), failure.size());
    ::_exit(127);
}

}  // namespace

std::expected<CompanionProcess, Error> CompanionProcess::start(const std::vector<std::string>& argv,
                                                               const std::string& port) {
    int pipe_ends[2];
    if (::pipe2(pipe_ends, O_CLOEXEC) != 0) return std::unexpected(system_error("pipe2"));
    const pid_t simulator = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        const Error error = system_error("fork");
        ::close(pipe_ends[0]);
        ::close(pipe_ends[1]);
        return std::unexpected(error);
    }
    if (pid == 0) become_program(argv, port, pipe_ends[1], simulator);
    ::close(pipe_ends[1]);
    ::fcntl(pipe_ends[0], F_SETFL, ::fcntl(pipe_ends[0], F_GETFL) | O_NONBLOCK);
    return CompanionProcess(pid, pipe_ends[0]);
}

CompanionProcess::CompanionProcess(CompanionProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, 0)), output_(std::exchange(other.output_, -1)) {}

CompanionProcess::~CompanionProcess() {
    stop();
    output_ended();
}

void CompanionProcess::output_ended() {
    if (output_ >= 0) ::close(output_);
    output_ = -1;
}

std::optional<int> CompanionProcess::exited() {
    if (pid_ == 0) return std::nullopt;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return std::nullopt;
    pid_ = 0;
    return status;
}

void CompanionProcess::stop() {
    if (pid_ == 0) return;
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + STOP_PATIENCE;
    while (std::chrono::steady_clock::now() < deadline) {
        if (exited()) return;
        std::this_thread::sleep_for(STOP_POLL);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = 0;
}

}  // namespace olvex::simulator
