// The Windows serial port under Wine, against a pseudo-terminal that Wine
// presents as a COM port.
//
// A Windows program cannot make a pseudo-terminal, but Wine starts a Unix
// program when CreateProcess is given one. So each test starts a small Python
// program (written out below) that plays the device: it makes the pty, links
// $WINEPREFIX/dosdevices/comN to its slave, and then does what the test asks.
// Requests and replies go through files in a folder under /tmp, which the test
// sees as Z:\tmp. Wine hands a Unix child /dev/null in place of pipe handles,
// so the child's standard streams cannot carry them.
//
// Like Windows, Wine runs synchronous ReadFile and WriteFile calls on one file
// object one after the other, so a blocked write delays a read on a duplicate
// handle there too.
//
// What Wine does differently from Windows here (Wine 8.0):
// - SETDTR fails with ERROR_NOT_SUPPORTED on a pty, which has no modem lines.
// - Once the device has hung up, ClearCommError and WriteFile fail with
//   ERROR_NOT_READY. A synchronous ReadFile still succeeds with nothing read
//   after the time-out, as if the line were only quiet; an overlapped one fails
//   with ERROR_BROKEN_PIPE.
// - With ReadIntervalTimeout and ReadTotalTimeoutMultiplier at MAXDWORD, a
//   read does not return as soon as bytes arrive: a synchronous one waits out
//   the time-out, an overlapped one waits for its whole count.
// - The wineserver opens the tty without O_NOCTTY, so it would make the pty its
//   controlling terminal and get SIGHUP (and print its object table) when the
//   device hangs up. The device program therefore makes the pty its own
//   controlling terminal first.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "serial/serial_port.hpp"
#include "serial/transport.hpp"
#include "support/serial_port_checks.hpp"

