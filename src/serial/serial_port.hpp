#pragma once

// The serial port seam: one open port of the operating system. The backends
// (serial_port_win.cpp, serial_port_linux.cpp) define open_serial_port.

#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "base/duration.hpp"

namespace olvex::serial {

struct PortError {
    enum class Kind : std::uint8_t {
        timeout,        // nothing could be read or written within the port time-out
        not_found,      // no such port
        gone,           // the port went away (device unplugged, hang-up)
        access_denied,  // the user may not open the port
        other,
    };
    Kind kind = Kind::other;
    // For people: the system's message and, where there is one, its code;
    // for access_denied, what the user can do about it.
    std::string description;

    [[nodiscard]] bool is_timeout() const noexcept { return kind == Kind::timeout; }
};

template <typename T>
using PortResult = std::expected<T, PortError>;

// Fixed line settings: 8 data bits, no parity, 1 stop bit, no flow control,
// DTR asserted after configuring. Only the speed and the time-out vary.
struct PortSettings {
    std::uint32_t baud_rate = 115200;
    // How long read and write wait before failing with a time-out.
    Duration timeout = Duration::from_millis(100);
};

// One handle on an open port. Calls on one handle come from one thread at a
// time; two handles of the same port (see duplicate) may be used at once from
// two threads, one reading and one writing.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    // A second, independent handle on the same port.
    [[nodiscard]] virtual PortResult<std::unique_ptr<SerialPort>> duplicate() = 0;

    // How many received bytes are waiting to be read.
    [[nodiscard]] virtual PortResult<std::size_t> bytes_waiting() = 0;

    // Reads what is there, returning as soon as at least one byte arrived;
    // fails with a time-out when nothing arrived within the time-out. May
    // return 0.
    [[nodiscard]] virtual PortResult<std::size_t> read(std::span<char> buffer) = 0;

    // Writes a prefix of `bytes` and returns its length (possibly 0); fails
    // with a time-out when nothing could be written within the time-out.
    [[nodiscard]] virtual PortResult<std::size_t> write(std::string_view bytes) = 0;

    // Blocks, without a time limit, until received bytes are waiting or the
    // line changed state (a hang-up shows in the next call), and returns
    // true; returns false once interrupt() was called on this handle or on
    // any handle of the same opened port. Fails when the wait itself fails
    // or the device went away.
    [[nodiscard]] virtual PortResult<bool> wait_for_input() = 0;

    // Blocks until the port can take more bytes, the line changed state (a
    // hang-up shows in the next write), or `limit` has passed, and returns
    // true; returns false once interrupt() was called on any handle of the
    // port. Fails when the wait itself fails or the device went away.
    [[nodiscard]] virtual PortResult<bool> wait_for_output(Duration limit) = 0;

    // Ends the current and every later wait of every handle of this port for
    // good. May be called from any thread, also while another
    // thread uses a handle of the port.
    virtual void interrupt() noexcept = 0;
};

// Opens the port called `name` ("COM7" on Windows, "/dev/ttyACM1" on Linux)
// with `settings`.
[[nodiscard]] PortResult<std::unique_ptr<SerialPort>> open_serial_port(std::string_view name,
                                                                       const PortSettings& settings);

}  // namespace olvex::serial
