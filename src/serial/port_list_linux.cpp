// The serial ports on Linux: the tty devices with hardware behind them.
//
// list_serial_ports asks libudev; list_serial_ports_in_sysfs walks a tree laid
// out like /sys, the way libudev walks /sys. Both only gather TtyFacts: which
// ttys count as ports and how they are described is decided in one place,
// port_record_from.

#include "serial/port_list_linux.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <libudev.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "base/text.hpp"
#include "base/unique_fd_linux.hpp"

namespace olvex::serial {

namespace fs = std::filesystem;

namespace {

// What one tty device says about itself, as found. Attribute values are raw:
// sysfs ends them with a line feed, udev strips it.
struct TtyFacts {
    std::string syspath;                        // its folder below /sys/devices
    std::string sysname;                        // "ttyACM1"
    std::optional<std::string> node;            // "/dev/ttyACM1", when the system names one
    bool has_device = false;                    // false for virtual consoles, ptmx, console
    std::optional<std::string> serial_type;     // the serial core's `type`
    std::optional<std::string> interface_name;  // `interface` of the USB interface it belongs to
    std::optional<std::string> product;         // `product` of the USB device it belongs to
    std::optional<std::string> model;           // udev's ID_MODEL
};

// An attribute as text: without its line end, nothing when empty (the kernel
// shows an empty `interface` for an interface without a string), and valid
// UTF-8 whatever the device sent.
std::optional<std::string> attribute_text(const std::optional<std::string>& raw) {
    if (!raw) return std::nullopt;
    std::string_view text = *raw;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    if (text.empty()) return std::nullopt;
    return sanitize_utf8(text);
}

bool is_real_port(const TtyFacts& tty) {
    if (!tty.has_device) return false;
    // The 8250 driver registers ttyS ports for UARTs that are not fitted; the
    // serial core gives them type 0 (PORT_UNKNOWN). Nothing can answer there.
    return attribute_text(tty.serial_type) != "0";
}

// The interface string is what tells CircuitPython's data port from its
// console. The product string names the board for ports without one; udev's
// ID_MODEL is derived from it (blanks turned into underscores), so it serves
// only when the product string is missing.
std::string description_of(const TtyFacts& tty) {
    for (const auto* raw : {&tty.interface_name, &tty.product, &tty.model}) {
        if (auto text = attribute_text(*raw)) return *std::move(text);
    }
    return {};
}

std::optional<PortRecord> port_record_from(const TtyFacts& tty) {
    if (!is_real_port(tty)) return std::nullopt;
    return PortRecord{tty.node.value_or("/dev/" + tty.sysname), description_of(tty)};
}

std::vector<PortRecord> port_records_from(const std::vector<TtyFacts>& ttys) {
    std::vector<PortRecord> ports;
    for (const TtyFacts& tty : ttys) {
        if (auto port = port_record_from(tty)) ports.push_back(*std::move(port));
    }
    return ports;
}

std::string os_error_text(int code) {
    return std::system_category().message(code) + " (os error " + std::to_string(code) + ")";
}

// ---- a sysfs tree read directly ----

bool path_exists(const fs::path& path) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(path, ignored));
}

std::optional<std::string> read_attribute(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::optional<std::string> uevent_value(const fs::path& device, std::string_view key) {
    std::ifstream in(device / "uevent");
    for (std::string line; std::getline(in, line);) {
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=') {
            return line.substr(key.size() + 1);
        }
    }
    return std::nullopt;
}

std::string subsystem_of(const fs::path& device) {
    std::error_code ignored;
    return fs::read_symlink(device / "subsystem", ignored).filename().string();
}

bool is_inside(const fs::path& path, const fs::path& folder) {
    const fs::path relative = path.lexically_relative(folder);
    return !relative.empty() && relative != "." && *relative.begin() != "..";
}

// As udev_device_get_parent_with_subsystem_devtype: the nearest device above
// `device` (a folder with a uevent file, below devices/) of that subsystem
// and type.
std::optional<fs::path> ancestor_device(const fs::path& device, const fs::path& devices_root,
                                        std::string_view subsystem, std::string_view devtype) {
    for (fs::path up = device.parent_path(); is_inside(up, devices_root); up = up.parent_path()) {
        if (path_exists(up / "uevent") && subsystem_of(up) == subsystem && uevent_value(up, "DEVTYPE") == devtype) {
            return up;
        }
    }
    return std::nullopt;
}

