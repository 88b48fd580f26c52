#pragma once

// How MPRIS values become the media platform port's values. Pure functions,
// free of D-Bus, so the rules can be tested without a bus.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "media/media_platform.hpp"

namespace olvex::media::mpris {

inline constexpr std::string_view PLAYER_NAME_PREFIX = "org.mpris.MediaPlayer2.";

// Whether `bus_name` names a player of its own. playerctld only forwards the
// calls and re-emits the signals of another player, so it is left out.
[[nodiscard]] bool is_player_bus_name(std::string_view bus_name);

// The application identity of a player: its DesktopEntry when it publishes
// one, else its bus name without the MPRIS prefix and without the
// ".instance..." part that further instances add.
[[nodiscard]] std::string application_id(std::string_view bus_name, std::string_view desktop_entry);

// The port's status for a PlaybackStatus text: Playing 4, Paused 5,
// Stopped 3; anything else 0 (Closed).
[[nodiscard]] std::int32_t platform_status(std::string_view playback_status);

// Artists as one text, joined with ", ".
[[nodiscard]] std::string joined_artists(const std::vector<std::string>& artists);

// MPRIS counts microseconds, the port 100-nanosecond ticks; both saturate.
[[nodiscard]] TimeSpanTicks ticks_from_microseconds(std::int64_t microseconds);
// Rounded down.
[[nodiscard]] std::int64_t microseconds_from_ticks(TimeSpanTicks ticks);

// The local path of a "file:" URL (percent escapes decoded, host empty or
// "localhost"); nothing for any other URL or a malformed one.
[[nodiscard]] std::optional<std::filesystem::path> local_file_path(std::string_view url);

}  // namespace olvex::media::mpris
