#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <system_error>

#include "log/log.hpp"
#include "log/log_platform.hpp"

namespace olvex {

namespace {

constexpr const char* APP_FOLDER = "olvex-audio-control";
constexpr const char* LOG_NAME = "crash.log";

// An environment variable that holds an absolute path (relative ones are
// ignored, as the XDG rules say).
std::optional<std::filesystem::path> absolute_env_path(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    std::filesystem::path path(value);
    if (!path.is_absolute()) return std::nullopt;
    return path;
}

std::optional<std::filesystem::path> state_folder() {
    if (auto state_home = absolute_env_path("XDG_STATE_HOME")) return *state_home / APP_FOLDER;
    if (auto home = absolute_env_path("HOME")) return *home / ".local" / "state" / APP_FOLDER;
    return std::nullopt;
}

std::optional<std::filesystem::path> executable_folder() {
    std::error_code error;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || !exe.has_parent_path()) return std::nullopt;
    return exe.parent_path();
}

}  // namespace

// A program's own folder is rarely writable on Linux, so the log lives in the
// user's state folder; the executable's folder and then the working directory
// serve when there is no home.
std::filesystem::path crash_log_path() {
    if (auto folder = state_folder()) {
        std::error_code ignored;
        std::filesystem::create_directories(*folder, ignored);
        return *folder / LOG_NAME;
    }
    if (auto folder = executable_folder()) return *folder / LOG_NAME;
    return LOG_NAME;
}

namespace log_platform {

std::uint64_t wall_clock_unix_seconds() noexcept {
    timespec now{};
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) return 0;
    return unix_seconds_from_signed(now.tv_sec);
}

void append_to_file(const std::filesystem::path& path, std::string_view bytes) noexcept {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    ::close(fd);
}

void install_fault_handlers() noexcept {
    // Hardware faults are left to the system on Linux: a core dump says more
    // than an entry written from a signal handler could.
}

}  // namespace log_platform
}  // namespace olvex