namespace olvex::serial {
namespace {

using namespace std::chrono_literals;
using Kind = PortError::Kind;
using testing_support::every_byte_value;
using testing_support::open_or_fail;
using testing_support::read_exactly;
using testing_support::wait_until_waiting;

constexpr auto PATIENCE = testing_support::PORT_PATIENCE;
constexpr std::chrono::milliseconds START_PATIENCE = 30s;

constexpr const char* DEVICE_PROGRAM = R"py(
import os, select, signal, sys, termios, time, tty

folder, line_mode = sys.argv[1], sys.argv[2]
dosdevices = os.path.join(os.environ.get("WINEPREFIX") or os.path.expanduser("~/.wine"), "dosdevices")
COM_NUMBERS = range(200, 256)  # above the ports Wine sets up for real serial devices
IDLE_LIMIT = 120.0  # seconds without a request before giving up on the test

def reply(number, text):
    temporary = os.path.join(folder, "reply-%d.tmp" % number)
    with open(temporary, "w") as out:
        out.write(text)
    os.rename(temporary, os.path.join(folder, "reply-%d" % number))

# A child is never a process group leader, so it can start its own session and
# take the pty as its controlling terminal before the wineserver opens it.
if os.fork():
    os._exit(0)
os.setsid()
signal.signal(signal.SIGHUP, signal.SIG_IGN)
master, slave = os.openpty()
if line_mode == "raw":
    tty.setraw(master)
else:  # cooked, as a fresh pty is, and every setting the port has to change set wrong
    iflag, oflag, cflag, lflag, ispeed, ospeed, cc = termios.tcgetattr(master)
    cflag = (cflag & ~termios.CSIZE) | termios.CS7 | termios.PARENB | termios.CSTOPB | termios.CRTSCTS
    iflag |= termios.IXON | termios.IXOFF | termios.IXANY
    termios.tcsetattr(master, termios.TCSANOW, [iflag, oflag, cflag, lflag, termios.B300, termios.B300, cc])
slave_path = os.ttyname(slave)
os.close(os.open(slave_path, os.O_RDWR))
os.close(slave)

link = None
for number in COM_NUMBERS:
    candidate = os.path.join(dosdevices, "com%d" % number)
    try:
        os.symlink(slave_path, candidate)
    except FileExistsError:
        continue
    link = candidate
    reply(0, "ready COM%d" % number)
    break
else:
    reply(0, "error: no free COM number in " + dosdevices)
    sys.exit(1)

link_target = slave_path

def unlink():
    if link is not None and os.readlink(link) == link_target:
        os.unlink(link)

# The port stops existing, as an unplugged device's does. The link stays, aimed
# at nothing, so that no other test takes the number while this one still
# expects it to be missing.
def unplug():
    global link_target
    link_target = os.path.join(folder, "unplugged")
    os.symlink(link_target, link + ".unplugged")
    os.rename(link + ".unplugged", link)
    os.close(master)

def receive(count, millis):
    data = b""
    deadline = time.monotonic() + millis / 1000.0
    while len(data) < count:
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([master], [], [], left)[0]:
            break
        data += os.read(master, count - len(data))
    return data.hex()

SPEEDS = {getattr(termios, name): name[1:] for name in dir(termios) if name[0] == "B" and name[1:].isdigit()}

def line_settings():
    iflag, oflag, cflag, lflag, ispeed, ospeed, cc = termios.tcgetattr(master)
    return "speed=%s bits=%d parity=%s stop=%d rtscts=%s xonxoff=%s" % (
        SPEEDS.get(ospeed, "?"),
        {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}[cflag & termios.CSIZE],
        "none" if not cflag & termios.PARENB else "odd" if cflag & termios.PARODD else "even",
        2 if cflag & termios.CSTOPB else 1,
        "on" if cflag & termios.CRTSCTS else "off",
        "on" if iflag & (termios.IXON | termios.IXOFF) else "off")

number, last_request = 1, time.monotonic()
try:
    while time.monotonic() - last_request < IDLE_LIMIT:
        path = os.path.join(folder, "request-%d" % number)
        try:
            with open(path) as request:
                word, _, rest = request.read().partition(" ")
        except FileNotFoundError:
            time.sleep(0.002)
            continue
        os.unlink(path)
        last_request = time.monotonic()
        answer = "ok"
        if word == "send":
            os.write(master, bytes.fromhex(rest))
        elif word == "receive":
            answer = receive(*map(int, rest.split()))
        elif word == "settings":
            answer = line_settings()
        elif word == "hangup":
            unplug()
        reply(number, answer)
        number += 1
        if word == "quit":
            break
finally:
    unlink()
)py";

bool running_under_wine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::string to_hex(std::string_view bytes) {
    constexpr char DIGITS[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += DIGITS[byte >> 4];
        hex += DIGITS[byte & 0xF];
    }
    return hex;
}

std::string from_hex(std::string_view hex) {
    std::string bytes;
    for (std::size_t at = 0; at + 1 < hex.size(); at += 2)
        bytes += static_cast<char>(std::stoi(std::string(hex.substr(at, 2)), nullptr, 16));
    return bytes;
}

std::string read_whole_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// How the line is set up before the port opens it: raw, or cooked (as a fresh
// pty is) with every setting the port has to change set wrong.
enum class LineStart { raw, cooked_and_misconfigured };

// The device at the other end of a pseudo-terminal, played by the Python
// program above.
class DeviceSimulator {
public:
    explicit DeviceSimulator(LineStart line_start = LineStart::raw) {
        static int counter = 0;
        unix_folder_ = "/tmp/olvex-serial-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(GetTickCount64()) + "-" + std::to_string(counter++);
        folder_ = std::filesystem::path(L"Z:\\") / std::filesystem::path(unix_folder_).relative_path();
        std::filesystem::create_directories(folder_);
        std::ofstream(folder_ / "device.py", std::ios::binary) << DEVICE_PROGRAM;
        start_program(line_start == LineStart::raw ? "raw" : "misconfigured");
        const std::string ready = await_reply(0, START_PATIENCE);
        if (!ready.starts_with("ready ")) throw std::runtime_error("device program: " + ready);
        port_name_ = ready.substr(6);
    }
    DeviceSimulator(const DeviceSimulator&) = delete;
    DeviceSimulator& operator=(const DeviceSimulator&) = delete;
    ~DeviceSimulator() {
        try {
            request("quit");
        } catch (const std::exception&) {
            // The program gives up by itself when no request comes.
        }
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    [[nodiscard]] const std::string& port_name() const { return port_name_; }

    void send(std::string_view bytes) { request("send " + to_hex(bytes)); }

    // What the port wrote: up to `count` bytes, as many as came within `patience`.
    [[nodiscard]] std::string receive(std::size_t count, std::chrono::milliseconds patience = PATIENCE) {
        return from_hex(
            request("receive " + std::to_string(count) + " " + std::to_string(patience.count()), patience + PATIENCE));
    }

    [[nodiscard]] std::string line_settings() { return request("settings"); }

    // Closes the pty's master side and removes the COM port, as an unplugged
    // device would.
    void hang_up() { request("hangup"); }

private:
    void start_program(const std::string& line_mode) {
        std::wstring command = L"Z:\\usr\\bin\\python3 " + widen(unix_folder_ + "/device.py " + unix_folder_ + " " +
                                                                 line_mode);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                            &process))
            throw std::runtime_error("cannot start /usr/bin/python3, error " + std::to_string(GetLastError()));
        // For a Unix program Wine's process handle tells nothing; the files do.
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }

