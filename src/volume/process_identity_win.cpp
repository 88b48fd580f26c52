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

using GetApplicationUserModelIdFunction = LONG(WINAPI*)(HANDLE process, UINT32* length, PWSTR id);

// The toolchain's headers and import libraries lack this function, so it is
// looked up in kernel32 once; null where the system has none.
GetApplicationUserModelIdFunction get_application_user_model_id() {
    static const auto function = [] {
        const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
        if (kernel32 == nullptr) return GetApplicationUserModelIdFunction{};
        // Through the generic function pointer type, which may be cast to any other.
        const auto generic = reinterpret_cast<void (*)()>(GetProcAddress(kernel32, "GetApplicationUserModelId"));
        return reinterpret_cast<GetApplicationUserModelIdFunction>(generic);
    }();
    return function;
}

// A process without package identity answers APPMODEL_ERROR_NO_APPLICATION.
std::optional<std::string> app_user_model_id(HANDLE process) {
    const auto function = get_application_user_model_id();
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

ProcessIdentity identify_process(std::uint32_t process_id) {
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
    if (process == nullptr) return {};
    ProcessIdentity identity{app_user_model_id(process), executable_name(process)};
    CloseHandle(process);
    return identity;
}

}  // namespace olvex::volume
