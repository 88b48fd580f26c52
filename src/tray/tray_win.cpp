#include "tray/tray_win.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <optional>
#include <string>

#include "base/failure.hpp"
#include "base/platform_error_win.hpp"
#include "base/text.hpp"
#include "tray/logon_start_win.hpp"
#include "tray/tray.hpp"

namespace olvex::tray {

namespace {

// The record's layout is the shell's interface; it must be the full modern one.
static_assert(sizeof(NOTIFYICONDATAW) == 976);
static_assert(sizeof(NOTIFYICONDATAW::szTip) / sizeof(wchar_t) == TOOLTIP_UNITS + 1);
static_assert(sizeof(wchar_t) == sizeof(char16_t));

constexpr UINT NOTIFY_FLAGS = NIF_MESSAGE | NIF_ICON | NIF_TIP;

// At logon the program can start before the shell's notification area
// exists; the shell then announces itself, but a short retry also covers a
// shell that was up yet busy.
constexpr UINT_PTR RETRY_TIMER = 1;
constexpr UINT RETRY_INTERVAL_MS = 2'000;
constexpr ULONGLONG RETRY_PERIOD_MS = 60'000;

// Sent by the shell to every top-level window when its taskbar is created:
// at its start, after a restart (every icon is gone then), and after a change
// of the primary display's DPI (the icons survive that one).
UINT taskbar_created_message() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

std::atomic<NotifyIconFunction> notify_icon_replacement{nullptr};

BOOL notify_icon(DWORD message, NOTIFYICONDATAW& record) {
    const auto replacement = notify_icon_replacement.load();
    return replacement != nullptr ? replacement(message, &record) : Shell_NotifyIconW(message, &record);
}

struct WindowMenuEntry {
    UINT_PTR command = 0;
    std::wstring text;  // c_str() supplies the terminating zero
};

// Lives in the window's user data from just before the icon is added until
// the message loop has ended.
struct WindowState {
    std::vector<WindowMenuEntry> menu;
    std::vector<TrayIcon> icons;
    CommandAction command_action;
    std::shared_ptr<TrayHandle> handle;  // the shared icon number and tooltip text
    NOTIFYICONDATAW record{};            // as last given to the shell
    bool icon_added = false;             // the shell accepted an add
    ULONGLONG started = 0;               // GetTickCount64 when the window began
};

std::wstring to_wide(std::string_view utf8) {
    const std::u16string units = utf8_to_utf16(utf8);
    return {units.begin(), units.end()};
}

void destroy_icons(const std::vector<TrayIcon>& icons) {
    for (const auto& icon : icons) DestroyIcon(reinterpret_cast<HICON>(icon.handle));
}

// The shell draws the icon at its small-icon size for the DPI; loaded at
// exactly that size from the .ico's own images, it is never shrunk or
// stretched by the shell.
std::expected<std::vector<TrayIcon>, Error> load_icons_for_dpi(UINT dpi) {
    const int size = GetSystemMetricsForDpi(SM_CXSMICON, dpi);
    std::vector<TrayIcon> icons;
    for (const std::uint16_t number : {ICON_NO_DEVICE, ICON_CONNECTED}) {
        const auto icon = static_cast<HICON>(
            LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(number), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
        if (icon == nullptr) {
            const DWORD error = GetLastError();
            destroy_icons(icons);
            return make_error(describe_win32_error(error));
        }
        icons.push_back({number, reinterpret_cast<std::uintptr_t>(icon)});
    }
    return icons;
}

std::optional<HICON> find_icon(const std::vector<TrayIcon>& icons, std::uint16_t number) {
    const auto found = std::ranges::find(icons, number, &TrayIcon::number);
    if (found == icons.end()) return std::nullopt;
    return reinterpret_cast<HICON>(found->handle);
}

void write_tooltip(NOTIFYICONDATAW& record, std::string_view text) {
    const std::u16string units = tooltip_field_text(text);
    std::ranges::fill(record.szTip, L'\0');
    std::memcpy(record.szTip, units.data(), units.size() * sizeof(char16_t));
}

NOTIFYICONDATAW added_record(HWND window, const WindowState& state) {
    NOTIFYICONDATAW record{};
    record.cbSize = sizeof(record);
    record.hWnd = window;
    record.uID = NOTIFY_ICON_ID;
    record.uFlags = NOTIFY_FLAGS;
    record.uCallbackMessage = MESSAGE_ICON_CALLBACK;
    record.hIcon = find_icon(state.icons, state.handle->icon()).value_or(nullptr);
    write_tooltip(record, state.handle->tooltip());
    return record;
}

// Adds the icon with the handle's current values. `already_shown` says the
// shell may still have it (the DPI case above), where an add fails and a
// modify brings it up to date.
void add_icon(HWND window, WindowState& state, bool already_shown) {
    state.record = added_record(window, state);
    state.icon_added = notify_icon(NIM_ADD, state.record) != FALSE;
    if (!state.icon_added && already_shown) state.icon_added = notify_icon(NIM_MODIFY, state.record) != FALSE;
}

// Loads the icons at the window's current size. Returns the ones replaced,
// for the caller to destroy once the shell holds the new ones; on failure the
// icons in hand serve on.
std::vector<TrayIcon> reload_icons(HWND window, WindowState& state) {
    auto fresh = load_icons_for_dpi(GetDpiForWindow(window));
    if (!fresh) return {};
    std::swap(state.icons, *fresh);
    return std::move(*fresh);
}

void retry_add(HWND window, WindowState& state) {
    if (!state.icon_added) add_icon(window, state, false);
    if (state.icon_added || GetTickCount64() - state.started >= RETRY_PERIOD_MS) KillTimer(window, RETRY_TIMER);
}

void show_menu(HWND window, const WindowState& state) {
    const HMENU menu = CreatePopupMenu();
    if (menu == nullptr) return;
    for (const auto& entry : state.menu) {
        // Read anew each time: the installer or another copy may have changed it.
        if (entry.command == COMMAND_QUIT) {
            const UINT checked = starts_at_logon() ? MF_CHECKED : MF_UNCHECKED;
            AppendMenuW(menu, MF_STRING | checked, COMMAND_START_AT_LOGON, START_AT_LOGON_TEXT);
        }
        AppendMenuW(menu, MF_STRING, entry.command, entry.text.c_str());
    }
    POINT cursor{};
    if (!GetCursorPos(&cursor)) cursor = POINT{};
    // Without the foreground the menu would stay open after a click elsewhere.
    SetForegroundWindow(window);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
    // Makes the next click after the menu behave, the documented workaround.
    PostMessageW(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

// A failure is shown at once: the user has just asked for the change.
void toggle_start_at_logon(HWND window) {
    const auto changed = set_start_at_logon(!starts_at_logon());
    if (changed) return;
    const std::wstring text = L"Starting at logon could not be changed: " + to_wide(changed.error().message);
    MessageBoxW(window, text.c_str(), L"OLVEX-Audio-Control", MB_OK | MB_ICONWARNING);
}

void show_icon(WindowState& state) {
    const auto icon = find_icon(state.icons, state.handle->icon());
    if (!icon) return;
    state.record.hIcon = *icon;
    notify_icon(NIM_MODIFY, state.record);
}

void show_icon_at_new_size(HWND window, WindowState& state) {
    const auto replaced = reload_icons(window, state);
    show_icon(state);
    destroy_icons(replaced);
}

void show_tooltip(WindowState& state) {
    write_tooltip(state.record, state.handle->tooltip());
    notify_icon(NIM_MODIFY, state.record);
}

void handle_private_message(HWND window, WindowState& state, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wparam) == COMMAND_START_AT_LOGON)
            toggle_start_at_logon(window);
        else if (state.command_action)
            state.command_action(LOWORD(wparam));
        break;
    case MESSAGE_ICON_CALLBACK:
        // Left clicks and double clicks do nothing.
        if (LOWORD(lparam) == WM_RBUTTONUP) show_menu(window, state);
        break;
    case MESSAGE_SHOW_ICON:
        show_icon(state);
        break;
    case MESSAGE_SHOW_TOOLTIP:
        show_tooltip(state);
        break;
    case WM_TIMER:
        if (wparam == RETRY_TIMER) retry_add(window, state);
        break;
    case WM_DPICHANGED:
    case WM_DISPLAYCHANGE:
        show_icon_at_new_size(window, state);
        break;
    default:
        if (message == taskbar_created_message()) {
            // Also the DPI case: the taskbar may have a new size.
            const auto replaced = reload_icons(window, state);
            add_icon(window, state, state.icon_added);
            destroy_icons(replaced);
        }
        break;
    }
}

bool is_private_message(UINT message) {
    return message == WM_COMMAND || message == MESSAGE_ICON_CALLBACK || message == MESSAGE_SHOW_ICON ||
           message == MESSAGE_SHOW_TOOLTIP || message == WM_TIMER || message == WM_DPICHANGED ||
           message == WM_DISPLAYCHANGE || message == taskbar_created_message();
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    if (!is_private_message(message)) return DefWindowProcW(window, message, wparam, lparam);
    auto* state = reinterpret_cast<WindowState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (state == nullptr) return 0;
    // An exception must not unwind through the system's frames; it is
    // recorded and the window goes on with the next message.
    run_guarded([&] { handle_private_message(window, *state, message, wparam, lparam); });
    return 0;
}

std::unique_ptr<WindowState> make_window_state(std::shared_ptr<TrayHandle> handle, std::vector<TrayIcon> icons,
                                               const std::vector<MenuEntry>& menu, CommandAction command_action) {
    auto state = std::make_unique<WindowState>();
    for (const auto& entry : menu) state->menu.push_back({entry.command, to_wide(entry.text)});
    state->icons = std::move(icons);
    state->command_action = std::move(command_action);
    state->handle = std::move(handle);
    return state;
}

HWND create_window() {
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = window_procedure;
    window_class.lpszClassName = WINDOW_CLASS_NAME;
    // A failure (the class may exist already) shows up when the window is created.
    RegisterClassExW(&window_class);
    // Top-level, as the shell's broadcast reaches no message-only window;
    // never shown, and a tool window, so it gets no taskbar button.
    const HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, WINDOW_CLASS_NAME, WINDOW_TITLE, WS_POPUP, 0, 0, 0, 0,
                                        nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    // Run elevated, the program would otherwise not hear from the shell,
    // which runs with lower rights.
    if (window != nullptr) ChangeWindowMessageFilterEx(window, taskbar_created_message(), MSGFLT_ALLOW, nullptr);
    return window;
}

void run_message_loop() {
    MSG message{};
    // -1 comes only with an invalid window filter, which this loop has not.
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

NotifyIconFunction replace_notify_icon_function(NotifyIconFunction function) noexcept {
    return notify_icon_replacement.exchange(function);
}

void prepare_quit_signals() {}

std::expected<std::vector<TrayIcon>, Error> load_tray_icons() { return load_icons_for_dpi(GetDpiForSystem()); }

std::expected<void, Error> run_tray(std::shared_ptr<TrayHandle> handle, std::vector<TrayIcon> icons,
                                    std::vector<MenuEntry> menu, CommandAction command_action) {
    const HWND window = create_window();
    if (window == nullptr) return make_error(describe_win32_error(GetLastError()));
    handle->set_window(reinterpret_cast<std::uintptr_t>(window));

    auto state = make_window_state(std::move(handle), std::move(icons), menu, std::move(command_action));
    state->started = GetTickCount64();
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state.get()));
    add_icon(window, *state, false);
    if (!state->icon_added) SetTimer(window, RETRY_TIMER, RETRY_INTERVAL_MS, nullptr);

    run_message_loop();

    notify_icon(NIM_DELETE, state->record);
    // The loop can end while the window lives on; it must not find freed state.
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    return {};
}

void run_menu_command(std::uint16_t command) {
    if (command != COMMAND_QUIT) return;
    if (const auto handle = tray_handle(); handle && handle->window() != 0) {
        NOTIFYICONDATAW record{};
        record.cbSize = sizeof(record);
        record.hWnd = reinterpret_cast<HWND>(handle->window());
        record.uID = NOTIFY_ICON_ID;
        notify_icon(NIM_DELETE, record);
    }
    ExitProcess(0);
}

void post_tray_message(std::uintptr_t window, std::uint32_t message) {
    PostMessageW(reinterpret_cast<HWND>(window), message, 0, 0);
}

}  // namespace olvex::tray