    static std::wstring widen(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

    std::string request(const std::string& text, std::chrono::milliseconds patience = PATIENCE) {
        const int number = next_request_++;
        const auto name = "request-" + std::to_string(number);
        std::ofstream(folder_ / (name + ".tmp"), std::ios::binary) << text;
        std::filesystem::rename(folder_ / (name + ".tmp"), folder_ / name);
        return await_reply(number, patience);
    }

    std::string await_reply(int number, std::chrono::milliseconds patience) {
        const auto path = folder_ / ("reply-" + std::to_string(number));
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (!std::filesystem::exists(path)) {
            if (std::chrono::steady_clock::now() > deadline)
                throw std::runtime_error("the device program did not answer request " + std::to_string(number));
            Sleep(2);
        }
        std::string reply = read_whole_file(path);
        std::filesystem::remove(path);
        return reply;
    }

    std::string unix_folder_;
    std::filesystem::path folder_;
    std::string port_name_;
    int next_request_ = 1;
};

#define SKIP_UNLESS_WINE() \
    if (!running_under_wine()) GTEST_SKIP() << "needs Wine: the device is a Linux pseudo-terminal"

TEST(WindowsSerialPort, MissingPortIsNotFoundWithTheSystemsMessageAndCode) {
    auto port = open_serial_port("COM199", {});  // below the numbers the device program uses
    ASSERT_FALSE(port);
    EXPECT_EQ(port.error().kind, Kind::not_found);
    const std::string& text = port.error().description;
    EXPECT_TRUE(text.ends_with(" (0x80070002)")) << text;
    EXPECT_GT(text.size(), std::string_view(" (0x80070002)").size()) << "no message text: " << text;
}

TEST(WindowsSerialPort, ConfiguresAMisconfiguredCookedLineAsRaw8N1WithoutFlowControl) {
    SKIP_UNLESS_WINE();
    DeviceSimulator device(LineStart::cooked_and_misconfigured);
    auto port = open_or_fail(device.port_name(), {.baud_rate = 9600});
    EXPECT_EQ(device.line_settings(), "speed=9600 bits=8 parity=none stop=1 rtscts=off xonxoff=off");

    // Every byte value passes both ways untouched: no NUL stripping, no
    // XON/XOFF, no CR/LF translation, no echo.
    const std::string bytes = every_byte_value();
    device.send(bytes);
    EXPECT_EQ(read_exactly(*port, bytes.size()), bytes);
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        auto n = port->write(std::string_view(bytes).substr(sent));
        ASSERT_TRUE(n) << n.error().description;
        sent += *n;
    }
    EXPECT_EQ(device.receive(bytes.size()), bytes);
    EXPECT_EQ(device.receive(1, 200ms), "");  // nothing echoed back behind them
}

TEST(WindowsSerialPort, ReadOnAQuietLineTimesOutAfterTheTimeOut) {
    SKIP_UNLESS_WINE();
    DeviceSimulator device;
    auto port = open_or_fail(device.port_name());
    char buffer[16];

    const auto start = std::chrono::steady_clock::now();
    auto result = port->read(buffer);
    const auto waited = std::chrono::steady_clock::now() - start;

    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().kind, Kind::timeout);
    EXPECT_GE(waited, 80ms);  // Wine's timers are coarser than the kernel's
    EXPECT_LT(waited, 3s);
}

