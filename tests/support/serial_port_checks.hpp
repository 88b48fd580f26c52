#pragma once

// Helpers for tests that drive a real serial port backend.

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "serial/serial_port.hpp"

namespace olvex::testing_support {

// How long a test waits for anything that should happen soon.
inline constexpr std::chrono::milliseconds PORT_PATIENCE = std::chrono::seconds(5);

inline std::unique_ptr<serial::SerialPort> open_or_fail(const std::string& name, serial::PortSettings settings = {}) {
    auto port = serial::open_serial_port(name, settings);
    if (!port) throw std::runtime_error("open " + name + " failed: " + port.error().description);
    return std::move(*port);
}

// Waits for the count of waiting bytes to reach `count`, as the reader would.
inline std::size_t wait_until_waiting(serial::SerialPort& port, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + PORT_PATIENCE;
    std::size_t waiting = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        auto result = port.bytes_waiting();
        if (!result) throw std::runtime_error("bytes_waiting failed: " + result.error().description);
        waiting = *result;
        if (waiting >= count) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return waiting;
}

// Reads until `count` bytes came, in pieces no larger than `piece`.
inline std::string read_exactly(serial::SerialPort& port, std::size_t count, std::size_t piece = 1024) {
    std::string got;
    std::string buffer(piece, '\0');
    const auto deadline = std::chrono::steady_clock::now() + PORT_PATIENCE;
    while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
        auto n = port.read(buffer);
        if (!n && n.error().is_timeout()) continue;
        if (!n) throw std::runtime_error("read failed: " + n.error().description);
        if (*n > piece) throw std::runtime_error("read more than the buffer holds");
        got.append(buffer, 0, *n);
    }
    return got;
}

// Writes into a device that never reads until the port refuses; returns the
// refusing result and adds what was accepted before to `accepted`.
inline serial::PortResult<std::size_t> write_until_refused(serial::SerialPort& port, std::size_t& accepted) {
    const std::string piece(4096, 'x');
    serial::PortResult<std::size_t> written = 0;
    for (int attempt = 0; attempt < 10'000 && written; ++attempt) {
        written = port.write(piece);
        if (written) accepted += *written;
    }
    return written;
}

inline std::string every_byte_value() {
    std::string bytes;
    for (int value = 0; value < 256; ++value) bytes.push_back(static_cast<char>(value));
    return bytes;
}

}  // namespace olvex::testing_support