// Nothing when the tty went away while the list was read.
std::optional<TtyFacts> tty_facts_from_sysfs(const fs::path& class_link, const fs::path& devices_root) {
    std::error_code error;
    const fs::path device = fs::canonical(class_link, error);
    if (error) return std::nullopt;
    TtyFacts tty;
    tty.syspath = device.string();
    tty.sysname = class_link.filename().string();
    if (auto devname = uevent_value(device, "DEVNAME")) tty.node = "/dev/" + *devname;
    tty.has_device = path_exists(device / "device");
    tty.serial_type = read_attribute(device / "type");
    if (auto interface = ancestor_device(device, devices_root, "usb", "usb_interface")) {
        tty.interface_name = read_attribute(*interface / "interface");
    }
    if (auto usb_device = ancestor_device(device, devices_root, "usb", "usb_device")) {
        tty.product = read_attribute(*usb_device / "product");
    }
    return tty;
}

fs::path canonical_or_same(const fs::path& path) {
    std::error_code error;
    fs::path resolved = fs::canonical(path, error);
    return error ? path : resolved;
}

// ---- libudev ----

struct UdevRelease {
    void operator()(udev* context) const { udev_unref(context); }
    void operator()(udev_enumerate* enumerate) const { udev_enumerate_unref(enumerate); }
    void operator()(udev_device* device) const { udev_device_unref(device); }
};

template <typename T>
using UdevPointer = std::unique_ptr<T, UdevRelease>;

std::optional<std::string> udev_text(const char* value) {
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

TtyFacts tty_facts_from_udev(udev_device* device) {
    // Parents belong to their child: they are not released here.
    udev_device* interface = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_interface");
    udev_device* usb_device = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
    TtyFacts tty;
    tty.syspath = udev_text(udev_device_get_syspath(device)).value_or("");
    tty.sysname = udev_text(udev_device_get_sysname(device)).value_or("");
    tty.node = udev_text(udev_device_get_devnode(device));
    tty.has_device = udev_device_get_parent(device) != nullptr;
    tty.serial_type = udev_text(udev_device_get_sysattr_value(device, "type"));
    if (interface != nullptr) tty.interface_name = udev_text(udev_device_get_sysattr_value(interface, "interface"));
    if (usb_device != nullptr) tty.product = udev_text(udev_device_get_sysattr_value(usb_device, "product"));
    tty.model = udev_text(udev_device_get_property_value(device, "ID_MODEL"));
    return tty;
}

// libudev reports why it could not create an object through errno; when it
// left none, memory ran out.
int last_errno() { return errno != 0 ? errno : ENOMEM; }

std::unexpected<Error> udev_error(int code) {
    return make_error("udev cannot list the tty devices: " + os_error_text(code));
}

}  // namespace

std::expected<std::vector<PortRecord>, Error> list_serial_ports_in_sysfs(const fs::path& sysfs_root) {
    const fs::path class_folder = sysfs_root / "class" / "tty";
    const fs::path devices_root = canonical_or_same(sysfs_root / "devices");
    std::vector<TtyFacts> ttys;
    std::error_code error;
    for (fs::directory_iterator entry(class_folder, error); !error && entry != fs::directory_iterator();
         entry.increment(error)) {
        if (auto tty = tty_facts_from_sysfs(entry->path(), devices_root)) ttys.push_back(*std::move(tty));
    }
    if (error) return make_error("cannot read " + class_folder.string() + ": " + os_error_text(error.value()));
    std::ranges::sort(ttys, {}, [](const TtyFacts& tty) { return fs::path(tty.syspath); });
    return port_records_from(ttys);
}

