#pragma once

// A scriptable serial line for tests: the test plays the device (sends bytes,
// unplugs, stops reading) and the code under test opens handles on it.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "serial/serial_port.hpp"
#include "serial/transport.hpp"

namespace olvex::testing_support {

class FakeSerialLine : public std::enable_shared_from_this<FakeSerialLine> {
public:
    // How the line treats writes.
    enum class WriteMode {
        accept_all,
        accept_nothing,
        trickle,  // one byte per trickle interval, nothing in between
        fail,
    };

    // Bytes the device sends towards the PC.
    void receive(const std::string& bytes);
    // The device goes away: every later call on every handle fails with "gone".
    void unplug();
    void set_write_mode(WriteMode mode, std::chrono::milliseconds trickle_interval = {});
    // The next wait for input ends with a time-out, as Wine's serial driver
    // sometimes ends a waiting read.
    void time_out_next_wait();
    // Called, outside the line's lock, with each piece once it was accepted.
    void on_write(std::function<void(const std::string&)> callback);

    [[nodiscard]] std::vector<std::string> pieces() const;
    [[nodiscard]] std::string written() const;
    [[nodiscard]] int handles_open() const;
    // Waits until `done` holds for what was written so far (or gives up).
    bool wait_until_written(const std::function<bool(const std::string&)>& done,
                            std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    bool wait_until_closed(std::chrono::milliseconds limit = std::chrono::seconds(10)) const;

    [[nodiscard]] std::unique_ptr<serial::SerialPort> open_handle(const serial::PortSettings& settings);

private:
    friend class FakeSerialPort;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::string incoming_;
    std::vector<std::string> pieces_;
    WriteMode write_mode_ = WriteMode::accept_all;
    std::chrono::milliseconds trickle_interval_{};
    std::chrono::steady_clock::time_point last_trickle_{};
    std::function<void(const std::string&)> on_write_;
    bool gone_ = false;
    bool time_out_next_wait_ = false;
    int handles_open_ = 0;
};

// Named fake lines, as the PC's set of ports; opening an unknown name fails.
class FakePortSystem {
public:
    std::shared_ptr<FakeSerialLine> add(const std::string& name);
    [[nodiscard]] serial::PortOpener opener();
    [[nodiscard]] std::vector<std::string> opened() const;
    // Unplugs every line there ever was.
    void unplug_all();

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::shared_ptr<FakeSerialLine>> lines_;
    std::vector<std::shared_ptr<FakeSerialLine>> all_lines_;
    std::vector<std::string> opened_;
};

}  // namespace olvex::testing_support
