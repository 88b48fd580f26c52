#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "app/single_instance.hpp"
#include "base/environment.hpp"
#include "log/log.hpp"

namespace olvex::app {

namespace {

// The runtime folder is the user's own and is emptied at logout, so no stale
// lock file outlives the session; without it the log's state folder serves.
std::filesystem::path lock_path() {
    if (const auto runtime = environment_variable("XDG_RUNTIME_DIR")) {
        const std::filesystem::path folder(*runtime);
        if (folder.is_absolute()) return folder / "olvex-audio-control.lock";
    }
    return crash_log_path().parent_path() / "instance.lock";
}

}  // namespace

bool take_single_instance_claim() {
    const int fd = ::open(lock_path().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return true;
    // The kernel drops the lock with the process, however it ends; the file
    // descriptor is left open on purpose.
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        const bool held_elsewhere = errno == EWOULDBLOCK;
        ::close(fd);
        return !held_elsewhere;
    }
    return true;
}

}  // namespace olvex::app
