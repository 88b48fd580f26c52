#pragma once

// Which media player counts as current when several are open. Players are
// told apart by a key of the caller's choosing; activity is measured by a
// counter that the caller advances on every event, so "more recent" is simply
// "larger".

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace olvex::media {

struct PlayerActivity {
    std::string key;
    bool playing = false;
    // When the player last went from not playing to playing; 0 if it never did.
    std::uint64_t started_playing = 0;
    // When the player last appeared or reported anything.
    std::uint64_t last_active = 0;
};

// The current player, given the players that exist and the one that was
// current before:
// - while any player plays, the one that most recently started playing;
// - while none plays, the previous current player as long as it exists;
// - otherwise the most recently active player, or none when there is none.
// Ties go to the player listed first.
[[nodiscard]] std::optional<std::string> choose_current_player(std::span<const PlayerActivity> players,
                                                               const std::optional<std::string>& previous);

}  // namespace olvex::media
