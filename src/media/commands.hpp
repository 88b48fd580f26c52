#pragma once

// Reading the current session and carrying out the device's media commands on
// it. Each call takes the watcher's current session for the length of one
// platform call only.

#include <cstdint>
#include <optional>
#include <string>

#include "base/duration.hpp"
#include "media/media_platform.hpp"
#include "media/snapshot.hpp"
#include "media/watcher.hpp"

namespace olvex::media {

// A reading of the current session: nothing when there is none, an error
// when it cannot be read. Errors are returned, not logged.
[[nodiscard]] PlatformResult<std::optional<SessionSnapshot>> read_current(const MediaWatcherHandle& watcher);

// The application of the current session and, where the platform knows it,
// the process that plays for it.
struct SessionApplication {
    std::string app_id;
    std::optional<std::uint32_t> process_id;
};

// The application of the current session: nothing when there is none, an
// error when the session cannot say. Asks the session for nothing else, so a
// player that does not answer other questions does not hold it up.
[[nodiscard]] PlatformResult<std::optional<SessionApplication>> read_current_application(
    const MediaWatcherHandle& watcher);

// Whether the watcher holds a current session at this moment.
[[nodiscard]] bool has_session(const MediaWatcherHandle& watcher);

// Each yields whether the player accepted the request; with no current session
// false, without any platform call.
PlatformResult<bool> toggle_play_pause(const MediaWatcherHandle& watcher);
PlatformResult<bool> skip_next(const MediaWatcherHandle& watcher);
PlatformResult<bool> skip_previous(const MediaWatcherHandle& watcher);
PlatformResult<bool> seek_to(const MediaWatcherHandle& watcher, Duration position);

// The device's "seek": `position_s` seconds from the start of the platform's
// timeline. A value that is no duration (negative, NaN, 2^64 s or more) is
// not carried out. Results are dropped.
void seek_to_seconds(const MediaWatcherHandle& watcher, double position_s);

// The device's "seek_relative": `fraction` of the track's span past its start
// time. Not clamped: 1.5 asks for a position past the end and the player
// decides. Does nothing when the current session cannot be read or the
// target is no duration.
void seek_to_fraction(const MediaWatcherHandle& watcher, double fraction);

}  // namespace olvex::media
