#include "media/current_player.hpp"

#include <algorithm>

namespace olvex::media {

namespace {

const PlayerActivity* latest_started(std::span<const PlayerActivity> players) {
    const PlayerActivity* best = nullptr;
    for (const auto& player : players) {
        if (player.playing && (!best || player.started_playing > best->started_playing)) best = &player;
    }
    return best;
}

const PlayerActivity* latest_active(std::span<const PlayerActivity> players) {
    const PlayerActivity* best = nullptr;
    for (const auto& player : players) {
        if (!best || player.last_active > best->last_active) best = &player;
    }
    return best;
}

bool exists(std::span<const PlayerActivity> players, const std::string& key) {
    return std::ranges::any_of(players, [&](const PlayerActivity& player) { return player.key == key; });
}

}  // namespace

std::optional<std::string> choose_current_player(std::span<const PlayerActivity> players,
                                                 const std::optional<std::string>& previous) {
    if (const auto* playing = latest_started(players)) return playing->key;
    if (previous && exists(players, *previous)) return previous;
    if (const auto* active = latest_active(players)) return active->key;
    return std::nullopt;
}

}  // namespace olvex::media
