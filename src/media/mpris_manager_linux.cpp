#include "media/mpris_manager_linux.hpp"

#include <algorithm>
#include <cstdint>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <sdbus-c++/sdbus-c++.h>

#include "base/failure.hpp"
#include "base/job_thread.hpp"
#include "base/listener_registry.hpp"
#include "base/thread.hpp"
#include "log/log.hpp"
#include "media/mpris_bus_linux.hpp"
#include "media/mpris_player_table_linux.hpp"
#include "media/mpris_session_linux.hpp"
#include "media/mpris_values_linux.hpp"

namespace olvex::media::mpris {

namespace {

// A player that does not answer within this holds up a reading or a command
// no longer. It is the connection's default, so every call without a limit
// of its own (readings, commands, the Metadata read behind a thumbnail) has it.
constexpr std::uint64_t CALL_TIMEOUT_US = 5'000'000;
// Asking a newcomer who it is waits this long at most per question: until
// then the newcomer is no session.
constexpr std::uint64_t DISCOVERY_TIMEOUT_US = 1'000'000;

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

using ManagerHandlers = ListenerRegistry<ManagerEventHandler, ManagerEvent>;

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

// What a player's PropertiesChanged signal says, as far as the manager cares.
// A property counts as touched whether the signal carries its new value or
// only says that it changed.
struct PlayerChange {
    std::string owner;            // the player's unique name
    std::optional<bool> playing;  // when the signal carries PlaybackStatus
    bool status_unsaid = false;   // PlaybackStatus changed to a value the signal leaves out
    bool metadata_touched = false;
    bool playback_touched = false;  // PlaybackStatus or Rate
};

// Nothing for a signal about another interface than the player's.
std::optional<PlayerChange> read_player_change(sdbus::Message& message) {
    std::string interface;
    PropertyMap changed;
    std::vector<std::string> invalidated;
    message >> interface >> changed >> invalidated;
    if (interface != PLAYER_INTERFACE) return std::nullopt;
    const auto listed = [&](const std::string& property) {
        return std::ranges::find(invalidated, property) != invalidated.end();
    };
    const auto touched = [&](const std::string& property) { return changed.contains(property) || listed(property); };
    PlayerChange change;
    change.owner = message.getSender();
    if (const auto status = changed.find("PlaybackStatus"); status != changed.end()) {
        change.playing = text_of(status->second) == "Playing";
    }
    change.status_unsaid = !change.playing && listed("PlaybackStatus");
    change.metadata_touched = touched("Metadata");
    change.playback_touched = touched("PlaybackStatus") || touched("Rate");
    return change;
}

std::string read_text_property(sdbus::IProxy& player, const std::string& interface, const std::string& name) {
    try {
        return text_of(get_property(player, interface, name, DISCOVERY_TIMEOUT_US)).value_or("");
    } catch (const sdbus::Error&) {
        return "";
    }
}

// Whether the player plays; nothing if it does not say.
std::optional<bool> read_playing(sdbus::IProxy& player) {
    try {
        const auto status = text_of(get_property(player, PLAYER_INTERFACE, "PlaybackStatus", DISCOVERY_TIMEOUT_US));
        if (!status) return std::nullopt;
        return *status == "Playing";
    } catch (const sdbus::Error&) {
        return std::nullopt;
    }
}

// Runs each job on a thread of its own, so that a player that never answers
// holds up no other: the jobs ask players about themselves, and each question
// waits out its time limit when nobody answers. Once stopped, no job starts.
class QuestionThreads {
public:
    QuestionThreads() = default;
    QuestionThreads(const QuestionThreads&) = delete;
    QuestionThreads& operator=(const QuestionThreads&) = delete;

    void run(std::move_only_function<void()> job) {
        {
            std::lock_guard lock(state_->mutex);
            if (state_->stopped) return;
            ++state_->running;
        }
        // The count is shared with the thread, which may finish after its owner is gone.
        const auto finished = [state = state_] {
            std::lock_guard lock(state->mutex);
            --state->running;
            state->idle.notify_all();
        };
        try {
            spawn_thread([job = std::move(job), finished]() mutable {
                const Finally<decltype(finished)> done{finished};
                job();
            });
        } catch (...) {
            finished();
            throw;
        }
    }

