#pragma once

// Starting at logon: the program's value under the user's Run key, which the
// installer writes and the tray menu's "Start at logon" turns on and off.

#include <expected>

#include "base/error.hpp"

namespace olvex::tray {

inline constexpr wchar_t RUN_KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr wchar_t RUN_VALUE_NAME[] = L"OLVEX-Audio-Control";

// Whether the user's Run value names this executable (another copy's path
// does not count).
[[nodiscard]] bool starts_at_logon();

// Writes the Run value as this executable's quoted path, or removes it.
[[nodiscard]] std::expected<void, Error> set_start_at_logon(bool start);

}  // namespace olvex::tray
