#include "base/standard_streams.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace olvex {

namespace {

void write_all(int fd, std::string_view bytes) noexcept {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

}  // namespace

void write_to_standard_error(std::string_view bytes) noexcept { write_all(STDERR_FILENO, bytes); }

void write_to_standard_output(std::string_view bytes) noexcept { write_all(STDOUT_FILENO, bytes); }

void prepare_standard_streams() noexcept {
    std::signal(SIGPIPE, SIG_IGN);
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // open() returns the lowest free descriptor, which is this one.
        const int placeholder = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (placeholder != fd && placeholder >= 0) ::close(placeholder);
    }
}

}  // namespace olvex
