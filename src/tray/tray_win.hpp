#pragma once

// The Windows side of the tray that is visible beyond it: the names of the
// hidden window, and the one door to the shell, which tests can watch.

#include <windows.h>

#include <shellapi.h>

namespace olvex::tray {

inline constexpr wchar_t WINDOW_CLASS_NAME[] = L"OlvexNowPlayingTrayWindowClass";
inline constexpr wchar_t WINDOW_TITLE[] = L"Tray";

// The notification icon's identifier within the window.
inline constexpr UINT NOTIFY_ICON_ID = 1;

// The menu entry the window adds just above "Quit": checked while the Run
// value names this executable; choosing it writes or removes the value. Its
// number lies clear of the program's own menu commands.
inline constexpr UINT COMMAND_START_AT_LOGON = 0x100;
inline constexpr wchar_t START_AT_LOGON_TEXT[] = L"Start at logon";

// Shell_NotifyIconW's signature.
using NotifyIconFunction = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAW record);

// Replaces the function that every add, modify and delete of the icon goes
// through (Shell_NotifyIconW by default; nullptr restores it). Returns the
// replacement it displaces, nullptr for the default.
NotifyIconFunction replace_notify_icon_function(NotifyIconFunction function) noexcept;

}  // namespace olvex::tray
