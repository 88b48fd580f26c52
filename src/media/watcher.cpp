#include "media/watcher.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <iterator>
#include <mutex>
#include <utility>
#include <vector>

#include "base/channel.hpp"
#include "base/failure.hpp"
#include "base/thread.hpp"
#include "log/log.hpp"

namespace olvex::media {

namespace detail {

struct ChangeNotice {
    SessionRef session;
    SessionChange change = SessionChange::SessionAttached;
};

// The current session's registrations, in the order they are made.
using SessionTokens = std::array<std::optional<EventToken>, 3>;

struct WatcherState {
    SessionTokens registrations;
    SessionRef current;
};

struct SubscriberList {
    std::mutex mutex;
    std::vector<std::shared_ptr<Subscriber>> subscribers;
};

// What every copy of the handle and every manager event handler shares.
struct WatcherCore {
    WatcherCore(Sender<ChangeNotice> sender, std::shared_ptr<MediaManager> platform_manager)
        : notices(std::move(sender)), manager(std::move(platform_manager)) {}

    Sender<ChangeNotice> notices;
    std::shared_ptr<MediaManager> manager;
    std::atomic<bool> session_lock{false};
    std::mutex session_list_mutex;
    std::vector<SessionRef> session_list;
    std::mutex state_mutex;  // taken before SubscriberList::mutex, never after
    WatcherState state;
    std::shared_ptr<SubscriberList> subscribers = std::make_shared<SubscriberList>();
};

// The registrations, removed when the last handle goes: the manager's and
// then the current session's. The handlers hold the core (and through it the
// manager), so removing them here is also what lets the watcher be freed.
struct RegistrationRecord {
    std::shared_ptr<WatcherCore> core;
    std::shared_ptr<MediaManager> manager;
    std::vector<EventToken> sessions_changed;
    std::vector<EventToken> current_session_changed;

