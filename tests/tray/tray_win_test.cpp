#include "tray/tray_win.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tray/logon_start_win.hpp"
#include "tray/tray.hpp"

namespace olvex::tray {
namespace {

// The width of an icon as loaded, and the summed colour of its visible pixels.
struct IconLook {
    int width = 0;
    double red = 0;
    double green = 0;
    double blue = 0;
};

IconLook look_of(HICON icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return {};
    BITMAP bitmap{};
    GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap);
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof(format.bmiHeader);
    format.bmiHeader.biWidth = bitmap.bmWidth;
    format.bmiHeader.biHeight = -bitmap.bmHeight;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    std::vector<RGBQUAD> pixels(static_cast<std::size_t>(bitmap.bmWidth) * static_cast<std::size_t>(bitmap.bmHeight));
    const HDC context = CreateCompatibleDC(nullptr);
    GetDIBits(context, info.hbmColor, 0, static_cast<UINT>(bitmap.bmHeight), pixels.data(), &format, DIB_RGB_COLORS);
    DeleteDC(context);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    IconLook sum{.width = bitmap.bmWidth};
    for (const auto& pixel : pixels) {
        if (pixel.rgbReserved < 128) continue;
        sum.red += pixel.rgbRed;
        sum.green += pixel.rgbGreen;
        sum.blue += pixel.rgbBlue;
    }
    return sum;
}

bool is_green(const IconLook& look) { return look.green > 2 * std::max(look.red, look.blue); }

// The notification area's icon size for the system's DPI.
int small_icon_size() { return GetSystemMetricsForDpi(SM_CXSMICON, GetDpiForSystem()); }

struct NotifyCall {
    DWORD message = 0;
    NOTIFYICONDATAW record{};
    bool accepted = true;
    IconLook look;  // of the icon as it was at the call: the tray may destroy it later
};

std::mutex calls_mutex;
std::vector<NotifyCall> calls;
bool shell_running = true;  // under calls_mutex

BOOL WINAPI record_call(DWORD message, PNOTIFYICONDATAW record) {
    const std::lock_guard lock(calls_mutex);
    calls.push_back({message, *record, shell_running, record->hIcon != nullptr ? look_of(record->hIcon) : IconLook{}});
    return shell_running ? TRUE : FALSE;
}

// Puts the recorder between the tray and the shell for one scope. While the
// shell is not running, every call is recorded and refused.
class RecordedShell {
public:
    explicit RecordedShell(bool running = true) {
        const std::lock_guard lock(calls_mutex);
        calls.clear();
        shell_running = running;
        replace_notify_icon_function(record_call);
    }
    void start_running() {
        const std::lock_guard lock(calls_mutex);
        shell_running = true;
    }
    RecordedShell(const RecordedShell&) = delete;
    RecordedShell& operator=(const RecordedShell&) = delete;
    ~RecordedShell() { replace_notify_icon_function(nullptr); }

