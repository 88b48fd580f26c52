#include "tray/logon_start_win.hpp"

#include <windows.h>

#include <string>

#include "base/executable_path_win.hpp"
#include "base/platform_error_win.hpp"

namespace olvex::tray {

namespace {

std::wstring read_run_value() {
    DWORD size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE_NAME, RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
        ERROR_SUCCESS)
        return {};
    std::wstring value(size / sizeof(wchar_t), L'\0');
    if (RegGetValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE_NAME, RRF_RT_REG_SZ, nullptr, value.data(), &size) !=
        ERROR_SUCCESS)
        return {};
    value.resize(wcsnlen(value.c_str(), value.size()));
    return value;
}

// The program's path in a command line: quoted (the path may hold blanks),
// or bare up to the first blank.
std::wstring program_of(const std::wstring& command_line) {
    if (command_line.starts_with(L'"')) return command_line.substr(1, command_line.find(L'"', 1) - 1);
    return command_line.substr(0, command_line.find(L' '));
}

// The same file despite case and short (8.3) names.
bool same_path(const std::wstring& left, const std::wstring& right) {
    const auto long_form = [](const std::wstring& path) {
        std::wstring result(32'768, L'\0');
        const DWORD length = GetLongPathNameW(path.c_str(), result.data(), static_cast<DWORD>(result.size()));
        if (length == 0 || length >= result.size()) return path;
        result.resize(length);
        return result;
    };
    const std::wstring a = long_form(left);
    const std::wstring b = long_form(right);
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

}  // namespace

bool starts_at_logon() {
    const std::wstring executable = executable_path();
    const std::wstring value = read_run_value();
    return !executable.empty() && !value.empty() && same_path(program_of(value), executable);
}

std::expected<void, Error> set_start_at_logon(bool start) {
    LSTATUS status = ERROR_SUCCESS;
    if (start) {
        const std::wstring executable = executable_path();
        if (executable.empty()) return make_error(describe_win32_error(GetLastError()));
        const std::wstring command_line = L'"' + executable + L'"';
        status = RegSetKeyValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE_NAME, REG_SZ, command_line.c_str(),
                                 static_cast<DWORD>((command_line.size() + 1) * sizeof(wchar_t)));
    } else {
        status = RegDeleteKeyValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE_NAME);
        if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) return make_error(describe_win32_error(static_cast<unsigned long>(status)));
    return {};
}

}  // namespace olvex::tray
