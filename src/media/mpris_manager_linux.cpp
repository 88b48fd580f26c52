#include "media/mpris_manager_linux.hpp"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "base/channel.hpp"
#include "base/failure.hpp"
#include "base/thread.hpp"
#include "media/current_player.hpp"
#include "media/mpris_bus_linux.hpp"
#include "media/mpris_events_linux.hpp"
#include "media/mpris_session_linux.hpp"
#include "media/mpris_values_linux.hpp"

namespace olvex::media::mpris {

namespace {

// A player that does not answer within this holds up the bus thread (while
// players appear) or the caller (for readings and commands) no longer.
constexpr std::uint64_t CALL_TIMEOUT_US = 5'000'000;

const std::string BUS_DAEMON = "org.freedesktop.DBus";
const std::string BUS_DAEMON_PATH = "/org/freedesktop/DBus";

const std::string NAME_OWNER_RULE =
    "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
    "member='NameOwnerChanged',arg0namespace='org.mpris.MediaPlayer2'";
// One rule for every player. Each signal is matched to its player by the
// sender's unique name, which is what keeps one player's signals from being
// taken for another's: they all use the same object path.
const std::string PROPERTIES_RULE =
    "type='signal',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
    "path='/org/mpris/MediaPlayer2'";
const std::string SEEKED_RULE =
    "type='signal',interface='org.mpris.MediaPlayer2.Player',member='Seeked',path='/org/mpris/MediaPlayer2'";

using ManagerHandlers = HandlerRegistry<ManagerEvent, ManagerEventHandler>;

struct PlayerRecord {
    std::vector<std::string> bus_names;
    std::uint32_t pid = 0;  // 0: unknown, so never taken for another player
    std::shared_ptr<MprisSession> session;
    PlayerActivity activity;  // keyed by the unique name

    [[nodiscard]] const std::string& key() const { return activity.key; }
};

// What one change did to the manager's answers.
struct Outcome {
    bool sessions_changed = false;
    bool current_changed = false;
};

// Manager events are raised on a thread of their own: the watcher's handlers
// call back into the manager and the sessions and take the watcher's lock,
// which the bus thread must never wait for while it holds sdbus-c++'s lock.
void start_dispatcher(Receiver<ManagerEvent> events, std::shared_ptr<ManagerHandlers> handlers) {
    spawn_thread([events = std::move(events), handlers = std::move(handlers)]() mutable {
        while (const auto event = events.recv()) {
            for (const auto& handler : handlers->handlers_for(*event)) run_guarded([&] { handler(); });
        }
    });
}

// Bus thread handlers: a malformed signal or a player that vanished mid-call
// is ignored, since the next signal puts things right; anything else is a
// failure to record, but must not end the bus thread.
template <typename Body>
void on_bus_thread(Body&& body) {
    run_guarded([&] {
        try {
            body();
        } catch (const sdbus::Error&) {
        }
    });
}

std::string read_text_property(sdbus::IProxy& player, const std::string& interface, const std::string& name) {
    try {
        return text_of(get_property(player, interface, name)).value_or("");
    } catch (const sdbus::Error&) {
        return "";
    }
}

class MprisManager final : public MediaManager {
public:
    explicit MprisManager(std::shared_ptr<sdbus::IConnection> connection) : connection_(std::move(connection)) {
        auto [sender, receiver] = channel<ManagerEvent>();
        events_.emplace(std::move(sender));
        start_dispatcher(std::move(receiver), handlers_);
    }

    MprisManager(const MprisManager&) = delete;
    MprisManager& operator=(const MprisManager&) = delete;

    // The bus thread uses this object, so it ends before anything else goes.
    ~MprisManager() override {
        try {
            connection_->leaveEventLoop();
        } catch (const sdbus::Error&) {
        }
        matches_.clear();
    }

    // Throws sdbus::Error when the bus does not answer.
    void begin() {
        connection_->setMethodCallTimeout(CALL_TIMEOUT_US);
        bus_daemon_ = sdbus::createProxy(*connection_, BUS_DAEMON, BUS_DAEMON_PATH);
        // Matches first, so that no player can slip in between listing and
        // following; a name seen twice is taken once.
        add_match(NAME_OWNER_RULE, &MprisManager::on_name_owner_changed);
        add_match(PROPERTIES_RULE, &MprisManager::on_properties_changed);
        add_match(SEEKED_RULE, &MprisManager::on_seeked);
        for (const auto& name : list_names()) {
            if (!is_player_bus_name(name)) continue;
            if (const auto owner = name_owner(name)) add_player_name(name, *owner);
        }
        connection_->enterEventLoopAsync();
    }