// A read that is already waiting returns once the first bytes arrive, neither
// when its buffer is full nor when the time-out is up.
TEST(WindowsSerialPort, WaitingReadReturnsAsSoonAsBytesArrive) {
    SKIP_UNLESS_WINE();
    DeviceSimulator device;
    auto port = open_or_fail(device.port_name(), {.timeout = Duration::from_millis(3000)});
    std::jthread sender([&] {
        std::this_thread::sleep_for(300ms);
        device.send("hello");
    });
    char buffer[64];

    const auto start = std::chrono::steady_clock::now();
    auto got = port->read(buffer);
    const auto waited = std::chrono::steady_clock::now() - start;
    sender.join();

    ASSERT_TRUE(got) << got.error().description;
    ASSERT_GE(*got, 1u);
    EXPECT_EQ(std::string(buffer, *got) + read_exactly(*port, 5 - *got), "hello");
    EXPECT_GE(waited, 200ms) << "the bytes were there before the read began";
    EXPECT_LT(waited, 1500ms);
}

TEST(WindowsSerialPort, WriteTimesOutWhenTheDeviceStopsReading) {
    SKIP_UNLESS_WINE();
    DeviceSimulator device;
    auto port = open_or_fail(device.port_name());

    // The device never reads: once the line's buffer is full, a write waits
    // out the time-out and says so, rather than reporting 0 or a failure.
    std::size_t accepted = 0;
    const auto written = testing_support::write_until_refused(*port, accepted);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().kind, Kind::timeout) << written.error().description;
    EXPECT_GT(accepted, 0u);
}

TEST(WindowsSerialPort, DuplicateReadsWhileTheOriginalWritesAndOutlivesIt) {
    SKIP_UNLESS_WINE();
    DeviceSimulator device;
    auto original = open_or_fail(device.port_name());
    auto duplicate_result = original->duplicate();
    ASSERT_TRUE(duplicate_result) << duplicate_result.error().description;
    auto duplicate = std::move(*duplicate_result);

    const std::string inbound(2000, 'i');
    const std::string outbound(2000, 'o');
    std::string read_by_duplicate;
    std::jthread reader([&] { read_by_duplicate = read_exactly(*duplicate, inbound.size()); });
    device.send(inbound);
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
    reader.join();
    EXPECT_EQ(read_by_duplicate, inbound);

    original.reset();
    device.send("after");
    EXPECT_EQ(read_exactly(*duplicate, 5), "after");
}

