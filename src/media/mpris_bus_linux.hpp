#pragma once

// The D-Bus side of the MPRIS backend: names, property reads and the
// conversion of D-Bus errors. Functions here throw sdbus::Error; callers
// turn it into an Error with `bus_error`.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include <sdbus-c++/sdbus-c++.h>

#include "base/error.hpp"

namespace olvex::media::mpris {

inline const std::string OBJECT_PATH = "/org/mpris/MediaPlayer2";
inline const std::string ROOT_INTERFACE = "org.mpris.MediaPlayer2";
inline const std::string PLAYER_INTERFACE = "org.mpris.MediaPlayer2.Player";
inline const std::string PROPERTIES_INTERFACE = "org.freedesktop.DBus.Properties";

using PropertyMap = std::map<std::string, sdbus::Variant>;

// The part of a track's Metadata that the port uses; absent keys and values
// of an unexpected type stay empty.
struct TrackMetadata {
    std::string title;
    std::string artist;
    std::string album;
    std::string art_url;
    std::optional<std::string> track_id;
    std::optional<std::int64_t> length_us;
};

// "<message> (<error name>)", or the name alone when there is no message.
[[nodiscard]] Error bus_error(const sdbus::Error& error);

// Whether `error` says the call never reached a working player (gone, not
// answering, connection lost) rather than that the player turned it down.
[[nodiscard]] bool is_delivery_failure(const sdbus::Error& error);

// `timeout_us` 0 waits as long as the connection's default.
[[nodiscard]] sdbus::Variant get_property(sdbus::IProxy& proxy, const std::string& interface,
                                          const std::string& name, std::uint64_t timeout_us = 0);
[[nodiscard]] PropertyMap get_all_properties(sdbus::IProxy& proxy, const std::string& interface);

[[nodiscard]] TrackMetadata track_metadata(const PropertyMap& metadata);

// The text of a string variant, or nothing for another type.
[[nodiscard]] std::optional<std::string> text_of(const sdbus::Variant& value);

}  // namespace olvex::media::mpris
