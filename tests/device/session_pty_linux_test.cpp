// The device session over a real serial port: a pseudo-terminal whose master
// side the test plays as the device.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/session.hpp"
#include "support/pty_linux.hpp"

namespace olvex::device {
namespace {

using namespace std::chrono_literals;
using testing_support::PtyMaster;

TEST(SessionOverPseudoTerminal, HandshakeEventsAndUnplug) {
    PtyMaster device;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<LinkEvent> events;
    std::atomic<bool> running{true};
    auto link = std::make_shared<DeviceLink>();

    SessionPorts ports;
    ports.list_ports = [path = device.slave_path()]() -> std::expected<std::vector<serial::PortRecord>, Error> {
        return std::vector<serial::PortRecord>{{path, "CircuitPython CDC2 control"}};
    };
    ports.select_candidates = [](const std::vector<serial::PortRecord>& all) { return all; };
    ports.keep_searching = [&] { return running.load(); };
    ports.rescan_delay = Duration::from_millis(50);
    std::thread session([&] {
        run_device_session(
            link,
            [&](LinkEvent event) {
                std::lock_guard lock(mutex);
                events.push_back(std::move(event));
                changed.notify_all();
            },
            ports);
    });
    const auto wait_for_events = [&](std::size_t count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 10s, [&] { return events.size() >= count; });
    };

    EXPECT_EQ(device.receive(19), "\n{\"event\":\"hello\"}\n");
    device.send("{\"event\":\"hello_ack\",\"version\":\"2\"}\r\n");
    ASSERT_TRUE(wait_for_events(1));
    EXPECT_TRUE(link->connected());

    std::string burst;
    for (int n = 0; n < 200; ++n) burst += "{\"event\":\"seek\",\"position_s\":" + std::to_string(n) + "}\n";
    ASSERT_GT(burst.size(), 3 * serial::READ_CHUNK);
    device.send(burst);
    ASSERT_TRUE(wait_for_events(201));

    testing::internal::CaptureStderr();
    running = false;
    device.close();
    session.join();
    const std::string logged = testing::internal::GetCapturedStderr();
    EXPECT_EQ(logged, "serial: " + device.slave_path() + " went away: Input/output error (os error 5)\n");

    std::lock_guard lock(mutex);
    ASSERT_EQ(events.size(), 202u);
    EXPECT_EQ(events[0], LinkEvent(Connected{device.slave_path(), protocol::HelloAck{"2", ""}}));
    for (int n = 0; n < 200; ++n) EXPECT_EQ(events[1 + static_cast<std::size_t>(n)], LinkEvent(Device{protocol::Seek{double(n)}}));
    EXPECT_EQ(events.back(), LinkEvent(Disconnected{}));
    EXPECT_FALSE(link->connected());
}

}  // namespace
}  // namespace olvex::device