    // Waits until no job runs.
    void wait_idle() {
        std::unique_lock lock(state_->mutex);
        state_->idle.wait(lock, [this] { return state_->running == 0; });
    }

    // Starts no more jobs and waits for the running ones.
    void stop() {
        {
            std::lock_guard lock(state_->mutex);
            state_->stopped = true;
        }
        wait_idle();
    }

private:
    template <typename Action>
    struct Finally {
        Action action;
        ~Finally() { action(); }
    };

    struct State {
        std::mutex mutex;
        std::condition_variable idle;
        std::size_t running = 0;
        bool stopped = false;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Threads: the bus thread runs the signal handlers and nothing that waits for
// a player; question threads ask players about themselves; the dispatcher
// raises manager events, since the watcher's handlers call back into the
// manager and the sessions and take the watcher's lock, which the bus thread
// must never wait for while it holds sdbus-c++'s lock.
class MprisManager final : public MediaManager {
    using Players = PlayerTable<MprisSession>;

public:
    explicit MprisManager(std::shared_ptr<sdbus::IConnection> connection) : connection_(std::move(connection)) {}

    MprisManager(const MprisManager&) = delete;
    MprisManager& operator=(const MprisManager&) = delete;

    // The questions are answered through the bus thread, so they end first;
    // the bus thread uses everything else.
    ~MprisManager() override {
        questions_.stop();
        loop_shutdown_->ask_to_stop();
        try {
            connection_->leaveEventLoop();
        } catch (const sdbus::Error&) {
        }
        if (loop_started_) loop_shutdown_->wait_unless_on_it();
        matches_.clear();
        dispatcher_.stop();
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
        std::vector<std::pair<std::string, std::string>> players;
        for (const auto& name : list_names()) {
            if (!is_player_bus_name(name)) continue;
            if (const auto owner = name_owner(name)) players.emplace_back(name, *owner);
        }
        start_event_loop();
        for (const auto& [name, owner] : players) add_player_name(name, owner);
        // The players open now are sessions by the time the caller first asks.
        wait_for_discoveries();
    }

    PlatformResult<SessionRef> get_current_session() override {
        std::lock_guard lock(mutex_);
        return SessionRef(players_.current_session());
    }

    PlatformResult<std::vector<SessionRef>> get_sessions() override {
        std::lock_guard lock(mutex_);
        const auto sessions = players_.sessions();
        return std::vector<SessionRef>(sessions.begin(), sessions.end());
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

    // Our own thread rather than sdbus-c++'s: when the bus goes away the loop
    // throws, and on the library's thread nothing would catch it.
    void start_event_loop() {
        spawn_thread([this, connection = connection_, shutdown = loop_shutdown_] {
            shutdown->started();
            try {
                connection->enterEventLoop();
            } catch (const sdbus::Error& error) {
                if (!shutdown->stopping()) forget_all_players(error);
            }
            shutdown->finished();
        });
        loop_started_ = true;
    }

    void wait_for_discoveries() { questions_.wait_idle(); }

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
        if (const auto change = read_player_change(message)) apply_player_change(*change);
    }

    void apply_player_change(const PlayerChange& change) {
        const auto session = note_activity(change.owner, change.playing);
        if (change.status_unsaid) {
            questions_.run([this, owner = change.owner] { refresh_playing(owner); });
        }
        if (!session) return;
        if (change.metadata_touched) session->raise(SessionEvent::media_properties_changed);
        if (change.playback_touched) session->raise(SessionEvent::playback_info_changed);
    }

    void on_seeked(sdbus::Message& message) {
        if (const auto session = note_activity(message.getSender(), std::nullopt)) {
            session->raise(SessionEvent::timeline_properties_changed);
        }
    }