// While the device does not read, every write on the original waits out the
// whole time-out, and the writer keeps trying for seconds. The reader's calls
// on the duplicate must not queue up behind those writes.
TEST(WindowsSerialPort, DuplicateAnswersAtOnceWhileTheOriginalWaitsOutWriteTimeOuts) {
    SKIP_UNLESS_WINE();
    DeviceSimulator device;
    auto original = open_or_fail(device.port_name());
    auto duplicate_result = original->duplicate();
    ASSERT_TRUE(duplicate_result) << duplicate_result.error().description;
    auto duplicate = std::move(*duplicate_result);

    std::atomic<int> write_timeouts = 0;
    std::atomic<bool> write_failed = false;
    std::string write_failure;  // read once the writer has ended
    std::jthread writer([&](const std::stop_token& stop) {
        const std::string piece(512, 'w');
        while (!stop.stop_requested()) {
            auto n = original->write(piece);
            if (n) continue;
            if (!n.error().is_timeout()) {
                write_failure = n.error().description;
                write_failed = true;
                return;
            }
            ++write_timeouts;
        }
    });
    const auto stop_writer = [&] {
        writer.request_stop();
        writer.join();
    };

    // Once a write has timed out the line is full, and every later write
    // waits out its time-out.
    const auto deadline = std::chrono::steady_clock::now() + 4 * PATIENCE;
    while (write_timeouts == 0 && !write_failed && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    if (write_timeouts == 0) {
        stop_writer();
        FAIL() << "the writes never timed out: " << write_failure;
    }

    const int timeouts_before = write_timeouts;
    std::chrono::steady_clock::duration slowest_count{};
    for (int round = 0; round < 20; ++round) {
        const auto start = std::chrono::steady_clock::now();
        auto waiting = duplicate->bytes_waiting();
        slowest_count = std::max(slowest_count, std::chrono::steady_clock::now() - start);
        EXPECT_EQ(waiting, 0u);
        std::this_thread::sleep_for(20ms);  // so that the rounds span several writes
    }

    // The reader's way: poll the count, read once something is waiting.
    std::chrono::steady_clock::duration slowest_delivery{};
    for (int round = 0; round < 5; ++round) {
        const std::string message = "ping " + std::to_string(round);
        device.send(message);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(wait_until_waiting(*duplicate, message.size()), message.size());
        EXPECT_EQ(read_exactly(*duplicate, message.size()), message);
        slowest_delivery = std::max(slowest_delivery, std::chrono::steady_clock::now() - start);
    }
    const int timeouts_during = write_timeouts - timeouts_before;
    stop_writer();

    EXPECT_EQ(write_failure, "");
    EXPECT_GE(timeouts_during, 3) << "the writer was not blocked while the reader was measured";
    EXPECT_LT(slowest_count, 50ms);
    EXPECT_LT(slowest_delivery, 50ms);
}

TEST(WindowsSerialPort, CountsThreeThousandWaitingBytesAndReadsThemInOrderInBufferSizedPieces) {
    SKIP_UNLESS_WINE();
    DeviceSimulator device;
    auto port = open_or_fail(device.port_name());
    EXPECT_EQ(port->bytes_waiting(), 0u);
    std::string burst(3000, '\0');
    for (std::size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<char>('a' + i % 26);

    device.send(burst);
    EXPECT_EQ(wait_until_waiting(*port, burst.size()), burst.size());
    EXPECT_EQ(read_exactly(*port, burst.size(), 1024), burst);  // read_exactly checks the piece size
    EXPECT_EQ(port->bytes_waiting(), 0u);
}

TEST(WindowsSerialPort, DeviceGoingAwayIsGoneForEveryCall) {
    SKIP_UNLESS_WINE();
    DeviceSimulator device;
    auto port = open_or_fail(device.port_name());
    device.hang_up();

    auto waiting = port->bytes_waiting();
    ASSERT_FALSE(waiting);
    EXPECT_EQ(waiting.error().kind, Kind::gone) << waiting.error().description;
    char buffer[16];
    auto read = port->read(buffer);
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().kind, Kind::gone) << read.error().description;
    auto written = port->write("x");
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().kind, Kind::gone) << written.error().description;

    // The port is gone from the system too.
    auto reopened = open_serial_port(device.port_name(), {});
    ASSERT_FALSE(reopened);
    EXPECT_EQ(reopened.error().kind, Kind::not_found);
}

// The reader of a connection sleeps in a one-byte request while the line is
// silent. The byte that ends it must reach the queue in its place, and once
// the writer ends (here because its queue is let go), its interrupt must end
// that request, or the reader and its handle would stay behind for good.
TEST(WindowsSerialPort, SilentConnectionForwardsWhatComesAndEndsWithItsWriter) {
    SKIP_UNLESS_WINE();
    DeviceSimulator device;
    auto connection = open_serial_connection(device.port_name(), 115200);
    ASSERT_TRUE(connection) << connection.error().description;
    std::string received;
    for (const std::string_view part : {"first line\n", "second\n"}) {
        std::this_thread::sleep_for(300ms);  // the reader is back in its wait
        device.send(part);
        const std::size_t wanted = received.size() + part.size();
        while (received.size() < wanted) {
            auto chunk = connection->reader_queue.recv_for(PATIENCE);
            ASSERT_TRUE(chunk) << "only " << received << " came";
            received += *chunk;
        }
    }
    EXPECT_EQ(received, "first line\nsecond\n");

    std::this_thread::sleep_for(300ms);
    { auto released = std::move(connection->writer_queue); }
    const auto after_writer = connection->reader_queue.recv_for(PATIENCE);
    ASSERT_FALSE(after_writer);
    EXPECT_EQ(after_writer.error(), RecvError::closed);
}

}  // namespace
}  // namespace olvex::serial
