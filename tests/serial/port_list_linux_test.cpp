#include "serial/port_list_linux.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "serial/port_list.hpp"
#include "support/temp_folder.hpp"

namespace olvex::serial {
namespace {

namespace fs = std::filesystem;
using testing_support::TempFolder;
using testing_support::write_file;

// A sysfs tree laid out as the kernel lays it out: devices below devices/,
// class/tty holding relative links to the tty folders, each device with a
// uevent file and a subsystem link, each tty with a `device` link to its parent.
class FakeSysfs {
public:
    [[nodiscard]] const fs::path& root() const { return folder_.path(); }

    // A USB device (DEVTYPE usb_device) at `path` below devices/.
    void add_usb_device(const std::string& path, const std::string& product) {
        const fs::path dir = add_device(path, "usb", "DEVTYPE=usb_device\n");
        if (!product.empty()) write_file(dir / "product", product + "\n");
    }

    // A USB interface; `interface_string` is the attribute's content, none when empty.
    void add_usb_interface(const std::string& path, const std::string& interface_string) {
        const fs::path dir = add_device(path, "usb", "DEVTYPE=usb_interface\n");
        if (!interface_string.empty()) write_file(dir / "interface", interface_string);
    }

    // A device of some other bus, such as the usb-serial port between an
    // interface and its ttyUSB.
    void add_other_device(const std::string& path, const std::string& subsystem) { add_device(path, subsystem, ""); }

    // A tty at `parent_path`/tty/`name`, or below devices/virtual/tty when there is no parent.
    void add_tty(const std::string& parent_path, const std::string& name, const std::string& serial_type = "") {
        const fs::path parent = parent_path.empty() ? fs::path("virtual") : fs::path(parent_path);
        const fs::path relative = parent / "tty" / name;
        const fs::path dir = add_device(relative.string(), "tty", "MAJOR=166\nMINOR=0\nDEVNAME=" + name + "\n");
        if (!parent_path.empty()) fs::create_directory_symlink(fs::path("../.."), dir / "device");
        if (!serial_type.empty()) write_file(dir / "type", serial_type + "\n");
        fs::create_directories(root() / "class" / "tty");
        fs::create_directory_symlink(fs::path("../../devices") / relative, root() / "class" / "tty" / name);
    }

    // A class/tty entry whose tty is gone.
    void add_dangling_tty(const std::string& name) {
        fs::create_directories(root() / "class" / "tty");
        fs::create_directory_symlink("../../devices/virtual/tty/gone", root() / "class" / "tty" / name);
    }

private:
    fs::path add_device(const std::string& path, const std::string& subsystem, const std::string& uevent) {
        const fs::path dir = root() / "devices" / path;
        fs::create_directories(dir);
        fs::create_directories(root() / "bus" / subsystem);
        write_file(dir / "uevent", uevent);
        fs::path up_to_root = "..";  // from devices/ to the root
        for ([[maybe_unused]] const auto& part : fs::path(path)) up_to_root /= "..";
        fs::create_directory_symlink(up_to_root / "bus" / subsystem, dir / "subsystem");
        return dir;
    }

    TempFolder folder_;
};

constexpr const char* BOARD = "pci0000:00/0000:00:14.0/usb1/1-1";
constexpr const char* ADAPTER = "pci0000:00/0000:00:14.0/usb1/1-2";
constexpr const char* OTHER_BOARD = "pci0000:00/0000:00:14.0/usb1/1-3";

// A CircuitPython board with its console and data ports, a USB serial adapter
// whose interface has no string, a board whose interface string is empty (as
// the kernel shows a missing one), a motherboard UART, a legacy ttyS without a
// UART, a virtual console and a tty that went away while being listed.
void build_desktop(FakeSysfs& sysfs) {
    sysfs.add_usb_device(BOARD, "Feather RP2040");
    sysfs.add_usb_interface(std::string(BOARD) + "/1-1:1.0", "CircuitPython CDC control\n");
    sysfs.add_usb_interface(std::string(BOARD) + "/1-1:1.2", "CircuitPython CDC2 control\n");
    sysfs.add_tty(std::string(BOARD) + "/1-1:1.2", "ttyACM1");
    sysfs.add_tty(std::string(BOARD) + "/1-1:1.0", "ttyACM0");
    sysfs.add_usb_device(ADAPTER, "USB-Serial Controller");
    sysfs.add_usb_interface(std::string(ADAPTER) + "/1-2:1.0", "");
    sysfs.add_other_device(std::string(ADAPTER) + "/1-2:1.0/ttyUSB0", "usb-serial");
    sysfs.add_tty(std::string(ADAPTER) + "/1-2:1.0/ttyUSB0", "ttyUSB0");
    sysfs.add_usb_device(OTHER_BOARD, "Pico");
    sysfs.add_usb_interface(std::string(OTHER_BOARD) + "/1-3:1.0", "\n");
    sysfs.add_tty(std::string(OTHER_BOARD) + "/1-3:1.0", "ttyACM2");
    sysfs.add_other_device("pnp0/00:04", "pnp");
    sysfs.add_tty("pnp0/00:04", "ttyS0", "4");
    sysfs.add_other_device("platform/serial8250", "platform");
    sysfs.add_tty("platform/serial8250", "ttyS1", "0");
    sysfs.add_tty("", "tty1");
    sysfs.add_dangling_tty("ttyACM3");
}

TEST(SysfsPortList, ListsRealTtysInDevicePathOrder) {
    FakeSysfs sysfs;
    build_desktop(sysfs);
    const std::vector<PortRecord> expected = {
        {"/dev/ttyACM0", "CircuitPython CDC control"},
        {"/dev/ttyACM1", "CircuitPython CDC2 control"},
        {"/dev/ttyUSB0", "USB-Serial Controller"},
        {"/dev/ttyACM2", "Pico"},
        {"/dev/ttyS0", ""},
    };
    const auto ports = list_serial_ports_in_sysfs(sysfs.root());
    ASSERT_EQ(ports, expected);
    // The board's data port, though listed second, is tried first.
    EXPECT_EQ(select_port_candidates(*ports, std::nullopt).front(), expected[1]);
}

TEST(SysfsPortList, MissingTtyClassIsAnError) {
    TempFolder empty;
    EXPECT_FALSE(list_serial_ports_in_sysfs(empty.path()).has_value());
}

// udev reads the same /sys by its own means; both must pick the same ports.
TEST(UdevPortList, AgreesWithReadingSysfsDirectly) {
    if (!fs::exists("/sys/class/tty")) GTEST_SKIP() << "no sysfs here";
    auto from_udev = list_serial_ports();
    auto from_sysfs = list_serial_ports_in_sysfs("/sys");
    ASSERT_TRUE(from_udev.has_value()) << from_udev.error().message;
    ASSERT_TRUE(from_sysfs.has_value()) << from_sysfs.error().message;
    const auto by_name = [](const PortRecord& a, const PortRecord& b) { return a.name < b.name; };
    std::ranges::sort(*from_udev, by_name);
    std::ranges::sort(*from_sysfs, by_name);
    EXPECT_EQ(*from_udev, *from_sysfs);
}

}  // namespace
}  // namespace olvex::serial