    // Records that the player at `owner` did something (and, if known, whether
    // it now plays); its session, or null for a sender that is no session.
    std::shared_ptr<MprisSession> note_activity(const std::string& owner, std::optional<bool> playing) {
        Players::Activity activity;
        {
            std::lock_guard lock(mutex_);
            activity = players_.note_activity(owner, playing);
        }
        announce(activity.changes);
        return activity.session;
    }

    void add_player_name(const std::string& name, const std::string& owner) {
        bool is_new = false;
        {
            std::lock_guard lock(mutex_);
            is_new = players_.add_name(name, owner);
        }
        if (is_new) questions_.run([this, name, owner] { discover_player(name, owner); });
    }

    void remove_player_name(const std::string& name, const std::string& owner) {
        Players::Removal removal;  // its session released after the lock
        {
            std::lock_guard lock(mutex_);
            removal = players_.remove_name(name, owner);
        }
        announce(removal.changes);
    }

    // On a question thread.
    void discover_player(const std::string& name, const std::string& owner) {
        const auto stamp = status_stamp(owner);
        if (!stamp) return;  // gone already
        const std::uint32_t pid = process_id(owner);
        auto proxy = sdbus::createProxy(*connection_, owner, OBJECT_PATH);
        const auto playing = read_playing(*proxy);
        const std::string desktop_entry = read_text_property(*proxy, ROOT_INTERFACE, "DesktopEntry");
        // Released after the lock if the player went away meanwhile.
        auto session = std::make_shared<MprisSession>(connection_, std::move(proxy), application_id(name, desktop_entry),
                                                      pid != 0 ? std::optional(pid) : std::nullopt);
        ChangedAnswers changes;
        {
            std::lock_guard lock(mutex_);
            changes = players_.complete_discovery(owner, pid, session, playing, *stamp);
        }
        announce(changes);
    }

    // On a question thread: for a player that said its status changed without
    // saying to what.
    void refresh_playing(const std::string& owner) {
        const auto stamp = status_stamp(owner);
        if (!stamp) return;
        const auto proxy = sdbus::createProxy(*connection_, owner, OBJECT_PATH);
        const auto playing = read_playing(*proxy);
        if (!playing) return;
        ChangedAnswers changes;
        {
            std::lock_guard lock(mutex_);
            changes = players_.apply_status_read(owner, *playing, *stamp);
        }
        announce(changes);
    }

    std::optional<std::uint64_t> status_stamp(const std::string& owner) {
        std::lock_guard lock(mutex_);
        return players_.status_stamp(owner);
    }

    // On the bus thread, once the bus is gone: no player can be reached any
    // more, so none is left.
    void forget_all_players(const sdbus::Error& error) {
        log_message(fmt::format("smtc: lost the D-Bus session bus: {}", bus_error(error).message));
        std::vector<std::shared_ptr<MprisSession>> gone;  // released after the lock
        {
            std::lock_guard lock(mutex_);
            gone = players_.forget_all();
        }
        announce(ChangedAnswers{true, true});
    }

    void announce(const ChangedAnswers& changes) {
        if (changes.sessions_changed) raise(ManagerEvent::sessions_changed);
        if (changes.current_changed) raise(ManagerEvent::current_session_changed);
    }

    void raise(ManagerEvent event) {
        dispatcher_.post([handlers = handlers_, event] {
            for (const auto& handler : handlers->listeners_for(event)) run_guarded([&] { handler(); });
        });
    }

    // Declared first: sessions and proxies below refer to it.
    std::shared_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IProxy> bus_daemon_;
    std::vector<sdbus::Slot> matches_;
    std::shared_ptr<ManagerHandlers> handlers_ = std::make_shared<ManagerHandlers>();
    JobThread dispatcher_;
    QuestionThreads questions_;
    std::shared_ptr<ThreadShutdown> loop_shutdown_ = std::make_shared<ThreadShutdown>();
    bool loop_started_ = false;

    std::mutex mutex_;
    Players players_;
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
