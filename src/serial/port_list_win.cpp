// The serial ports on Windows: the present devices of the ports setup class,
// named by the "PortName" value of their hardware key.

#include <windows.h>

#include <setupapi.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "base/platform_error_win.hpp"
#include "base/text.hpp"
#include "serial/device_keys_win.hpp"
#include "serial/port_list.hpp"

namespace olvex::serial {

namespace {

constexpr DWORD PRESENT_DEVICES = 2;  // DIGCF_PRESENT
constexpr DWORD GLOBAL_SCOPE = 1;     // DICS_FLAG_GLOBAL
constexpr DWORD CURRENT_PROFILE = 0;
constexpr DWORD HARDWARE_KEY = 1;            // DIREG_DEV
constexpr REGSAM READ_ACCESS = 0x20019;      // KEY_READ
constexpr DWORD FIRST_PORT_NAME_BYTES = 64;  // "COM" and a few digits fit easily

// UTF-16 bytes as text: an invalid unit becomes U+FFFD, trailing NULs go (the
// registry and the device properties both store the terminator, sometimes more).
std::string text_from_utf16_bytes(const std::vector<BYTE>& bytes, std::size_t byte_count) {
    std::u16string units(std::min(byte_count, bytes.size()) / 2, u'\0');
    std::memcpy(units.data(), bytes.data(), units.size() * sizeof(char16_t));
    std::string text = utf16_to_utf8(units);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

struct RegistryKeyClose {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using RegistryKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegistryKeyClose>;

struct DeviceSetDestroy {
    void operator()(HDEVINFO set) const { SetupDiDestroyDeviceInfoList(set); }
};
using DeviceSet = std::unique_ptr<std::remove_pointer_t<HDEVINFO>, DeviceSetDestroy>;

// Nothing when the value cannot be read: a value larger than the first buffer
// is read again with the size the registry reports, once.
std::optional<std::string> read_port_name(HKEY key) {
    std::vector<BYTE> buffer(FIRST_PORT_NAME_BYTES);
    auto size = static_cast<DWORD>(buffer.size());
    LSTATUS status = RegQueryValueExW(key, L"PortName", nullptr, nullptr, buffer.data(), &size);
    if (status == ERROR_MORE_DATA) {
        buffer.resize(size);
        status = RegQueryValueExW(key, L"PortName", nullptr, nullptr, buffer.data(), &size);
    }
    if (status != ERROR_SUCCESS) return std::nullopt;
    return text_from_utf16_bytes(buffer, size);
}

std::optional<std::string> port_name_of(HDEVINFO set, SP_DEVINFO_DATA& device) {
    const HKEY opened = SetupDiOpenDevRegKey(set, &device, GLOBAL_SCOPE, CURRENT_PROFILE, HARDWARE_KEY, READ_ACCESS);
    if (opened == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) return std::nullopt;
    const RegistryKey key(opened);
    return read_port_name(key.get());
}

// Nothing when the device lacks the property: the first call reports its size
// (0 when absent), the second reads it.
std::optional<std::string> text_property(HDEVINFO set, SP_DEVINFO_DATA& device, const DEVPROPKEY& property) {
    DEVPROPTYPE type = 0;
    DWORD size = 0;
    SetupDiGetDevicePropertyW(set, &device, &property, &type, nullptr, 0, &size, 0);
    if (size == 0) return std::nullopt;
    std::vector<BYTE> buffer(size);
    if (!SetupDiGetDevicePropertyW(set, &device, &property, &type, buffer.data(), size, nullptr, 0))
        return std::nullopt;
    return text_from_utf16_bytes(buffer, size);
}

// The bus-reported description is the USB function's own string, which is
// where CircuitPython's data port says what it is; the friendly name is
// usually the driver's generic "USB Serial Device (COM7)".
std::string description_of(HDEVINFO set, SP_DEVINFO_DATA& device) {
    if (auto reported = text_property(set, device, BUS_REPORTED_DESCRIPTION)) return *std::move(reported);
    return text_property(set, device, FRIENDLY_NAME).value_or("");
}

}  // namespace

std::expected<std::vector<PortRecord>, Error> list_serial_ports() {
    const HDEVINFO opened = SetupDiGetClassDevsW(&PORTS_SETUP_CLASS, nullptr, nullptr, PRESENT_DEVICES);
    if (opened == INVALID_HANDLE_VALUE) return make_error(describe_win32_error(GetLastError()));
    const DeviceSet set(opened);
    std::vector<PortRecord> ports;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!SetupDiEnumDeviceInfo(set.get(), index, &device)) break;
        auto name = port_name_of(set.get(), device);
        if (!name) continue;
        ports.push_back(PortRecord{*std::move(name), description_of(set.get(), device)});
    }
    return ports;
}

}  // namespace olvex::serial
