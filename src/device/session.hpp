#pragma once

// The device session: one thread that searches the serial ports, greets each
// candidate with "hello", keeps the first that answers "hello_ack", turns its
// lines into events for a handler, and searches again once it is gone.

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/duration.hpp"
#include "base/error.hpp"
#include "device/device_link.hpp"
#include "protocol/device_event.hpp"
#include "serial/port_list.hpp"
#include "serial/transport.hpp"

namespace olvex::device {

inline constexpr Duration HELLO_TIMEOUT = Duration::from_seconds(3);
inline constexpr Duration RESCAN_DELAY = Duration::from_seconds(2);
inline constexpr std::uint32_t DEVICE_BAUD_RATE = 115200;

// A device answered the greeting on `port_name`.
struct Connected {
    std::string port_name;
    protocol::HelloAck hello_ack;
    bool operator==(const Connected&) const = default;
};

// The connected device is gone.
struct Disconnected {
    bool operator==(const Disconnected&) const = default;
};

// One line from the connected device, decoded and normalised.
struct Device {
    protocol::DeviceEvent event;
    bool operator==(const Device&) const = default;
};

using LinkEvent = std::variant<Connected, Disconnected, Device>;
using LinkEventHandler = std::function<void(LinkEvent)>;

// What the session reaches the outside through; tests replace any of it.
struct SessionPorts {
    std::function<std::expected<std::vector<serial::PortRecord>, Error>()> list_ports =
        &serial::list_serial_ports;
    std::function<std::vector<serial::PortRecord>(const std::vector<serial::PortRecord>&)> select_candidates =
        [](const std::vector<serial::PortRecord>& ports) { return serial::select_port_candidates(ports); };
    std::function<serial::PortResult<serial::SerialConnection>(std::string_view, std::uint32_t)> open_connection =
        [](std::string_view name, std::uint32_t baud) { return serial::open_serial_connection(name, baud); };
    // Whether the user named the one port to use: it is then tried in every
    // pass, whatever it says it is.
    std::function<bool()> port_named = [] {
        return serial::port_override().has_value();
    };
    // Writes one line to standard output.
    std::function<void(std::string_view)> print_line;
    Duration hello_timeout = HELLO_TIMEOUT;
    Duration rescan_delay = RESCAN_DELAY;
    // Asked before every search; only tests ever say no.
    std::function<bool()> keep_searching = [] { return true; };
};

// Creates the (empty) DeviceLink and starts the session thread with it.
[[nodiscard]] std::shared_ptr<DeviceLink> start_device_session(LinkEventHandler handler,
                                                               SessionPorts ports = {});

// The session thread's body: searches, connects and serves for as long as
// `ports.keep_searching` allows (for ever in the program).
void run_device_session(const std::shared_ptr<DeviceLink>& link, const LinkEventHandler& handler,
                        const SessionPorts& ports = {});

// The event as the rest of the program sees it: a seek never before the
// start, a relative seek within the track.
[[nodiscard]] protocol::DeviceEvent normalise(protocol::DeviceEvent event);

}  // namespace olvex::device
