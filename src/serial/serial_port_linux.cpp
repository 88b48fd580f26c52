// The serial port on Linux: a tty device in raw 8N1 mode, driven with poll.
//
// The descriptor is non-blocking with VMIN=1, so that read() returns -1/EAGAIN
// when nothing is there and 0 only on hang-up. With VMIN=0 an empty read would
// also return 0 and a hang-up could not be told apart from silence. Every wait
// goes through poll(), which gives the time-out.
//
// The reader waits for input without a time limit, so that an idle line
// costs no wake-ups at all, and a writer whose device stopped reading waits
// for room in one poll. What ends those waits early is an eventfd shared by
// every handle of the port: interrupt() makes it readable for good.

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "base/unique_fd_linux.hpp"
#include "serial/serial_port.hpp"

namespace olvex::serial {

namespace {

using Kind = PortError::Kind;

std::string errno_text(int code) {
    char buffer[256];
    // The GNU strerror_r returns the text, which need not be in `buffer`.
    const char* text = ::strerror_r(code, buffer, sizeof buffer);
    return std::string(text) + " (os error " + std::to_string(code) + ")";
}

Kind kind_of_errno(int code) {
    switch (code) {
        case ENOENT:
            return Kind::not_found;
        case EIO:
        case ENXIO:
        case ENODEV:
            return Kind::gone;
        case EAGAIN:
        case ETIMEDOUT:
            return Kind::timeout;
        default:
            return Kind::other;
    }
}

std::unexpected<PortError> fail(Kind kind, std::string description) {
    return std::unexpected(PortError{kind, std::move(description)});
}

std::unexpected<PortError> fail_errno(int code) { return fail(kind_of_errno(code), errno_text(code)); }

std::unexpected<PortError> timed_out() { return fail(Kind::timeout, "Operation timed out"); }

std::unexpected<PortError> hung_up() { return fail(Kind::gone, "The device hung up"); }

// Serial ports belong to the dialout group; the package's udev rules give
// the device's data port to the user at the machine.
constexpr const char* ACCESS_DENIED_HINT =
    "permission denied (install the package's device rules, or add your user to the dialout group)";

// A node that exists without a device behind it (a ttyS with no UART, a
// ttyACM that is being torn down) is as good as absent when opening.
std::unexpected<PortError> fail_open(int code) {
    if (code == EACCES || code == EPERM) return fail(Kind::access_denied, ACCESS_DENIED_HINT);
    const Kind kind = code == ENXIO || code == ENODEV ? Kind::not_found : kind_of_errno(code);
    return fail(kind, errno_text(code));
}

// poll() takes whole milliseconds: round up, so that a short time-out still waits.
int poll_millis(Duration timeout) {
    constexpr std::uint64_t max_seconds = INT_MAX / 1000 - 1;
    if (timeout.seconds >= max_seconds) return INT_MAX;
    const auto millis = timeout.seconds * 1000 + (timeout.nanoseconds + 999'999) / 1'000'000;
    return static_cast<int>(millis);
}

// Waits until `events` (or a hang-up or error) is signalled on `fd` and returns
// what poll reported; a time-out error when nothing happened in time.
PortResult<short> wait_for(int fd, short events, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, timeout_ms);
        if (ready > 0) return entry.revents;
        if (ready == 0) return timed_out();
        if (errno != EINTR) return fail_errno(errno);
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        timeout_ms = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
    }
}

// What a poll result means when the wanted event is missing.
std::unexpected<PortError> not_ready(short revents) {
    if ((revents & POLLNVAL) != 0) return fail_errno(EBADF);
    return hung_up();  // POLLHUP or POLLERR: the other end is gone
}


struct BaudConstant {
    std::uint32_t rate;
    speed_t constant;
};

constexpr BaudConstant BAUD_RATES[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

PortResult<speed_t> speed_constant(std::uint32_t rate) {
    for (const auto& entry : BAUD_RATES)
        if (entry.rate == rate) return entry.constant;
    return fail(Kind::other, "Unsupported baud rate " + std::to_string(rate));
}

PortResult<void> configure_raw_8n1(int fd, speed_t speed) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) return fail_errno(errno);
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (::cfsetispeed(&settings, speed) != 0 || ::cfsetospeed(&settings, speed) != 0) return fail_errno(errno);
    if (::tcsetattr(fd, TCSANOW, &settings) != 0) return fail_errno(errno);
    return {};
}

// The kernel already raises DTR on open; this makes it explicit. A
// pseudo-terminal has no modem lines and refuses the request.
PortResult<void> assert_dtr(int fd) {
    int bits = TIOCM_DTR;
    if (::ioctl(fd, TIOCMBIS, &bits) == 0 || errno == ENOTTY || errno == EINVAL) return {};
    return fail_errno(errno);
}

PortResult<std::shared_ptr<const UniqueFd>> make_interrupt_fd() {
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) return fail_errno(errno);
    return std::make_shared<const UniqueFd>(fd);
}

class LinuxSerialPort final : public SerialPort {
public:
    LinuxSerialPort(UniqueFd fd, std::shared_ptr<const UniqueFd> interrupt_fd, int timeout_ms)
        : fd_(std::move(fd)), interrupt_fd_(std::move(interrupt_fd)), timeout_ms_(timeout_ms) {}

