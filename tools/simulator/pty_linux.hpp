#pragma once

// The serial port the simulator offers: a pseudo-terminal whose slave side
// the program opens like the device's port.

#include <chrono>
#include <expected>
#include <string>

#include "base/error.hpp"

namespace olvex::simulator {

class Pty {
public:
    // A new pseudo-terminal in raw mode. The simulator keeps the slave side
    // open too, so that the master neither fails nor reports a hang-up while
    // the program has the port closed (between its attempts, say).
    [[nodiscard]] static std::expected<Pty, Error> open();

    Pty(Pty&& other) noexcept;
    Pty& operator=(Pty&&) = delete;
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
    ~Pty();

    [[nodiscard]] int master() const { return master_; }
    [[nodiscard]] const std::string& slave_path() const { return slave_path_; }

    // Writes all of `bytes` to the master side, waiting while the line is full.
    [[nodiscard]] std::expected<void, Error> write_all(std::string_view bytes) const;

    // Waits, at most `limit`, until the program has read what was written.
    // Closing the master throws away what the slave side still holds, so the
    // last lines of a run would be lost without this.
    void drain(std::chrono::milliseconds limit) const;

private:
    Pty(int master, int slave, std::string slave_path);

    int master_ = -1;
    int slave_ = -1;
    std::string slave_path_;
};

}  // namespace olvex::simulator
