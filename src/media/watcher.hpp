#pragma once

// The media session watcher: follows the platform's current media session,
// turns the platform's events into change notices and delivers each, on a
// worker thread of its own, to its subscribers as a fresh snapshot.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "media/media_platform.hpp"
#include "media/snapshot.hpp"

namespace olvex::media {

// The kind of one media change.
enum class SessionChange : std::uint8_t {
    SessionAttached = 0,  // the watcher (re)took the current session, or found none
    MediaPropertiesChanged = 1,
    PlaybackInfoChanged = 2,
    TimelinePropertiesChanged = 3,
    // The locked session left the platform: the lock is off and the watcher
    // took the current session, as SessionAttached.
    LockReleased = 4,
};

// Receives every change: the snapshot read at delivery time (nothing when
// there is no session or it could not be read) and the kind.
using Subscriber = std::function<void(std::optional<SessionSnapshot>, SessionChange)>;

namespace detail {
struct WatcherCore;
struct RegistrationRecord;
}  // namespace detail

// The copyable handle to the one watcher. All copies share one watcher; the
// manager's event registrations are removed when the last copy goes.
class MediaWatcherHandle {
public:
    // Adds `subscriber`, then calls it at once on this thread with the current
    // state and SessionAttached. Later calls come from the worker thread.
    void subscribe(Subscriber subscriber) const;

    // A reference to the current session, or null.
    [[nodiscard]] SessionRef current_session() const;

    // Locking pins the watcher to its current session (only if it has one);
    // unlocking moves it at once to the session the platform names current.
    void set_session_lock(bool locked) const;

    [[nodiscard]] bool is_session_locked() const;

private:
    friend PlatformResult<MediaWatcherHandle> start_watcher(std::shared_ptr<MediaManager> manager);
    MediaWatcherHandle(std::shared_ptr<detail::WatcherCore> core,
                       std::shared_ptr<detail::RegistrationRecord> registrations);

    std::shared_ptr<detail::WatcherCore> core_;
    std::shared_ptr<detail::RegistrationRecord> registrations_;
};

// Starts a watcher on `manager`: reads the session list, starts the worker,
// registers for the manager's events and attaches to the current session.
// Fails when the session list cannot be read.
[[nodiscard]] PlatformResult<MediaWatcherHandle> start_watcher(std::shared_ptr<MediaManager> manager);

// Reaches the platform's session manager and starts a watcher on it.
[[nodiscard]] PlatformResult<MediaWatcherHandle> start_watcher();

}  // namespace olvex::media