    [[nodiscard]] std::vector<NotifyCall> calls_so_far() const {
        const std::lock_guard lock(calls_mutex);
        return calls;
    }
};

std::wstring tip_of(const NOTIFYICONDATAW& record) { return record.szTip; }

// Every unit after the text is zero: nothing of a longer earlier text is left.
bool tip_field_is_clean(const NOTIFYICONDATAW& record) {
    const auto end = std::begin(record.szTip) + tip_of(record).size();
    return std::all_of(end, std::end(record.szTip), [](wchar_t unit) { return unit == 0; });
}

template <typename Condition>
bool wait_until(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

HICON icon_handle(const TrayIcon& icon) { return reinterpret_cast<HICON>(icon.handle); }

// run_tray on a thread of its own, with a command action that records.
class RunningTray {
public:
    RunningTray(std::shared_ptr<TrayHandle> handle, std::vector<TrayIcon> icons) : handle_(handle) {
        thread_ = std::thread([this, handle = std::move(handle), icons = std::move(icons)] {
            result_ = run_tray(handle, icons, {{COMMAND_QUIT, "Quit"}},
                               [this](std::uint16_t command) { commands_.push_back(command); });
        });
    }
    RunningTray(const RunningTray&) = delete;
    RunningTray& operator=(const RunningTray&) = delete;
    ~RunningTray() { close(); }

    // Closes the window, whose destruction ends the loop, and waits for
    // run_tray to return.
    void close() {
        if (!thread_.joinable()) return;
        if (const auto window = handle_->window(); window != 0)
            PostMessageW(reinterpret_cast<HWND>(window), WM_CLOSE, 0, 0);
        thread_.join();
    }
    // Valid after close().
    [[nodiscard]] const std::expected<void, Error>& result() const { return result_; }
    [[nodiscard]] const std::vector<std::uint16_t>& commands() const { return commands_; }

private:
    std::shared_ptr<TrayHandle> handle_;
    std::expected<void, Error> result_;
    std::vector<std::uint16_t> commands_;  // written on the tray thread until it is joined
    std::thread thread_;
};

TEST(TrayWindow, ShowsTheHandlesValuesAndFollowsItsMessages) {
    RecordedShell shell;
    const auto icons = load_tray_icons();
    ASSERT_TRUE(icons.has_value()) << icons.error().message;
    const auto handle = std::make_shared<TrayHandle>();
    handle->set_tooltip(std::string(200, 'a'));  // before the window: shown when the icon is added

    RunningTray tray(handle, *icons);
    ASSERT_TRUE(wait_until([&] { return !shell.calls_so_far().empty(); })) << "the icon was never added";
    const auto window = reinterpret_cast<HWND>(handle->window());
    // Top-level, so the shell's broadcasts reach it, yet never seen.
    EXPECT_EQ(FindWindowW(WINDOW_CLASS_NAME, WINDOW_TITLE), window);
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_NE(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0) << "no taskbar button";

    handle->set_icon(ICON_CONNECTED);
    // The window reads the number when the message arrives, so a later number
    // set at once would be the one it sees.
    ASSERT_TRUE(wait_until([&] { return shell.calls_so_far().size() == 2; }));
    handle->set_icon(9);  // no such icon: nothing changes
    handle->set_tooltip("So What");
    PostMessageW(window, MESSAGE_ICON_CALLBACK, 0, WM_LBUTTONUP);
    PostMessageW(window, MESSAGE_ICON_CALLBACK, 0, WM_LBUTTONDBLCLK);
    PostMessageW(window, WM_COMMAND, 7, 0);
    tray.close();

    ASSERT_TRUE(tray.result().has_value()) << tray.result().error().message;
    EXPECT_EQ(tray.commands(), std::vector<std::uint16_t>{7});
    const auto seen = shell.calls_so_far();
    ASSERT_EQ(seen.size(), 4U);

    const auto& added = seen[0].record;
    EXPECT_EQ(seen[0].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(added.cbSize, 976U);
    EXPECT_EQ(added.hWnd, window);
    EXPECT_EQ(added.uID, 1U);
    EXPECT_EQ(added.uFlags, 7U);
    EXPECT_EQ(added.uCallbackMessage, 0x8001U);
    EXPECT_EQ(added.hIcon, icon_handle((*icons)[0]));
    EXPECT_EQ(tip_of(added), std::wstring(127, L'a'));
    EXPECT_EQ(added.dwState | added.dwStateMask | added.uVersion | added.dwInfoFlags, 0U);
    EXPECT_EQ(added.szInfo[0] | added.szInfoTitle[0], 0);
    EXPECT_EQ(added.hBalloonIcon, nullptr);

    EXPECT_EQ(seen[1].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(seen[1].record.hIcon, icon_handle((*icons)[1]));
    EXPECT_EQ(seen[1].record.uFlags, 7U);

    EXPECT_EQ(seen[2].message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(seen[2].record.hIcon, icon_handle((*icons)[1]));
    EXPECT_EQ(tip_of(seen[2].record), L"So What");
    EXPECT_TRUE(tip_field_is_clean(seen[2].record));

    EXPECT_EQ(seen[3].message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(seen[3].record.hWnd, window);
    EXPECT_EQ(seen[3].record.uID, 1U);
}

std::size_t count_adds(const std::vector<NotifyCall>& seen, bool accepted) {
    return static_cast<std::size_t>(std::ranges::count_if(
        seen, [&](const NotifyCall& call) { return call.message == NIM_ADD && call.accepted == accepted; }));
}

// The shell is late at logon, then restarts later with an empty
// notification area; each time the icon comes back as it stands now.
TEST(TrayWindow, AddsTheIconAgainWhenTheShellWasLateAndWhenItRestarts) {
    RecordedShell shell(false);
    const auto icons = load_tray_icons();
    ASSERT_TRUE(icons.has_value()) << icons.error().message;
    const auto handle = std::make_shared<TrayHandle>();
    RunningTray tray(handle, *icons);
    ASSERT_TRUE(wait_until([&] { return count_adds(shell.calls_so_far(), false) == 1; }));
    handle->set_icon(ICON_CONNECTED);
    handle->set_tooltip("Blue in Green");
    shell.start_running();
    ASSERT_TRUE(wait_until([&] { return count_adds(shell.calls_so_far(), true) == 1; })) << "no retry";

    // Wine's shell never announces itself, so the test does.
    PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    ASSERT_TRUE(wait_until([&] { return count_adds(shell.calls_so_far(), true) == 2; })) << "not added again";
    tray.close();

    const auto seen = shell.calls_so_far();
    for (const auto& call : seen) {
        if (call.message != NIM_ADD || !call.accepted) continue;
        EXPECT_TRUE(is_green(call.look));
        EXPECT_EQ(call.look.width, small_icon_size()) << "loaded anew at the taskbar's size";
        EXPECT_EQ(tip_of(call.record), L"Blue in Green");
        EXPECT_EQ(call.record.uCallbackMessage, 0x8001U);
    }
    EXPECT_EQ(seen.back().message, static_cast<DWORD>(NIM_DELETE));
}

// The user's registry redirected to a scratch key for one scope: the Run key
// of the prefix stays untouched, whatever the test does.
class ScratchUserRegistry {
public:
    ScratchUserRegistry() {
        RegCreateKeyExW(HKEY_CURRENT_USER, NAME, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
        RegOverridePredefKey(HKEY_CURRENT_USER, key_);
    }
    ScratchUserRegistry(const ScratchUserRegistry&) = delete;
    ScratchUserRegistry& operator=(const ScratchUserRegistry&) = delete;
    ~ScratchUserRegistry() {
        RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
        RegCloseKey(key_);
        RegDeleteTreeW(HKEY_CURRENT_USER, NAME);
    }

private:
    static constexpr wchar_t NAME[] = L"Software\\OLVEX-Audio-Control tray test";
    HKEY key_ = nullptr;
};

std::optional<std::wstring> run_value() {
    wchar_t value[1024]{};
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE_NAME, RRF_RT_REG_SZ, nullptr, value, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

void write_run_value(const std::wstring& value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, RUN_KEY, RUN_VALUE_NAME, REG_SZ, value.c_str(),
                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::wstring quoted_executable() {
    wchar_t path[MAX_PATH]{};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return L'"' + std::wstring(path) + L'"';
}

struct ShownEntry {
    UINT command = 0;
    std::wstring text;
    bool checked = false;
    bool operator==(const ShownEntry&) const = default;
    friend void PrintTo(const ShownEntry& entry, std::ostream* out) {
        *out << entry.command << (entry.checked ? " checked" : "");
    }
};

// Right-clicks the icon, reads the menu that opens, and closes it unchosen.
std::vector<ShownEntry> open_menu(HWND window) {
    PostMessageW(window, MESSAGE_ICON_CALLBACK, 0, WM_RBUTTONUP);
    HWND popup = nullptr;
    if (!wait_until([&] { return (popup = FindWindowW(L"#32768", nullptr)) != nullptr && IsWindowVisible(popup); }))
        return {};
    const auto menu = reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0));
    std::vector<ShownEntry> shown;
    for (int position = 0; position < GetMenuItemCount(menu); ++position) {
        wchar_t text[64]{};
        GetMenuStringW(menu, static_cast<UINT>(position), text, 64, MF_BYPOSITION);
        const UINT state = GetMenuState(menu, static_cast<UINT>(position), MF_BYPOSITION);
        shown.push_back({GetMenuItemID(menu, position), text, (state & MF_CHECKED) != 0});
    }
    PostMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);
    wait_until([&] { return !IsWindowVisible(popup); });
    return shown;
}

TEST(TrayWindow, StartAtLogonSitsAboveQuitCheckedWhileTheRunValueNamesThisProgramAndTogglesIt) {
    const ScratchUserRegistry registry;
    write_run_value(L"\"C:\\Elsewhere\\olvex-audio-control.exe\"");  // another copy's
    RecordedShell shell;
    const auto icons = load_tray_icons();
    ASSERT_TRUE(icons.has_value()) << icons.error().message;
    const auto handle = std::make_shared<TrayHandle>();
    RunningTray tray(handle, *icons);
    ASSERT_TRUE(wait_until([&] { return !shell.calls_so_far().empty(); })) << "the icon was never added";
    const auto window = reinterpret_cast<HWND>(handle->window());
    const auto menu_with = [](bool checked) {
        return std::vector<ShownEntry>{{COMMAND_START_AT_LOGON, L"Start at logon", checked}, {1, L"Quit", false}};
    };
    EXPECT_EQ(open_menu(window), menu_with(false));

    PostMessageW(window, WM_COMMAND, COMMAND_START_AT_LOGON, 0);
    EXPECT_TRUE(wait_until([&] { return run_value() == quoted_executable(); }));
    EXPECT_EQ(open_menu(window), menu_with(true));
    PostMessageW(window, WM_COMMAND, COMMAND_START_AT_LOGON, 0);
    EXPECT_TRUE(wait_until([&] { return !run_value().has_value(); }));
    EXPECT_EQ(open_menu(window), menu_with(false));

    // Windows' paths ignore case, and a Run value may carry arguments.
    std::wstring shouted = quoted_executable();
    std::ranges::transform(shouted, shouted.begin(), [](wchar_t unit) { return std::towupper(unit); });
    write_run_value(shouted + L" --from-logon");
    EXPECT_EQ(open_menu(window), menu_with(true));
    tray.close();
    EXPECT_TRUE(tray.commands().empty()) << "the entry is the window's own, not the program's";
}

TEST(TrayHandle, PostsNothingBeforeTheWindowExists) {
    TrayHandle handle;
    handle.set_icon(ICON_CONNECTED);
    handle.set_tooltip("Freddie Freeloader");
    // A post to window 0 would land in this thread's own queue.
    MSG message{};
    EXPECT_FALSE(PeekMessageW(&message, nullptr, MESSAGE_SHOW_ICON, MESSAGE_SHOW_TOOLTIP, PM_REMOVE));
}

// Standard error is the only way out of a death test; no line break, which
// the runtime would write as CR LF.
BOOL WINAPI print_call(DWORD message, PNOTIFYICONDATAW record) {
    std::fprintf(stderr, "message %lu window %llx id %u flags %u;", message,
                 static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(record->hWnd)), record->uID,
                 record->uFlags);
    return TRUE;
}

void quit_with_window(std::uintptr_t window) {
    replace_notify_icon_function(print_call);
    if (window != 0) {
        const auto handle = std::make_shared<TrayHandle>();
        handle->set_window(window);
        publish_tray_handle(handle);
    }
    run_menu_command(COMMAND_QUIT);
}

TEST(MenuCommand, QuitRemovesThePublishedIconBeforeEnding) {
    // Each death test runs in a fresh process, whose handle slot is still empty.
    EXPECT_EXIT(quit_with_window(0), testing::ExitedWithCode(0), "^$");
    EXPECT_EXIT(quit_with_window(0x1234), testing::ExitedWithCode(0), "^message 2 window 1234 id 1 flags 0;$");
}

TEST(TrayIcons, AreTheRedAndGreenSpeakersAtTheNotificationAreasSize) {
    const auto icons = load_tray_icons();
    ASSERT_TRUE(icons.has_value()) << icons.error().message;
    const IconLook no_device = look_of(icon_handle((*icons)[0]));
    EXPECT_EQ(no_device.width, small_icon_size());
    EXPECT_GT(no_device.red, 2 * std::max(no_device.green, no_device.blue));
    const IconLook connected = look_of(icon_handle((*icons)[1]));
    EXPECT_EQ(connected.width, small_icon_size());
    EXPECT_TRUE(is_green(connected));
}

// Wine behaves alike with and without the manifest, so its text is what can
// be checked here; the program links the same resource object as this test.
TEST(ProgramResources, DeclarePerMonitorDpiAwarenessAndNoElevation) {
    const HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr);
    const std::string manifest(static_cast<const char*>(LockResource(LoadResource(nullptr, found))),
                               SizeofResource(nullptr, found));
    for (const char* setting :
         {R"(<dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2, PerMonitor</dpiAwareness>)",
          R"(<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true/pm</dpiAware>)",
          R"(<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>)", R"(level="asInvoker")",
          R"(name="Microsoft.Windows.Common-Controls" version="6.0.0.0")"}) {
        EXPECT_NE(manifest.find(setting), std::string::npos) << setting;
    }
}

TEST(ProgramResources, HoldThreeIconsWithA256PixelPngEach) {
    constexpr unsigned char PNG_SIGNATURE[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const int number : {1, 2, 3}) {
        SCOPED_TRACE(number);
        const HRSRC group = FindResourceW(nullptr, MAKEINTRESOURCEW(number), RT_GROUP_ICON);
        ASSERT_NE(group, nullptr);
        auto* directory = static_cast<BYTE*>(LockResource(LoadResource(nullptr, group)));
        const int id = LookupIconIdFromDirectoryEx(directory, TRUE, 256, 256, LR_DEFAULTCOLOR);
        const HRSRC image = FindResourceW(nullptr, MAKEINTRESOURCEW(id), RT_ICON);
        ASSERT_NE(image, nullptr);
        ASSERT_GE(SizeofResource(nullptr, image), 24U);
        const auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(nullptr, image)));
        EXPECT_EQ(std::memcmp(bytes, PNG_SIGNATURE, sizeof(PNG_SIGNATURE)), 0);
        // The PNG header's width, big-endian, right after the chunk's length and name.
        EXPECT_EQ(bytes[16] << 24 | bytes[17] << 16 | bytes[18] << 8 | bytes[19], 256);
    }
}

}  // namespace
}  // namespace olvex::tray
