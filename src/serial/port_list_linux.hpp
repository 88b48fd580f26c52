#pragma once

// The Linux port list read straight from a sysfs tree. list_serial_ports asks
// udev, which only ever reads /sys; this reads any tree laid out like sysfs, so
// that tests can build one. Both apply the same rules to what they find.

#include <expected>
#include <filesystem>
#include <vector>

#include "base/error.hpp"
#include "serial/port_list.hpp"

namespace olvex::serial {

// The serial ports of the sysfs tree at `sysfs_root`: the tty devices of
// class/tty that have a real device behind them (no virtual consoles, no ttyS
// without a UART), ordered by their device path. Each is named /dev/<DEVNAME>
// and described by the `interface` string of its USB interface, else the
// `product` string of its USB device, else nothing. An error when class/tty
// cannot be read.
[[nodiscard]] std::expected<std::vector<PortRecord>, Error> list_serial_ports_in_sysfs(
    const std::filesystem::path& sysfs_root);

}  // namespace olvex::serial
