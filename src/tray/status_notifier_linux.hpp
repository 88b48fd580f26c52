#pragma once

// The notification-area icon on Linux: a StatusNotifierItem with its dbusmenu
// menu, on a session-bus connection of the tray's own, shown by whichever
// StatusNotifierWatcher runs: the one running at start, one that starts
// later, and each one that takes its place (a desktop shell that restarts).
// Everything, the bus's callbacks included, runs on the thread that calls
// these members; that thread polls the connection itself.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "tray/dbus_menu_linux.hpp"
#include "tray/tray.hpp"

namespace olvex::tray {

inline const std::string ITEM_INTERFACE = "org.kde.StatusNotifierItem";
inline const std::string ITEM_PATH = "/StatusNotifierItem";
inline const std::string MENU_PATH = "/MenuBar";
inline const std::string ICON_NAME_NO_DEVICE = "olvex-audio-control-no-device";
inline const std::string ICON_NAME_CONNECTED = "olvex-audio-control-connected";

class StatusNotifier {
public:
    // Connects to the session bus under the name
    // org.kde.StatusNotifierItem-<pid>-1, exports the item (showing the
    // handle's icon and tooltip) and its menu, and asks the watcher, if one
    // runs, to show it. Throws sdbus::Error when the bus cannot be reached.
    StatusNotifier(std::shared_ptr<TrayHandle> handle, std::vector<MenuEntry> menu, CommandAction action);
    StatusNotifier(const StatusNotifier&) = delete;
    StatusNotifier& operator=(const StatusNotifier&) = delete;
    ~StatusNotifier();

    // The connection's file descriptor and events to poll for.
    [[nodiscard]] sdbus::IConnection::PollData poll_data() const { return connection_->getEventLoopPollData(); }
    // How long poll may wait (-1: until something arrives): the bus's own
    // time-outs and the next registration attempt.
    [[nodiscard]] int poll_timeout_ms() const;
    // Handles everything the bus has brought, then makes a registration
    // attempt that has fallen due. Throws sdbus::Error when the connection
    // is lost.
    void process();
    // Tells hosts that the handle's icon or tooltip changed, if it did.
    void show_changes();

private:
    void export_item();
    void on_watcher_owner(const std::string& owner);
    void register_with_watcher();
    void on_registration_reply(const sdbus::Error* error);

    std::shared_ptr<TrayHandle> handle_;
    std::string bus_name_;
    std::unique_ptr<sdbus::IConnection> connection_;
    sdbus::Slot watcher_match_;
    std::unique_ptr<sdbus::IProxy> watcher_;
    std::unique_ptr<sdbus::IObject> item_;
    std::unique_ptr<DbusMenu> menu_;

    std::optional<std::chrono::steady_clock::time_point> next_attempt_;
    int failed_attempts_ = 0;
    std::uint16_t shown_icon_ = ICON_NO_DEVICE;
    std::string shown_tooltip_;
};

}  // namespace olvex::tray
