#include <windows.h>

#include <setupapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "serial/device_keys_win.hpp"
#include "serial/port_list.hpp"

// Missing from MinGW's setupapi.h, present in its import library.
extern "C" WINSETUPAPI BOOL WINAPI SetupDiSetDevicePropertyW(HDEVINFO, PSP_DEVINFO_DATA, const DEVPROPKEY*, DEVPROPTYPE,
                                                             const BYTE*, DWORD, DWORD);

namespace olvex::serial {
namespace {

struct FakePort {
    std::optional<std::wstring> port_name;  // the value's units exactly, terminators included
    std::optional<std::wstring> bus_reported_description;
    std::optional<std::wstring> friendly_name;
};

// Made-up devices of the ports setup class, registered as an installer would
// and removed again. Wine lets any program do this; Windows wants an
// administrator, so the test is skipped there without one.
class RegisteredPorts {
public:
    RegisteredPorts() : set_(SetupDiCreateDeviceInfoList(&PORTS_SETUP_CLASS, nullptr)) {}
    RegisteredPorts(const RegisteredPorts&) = delete;
    RegisteredPorts& operator=(const RegisteredPorts&) = delete;
    ~RegisteredPorts() {
        for (SP_DEVINFO_DATA& device : devices_) SetupDiRemoveDevice(set_, &device);
        SetupDiDestroyDeviceInfoList(set_);
    }

    // False when the system refuses to register the device.
    bool add(const FakePort& port) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!SetupDiCreateDeviceInfoW(set_, L"OLVEXTEST", &PORTS_SETUP_CLASS, nullptr, nullptr, DICD_GENERATE_ID,
                                      &device)) {
            return false;
        }
        if (!SetupDiRegisterDeviceInfo(set_, &device, 0, nullptr, nullptr, nullptr)) return false;
        devices_.push_back(device);
        return write_port_name(device, port.port_name) &&
               write_property(device, BUS_REPORTED_DESCRIPTION, port.bus_reported_description) &&
               write_property(device, FRIENDLY_NAME, port.friendly_name);
    }

private:
    static DWORD byte_size(const std::wstring& units) { return static_cast<DWORD>(units.size() * sizeof(wchar_t)); }

    bool write_port_name(SP_DEVINFO_DATA& device, const std::optional<std::wstring>& name) {
        HKEY key = SetupDiCreateDevRegKeyW(set_, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
        if (key == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) return false;
        const bool written =
            !name || RegSetValueExW(key, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name->data()),
                                    byte_size(*name)) == ERROR_SUCCESS;
        RegCloseKey(key);
        return written;
    }

    bool write_property(SP_DEVINFO_DATA& device, const DEVPROPKEY& property, const std::optional<std::wstring>& text) {
        if (!text) return true;
        const std::wstring terminated = *text + L'\0';
        return SetupDiSetDevicePropertyW(set_, &device, &property, DEVPROP_TYPE_STRING,
                                         reinterpret_cast<const BYTE*>(terminated.data()), byte_size(terminated), 0);
    }

    HDEVINFO set_;
    std::vector<SP_DEVINFO_DATA> devices_;
};

// This run's own ports, told apart from the machine's and from any left over
// by an earlier run that crashed.
std::string run_prefix() { return "OLVEX" + std::to_string(GetCurrentProcessId()) + "_"; }
std::wstring wide_run_prefix() { return L"OLVEX" + std::to_wstring(GetCurrentProcessId()) + L"_"; }

std::vector<PortRecord> this_runs_ports(const std::vector<PortRecord>& ports) {
    std::vector<PortRecord> ours;
    std::ranges::copy_if(ports, std::back_inserter(ours),
                         [](const PortRecord& port) { return port.name.starts_with(run_prefix()); });
    std::ranges::sort(ours, {}, &PortRecord::name);
    return ours;
}

TEST(WindowsPortList, ReadsTheNameAndDescriptionOfEachPort) {
    const std::wstring w = wide_run_prefix();
    const std::string n = run_prefix();
    const std::wstring long_name = w + L"E" + std::wstring(40, L'x');  // more than the first 64-byte read
    RegisteredPorts registered;
    const bool all_added =
        registered.add({w + L"A" + L'\0', L"CircuitPython CDC2 control", L"USB Serial Device (A)"}) &&
        registered.add({w + L"B" + L'\0', std::nullopt, L"CIRCUITPYTHON CDC2 (B)"}) &&
        registered.add({w + L"C" + L'\0', std::nullopt, std::nullopt}) &&
        registered.add({w + L"D" + std::wstring(3, L'\0'), std::nullopt, std::nullopt}) &&
        registered.add({long_name + L'\0', L"", std::nullopt}) &&
        registered.add({w + L"F" + wchar_t(0xD800) + L'\0', std::nullopt, std::nullopt}) &&
        registered.add({std::nullopt, L"CircuitPython CDC2 control", std::nullopt});
    if (!all_added) GTEST_SKIP() << "cannot register devices here (error " << GetLastError() << ")";

    const auto ports = list_serial_ports();
    ASSERT_TRUE(ports.has_value()) << ports.error().message;
    const std::vector<PortRecord> expected = {
        {n + "A", "CircuitPython CDC2 control"}, {n + "B", "CIRCUITPYTHON CDC2 (B)"}, {n + "C", ""}, {n + "D", ""},
        {n + "E" + std::string(40, 'x'), ""},    {n + "F\xEF\xBF\xBD", ""},
    };
    const std::vector<PortRecord> ours = this_runs_ports(*ports);
    EXPECT_EQ(ours, expected);

    // The friendly name in capitals marks B as much as A's own description marks A.
    const auto candidates = select_port_candidates(ours, std::nullopt);
    ASSERT_EQ(candidates.size(), expected.size());
    EXPECT_EQ((std::set{candidates[0].name, candidates[1].name}), (std::set{n + "A", n + "B"}));
}

}  // namespace
}  // namespace olvex::serial