    PortResult<std::unique_ptr<SerialPort>> duplicate() override {
        const int copy = ::fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0);
        if (copy < 0) return fail_errno(errno);
        return std::make_unique<LinuxSerialPort>(UniqueFd(copy), interrupt_fd_, timeout_ms_);
    }

    PortResult<std::size_t> bytes_waiting() override {
        // A hung-up tty (an unplugged device, a closed pseudo-terminal
        // master) answers every ioctl with EIO, which reads as "gone".
        int count = 0;
        if (::ioctl(fd_.get(), FIONREAD, &count) != 0) return fail_errno(errno);
        return static_cast<std::size_t>(count);
    }

    PortResult<std::size_t> read(std::span<char> buffer) override {
        if (buffer.empty()) return 0;
        auto revents = wait_for(fd_.get(), POLLIN, timeout_ms_);
        if (!revents) return std::unexpected(std::move(revents.error()));
        if ((*revents & POLLIN) == 0) return not_ready(*revents);
        return read_now(buffer);
    }

    PortResult<std::size_t> write(std::string_view bytes) override {
        if (bytes.empty()) return 0;
        auto revents = wait_for(fd_.get(), POLLOUT, timeout_ms_);
        if (!revents) return std::unexpected(std::move(revents.error()));
        if ((*revents & POLLOUT) == 0) return not_ready(*revents);
        return write_now(bytes);
    }

    // The eventfd is never read, so once interrupted every later wait sees it
    // at once. A hang-up wakes the wait as well: a tty that then fails
    // FIONREAD reports its own error; one that still answers it either has
    // bytes left to hand out first, or is reported as hung up here, so that
    // the caller, who waits again while nothing is waiting, cannot spin.
    PortResult<bool> wait_for_input() override {
        std::array<pollfd, 2> entries{{{fd_.get(), POLLIN, 0}, {interrupt_fd_->get(), POLLIN, 0}}};
        while (::poll(entries.data(), entries.size(), -1) < 0)
            if (errno != EINTR) return fail_errno(errno);
        if (entries[1].revents != 0) return false;
        const short revents = entries[0].revents;
        if ((revents & POLLNVAL) != 0) return fail_errno(EBADF);
        if ((revents & (POLLHUP | POLLERR)) == 0) return true;
        auto waiting = bytes_waiting();
        if (!waiting) return std::unexpected(std::move(waiting.error()));
        if (*waiting == 0) return hung_up();
        return true;
    }

    // A device that does not read fills the tty's output buffer; the writer
    // then sleeps here until the buffer drains, rather than trying again and
    // again. A hang-up or error wakes the wait too: the next write reports it.
    PortResult<bool> wait_for_output(Duration limit) override {
        const int limit_ms = poll_millis(limit);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
        std::array<pollfd, 2> entries{{{fd_.get(), POLLOUT, 0}, {interrupt_fd_->get(), POLLIN, 0}}};
        for (int left_ms = limit_ms; ::poll(entries.data(), entries.size(), left_ms) < 0;) {
            if (errno != EINTR) return fail_errno(errno);
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            left_ms = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
        }
        if (entries[1].revents != 0) return false;
        if ((entries[0].revents & POLLNVAL) != 0) return fail_errno(EBADF);
        return true;
    }

    void interrupt() noexcept override {
        const std::uint64_t one = 1;
        // Fails only with EAGAIN, when the counter is already near its limit:
        // readable either way.
        [[maybe_unused]] const ssize_t written = ::write(interrupt_fd_->get(), &one, sizeof one);
    }

private:
    // poll said readable; 0 bytes from a tty then means hang-up. A readiness
    // that vanished before the call (EAGAIN) reads as nothing.
    PortResult<std::size_t> read_now(std::span<char> buffer) {
        for (;;) {
            const ssize_t got = ::read(fd_.get(), buffer.data(), buffer.size());
            if (got > 0) return static_cast<std::size_t>(got);
            if (got == 0) return hung_up();
            if (errno == EAGAIN) return 0;
            if (errno != EINTR) return fail_errno(errno);
        }
    }

    // A hung-up tty still polls writable; the write then fails with EIO.
    PortResult<std::size_t> write_now(std::string_view bytes) {
        for (;;) {
            const ssize_t put = ::write(fd_.get(), bytes.data(), bytes.size());
            if (put >= 0) return static_cast<std::size_t>(put);
            if (errno == EAGAIN) return 0;
            if (errno != EINTR) return fail_errno(errno);
        }
    }

    UniqueFd fd_;
    std::shared_ptr<const UniqueFd> interrupt_fd_;  // shared with every duplicate
    int timeout_ms_;
};

}  // namespace

PortResult<std::unique_ptr<SerialPort>> open_serial_port(std::string_view name, const PortSettings& settings) {
    auto speed = speed_constant(settings.baud_rate);
    if (!speed) return std::unexpected(std::move(speed.error()));
    const std::string path(name);
    const int raw_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (raw_fd < 0) return fail_open(errno);
    UniqueFd fd(raw_fd);
    if (auto configured = configure_raw_8n1(fd.get(), *speed); !configured)
        return std::unexpected(std::move(configured.error()));
    if (auto dtr = assert_dtr(fd.get()); !dtr) return std::unexpected(std::move(dtr.error()));
    auto interrupt_fd = make_interrupt_fd();
    if (!interrupt_fd) return std::unexpected(std::move(interrupt_fd.error()));
    return std::make_unique<LinuxSerialPort>(std::move(fd), std::move(*interrupt_fd), poll_millis(settings.timeout));
}

}  // namespace olvex::serial
