#pragma once

// Which serial ports are present, and in which order to try them.

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"

namespace olvex::serial {

struct PortRecord {
    // What the port is opened by: "COM7" on Windows, "/dev/ttyACM1" on Linux.
    std::string name;
    // What the device says it is (may be empty), e.g. "CircuitPython CDC2 control".
    std::string description;

    bool operator==(const PortRecord&) const = default;
};

// Found, lower-cased, in the description of the device's data port.
inline constexpr std::string_view DEVICE_PORT_MARKER = "circuitpython cdc2";

// Whether the port's description carries DEVICE_PORT_MARKER.
[[nodiscard]] bool has_device_marker(const PortRecord& port);

// The environment variable that names the one port to use.
inline constexpr std::string_view PORT_OVERRIDE_VARIABLE = "OLVEX_AUDIO_PORT";

// The present serial ports in the system's order; an error when the list
// cannot be had at all. Defined by the platform backend.
[[nodiscard]] std::expected<std::vector<PortRecord>, Error> list_serial_ports();

// The value of OLVEX_AUDIO_PORT, read on every call; nothing when it is unset
// or not valid Unicode.
[[nodiscard]] std::optional<std::string> port_override();

// The ports to try, in order: the port named by OLVEX_AUDIO_PORT alone when
// it is set (read on every call), else the marked ports before the others.
[[nodiscard]] std::vector<PortRecord> select_port_candidates(const std::vector<PortRecord>& ports);

// The same with the override given: `port_override` is the variable's value,
// or nothing when it is unset or not valid Unicode.
[[nodiscard]] std::vector<PortRecord> select_port_candidates(const std::vector<PortRecord>& ports,
                                                             const std::optional<std::string>& port_override);

}  // namespace olvex::serial
