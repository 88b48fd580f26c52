#include "device/session.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_serial_port.hpp"

namespace olvex::device {
namespace {

using namespace std::chrono_literals;
using serial::PortRecord;
using testing_support::FakePortSystem;
using testing_support::FakeSerialLine;

constexpr serial::TransportTiming FAST_TRANSPORT{.write_stall_limit = Duration::from_millis(500),
                                                 .idle_pause = Duration::from_millis(2),
                                                 .port_timeout = Duration::from_millis(20)};
const std::string HELLO_FRAME = "\n{\"event\":\"hello\"}\n";

// Makes `line` answer every hello with `answer`, after `delay`.
void answer_hello(const std::shared_ptr<FakeSerialLine>& line, std::string answer,
                  std::chrono::milliseconds delay = 0ms) {
    FakeSerialLine* device = line.get();  // the line owns the callback: no shared_ptr cycle
    line->on_write([device, answer = std::move(answer), delay](const std::string& piece) {
        if (piece.find("\"hello\"") == std::string::npos) return;
        std::this_thread::sleep_for(delay);
        device->receive(answer);
    });
}

// Runs a device session over fake ports and records what it reports.
class Session : public testing::Test {
protected:
    FakePortSystem system;
    std::vector<PortRecord> listed;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<LinkEvent> events;
    std::vector<std::string> printed;
    int searches = 0;
    std::function<void(const LinkEvent&)> on_event;
    std::atomic<bool> running{true};
    std::atomic<bool> port_named{false};
    std::shared_ptr<DeviceLink> link = std::make_shared<DeviceLink>();
    std::thread session;

    SessionPorts ports(Duration hello_timeout = Duration::from_millis(300),
                       Duration rescan_delay = Duration::from_millis(50)) {
        SessionPorts p;
        p.list_ports = [this]() -> std::expected<std::vector<PortRecord>, Error> {
            std::lock_guard lock(mutex);
            ++searches;
            changed.notify_all();
            return listed;
        };
        p.select_candidates = [](const std::vector<PortRecord>& all) { return all; };
        p.open_connection = [opener = system.opener()](std::string_view name, std::uint32_t baud) {
            return serial::open_serial_connection(name, baud, opener, FAST_TRANSPORT);
        };
        p.print_line = [this](std::string_view line) {
            std::lock_guard lock(mutex);
            printed.emplace_back(line);
            changed.notify_all();
        };
        p.hello_timeout = hello_timeout;
        p.rescan_delay = rescan_delay;
        p.keep_searching = [this] { return running.load(); };
        p.port_named = [this] { return port_named.load(); };
        return p;
    }

    void start(SessionPorts p) {
        session = std::thread([this, p = std::move(p)] {
            run_device_session(link, [this](LinkEvent event) { record(std::move(event)); }, p);
        });
    }

    void record(LinkEvent event) {
        if (on_event) on_event(event);
        std::lock_guard lock(mutex);
        events.push_back(std::move(event));
        changed.notify_all();
    }

    bool wait_for(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, limit, done);
    }

    void TearDown() override {
        running = false;
        system.unplug_all();  // a connected session only returns to its search once the device is gone
        if (session.joinable()) session.join();
    }

    void add_port(const std::string& name, const std::string& description = "") {
        std::lock_guard lock(mutex);
        listed.push_back({name, description});
    }

    void remove_ports() {
        std::lock_guard lock(mutex);
        listed.clear();
    }

