#pragma once

// The MPRIS manager's account of the players on the bus, apart from the bus:
// which players exist, which of them count as sessions and which is current.
// It neither locks nor talks to the bus; the manager calls it under its own
// lock and does the talking. `Session` is whatever the manager hands out as a
// player's session; the table only stores and returns it.

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "media/current_player.hpp"

namespace olvex::media::mpris {

// Which of the manager's answers one change to the table altered, so that
// the manager raises the matching events.
struct ChangedAnswers {
    bool sessions_changed = false;
    bool current_changed = false;
};

// Players are keyed by their unique bus name (the owner of their well-known
// names). A player is known from its first name on, so that its signals
// count while it is asked who it is, but it is no session until then.
template <typename Session>
class PlayerTable {
public:
    using SessionPtr = std::shared_ptr<Session>;

    // What a signal from a player did; `session` is null for a sender that is
    // no session (yet).
    struct Activity {
        SessionPtr session;
        ChangedAnswers changes;
    };

    // `gone` is the session of a player that left, for the caller to release
    // once it no longer holds its lock.
    struct Removal {
        SessionPtr gone;
        ChangedAnswers changes;
    };

    // Whether `owner` is new and needs to be asked who it is.
    bool add_name(const std::string& name, const std::string& owner) {
        if (auto* known = find(owner)) {
            auto& names = known->bus_names;
            if (std::ranges::find(names, name) == names.end()) names.push_back(name);
            return false;
        }
        Player player;
        player.bus_names.push_back(name);
        player.activity.key = owner;
        players_.push_back(std::move(player));
        return true;
    }

    // A player leaves with the last of its names.
    Removal remove_name(const std::string& name, const std::string& owner) {
        const auto player = std::ranges::find(players_, owner, &Player::key);
        if (player == players_.end()) return {};
        std::erase(player->bus_names, name);
        if (!player->bus_names.empty()) return {};
        Removal removal{std::move(player->session), {}};
        players_.erase(player);
        removal.changes = recompute_sessions_and_current();
        return removal;
    }

    // The player at `owner` did something, and, if `playing` is known,
    // signalled whether it now plays.
    Activity note_activity(const std::string& owner, std::optional<bool> playing) {
        auto* player = find(owner);
        if (!player) return {};
        player->activity.last_active = ++clock_;
        if (playing) {
            set_playing(player->activity, *playing, clock_);
            ++player->status_signals;
        }
        return {player->session, recompute_sessions_and_current()};
    }

    // A stamp to take before reading a player's status off the bus and to
    // hand back with what was read: a read that a status signal overtook
    // meanwhile is older than the signal and is dropped. Nothing when the
    // player is gone.
    std::optional<std::uint64_t> status_stamp(const std::string& owner) const {
        const auto* player = find(owner);
        return player ? std::optional(player->status_signals) : std::nullopt;
    }

    // The player has said who it is and becomes a session. `session` is left
    // to the caller, for release outside its lock, when the player went away
    // meanwhile.
    ChangedAnswers complete_discovery(const std::string& owner, std::uint32_t pid, SessionPtr& session,
                                      std::optional<bool> playing, std::uint64_t stamp) {
        auto* player = find(owner);
        if (!player) return {};
        player->pid = pid;
        player->session = std::move(session);
        player->activity.last_active = ++clock_;
        if (playing && player->status_signals == stamp) set_playing(player->activity, *playing, clock_);
        return recompute_sessions_and_current();
    }

    // A status read for a player that signalled a change without saying to what.
    ChangedAnswers apply_status_read(const std::string& owner, bool playing, std::uint64_t stamp) {
        auto* player = find(owner);
        if (!player || player->status_signals != stamp) return {};
        set_playing(player->activity, playing, ++clock_);
        return recompute_sessions_and_current();
    }

    // Empties the table; returns the sessions for the caller to release once
    // it no longer holds its lock.
    std::vector<SessionPtr> forget_all() {
        std::vector<SessionPtr> gone;
        for (auto& player : players_) gone.push_back(std::move(player.session));
        players_.clear();
        (void)recompute_sessions_and_current();
        return gone;
    }

    [[nodiscard]] SessionPtr current_session() const {
        if (!current_) return nullptr;
        const auto* player = find(*current_);
        return player ? player->session : nullptr;
    }

    // In the order the players appeared.
    [[nodiscard]] std::vector<SessionPtr> sessions() const {
        std::vector<SessionPtr> listed;
        for (const auto& key : visible_) {
            if (const auto* player = find(key)) listed.push_back(player->session);
        }
        return listed;
    }

private:
    struct Player {
        std::vector<std::string> bus_names;
        std::uint32_t pid = 0;  // 0: unknown, so never taken for another player
        SessionPtr session;     // null until the player has said who it is
        PlayerActivity activity;
        // Counts the PlaybackStatus values the player signalled.
        std::uint64_t status_signals = 0;

        [[nodiscard]] const std::string& key() const { return activity.key; }
    };

    static void set_playing(PlayerActivity& activity, bool playing, std::uint64_t now) {
        if (playing && !activity.playing) activity.started_playing = now;
        activity.playing = playing;
    }

    template <typename Players>
    static auto* find_in(Players& players, const std::string& owner) {
        const auto found = std::ranges::find(players, owner, &Player::key);
        return found == players.end() ? nullptr : &*found;
    }
    Player* find(const std::string& owner) { return find_in(players_, owner); }
    const Player* find(const std::string& owner) const { return find_in(players_, owner); }

    // Two connections of one process (a player with two MPRIS front ends)
    // count once: the one that came first.
    std::vector<PlayerActivity> visible_players() const {
        std::vector<PlayerActivity> visible;
        std::vector<std::uint32_t> pids;
        for (const auto& player : players_) {
            if (!player.session) continue;
            if (player.pid != 0 && std::ranges::find(pids, player.pid) != pids.end()) continue;
            if (player.pid != 0) pids.push_back(player.pid);
            visible.push_back(player.activity);
        }
        return visible;
    }

    ChangedAnswers recompute_sessions_and_current() {
        const auto visible = visible_players();
        std::vector<std::string> keys;
        for (const auto& player : visible) keys.push_back(player.key);
        auto current = choose_current_player(visible, current_);
        const ChangedAnswers changes{keys != visible_, current != current_};
        visible_ = std::move(keys);
        current_ = std::move(current);
        return changes;
    }

    std::vector<Player> players_;       // in the order they appeared
    std::vector<std::string> visible_;  // keys of the players that count
    std::optional<std::string> current_;
    std::uint64_t clock_ = 0;
};

}  // namespace olvex::media::mpris
