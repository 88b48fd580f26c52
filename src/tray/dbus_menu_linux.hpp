#pragma once

// The notification icon's menu over com.canonical.dbusmenu: a flat list of
// entries under the root item 0, entry n (from 0) as item n + 1. A "clicked"
// event on an entry runs its command. The layout never changes, so its
// revision stays 1.

#include <memory>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "tray/tray.hpp"

namespace olvex::tray {

inline const std::string MENU_INTERFACE = "com.canonical.dbusmenu";

class DbusMenu {
public:
    // Exports the menu at `path` on `connection`, whose callbacks then call
    // `action` with an entry's command.
    DbusMenu(sdbus::IConnection& connection, const std::string& path, std::vector<MenuEntry> entries,
             CommandAction action);

private:
    void register_methods();
    void register_properties_and_signals();

    std::vector<MenuEntry> entries_;
    CommandAction action_;
    std::unique_ptr<sdbus::IObject> object_;
};

}  // namespace olvex::tray