    int opened(const std::string& name) const { return static_cast<int>(std::ranges::count(system.opened(), name)); }
};

TEST_F(Session, SilentPortCostsTheHandshakeTimeAndSaysSoOnStandardOutput) {
    auto silent = system.add("COM3");
    add_port("COM3");
    const auto start_time = std::chrono::steady_clock::now();
    start(ports());
    ASSERT_TRUE(wait_for([&] { return printed.size() >= 2; }));
    EXPECT_GE(std::chrono::steady_clock::now() - start_time, 600ms) << "two attempts of 300 ms each";
    EXPECT_EQ(printed[0], "device: COM3 did not answer hello");
    EXPECT_TRUE(silent->written().starts_with(HELLO_FRAME + HELLO_FRAME));
    EXPECT_FALSE(link->connected());
    std::lock_guard lock(mutex);
    EXPECT_TRUE(events.empty());
}

TEST_F(Session, HandshakeIgnoresOtherEventsThenDeliversNormalisedEvents) {
    auto device = system.add("COM4");
    add_port("COM4");
    answer_hello(device,
                 "{\"event\":\"play_pause\"}\nnot json\n"
                 "{\"event\":\"hello_ack\",\"version\":\"1.2\",\"device\":\"pad\"}\n"
                 "{\"event\":\"seek\",\"position_s\":-5}\r\r\n"
                 "{\"event\":\"seek_relative\",\"position\":1.5}\n");
    start(ports());
    ASSERT_TRUE(wait_for([&] { return events.size() >= 3; }));
    EXPECT_TRUE(link->connected());
    device->receive("{\"event\":\"set_volume\",\"vol");
    device->receive("ume\":150}\n");
    ASSERT_TRUE(wait_for([&] { return events.size() >= 4; }));

    std::lock_guard lock(mutex);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0], LinkEvent(Connected{"COM4", protocol::HelloAck{"1.2", "pad"}}));
    EXPECT_EQ(events[1], LinkEvent(Device{protocol::Seek{0.0}}));
    EXPECT_EQ(events[2], LinkEvent(Device{protocol::SeekRelative{1.0}}));
    EXPECT_EQ(events[3], LinkEvent(Device{protocol::SetVolume{150.0}})) << "volume is not clamped here";
    EXPECT_TRUE(device->written().starts_with(HELLO_FRAME)) << "hello is the first frame";
}

TEST_F(Session, LateAnswerIsLostAndTheNextCandidateIsTried) {
    auto late = system.add("COM3");
    auto prompt = system.add("COM4");
    add_port("COM3");
    add_port("COM4");
    answer_hello(late, "{\"event\":\"hello_ack\"}\n", 400ms);
    answer_hello(prompt, "{\"event\":\"hello_ack\"}\n");
    start(ports(Duration::from_millis(200)));
    ASSERT_TRUE(wait_for([&] { return !events.empty(); }));
    std::lock_guard lock(mutex);
    EXPECT_EQ(events[0], LinkEvent(Connected{"COM4", {}}));
    ASSERT_FALSE(printed.empty());
    EXPECT_EQ(printed[0], "device: COM3 did not answer hello");
    EXPECT_TRUE(late->wait_until_closed());
}

TEST_F(Session, UnplugDisconnectsAndSearchesAgainAtOnce) {
    auto device = system.add("COM4");
    add_port("COM4");
    answer_hello(device, "{\"event\":\"hello_ack\"}\n");
    start(ports(Duration::from_millis(300), Duration::from_seconds(30)));
    ASSERT_TRUE(wait_for([&] { return events.size() == 1; }));

    auto replugged = system.add("COM4");
    answer_hello(replugged, "{\"event\":\"hello_ack\"}\n{\"event\":\"next\"}\n");
    device->unplug();
    ASSERT_TRUE(wait_for([&] { return events.size() >= 4; }, 5s)) << "no pause after a session ended";
    std::lock_guard lock(mutex);
    EXPECT_EQ(events[1], LinkEvent(Disconnected{}));
    EXPECT_EQ(events[2], LinkEvent(Connected{"COM4", {}}));
    EXPECT_EQ(events[3], LinkEvent(Device{protocol::Next{}})) << "Connected comes before the new connection's lines";
}

TEST_F(Session, FailureInTheHandlerIsLoggedAndEndsTheSessionWithDisconnectedAfterThePause) {
    auto device = system.add("COM4");
    auto other = system.add("COM5");
    add_port("COM4");
    add_port("COM5");
    answer_hello(device, "{\"event\":\"hello_ack\"}\n");
    std::atomic<int> connections{0};
    on_event = [&](const LinkEvent& event) {
        if (std::holds_alternative<Connected>(event) && connections++ == 0) throw std::runtime_error("handler broke");
    };
    testing::internal::CaptureStderr();
    start(ports(Duration::from_millis(300), Duration::from_millis(200)));
    ASSERT_TRUE(wait_for([&] { return events.size() >= 2 && connections >= 2; }));
    running = false;
    device->unplug();
    session.join();
    EXPECT_TRUE(testing::internal::GetCapturedStderr().starts_with(
        "device: session with COM4 panicked, treating as disconnected\n"));
    const auto opened = system.opened();
    ASSERT_GE(opened.size(), 2u);
    EXPECT_EQ(opened[1], "COM4") << "after a failure the search starts over instead of going on to COM5";
    std::lock_guard lock(mutex);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0], LinkEvent(Disconnected{})) << "the handler heard Connected, so it hears Disconnected";
    EXPECT_EQ(events[1], LinkEvent(Connected{"COM4", {}}));
}

