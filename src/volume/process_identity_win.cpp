#include "volume/process_identity_win.hpp"

#include <windows.h>

#include <string>
#include <string_view>

#include "base/text.hpp"

namespace olvex::volume {

namespace {

constexpr DWORD TEXT_UNITS = 512;

std::string utf8_from_units(const wchar_t* units, std::size_t length) {
    return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(units), length));
}

// Both calls take (process, length in units with the terminating zero, buffer).
using PackageTextFunction = LONG(WINAPI*)(HANDLE process, UINT32* length, PWSTR text);

// The toolchain's headers and import libraries lack these functions (Windows
// 8 and later), so they are looked up in kernel32; null where the system has
// none.
PackageTextFunction kernel32_function(const char* name) {
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr) return nullptr;
    // Through the generic function pointer type, which may be cast to any other.
    const auto generic = reinterpret_cast<void (*)()>(GetProcAddress(kernel32, name));
    return reinterpret_cast<PackageTextFunction>(generic);
}

// A process without package identity answers APPMODEL_ERROR_NO_APPLICATION
// or APPMODEL_ERROR_NO_PACKAGE.
std::optional<std::string> package_text(PackageTextFunction function, HANDLE process) {
    if (function == nullptr) return std::nullopt;
    wchar_t units[TEXT_UNITS];
    UINT32 length = TEXT_UNITS;
    if (function(process, &length, units) != ERROR_SUCCESS || length == 0 || length > TEXT_UNITS) return std::nullopt;
    return utf8_from_units(units, length - 1);  // the length counts the terminating zero
}

std::optional<std::string> executable_name(HANDLE process) {
    wchar_t units[TEXT_UNITS];
    DWORD length = TEXT_UNITS;
    if (!QueryFullProcessImageNameW(process, 0, units, &length) || length >= TEXT_UNITS) return std::nullopt;
    const std::wstring_view path(units, length);
    const std::size_t slash = path.rfind(L'\\');
    const std::wstring_view name = slash == std::wstring_view::npos ? path : path.substr(slash + 1);
    return utf8_from_units(name.data(), name.size());
}

}  // namespace

std::optional<std::string> package_app_id(HANDLE process) {
    static const auto function = kernel32_function("GetApplicationUserModelId");
    return package_text(function, process);
}

std::optional<std::string> package_family(HANDLE process) {
    static const auto function = kernel32_function("GetPackageFamilyName");
    return package_text(function, process);
}

ProcessIdentity identify_process(std::uint32_t process_id) {
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
    if (process == nullptr) return {};
    ProcessIdentity identity{package_app_id(process), executable_name(process)};
    CloseHandle(process);
    return identity;
}

}  // namespace olvex::volume
