#pragma once

// The device's side of a pseudo-terminal, for tests that open the slave as
// a serial port.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>
#include <string_view>

namespace olvex::testing_support {

// How the line is set up before the port opens it: raw, or cooked (as a fresh
// pty is) with every setting the port has to change set wrong.
enum class LineStart { raw, cooked_and_misconfigured };

inline void misconfigure(termios& line) {
    line.c_cflag = (line.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB | CSTOPB | CRTSCTS;
    line.c_iflag |= IXON | IXOFF | IXANY;
    ::cfsetspeed(&line, B300);
}

// The device's side of a pseudo-terminal.
class PtyMaster {
public:
    explicit PtyMaster(LineStart start = LineStart::raw) : fd_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0) throw std::runtime_error("no pty");
        slave_path_ = ::ptsname(fd_);
        termios line{};
        ::tcgetattr(fd_, &line);
        if (start == LineStart::raw) ::cfmakeraw(&line);
        if (start == LineStart::cooked_and_misconfigured) misconfigure(line);
        ::tcsetattr(fd_, TCSANOW, &line);
    }
    PtyMaster(const PtyMaster&) = delete;
    PtyMaster& operator=(const PtyMaster&) = delete;
    ~PtyMaster() { close(); }

    [[nodiscard]] const std::string& slave_path() const { return slave_path_; }
    [[nodiscard]] int fd() const { return fd_; }

    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    void send(std::string_view bytes) const {
        while (!bytes.empty()) {
            const auto put = ::write(fd_, bytes.data(), bytes.size());
            if (put <= 0) throw std::runtime_error("pty master write failed");
            bytes.remove_prefix(static_cast<std::size_t>(put));
        }
    }

    // Reads until `count` bytes came, or `patience` ran out.
    [[nodiscard]] std::string receive(std::size_t count,
                                      std::chrono::milliseconds patience = std::chrono::seconds(5)) const {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd entry{fd_, POLLIN, 0};
            if (::poll(&entry, 1, 50) != 1) continue;
            char buffer[4096];
            const auto n = ::read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n <= 0) break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

private:
    int fd_;
    std::string slave_path_;
};

}  // namespace olvex::testing_support
