// The Linux serial port against real pseudo-terminals: the test holds the
// master side and plays the device; the port under test opens the slave.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "serial/serial_port.hpp"
#include "serial/transport.hpp"
#include "support/serial_port_checks.hpp"
#include "support/pty_linux.hpp"

namespace olvex::serial {
namespace {

using namespace std::chrono_literals;
using Kind = PortError::Kind;
using testing_support::every_byte_value;
using testing_support::open_or_fail;
using testing_support::read_exactly;
using testing_support::wait_until_waiting;
using testing_support::LineStart;
using testing_support::PtyMaster;

constexpr auto PATIENCE = testing_support::PORT_PATIENCE;

TEST(LinuxSerialPort, ConfiguresAMisconfiguredCookedLineAsRaw8N1WithoutFlowControl) {
    PtyMaster device(LineStart::cooked_and_misconfigured);
    auto port = open_or_fail(device.slave_path(), {.baud_rate = 9600});

    termios line{};
    ASSERT_EQ(::tcgetattr(device.fd(), &line), 0);
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(line.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(line.c_iflag & (IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(line.c_cc[VMIN], 1);
    EXPECT_EQ(line.c_cc[VTIME], 0);
    EXPECT_EQ(::cfgetospeed(&line), static_cast<speed_t>(B9600));

    // Every byte value passes both ways untouched: no echo, no CR/LF
    // translation, no XON/XOFF, no signal or end-of-file characters.
    const std::string bytes = every_byte_value();
    device.send(bytes);
    EXPECT_EQ(read_exactly(*port, bytes.size()), bytes);
    ASSERT_EQ(port->write(bytes), bytes.size());
    EXPECT_EQ(device.receive(bytes.size()), bytes);
    EXPECT_EQ(device.receive(1, 200ms), "");  // nothing echoed back behind them
}

TEST(LinuxSerialPort, RefusesABaudRateTheSystemHasNoConstantFor) {
    PtyMaster device;
    auto port = open_serial_port(device.slave_path(), {.baud_rate = 12345});
    ASSERT_FALSE(port);
    EXPECT_EQ(port.error().kind, Kind::other);
    EXPECT_NE(port.error().description.find("12345"), std::string::npos);
}

TEST(LinuxSerialPort, MissingPathIsNotFoundWithTheSystemsMessage) {
    auto port = open_serial_port("/dev/olvex-no-such-tty", {});
    ASSERT_FALSE(port);
    EXPECT_EQ(port.error().kind, Kind::not_found);
    EXPECT_EQ(port.error().description, "No such file or directory (os error 2)");
}

TEST(LinuxSerialPort, ReadOnAQuietLineTimesOutAfterTheTimeOut) {
    PtyMaster device;
    auto port = open_or_fail(device.slave_path());
    char buffer[16];

    const auto start = std::chrono::steady_clock::now();
    auto result = port->read(buffer);
    const auto waited = std::chrono::steady_clock::now() - start;

    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, Kind::timeout);
    EXPECT_GE(waited, 95ms);
    EXPECT_LT(waited, 3s);
}

TEST(LinuxSerialPort, WriteTimesOutWhenTheDeviceStopsReading) {
    PtyMaster device;
    auto port = open_or_fail(device.slave_path());

    // The device never reads: once the line's buffer is full, a write waits
    // out the time-out and says so, rather than reporting 0 or a hang-up.
    std::size_t accepted = 0;
    const auto written = testing_support::write_until_refused(*port, accepted);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().kind, Kind::timeout);
    EXPECT_GT(accepted, 0u);
}

// A writer whose device stopped reading sleeps in wait_for_output: it must
// neither return at once while the line is full (the writer would spin) nor
// sleep through the device reading again or the port being interrupted.
TEST(LinuxSerialPort, WaitForOutputSleepsUntilThereIsRoomOrThePortIsInterrupted) {
    PtyMaster device;
    auto port = open_or_fail(device.slave_path());
    std::size_t accepted = 0;
    ASSERT_FALSE(testing_support::write_until_refused(*port, accepted));
    const auto timed_wait = [&](Duration limit) {
        const auto start = std::chrono::steady_clock::now();
        const auto room = port->wait_for_output(limit);
        return std::pair{room, std::chrono::steady_clock::now() - start};
    };

    const auto [full, waited_full] = timed_wait(Duration::from_millis(150));
    ASSERT_TRUE(full) << full.error().description;
    EXPECT_TRUE(*full);
    EXPECT_GE(waited_full, 145ms) << "a full line must not read as room";

    std::thread device_reads([&] {
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(device.receive(accepted, PATIENCE).size(), accepted);
    });
    const auto [drained, waited_drained] = timed_wait(Duration::from_seconds(60));
    device_reads.join();
    ASSERT_TRUE(drained) << drained.error().description;
    EXPECT_TRUE(*drained);
    EXPECT_LT(waited_drained, PATIENCE);

    accepted = 0;
    ASSERT_FALSE(testing_support::write_until_refused(*port, accepted));
    auto other = port->duplicate();
    ASSERT_TRUE(other);
    std::thread interrupter([&] {
        std::this_thread::sleep_for(100ms);
        (*other)->interrupt();
    });
    const auto [interrupted, waited_interrupted] = timed_wait(Duration::from_seconds(60));
    interrupter.join();
    ASSERT_TRUE(interrupted) << interrupted.error().description;
    EXPECT_FALSE(*interrupted);
    EXPECT_LT(waited_interrupted, PATIENCE);
}

TEST(LinuxSerialPort, DuplicateReadsWhileTheOriginalWritesAndOutlivesIt) {
    PtyMaster device;
    auto original = open_or_fail(device.slave_path());
    auto duplicate_result = original->duplicate();
    ASSERT_TRUE(duplicate_result) << duplicate_result.error().description;
    auto duplicate = std::move(*duplicate_result);

    const std::string inbound(2000, 'i');
    const std::string outbound(2000, 'o');
    std::string read_by_duplicate;
    std::thread reader([&] { read_by_duplicate = read_exactly(*duplicate, inbound.size()); });
    std::thread device_side([&] { device.send(inbound); });
    std::size_t sent = 0;
    while (sent < outbound.size()) {
        auto n = original->write(std::string_view(outbound).substr(sent));
        if (!n && !n.error().is_timeout()) {
            ADD_FAILURE() << n.error().description;
            break;
        }
        if (n) sent += *n;
    }
    EXPECT_EQ(device.receive(outbound.size()), outbound);
    device_side.join();
    reader.join();
    EXPECT_EQ(read_by_duplicate, inbound);

    original.reset();
    device.send("after");
    EXPECT_EQ(read_exactly(*duplicate, 5), "after");
}

TEST(LinuxSerialPort, CountsThreeThousandWaitingBytesAndReadsThemInOrderInBufferSizedPieces) {
    PtyMaster device;
    auto port = open_or_fail(device.slave_path());
    EXPECT_EQ(port->bytes_waiting(), 0u);
    std::string burst(3000, '\0');
    for (std::size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<char>('a' + i % 26);

    device.send(burst);
    EXPECT_EQ(wait_until_waiting(*port, burst.size()), burst.size());
    EXPECT_EQ(read_exactly(*port, burst.size(), 1024), burst);  // read_exactly checks the piece size
    EXPECT_EQ(port->bytes_waiting(), 0u);
}

// The reader asks how many bytes are waiting and reads only when some are;
// after a hang-up that loop must end with "gone", never spin on time-outs.
// A hang-up discards unread bytes on Linux, so whether the bytes sent just
// before it are read first does not matter here.
PortError run_reader_loop_until_failure(SerialPort& port) {
    char buffer[1024];
    const auto deadline = std::chrono::steady_clock::now() + PATIENCE;
    while (std::chrono::steady_clock::now() < deadline) {
        auto waiting = port.bytes_waiting();
        if (!waiting) return waiting.error();
        if (*waiting == 0) continue;
        auto n = port.read(buffer);
        if (!n) return n.error();
    }
    return {Kind::other, "the loop never ended"};
}

TEST(LinuxSerialPort, DeviceHangingUpIsGoneForEveryCall) {
    for (const bool bytes_pending : {false, true}) {
        SCOPED_TRACE(bytes_pending ? "bytes pending at hang-up" : "nothing pending at hang-up");
        PtyMaster device;
        auto port = open_or_fail(device.slave_path());
        if (bytes_pending) {
            device.send("partial line");
            wait_until_waiting(*port, 12);
        }
        device.close();

        EXPECT_EQ(run_reader_loop_until_failure(*port).kind, Kind::gone);
        char buffer[16];
        auto read = port->read(buffer);
        ASSERT_FALSE(read);
        EXPECT_EQ(read.error().kind, Kind::gone);
        auto written = port->write("x");
        ASSERT_FALSE(written);
        EXPECT_EQ(written.error().kind, Kind::gone);
        EXPECT_EQ(written.error().description, "Input/output error (os error 5)");
    }
}

// The reader of a connection sleeps in poll while the line is silent; when
// the connection's queue ends are let go, the writer's interrupt must reach
// that poll through the other handle, or the thread and the open tty would
// stay behind for good.
// Context switches of each thread of this process, voluntary or not.
std::map<std::string, long> switches_by_thread() {
    std::map<std::string, long> switches;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.find("ctxt_switches:") != std::string::npos) {
                switches[task.path().filename()] += std::stol(line.substr(line.find(':') + 1));
            }
        }
    }
    return switches;
}

// Only the connection's own threads count: a sanitizer's background thread
// wakes by itself. A reader that checked every 5 ms would wake about 400
// times in 2 s.
TEST(LinuxSerialPort, QuietConnectionDoesNotWakeUp) {
    // ThreadSanitizer starts its background thread with the first thread
    // the program makes: it is made here, before the count of old threads.
    std::thread([] {}).join();
    const auto threads_before = switches_by_thread();
    PtyMaster device;
    auto connection = open_serial_connection(device.slave_path(), 115200);
    ASSERT_TRUE(connection) << connection.error().description;
    device.send("ping");
    ASSERT_TRUE(connection->reader_queue.recv_for(PATIENCE));
    std::this_thread::sleep_for(100ms);
    const auto quiet_start = switches_by_thread();
    std::this_thread::sleep_for(2s);
    long woke = 0;
    for (const auto& [thread, count] : switches_by_thread()) {
        if (!threads_before.contains(thread) && quiet_start.contains(thread)) woke += count - quiet_start.at(thread);
    }
    EXPECT_LT(woke, 10);
}

TEST(LinuxSerialPort, SilentConnectionLetsGoOfTheTtyOnceItsQueuesAreReleased) {
    PtyMaster device;
    {
        auto connection = open_serial_connection(device.slave_path(), 115200);
        ASSERT_TRUE(connection) << connection.error().description;
        device.send("ping");
        auto chunk = connection->reader_queue.recv_for(PATIENCE);
        ASSERT_TRUE(chunk);
        EXPECT_EQ(*chunk, "ping");
        std::this_thread::sleep_for(200ms);  // the reader is back in its wait
    }
    // The master reports a hang-up once no descriptor of the slave is open.
    pollfd entry{device.fd(), POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + PATIENCE;
    while ((entry.revents & POLLHUP) == 0 && std::chrono::steady_clock::now() < deadline) ::poll(&entry, 1, 50);
    EXPECT_NE(entry.revents & POLLHUP, 0) << "the tty is still open";
}

}  // namespace
}  // namespace olvex::serial