namespace {

// One tty of the class folder with a device behind it, and the inode of its
// sysfs folder: sysfs never hands out an inode twice, so a tty removed and
// added again under the same name (a board replugged) has a new one.
struct TtyEntry {
    std::string name;
    ino_t folder = 0;
    bool operator==(const TtyEntry&) const = default;
};

// The ttys of the class folder that have a device behind them. udev's own
// enumeration would build a full record, database entry and all, for every
// virtual console and pseudo-terminal too; this search repeats every two
// seconds while no device is connected, so only the few real ports are
// handed to udev.
std::expected<std::vector<TtyEntry>, Error> ttys_with_a_device() {
    constexpr const char* CLASS_FOLDER = "/sys/class/tty";
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(CLASS_FOLDER), &::closedir);
    if (!folder) return make_error(std::string("cannot read ") + CLASS_FOLDER + ": " + os_error_text(errno));
    std::vector<TtyEntry> ttys;
    while (const dirent* entry = ::readdir(folder.get())) {
        const std::string name = entry->d_name;
        if (name.starts_with('.')) continue;
        if (::faccessat(::dirfd(folder.get()), (name + "/device").c_str(), F_OK, 0) != 0) continue;
        struct stat status {};
        if (::fstatat(::dirfd(folder.get()), name.c_str(), &status, 0) != 0) continue;  // gone meanwhile
        ttys.push_back({name, status.st_ino});
    }
    std::ranges::sort(ttys, {}, &TtyEntry::name);
    return ttys;
}

// Whether a device node came or went in /dev since the last look. A tty
// that is plugged in gets its node there (from devtmpfs, or from udev), so
// while /dev is quiet the class folder need not be read at all. Without
// inotify every look counts as a change.
class DevNodeWatch {
public:
    DevNodeWatch() : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        watching_ = fd_.get() >= 0 && ::inotify_add_watch(fd_.get(), "/dev", IN_CREATE | IN_DELETE | IN_MOVE) >= 0;
    }

    // Takes in what happened since the last call; a queue overflow is an
    // event too.
    bool changed() {
        if (!watching_) return true;
        bool any = false;
        alignas(inotify_event) std::array<char, 4096> events{};
        while (::read(fd_.get(), events.data(), events.size()) > 0) any = true;
        return any;
    }

private:
    UniqueFd fd_;
    bool watching_ = false;
};

// Should a tty ever appear without a node event (a /dev put together by
// hand), the class folder is still read this often.
constexpr auto FULL_LOOK_INTERVAL = std::chrono::minutes(1);

// The last list, and the ttys it was made from. Reused while the same ttys
// are there, so that a search with nothing new plugged in never wakes udev,
// and while /dev is quiet, so that it does not even read the class folder.
// Not kept while a running udev has yet to finish with a tty: its ID_MODEL
// may still come. Without udev running (no control socket) none ever comes.
struct LastList {
    std::mutex mutex;
    DevNodeWatch dev_nodes;
    std::chrono::steady_clock::time_point read_at;
    std::vector<TtyEntry> ttys;
    std::optional<std::vector<PortRecord>> ports;
};

LastList& last_list() {
    static LastList last;
    return last;
}

}  // namespace

std::expected<std::vector<PortRecord>, Error> list_serial_ports() {
    LastList& last = last_list();
    const std::lock_guard lock(last.mutex);
    const auto now = std::chrono::steady_clock::now();
    const bool nodes_changed = last.dev_nodes.changed();
    if (last.ports && !nodes_changed && now - last.read_at < FULL_LOOK_INTERVAL) return *last.ports;
    last.read_at = now;
    auto entries = ttys_with_a_device();
    if (!entries) return std::unexpected(entries.error());
    if (last.ports && last.ttys == *entries) return *last.ports;
    errno = 0;
    const UdevPointer<udev> context(udev_new());
    if (!context) return udev_error(last_errno());
    std::vector<TtyFacts> ttys;
    const bool udev_running = ::access("/run/udev/control", F_OK) == 0;
    bool settled = true;
    for (const auto& entry : *entries) {
        // A device that went away since the folder was read is left out.
        const UdevPointer<udev_device> device(
            udev_device_new_from_subsystem_sysname(context.get(), "tty", entry.name.c_str()));
        if (!device) continue;
        ttys.push_back(tty_facts_from_udev(device.get()));
        settled = settled && (!udev_running || udev_device_get_is_initialized(device.get()) != 0);
    }
    std::ranges::sort(ttys, {}, [](const TtyFacts& tty) { return fs::path(tty.syspath); });
    auto ports = port_records_from(ttys);
    last.ttys = *std::move(entries);
    last.ports = settled ? std::optional(ports) : std::nullopt;
    return ports;
}

}  // namespace olvex::serial
