// The user's hand for the installer test under Wine, which cannot reach a
// Windows window from Linux:
//   tray_window_probe list                    a line per tray window: its process id
//   tray_window_probe toggle-start-at-logon   chooses "Start at logon" in the menu

#include <windows.h>

#include <cstdio>
#include <string_view>
#include <vector>

#include "tray/tray_win.hpp"

namespace {

BOOL CALLBACK collect_tray_window(HWND window, LPARAM found) {
    wchar_t name[64]{};
    if (GetClassNameW(window, name, 64) > 0 && std::wstring_view(name) == olvex::tray::WINDOW_CLASS_NAME)
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

std::vector<HWND> tray_windows() {
    std::vector<HWND> found;
    EnumWindows(collect_tray_window, reinterpret_cast<LPARAM>(&found));
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view action = argc == 2 ? argv[1] : "";
    if (action == "list") {
        for (const HWND window : tray_windows()) {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            std::printf("%lu\n", process);
        }
        return 0;
    }
    if (action == "toggle-start-at-logon") {
        const auto windows = tray_windows();
        if (windows.size() != 1) return 1;
        return PostMessageW(windows[0], WM_COMMAND, olvex::tray::COMMAND_START_AT_LOGON, 0) ? 0 : 1;
    }
    std::fprintf(stderr, "usage: tray_window_probe list | toggle-start-at-logon\n");
    return 2;
}
