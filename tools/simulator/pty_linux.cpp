#include "pty_linux.hpp"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <utility>

#include "system_error_linux.hpp"

namespace olvex::simulator {
namespace {

// Raw mode lives on the one line both sides share; setting it through the
// slave covers the pair.
std::expected<void, Error> make_raw(int fd) {
    termios line{};
    if (::tcgetattr(fd, &line) != 0) return std::unexpected(system_error("tcgetattr on the pty"));
    ::cfmakeraw(&line);
    ::cfsetspeed(&line, B115200);
    if (::tcsetattr(fd, TCSANOW, &line) != 0) return std::unexpected(system_error("tcsetattr on the pty"));
    return {};
}

}  // namespace

Pty::Pty(int master, int slave, std::string slave_path)
    : master_(master), slave_(slave), slave_path_(std::move(slave_path)) {}

Pty::Pty(Pty&& other) noexcept
    : master_(std::exchange(other.master_, -1)),
      slave_(std::exchange(other.slave_, -1)),
      slave_path_(std::move(other.slave_path_)) {}

Pty::~Pty() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
}

std::expected<Pty, Error> Pty::open() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) return std::unexpected(system_error("posix_openpt"));
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        const Error error = system_error("unlockpt");
        ::close(master);
        return std::unexpected(error);
    }
    std::string path = ::ptsname(master);
    const int slave = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        const Error error = system_error("opening " + path);
        ::close(master);
        return std::unexpected(error);
    }
    // Non-blocking, so that a program that stops reading cannot stall the
    // simulator's screen and keys.
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    Pty pty(master, slave, std::move(path));
    if (auto raw = make_raw(slave); !raw) return std::unexpected(raw.error());
    return pty;
}

std::expected<void, Error> Pty::write_all(std::string_view bytes) const {
    constexpr int PATIENCE_MS = 2000;
    constexpr int POLL_MS = 100;
    int waited_ms = 0;
    while (!bytes.empty()) {
        const auto written = ::write(master_, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno != EAGAIN) return std::unexpected(system_error("writing to the pty"));
        if (waited_ms >= PATIENCE_MS) return make_error("the port is full: the program does not read");
        pollfd entry{master_, POLLOUT, 0};
        ::poll(&entry, 1, POLL_MS);
        waited_ms += POLL_MS;
    }
    return {};
}

void Pty::drain(std::chrono::milliseconds limit) const {
    // Written bytes reach the slave's queue a moment after write returns.
    constexpr auto SETTLE = std::chrono::milliseconds(50);
    constexpr auto STEP = std::chrono::milliseconds(10);
    std::this_thread::sleep_for(SETTLE);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int waiting = 0;
    while (::ioctl(slave_, FIONREAD, &waiting) == 0 && waiting > 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(STEP);
    }
}

}  // namespace olvex::simulator
