#pragma once

// The notification-area icon: the shared TrayHandle through which every
// thread changes the icon and its tooltip, and the window that shows them.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"

namespace olvex::tray {

inline constexpr std::uint16_t ICON_NO_DEVICE = 2;
inline constexpr std::uint16_t ICON_CONNECTED = 3;
inline constexpr std::string_view INITIAL_TOOLTIP = "Nothing playing";

// Private window messages, the first three above WM_APP.
inline constexpr std::uint32_t MESSAGE_ICON_CALLBACK = 0x8001;
inline constexpr std::uint32_t MESSAGE_SHOW_ICON = 0x8002;
inline constexpr std::uint32_t MESSAGE_SHOW_TOOLTIP = 0x8003;

// The tooltip field holds 128 UTF-16 units including the terminating zero.
inline constexpr std::size_t TOOLTIP_UNITS = 127;

// What other threads share with the tray window: the window (0 until it
// exists), the icon number and the tooltip text. Changing a value posts a
// message that makes the window show it, once the window exists.
class TrayHandle {
public:
    void set_icon(std::uint16_t number);
    void set_tooltip(std::string text);

    [[nodiscard]] std::uint16_t icon() const { return icon_.load(); }
    [[nodiscard]] std::string tooltip() const;
    [[nodiscard]] std::uintptr_t window() const { return window_.load(); }
    void set_window(std::uintptr_t window) { window_.store(window); }

private:
    std::atomic<std::uintptr_t> window_{0};
    std::atomic<std::uint16_t> icon_{ICON_NO_DEVICE};
    mutable std::mutex tooltip_mutex_;
    std::string tooltip_{INITIAL_TOOLTIP};
};

// The process-wide handle: published once (a second publish is ignored and
// returns false); null until then.
bool publish_tray_handle(std::shared_ptr<TrayHandle> handle);
[[nodiscard]] std::shared_ptr<TrayHandle> tray_handle();

// The set-icon and set-tooltip operations on the published handle; nothing
// happens before it is published.
void set_tray_icon(std::uint16_t number);
void set_tray_tooltip(std::string text);

// The text for the tooltip field: at most 127 UTF-16 units, never ending in
// the first half of a surrogate pair.
[[nodiscard]] std::u16string tooltip_field_text(std::string_view utf8);

struct MenuEntry {
    std::uint32_t command = 0;
    std::string text;
};
inline constexpr std::uint32_t COMMAND_QUIT = 1;

// A loaded icon resource: its number and the platform's handle.
struct TrayIcon {
    std::uint16_t number = 0;
    std::uintptr_t handle = 0;
};

// Called on the window's thread with the command number of a chosen entry.
using CommandAction = std::function<void(std::uint16_t command)>;

// Loads icons 2 and 3 from the program's resources, in that order, at the
// size the notification area shows them (Windows: the small-icon size for the
// system's DPI). run_tray takes them over and, on Windows, loads them anew
// at the window's size when the DPI or the display changes and when the shell
// announces a new taskbar.
[[nodiscard]] std::expected<std::vector<TrayIcon>, Error> load_tray_icons();

// Creates the hidden window and the icon, publishes the window in `handle`
// and runs the message loop on this thread until it ends; removes the icon
// again before returning. On Windows the icon is added again with the
// handle's current values whenever the shell announces a new taskbar, and a
// failed first add is retried every two seconds for the first minute. Fails when the window cannot be created. On Linux
// the icon is a StatusNotifierItem on the session bus, with the menu over
// dbusmenu, shown whenever a StatusNotifierWatcher runs (without a session
// bus the program runs on without an icon); the loop also ends, with
// success, on SIGINT or SIGTERM.
[[nodiscard]] std::expected<void, Error> run_tray(std::shared_ptr<TrayHandle> handle, std::vector<TrayIcon> icons,
                                                 std::vector<MenuEntry> menu, CommandAction command_action);

// Prepares the main thread, before any other thread exists, for the end of
// the program by signal: on Linux it blocks SIGINT and SIGTERM, so that every
// later thread inherits the block and only run_tray takes them. Does nothing
// on Windows.
void prepare_quit_signals();

// The program's command action: "Quit" removes the icon and ends the process
// at once with status 0 (on Linux, while run_tray runs, by ending it as
// SIGTERM does); other commands do nothing.
void run_menu_command(std::uint16_t command);

// Asks the platform to show the handle's current icon or tooltip: posts
// `message` to `window`. Failures are ignored.
void post_tray_message(std::uintptr_t window, std::uint32_t message);

}  // namespace olvex::tray