TEST_F(Session, AHandlerThatAlwaysFailsCostsOneAttemptPerPause) {
    auto device = system.add("COM4");
    add_port("COM4", "CircuitPython CDC2 control");
    answer_hello(device, "{\"event\":\"hello_ack\"}\n");
    on_event = [](const LinkEvent& event) {
        if (std::holds_alternative<Connected>(event)) throw std::runtime_error("handler broke");
    };
    testing::internal::CaptureStderr();
    start(ports(Duration::from_millis(300), Duration::from_millis(250)));
    std::this_thread::sleep_for(1s);
    running = false;
    session.join();
    (void)testing::internal::GetCapturedStderr();
    EXPECT_GE(opened("COM4"), 2);
    EXPECT_LE(opened("COM4"), 5) << "at most one attempt per 250 ms pause";
}

// Opening a port raises DTR and sends the hello: ports that do not say they
// are the device get three passes after they appear, unless the user named
// the port.
TEST_F(Session, APortWithoutTheMarkerIsTriedInThreePassesAfterItAppears) {
    const auto silent = system.add("COM3");
    const auto marked = system.add("COM6");
    add_port("COM3");
    add_port("COM6", "CircuitPython CDC2 control");
    start(ports(Duration::from_millis(20), Duration::from_millis(10)));
    ASSERT_TRUE(wait_for([&] { return searches >= 8; }));
    EXPECT_EQ(opened("COM3"), 3);
    EXPECT_GE(opened("COM6"), 7) << "the marked port is tried in every pass";

    remove_ports();  // unplugged and plugged in again: three more passes
    ASSERT_TRUE(wait_for([&] { return searches >= 10; }));
    add_port("COM3");
    ASSERT_TRUE(wait_for([&] { return searches >= 18; }));
    EXPECT_EQ(opened("COM3"), 6);

    port_named = true;
    const int before = [&] {
        std::lock_guard lock(mutex);
        return searches;
    }();
    ASSERT_TRUE(wait_for([&] { return searches >= before + 3; }));
    EXPECT_GE(opened("COM3"), 7) << "a named port is tried in every pass";
}

// A port the user may not open is said once, not on every pass, and again
// once it has been gone or has let itself be opened.
TEST_F(Session, ARefusingPortIsReportedOnceUntilItWasGoneOrOpened) {
    system.add("COM7");
    add_port("COM6", "CircuitPython CDC2 control");
    add_port("COM7", "CircuitPython CDC2 control");
    std::atomic<bool> refuse_com7{true};
    auto p = ports(Duration::from_millis(20), Duration::from_millis(10));
    p.open_connection = [&, open = p.open_connection](std::string_view name, std::uint32_t baud)
        -> serial::PortResult<serial::SerialConnection> {
        if (name == "COM6" || refuse_com7) {
            return std::unexpected(serial::PortError{serial::PortError::Kind::access_denied, "permission denied"});
        }
        return open(name, baud);
    };
    const auto wait_for_searches = [&](int more) {
        const int target = [&] {
            std::lock_guard lock(mutex);
            return searches + more;
        }();
        return wait_for([&] { return searches >= target; });
    };
    testing::internal::CaptureStderr();
    start(std::move(p));
    ASSERT_TRUE(wait_for_searches(5));
    remove_ports();  // unplugged
    ASSERT_TRUE(wait_for_searches(2));
    add_port("COM6", "CircuitPython CDC2 control");
    add_port("COM7", "CircuitPython CDC2 control");
    ASSERT_TRUE(wait_for_searches(3));
    refuse_com7 = false;  // opened once: its access is news again when it is lost
    ASSERT_TRUE(wait_for([&] { return opened("COM7") >= 1; }));
    refuse_com7 = true;
    ASSERT_TRUE(wait_for_searches(3));
    running = false;
    session.join();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "serial: COM6: permission denied\n"
              "serial: COM7: permission denied\n"
              "serial: COM6: permission denied\n"
              "serial: COM7: permission denied\n"
              "serial: COM7: permission denied\n");
}

TEST_F(Session, WithoutPortsItSearchesAgainAfterThePauseAndPrintsNothing) {
    const auto start_time = std::chrono::steady_clock::now();  // before the first search
    start(ports(Duration::from_millis(300), Duration::from_millis(100)));
    ASSERT_TRUE(wait_for([&] { return searches >= 3; }));
    EXPECT_GE(std::chrono::steady_clock::now() - start_time, 200ms);
    std::lock_guard lock(mutex);
    EXPECT_TRUE(printed.empty());
    EXPECT_TRUE(system.opened().empty());
}

}  // namespace
}  // namespace olvex::device