    PlatformResult<SessionRef> get_current_session() override {
        std::lock_guard lock(mutex_);
        if (!current_) return nullptr;
        const auto* player = find_player(*current_);
        return player ? SessionRef(player->session) : nullptr;
    }

    PlatformResult<std::vector<SessionRef>> get_sessions() override {
        std::lock_guard lock(mutex_);
        std::vector<SessionRef> sessions;
        for (const auto& key : visible_) {
            if (const auto* player = find_player(key)) sessions.push_back(player->session);
        }
        return sessions;
    }

    PlatformResult<EventToken> add_event_handler(ManagerEvent event, ManagerEventHandler handler) override {
        return handlers_->add(event, std::move(handler));
    }

    PlatformResult<void> remove_event_handler(ManagerEvent event, EventToken token) override {
        handlers_->remove(event, token);
        return {};
    }

private:
    void add_match(const std::string& rule, void (MprisManager::*handler)(sdbus::Message&)) {
        matches_.push_back(connection_->addMatch(
            rule, [this, handler](sdbus::Message& message) { on_bus_thread([&] { (this->*handler)(message); }); }));
    }

    std::vector<std::string> list_names() {
        auto call = bus_daemon_->createMethodCall(BUS_DAEMON, "ListNames");
        auto reply = bus_daemon_->callMethod(call);
        std::vector<std::string> names;
        reply >> names;
        return names;
    }

    std::optional<std::string> name_owner(const std::string& name) {
        try {
            auto call = bus_daemon_->createMethodCall(BUS_DAEMON, "GetNameOwner");
            call << name;
            auto reply = bus_daemon_->callMethod(call);
            std::string owner;
            reply >> owner;
            return owner;
        } catch (const sdbus::Error&) {
            return std::nullopt;  // gone again already
        }
    }

    std::uint32_t process_id(const std::string& owner) {
        try {
            auto call = bus_daemon_->createMethodCall(BUS_DAEMON, "GetConnectionUnixProcessID");
            call << owner;
            auto reply = bus_daemon_->callMethod(call);
            std::uint32_t pid = 0;
            reply >> pid;
            return pid;
        } catch (const sdbus::Error&) {
            return 0;
        }
    }

    void on_name_owner_changed(sdbus::Message& message) {
        std::string name;
        std::string old_owner;
        std::string new_owner;
        message >> name >> old_owner >> new_owner;
        if (!is_player_bus_name(name)) return;
        if (!old_owner.empty()) remove_player_name(name, old_owner);
        if (!new_owner.empty()) add_player_name(name, new_owner);
    }

    void on_properties_changed(sdbus::Message& message) {
        std::string interface;
        PropertyMap changed;
        std::vector<std::string> invalidated;
        message >> interface >> changed >> invalidated;
        if (interface != PLAYER_INTERFACE) return;
        const auto touched = [&](const std::string& property) {
            return changed.contains(property) || std::ranges::find(invalidated, property) != invalidated.end();
        };
        std::optional<bool> playing;
        if (const auto status = changed.find("PlaybackStatus"); status != changed.end()) {
            playing = text_of(status->second) == "Playing";
        }
        const auto session = note_activity(message.getSender(), playing);
        if (!session) return;
        if (touched("Metadata")) session->raise(SessionEvent::media_properties_changed);
        if (touched("PlaybackStatus") || touched("Rate")) session->raise(SessionEvent::playback_info_changed);
    }

    void on_seeked(sdbus::Message& message) {
        if (const auto session = note_activity(message.getSender(), std::nullopt)) {
            session->raise(SessionEvent::timeline_properties_changed);
        }
    }

    // Records that the player at `owner` did something (and, if known, whether
    // it now plays); its session, or null for a sender that is no player.
    std::shared_ptr<MprisSession> note_activity(const std::string& owner, std::optional<bool> playing) {
        std::shared_ptr<MprisSession> session;
        Outcome outcome;
        {
            std::lock_guard lock(mutex_);
            auto* player = find_player(owner);
            if (!player) return nullptr;
            PlayerActivity& activity = player->activity;
            activity.last_active = ++clock_;
            if (playing && *playing && !activity.playing) activity.started_playing = clock_;
            if (playing) activity.playing = *playing;
            session = player->session;
            outcome = settle();
        }
        announce(outcome);
        return session;
    }

