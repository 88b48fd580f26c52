#include <windows.h>

#include <algorithm>
#include <string>

#include "base/environment.hpp"
#include "base/text.hpp"
#include "base/utf16.hpp"

namespace olvex {

namespace {

// Valid UTF-16 pairs every high surrogate with a low one right after it, and
// has no other low surrogate.
bool is_valid_utf16(std::wstring_view units) {
    for (std::size_t at = 0; at < units.size(); ++at) {
        if (is_low_surrogate(units[at])) return false;
        if (!is_high_surrogate(units[at])) continue;
        if (at + 1 == units.size() || !is_low_surrogate(units[at + 1])) return false;
        ++at;
    }
    return true;
}

std::wstring wide_from_utf8(std::string_view utf8) {
    const std::u16string units = utf8_to_utf16(utf8);
    std::wstring wide(units.size(), L'\0');
    std::ranges::copy(units, wide.begin());
    return wide;
}

std::string utf8_from_wide(std::wstring_view wide) {
    std::u16string units(wide.size(), u'\0');
    std::ranges::copy(wide, units.begin());
    return utf16_to_utf8(units);
}

// The raw value; nothing when the variable is unset. The value may grow between
// the call that reports its size and the call that reads it, so a reported size
// that no longer fits means reading again.
std::optional<std::wstring> read_variable(const std::wstring& name) {
    std::wstring value(128, L'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableW(name.c_str(), value.data(), static_cast<DWORD>(value.size()));
        // 0 is both "unset" and the length of an empty value; the error code tells them apart.
        if (length == 0 && GetLastError() != ERROR_SUCCESS) return std::nullopt;
        if (length < value.size()) {
            value.resize(length);
            return value;
        }
        value.resize(length);
    }
}

}  // namespace

std::optional<std::string> environment_variable(std::string_view name) {
    const std::optional<std::wstring> value = read_variable(wide_from_utf8(name));
    if (!value || !is_valid_utf16(*value)) return std::nullopt;
    return utf8_from_wide(*value);
}

}  // namespace olvex
