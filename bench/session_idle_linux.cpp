// CPU cost of the device session while nothing happens: connected to a
// device that stays silent, and searching while no device is present.
//
// Usage: olvex_session_idle connected|searching [seconds]
// The device is played by this program on the master side of a
// pseudo-terminal; the session opens the slave as its serial port.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <future>
#include <string>
#include <string_view>
#include <thread>

#include "device/session.hpp"

namespace {

using namespace olvex;

double process_cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The master side of a raw pseudo-terminal and the slave's path.
struct PseudoTerminal {
    int master = -1;
    std::string slave_path;
};

PseudoTerminal open_pseudo_terminal() {
    PseudoTerminal pty;
    pty.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) std::exit(2);
    termios raw{};
    tcgetattr(pty.master, &raw);
    cfmakeraw(&raw);
    tcsetattr(pty.master, TCSANOW, &raw);
    pty.slave_path = ptsname(pty.master);
    return pty;
}

// Answers the first hello, then reads and discards whatever comes.
void play_device(int master) {
    std::string received;
    char buffer[512];
    for (;;) {
        pollfd wait{master, POLLIN, 0};
        if (poll(&wait, 1, -1) <= 0) return;
        const ssize_t count = read(master, buffer, sizeof buffer);
        if (count <= 0) return;
        if (received.find("\"hello\"") != std::string::npos) continue;
        received.append(buffer, static_cast<std::size_t>(count));
        if (received.find("\"hello\"") != std::string::npos) {
            const std::string_view ack = "{\"event\":\"hello_ack\",\"device\":\"bench\"}\n";
            if (write(master, ack.data(), ack.size()) < 0) return;
        }
    }
}

void measure(std::string_view what, int seconds) {
    const double before = process_cpu_seconds();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double used = process_cpu_seconds() - before;
    std::printf("%.*s: %.1f ms of CPU in %d s = %.4f %% of one core\n", static_cast<int>(what.size()), what.data(),
                used * 1e3, seconds, 100.0 * used / seconds);
}

int connected(int seconds) {
    const PseudoTerminal pty = open_pseudo_terminal();
    std::thread(play_device, pty.master).detach();
    std::promise<void> connected_promise;
    auto connected_future = connected_promise.get_future();
    device::SessionPorts ports;
    ports.list_ports = [path = pty.slave_path]() -> std::expected<std::vector<serial::PortRecord>, Error> {
        return std::vector<serial::PortRecord>{{path, "CircuitPython CDC2 control"}};
    };
    bool told = false;
    auto link = device::start_device_session(
        [&](const device::LinkEvent& event) {
            if (std::holds_alternative<device::Connected>(event) && !told) {
                told = true;
                connected_promise.set_value();
            }
        },
        ports);
    if (connected_future.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        std::puts("the session did not connect");
        return 1;
    }
    measure("idle connected session", seconds);
    return 0;
}

int searching(int seconds) {
    device::SessionPorts ports;
    // The real enumeration runs on every pass; its result is ignored so that
    // no port of this machine is opened.
    ports.list_ports = []() -> std::expected<std::vector<serial::PortRecord>, Error> {
        (void)serial::list_serial_ports();
        return std::vector<serial::PortRecord>{};
    };
    auto link = device::start_device_session([](const device::LinkEvent&) {}, ports);
    measure("search with no ports", seconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 60;
    if (mode == "connected") return connected(seconds);
    if (mode == "searching") return searching(seconds);
    std::fputs("usage: olvex_session_idle connected|searching [seconds]\n", stderr);
    return 2;
}