    void add_player_name(const std::string& name, const std::string& owner) {
        {
            std::lock_guard lock(mutex_);
            if (auto* known = find_player(owner)) {
                auto& names = known->bus_names;
                if (std::ranges::find(names, name) == names.end()) names.push_back(name);
                return;
            }
        }
        // Asked without the lock: readers must not wait for a slow player.
        PlayerRecord player = discover_player(name, owner);
        Outcome outcome;
        {
            std::lock_guard lock(mutex_);
            player.activity.last_active = ++clock_;
            if (player.activity.playing) player.activity.started_playing = clock_;
            players_.push_back(std::move(player));
            outcome = settle();
        }
        announce(outcome);
    }

    void remove_player_name(const std::string& name, const std::string& owner) {
        std::shared_ptr<MprisSession> gone;  // released after the lock
        Outcome outcome;
        {
            std::lock_guard lock(mutex_);
            const auto player = std::ranges::find(players_, owner, &PlayerRecord::key);
            if (player == players_.end()) return;
            std::erase(player->bus_names, name);
            if (!player->bus_names.empty()) return;
            gone = std::move(player->session);
            players_.erase(player);
            outcome = settle();
        }
        announce(outcome);
    }

    PlayerRecord discover_player(const std::string& name, const std::string& owner) {
        auto proxy = sdbus::createProxy(*connection_, owner, OBJECT_PATH);
        PlayerRecord player;
        player.bus_names.push_back(name);
        player.pid = process_id(owner);
        player.activity.key = owner;
        player.activity.playing = read_text_property(*proxy, PLAYER_INTERFACE, "PlaybackStatus") == "Playing";
        const std::string desktop_entry = read_text_property(*proxy, ROOT_INTERFACE, "DesktopEntry");
        player.session =
            std::make_shared<MprisSession>(connection_, std::move(proxy), application_id(name, desktop_entry));
        return player;
    }

    PlayerRecord* find_player(const std::string& owner) {
        const auto found = std::ranges::find(players_, owner, &PlayerRecord::key);
        return found == players_.end() ? nullptr : &*found;
    }

    // Two connections of one process (a player with two MPRIS front ends)
    // count once: the one that came first.
    std::vector<PlayerActivity> visible_players() const {
        std::vector<PlayerActivity> visible;
        std::vector<std::uint32_t> pids;
        for (const auto& player : players_) {
            if (player.pid != 0 && std::ranges::find(pids, player.pid) != pids.end()) continue;
            if (player.pid != 0) pids.push_back(player.pid);
            visible.push_back(player.activity);
        }
        return visible;
    }

    // Recomputes the session list and the current player; under the lock.
    Outcome settle() {
        const auto visible = visible_players();
        std::vector<std::string> keys;
        for (const auto& player : visible) keys.push_back(player.key);
        auto current = choose_current_player(visible, current_);
        const Outcome outcome{keys != visible_, current != current_};
        visible_ = std::move(keys);
        current_ = std::move(current);
        return outcome;
    }

    void announce(const Outcome& outcome) {
        if (outcome.sessions_changed) events_->send(ManagerEvent::sessions_changed);
        if (outcome.current_changed) events_->send(ManagerEvent::current_session_changed);
    }

    // Declared first: sessions and proxies below refer to it.
    std::shared_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IProxy> bus_daemon_;
    std::vector<sdbus::Slot> matches_;
    std::shared_ptr<ManagerHandlers> handlers_ = std::make_shared<ManagerHandlers>();
    std::optional<Sender<ManagerEvent>> events_;  // set once, in the constructor

    mutable std::mutex mutex_;
    std::vector<PlayerRecord> players_;  // in the order they appeared
    std::vector<std::string> visible_;   // unique names of the players that count
    std::optional<std::string> current_;
    std::uint64_t clock_ = 0;
};

}  // namespace

PlatformResult<std::shared_ptr<MediaManager>> start_mpris_manager() {
    try {
        std::shared_ptr<sdbus::IConnection> connection = sdbus::createSessionBusConnection();
        auto manager = std::make_shared<MprisManager>(std::move(connection));
        manager->begin();
        return manager;
    } catch (const sdbus::Error& error) {
        return std::unexpected(Error{"could not reach the D-Bus session bus: " + bus_error(error).message});
    }
}

}  // namespace olvex::media::mpris