    RegistrationRecord() = default;
    RegistrationRecord(const RegistrationRecord&) = delete;
    RegistrationRecord& operator=(const RegistrationRecord&) = delete;
    ~RegistrationRecord();

private:
    void remove_all(ManagerEvent event, const std::vector<EventToken>& tokens) {
        for (const EventToken token : tokens) {
            run_guarded([&] { (void)manager->remove_event_handler(event, token); });
        }
    }
};

}  // namespace detail

namespace {

using detail::ChangeNotice;
using detail::SessionTokens;
using detail::SubscriberList;
using detail::WatcherCore;

constexpr EventToken FAILED_REGISTRATION = -1;
constexpr auto BURST_GATHERING_TIME = std::chrono::milliseconds(20);

struct SessionEventKind {
    SessionEvent event;
    SessionChange change;
};

constexpr std::array<SessionEventKind, 3> SESSION_EVENTS{{
    {SessionEvent::media_properties_changed, SessionChange::MediaPropertiesChanged},
    {SessionEvent::playback_info_changed, SessionChange::PlaybackInfoChanged},
    {SessionEvent::timeline_properties_changed, SessionChange::TimelinePropertiesChanged},
}};

// Runs on the platform's thread: only queues, so it never waits on our locks.
SessionEventHandler make_session_handler(Sender<ChangeNotice> notices, SessionChange change) {
    return [notices = std::move(notices), change](SessionRef session) {
        notices.send(ChangeNotice{std::move(session), change});
    };
}

void remove_session_handlers(MediaSession& session, const SessionTokens& tokens) {
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (tokens[i]) (void)session.remove_event_handler(SESSION_EVENTS[i].event, *tokens[i]);
    }
}

// Registers the three events; a failed registration stays absent. Should the
// platform throw part-way, the registrations already made are taken back so
// that the session is never left half registered.
SessionTokens register_session_handlers(MediaSession& session, const Sender<ChangeNotice>& notices) {
    SessionTokens tokens;
    const bool finished = run_guarded([&] {
        for (std::size_t i = 0; i < tokens.size(); ++i) {
            auto token = session.add_event_handler(SESSION_EVENTS[i].event,
                                                   make_session_handler(notices, SESSION_EVENTS[i].change));
            if (token) tokens[i] = *token;
        }
    });
    if (finished) return tokens;
    log_message("smtc: panicked while registering session change listeners, rolling back");
    run_guarded([&] { remove_session_handlers(session, tokens); });
    return {};
}

SessionRef current_platform_session(MediaManager& manager) {
    auto current = manager.get_current_session();
    return current ? std::move(*current) : nullptr;
}

// Moves the watcher to the session the platform names current (or to none)
// and queues `change` (SessionAttached, or LockReleased). The platform calls
// happen under the state lock, so the slot never shows a session whose
// registrations are half made.
void attach_current_session(WatcherCore& core, SessionChange change = SessionChange::SessionAttached) {
    SessionRef attached;
    {
        std::lock_guard lock(core.state_mutex);
        SessionRef old = core.state.current;
        const SessionTokens old_tokens = std::exchange(core.state.registrations, {});
        // Failed removals are ignored, even one the platform throws.
        if (old) run_guarded([&] { remove_session_handlers(*old, old_tokens); });
        old.reset();
        core.state.current = current_platform_session(*core.manager);
        if (core.state.current) {
            core.state.registrations = register_session_handlers(*core.state.current, core.notices);
        }
        attached = core.state.current;
    }
    core.notices.send(ChangeNotice{std::move(attached), change});
}

void on_current_session_changed(WatcherCore& core) {
    if (core.session_lock.load()) return;
    attach_current_session(core);
}

bool holds_session(const std::vector<SessionRef>& sessions, const SessionRef& wanted) {
    return std::ranges::any_of(sessions, [&](const SessionRef& session) {
        return session && (session == wanted || session->is_same_session(*wanted));
    });
}

// Whether the locked session has left the platform's list: its player quit.
bool locked_session_left(WatcherCore& core, const std::vector<SessionRef>& sessions) {
    if (!core.session_lock.load()) return false;
    std::lock_guard lock(core.state_mutex);
    return core.state.current && !holds_session(sessions, core.state.current);
}

// When the list runs empty the platform may name no new current session, so
// the watcher re-attaches itself to tell subscribers that nothing plays. A
// lock on a session that is gone is let go, as the device would do.
void on_sessions_changed(WatcherCore& core) {
    auto sessions = core.manager->get_sessions();
    std::vector<SessionRef> fresh = sessions ? std::move(*sessions) : std::vector<SessionRef>{};
    const bool empty = fresh.empty();
    // A list that could not be read says nothing of the locked session.
    const bool lock_lost = sessions && locked_session_left(core, fresh);
    {
        std::lock_guard lock(core.session_list_mutex);
        core.session_list.swap(fresh);
    }
    fresh.clear();  // the old references, released outside the lock
    if (lock_lost && core.session_lock.exchange(false)) {
        attach_current_session(core, SessionChange::LockReleased);
    } else if (empty && !core.session_lock.load()) {
        attach_current_session(core);
    }
}

// Once nobody watches, the current session keeps none of our handlers.
void detach_current_session(WatcherCore& core) {
    std::lock_guard lock(core.state_mutex);
    const SessionTokens tokens = std::exchange(core.state.registrations, {});
    if (core.state.current) run_guarded([&] { remove_session_handlers(*core.state.current, tokens); });
}

void deliver(const Subscriber& subscriber, std::optional<SessionSnapshot> snapshot, SessionChange change) {
    if (!run_guarded([&] { subscriber(std::move(snapshot), change); })) {
        log_message("smtc: subscriber panicked, event ignored");
    }
}

bool is_property_change(SessionChange change) {
    return change == SessionChange::MediaPropertiesChanged || change == SessionChange::PlaybackInfoChanged ||
           change == SessionChange::TimelinePropertiesChanged;
}

// Adds `notice` to `burst` unless the same change to the same session already
// waits there since the last attachment: the one reading covers both.
void add_to_burst(std::vector<ChangeNotice>& burst, ChangeNotice notice) {
    if (is_property_change(notice.change)) {
        for (auto waiting = burst.rbegin(); waiting != burst.rend() && is_property_change(waiting->change); ++waiting) {
            if (waiting->session == notice.session && waiting->change == notice.change) return;
        }
    }
    burst.push_back(std::move(notice));
}

// Changes come in bursts (a browser's pause is three signals, a broken or
// hostile player's may be a thousand a second) and each reading costs the
// player several calls: what comes within the gathering time after a notice
// is taken with it.
std::vector<ChangeNotice> take_burst(Receiver<ChangeNotice>& notices, ChangeNotice first) {
    std::vector<ChangeNotice> burst{std::move(first)};
    const auto gathered_at = std::chrono::steady_clock::now() + BURST_GATHERING_TIME;
    while (auto more = notices.recv_until(gathered_at)) add_to_burst(burst, std::move(*more));
    return burst;
}

// One burst of notices: each session read once, once the burst has been
// taken, and each subscriber handed its own copy for every notice.
void publish_burst(SubscriberList& list, const std::vector<ChangeNotice>& burst) {
    std::vector<std::shared_ptr<Subscriber>> subscribers;
    {
        std::lock_guard lock(list.mutex);
        subscribers = list.subscribers;
    }
    if (subscribers.empty()) return;
    std::vector<std::pair<SessionRef, std::optional<SessionSnapshot>>> readings;
    for (const auto& notice : burst) {
        auto reading = std::ranges::find(readings, notice.session, &decltype(readings)::value_type::first);
        if (reading == readings.end()) {
            readings.emplace_back(notice.session, read_session_information(notice.session));
            reading = std::prev(readings.end());
        }
        for (const auto& subscriber : subscribers) deliver(*subscriber, reading->second, notice.change);
    }
}

void start_media_worker(Receiver<ChangeNotice> notices, std::shared_ptr<SubscriberList> subscribers) {
    spawn_thread([notices = std::move(notices), subscribers = std::move(subscribers)]() mutable {
        while (auto notice = notices.recv()) publish_burst(*subscribers, take_burst(notices, std::move(*notice)));
    });
}

EventToken register_manager_handler(MediaManager& manager, ManagerEvent event, ManagerEventHandler handler) {
    return manager.add_event_handler(event, std::move(handler)).value_or(FAILED_REGISTRATION);
}

}  // namespace

