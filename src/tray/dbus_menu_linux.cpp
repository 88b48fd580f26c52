#include "tray/dbus_menu_linux.hpp"

#include <cstdint>
#include <map>
#include <tuple>
#include <utility>

namespace olvex::tray {

namespace {

using Properties = std::map<std::string, sdbus::Variant>;
using Names = std::vector<std::string>;
using Layout = sdbus::Struct<std::int32_t, Properties, std::vector<sdbus::Variant>>;  // (ia{sv}av)
using ItemProperties = sdbus::Struct<std::int32_t, Properties>;                        // (ia{sv})
using GroupEvent = sdbus::Struct<std::int32_t, std::string, sdbus::Variant, std::uint32_t>;  // (isvu)

constexpr std::uint32_t LAYOUT_REVISION = 1;
// Hosts on libdbusmenu send only EventGroup and AboutToShowGroup from
// version 3 on; both kinds are answered.
constexpr std::uint32_t MENU_VERSION = 3;
constexpr std::int32_t ROOT_ID = 0;

// In a label "_" marks the access key; "__" stands for itself.
std::string label_text(const std::string& text) {
    std::string label;
    for (const char c : text) label += c == '_' ? "__" : std::string(1, c);
    return label;
}

// Only the names asked for; all when none are.
Properties filtered(Properties properties, const Names& names) {
    if (names.empty()) return properties;
    Properties kept;
    for (const auto& name : names) {
        if (auto found = properties.find(name); found != properties.end()) kept.insert(std::move(*found));
    }
    return kept;
}

sdbus::Error unknown_item(std::int32_t id) {
    return sdbus::Error("org.freedesktop.DBus.Error.InvalidArgs", "no menu item " + std::to_string(id));
}

}  // namespace

DbusMenu::DbusMenu(sdbus::IConnection& connection, const std::string& path, std::vector<MenuEntry> entries,
                   CommandAction action)
    : entries_(std::move(entries)), action_(std::move(action)), object_(sdbus::createObject(connection, path)) {
    register_methods();
    register_properties_and_signals();
    object_->finishRegistration();
}

void DbusMenu::register_methods() {
    const auto known = [this](std::int32_t id) {
        return id >= ROOT_ID && static_cast<std::size_t>(id) <= entries_.size();
    };
    const auto properties_of = [this](std::int32_t id, const Names& names) {
        Properties all;
        if (id == ROOT_ID) {
            all.emplace("children-display", sdbus::Variant(std::string("submenu")));
        } else {
            all.emplace("type", sdbus::Variant(std::string("standard")));
            all.emplace("label", sdbus::Variant(label_text(entries_[static_cast<std::size_t>(id - 1)].text)));
            all.emplace("enabled", sdbus::Variant(true));
            all.emplace("visible", sdbus::Variant(true));
        }
        return filtered(std::move(all), names);
    };
    const auto layout_of = [this, properties_of](std::int32_t id, std::int32_t depth, const Names& names) {
        std::vector<sdbus::Variant> children;
        if (id == ROOT_ID && depth != 0) {
            for (std::int32_t child = 1; static_cast<std::size_t>(child) <= entries_.size(); ++child) {
                children.emplace_back(Layout(child, properties_of(child, names), std::vector<sdbus::Variant>{}));
            }
        }
        return Layout(id, properties_of(id, names), std::move(children));
    };
    // A click on an entry runs its command; hovering, opening and closing
    // change nothing. The event's data (an int or a string, by host) is unused.
    const auto handle_event = [this](std::int32_t id, const std::string& event) {
        if (event != "clicked" || id == ROOT_ID) return;
        action_(static_cast<std::uint16_t>(entries_[static_cast<std::size_t>(id - 1)].command));
    };

    object_->registerMethod("GetLayout")
        .onInterface(MENU_INTERFACE)
        .withInputParamNames("parentId", "recursionDepth", "propertyNames")
        .withOutputParamNames("revision", "layout")
        .implementedAs([known, layout_of](std::int32_t parent, std::int32_t depth, const Names& names) {
            if (!known(parent)) throw unknown_item(parent);
            return std::tuple{LAYOUT_REVISION, layout_of(parent, depth, names)};
        });
    object_->registerMethod("GetGroupProperties")
        .onInterface(MENU_INTERFACE)
        .withInputParamNames("ids", "propertyNames")
        .withOutputParamNames("properties")
        .implementedAs([this, known, properties_of](const std::vector<std::int32_t>& ids, const Names& names) {
            std::vector<std::int32_t> wanted = ids;
            if (wanted.empty()) {
                for (std::int32_t id = ROOT_ID; static_cast<std::size_t>(id) <= entries_.size(); ++id) {
                    wanted.push_back(id);
                }
            }
            std::vector<ItemProperties> found;
            for (const auto id : wanted) {
                if (known(id)) found.emplace_back(id, properties_of(id, names));
            }
            return found;
        });
    object_->registerMethod("GetProperty")
        .onInterface(MENU_INTERFACE)
        .withInputParamNames("id", "name")
        .withOutputParamNames("value")
        .implementedAs([known, properties_of](std::int32_t id, const std::string& name) {
            if (!known(id)) throw unknown_item(id);
            auto properties = properties_of(id, {name});
            if (properties.empty()) throw sdbus::Error("org.freedesktop.DBus.Error.InvalidArgs", "no property " + name);
            return properties.begin()->second;
        });
    object_->registerMethod("Event")
        .onInterface(MENU_INTERFACE)
        .withInputParamNames("id", "eventId", "data", "timestamp")
        .implementedAs([known, handle_event](std::int32_t id, const std::string& event, const sdbus::Variant&,
                                             std::uint32_t) {
            if (!known(id)) throw unknown_item(id);
            handle_event(id, event);
        });
    object_->registerMethod("EventGroup")
        .onInterface(MENU_INTERFACE)
        .withInputParamNames("events")
        .withOutputParamNames("idErrors")
        .implementedAs([known, handle_event](const std::vector<GroupEvent>& events) {
            std::vector<std::int32_t> unknown;
            for (const auto& event : events) {
                if (known(event.get<0>())) {
                    handle_event(event.get<0>(), event.get<1>());
                } else {
                    unknown.push_back(event.get<0>());
                }
            }
            return unknown;
        });
    object_->registerMethod("AboutToShow")
        .onInterface(MENU_INTERFACE)
        .withInputParamNames("id")
        .withOutputParamNames("needUpdate")
        .implementedAs([known](std::int32_t id) {
            if (!known(id)) throw unknown_item(id);
            return false;
        });
    object_->registerMethod("AboutToShowGroup")
        .onInterface(MENU_INTERFACE)
        .withInputParamNames("ids")
        .withOutputParamNames("updatesNeeded", "idErrors")
        .implementedAs([known](const std::vector<std::int32_t>& ids) {
            std::vector<std::int32_t> unknown;
            for (const auto id : ids) {
                if (!known(id)) unknown.push_back(id);
            }
            return std::tuple{std::vector<std::int32_t>{}, unknown};
        });
}

void DbusMenu::register_properties_and_signals() {
    object_->registerProperty("Version").onInterface(MENU_INTERFACE).withGetter([] { return MENU_VERSION; });
    object_->registerProperty("TextDirection").onInterface(MENU_INTERFACE).withGetter([] {
        return std::string("ltr");
    });
    object_->registerProperty("Status").onInterface(MENU_INTERFACE).withGetter([] { return std::string("normal"); });
    object_->registerProperty("IconThemePath").onInterface(MENU_INTERFACE).withGetter([] { return Names{}; });
    object_->registerSignal("ItemsPropertiesUpdated")
        .onInterface(MENU_INTERFACE)
        .withParameters<std::vector<ItemProperties>, std::vector<sdbus::Struct<std::int32_t, Names>>>(
            "updatedProps", "removedProps");
    object_->registerSignal("LayoutUpdated")
        .onInterface(MENU_INTERFACE)
        .withParameters<std::uint32_t, std::int32_t>("revision", "parent");
    object_->registerSignal("ItemActivationRequested")
        .onInterface(MENU_INTERFACE)
        .withParameters<std::int32_t, std::uint32_t>("id", "timestamp");
}

}  // namespace olvex::tray
