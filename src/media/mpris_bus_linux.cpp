#include "media/mpris_bus_linux.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <string_view>
#include <vector>

#include "media/mpris_values_linux.hpp"

namespace olvex::media::mpris {

namespace {

template <typename T>
std::optional<T> value_of(const sdbus::Variant& value) {
    if (!value.containsValueOfType<T>()) return std::nullopt;
    return value.get<T>();
}

const sdbus::Variant* find(const PropertyMap& map, const std::string& key) {
    const auto found = map.find(key);
    return found == map.end() ? nullptr : &found->second;
}

std::string text_at(const PropertyMap& map, const std::string& key) {
    const auto* value = find(map, key);
    return value ? text_of(*value).value_or("") : "";
}

// MPRIS declares "as"; a few players send a plain string.
std::string artist_at(const PropertyMap& map) {
    const auto* value = find(map, "xesam:artist");
    if (!value) return "";
    if (auto artists = value_of<std::vector<std::string>>(*value)) return joined_artists(*artists);
    return text_of(*value).value_or("");
}

// MPRIS declares "o"; some players send a string.
std::optional<std::string> track_id_at(const PropertyMap& map) {
    const auto* value = find(map, "mpris:trackid");
    if (!value) return std::nullopt;
    if (auto path = value_of<sdbus::ObjectPath>(*value)) return std::string(*path);
    return text_of(*value);
}

// MPRIS declares "x"; other integer types turn up in the wild.
std::optional<std::int64_t> length_at(const PropertyMap& map) {
    const auto* value = find(map, "mpris:length");
    if (!value) return std::nullopt;
    if (auto length = value_of<std::int64_t>(*value)) return *length;
    if (auto length = value_of<std::uint64_t>(*value)) {
        constexpr auto LONGEST = std::numeric_limits<std::int64_t>::max();
        return *length > static_cast<std::uint64_t>(LONGEST) ? LONGEST : static_cast<std::int64_t>(*length);
    }
    if (auto length = value_of<std::int32_t>(*value)) return *length;
    if (auto length = value_of<std::uint32_t>(*value)) return *length;
    return std::nullopt;
}

}  // namespace

Error bus_error(const sdbus::Error& error) {
    if (error.getMessage().empty()) return Error{error.getName()};
    return Error{error.getMessage() + " (" + error.getName() + ")"};
}

bool is_delivery_failure(const sdbus::Error& error) {
    static constexpr std::array<std::string_view, 6> UNDELIVERED{
        "org.freedesktop.DBus.Error.ServiceUnknown", "org.freedesktop.DBus.Error.NameHasNoOwner",
        "org.freedesktop.DBus.Error.NoReply",        "org.freedesktop.DBus.Error.Disconnected",
        "org.freedesktop.DBus.Error.Timeout",        "org.freedesktop.DBus.Error.TimedOut",
    };
    const std::string_view name = error.getName();
    // sdbus-c++ names errors of the local connection after their errno.
    if (name.starts_with("System.Error.")) return true;
    return std::ranges::find(UNDELIVERED, name) != UNDELIVERED.end();
}

sdbus::Variant get_property(sdbus::IProxy& proxy, const std::string& interface, const std::string& name,
                            std::uint64_t timeout_us) {
    auto call = proxy.createMethodCall(PROPERTIES_INTERFACE, "Get");
    call << interface << name;
    auto reply = proxy.callMethod(call, timeout_us);
    sdbus::Variant value;
    reply >> value;
    return value;
}

PropertyMap get_all_properties(sdbus::IProxy& proxy, const std::string& interface) {
    auto call = proxy.createMethodCall(PROPERTIES_INTERFACE, "GetAll");
    call << interface;
    auto reply = proxy.callMethod(call);
    PropertyMap properties;
    reply >> properties;
    return properties;
}

TrackMetadata track_metadata(const PropertyMap& metadata) {
    return TrackMetadata{
        .title = text_at(metadata, "xesam:title"),
        .artist = artist_at(metadata),
        .album = text_at(metadata, "xesam:album"),
        .art_url = text_at(metadata, "mpris:artUrl"),
        .track_id = track_id_at(metadata),
        .length_us = length_at(metadata),
    };
}

std::optional<std::string> text_of(const sdbus::Variant& value) { return value_of<std::string>(value); }

}  // namespace olvex::media::mpris