detail::RegistrationRecord::~RegistrationRecord() {
    remove_all(ManagerEvent::sessions_changed, sessions_changed);
    remove_all(ManagerEvent::current_session_changed, current_session_changed);
    if (core) detach_current_session(*core);
}

MediaWatcherHandle::MediaWatcherHandle(std::shared_ptr<WatcherCore> core,
                                       std::shared_ptr<detail::RegistrationRecord> registrations)
    : core_(std::move(core)), registrations_(std::move(registrations)) {}

void MediaWatcherHandle::subscribe(Subscriber subscriber) const {
    auto shared = std::make_shared<Subscriber>(std::move(subscriber));
    SessionRef current;
    {
        std::lock_guard state_lock(core_->state_mutex);
        {
            std::lock_guard list_lock(core_->subscribers->mutex);
            core_->subscribers->subscribers.push_back(shared);
        }
        current = core_->state.current;
    }
    deliver(*shared, read_session_information(current), SessionChange::SessionAttached);
}

SessionRef MediaWatcherHandle::current_session() const {
    std::lock_guard lock(core_->state_mutex);
    return core_->state.current;
}

void MediaWatcherHandle::set_session_lock(bool locked) const {
    if (locked) {
        std::lock_guard lock(core_->state_mutex);
        if (core_->state.current) core_->session_lock.store(true);
        return;
    }
    if (core_->session_lock.exchange(false)) attach_current_session(*core_);
}

bool MediaWatcherHandle::is_session_locked() const { return core_->session_lock.load(); }

PlatformResult<MediaWatcherHandle> start_watcher(std::shared_ptr<MediaManager> manager) {
    auto sessions = manager->get_sessions();
    if (!sessions) return std::unexpected(std::move(sessions.error()));

    auto [sender, receiver] = channel<ChangeNotice>();
    auto core = std::make_shared<WatcherCore>(std::move(sender), manager);
    core->session_list = std::move(*sessions);
    start_media_worker(std::move(receiver), core->subscribers);

    auto registrations = std::make_shared<detail::RegistrationRecord>();
    registrations->core = core;
    registrations->manager = manager;
    registrations->sessions_changed.push_back(
        register_manager_handler(*manager, ManagerEvent::sessions_changed, [core] { on_sessions_changed(*core); }));
    registrations->current_session_changed.push_back(register_manager_handler(
        *manager, ManagerEvent::current_session_changed, [core] { on_current_session_changed(*core); }));

    attach_current_session(*core);
    return MediaWatcherHandle(std::move(core), std::move(registrations));
}

PlatformResult<MediaWatcherHandle> start_watcher() {
    auto manager = start_media_platform();
    if (!manager) return std::unexpected(std::move(manager.error()));
    return start_watcher(std::move(*manager));
}

}  // namespace olvex::media
