#pragma once

// The media platform port: everything the now-playing code asks of the PC's
// media sessions. Windows answers with the System Media Transport Controls,
// Linux with MPRIS players. Backends report plain values and carry out plain
// requests; every rule about what those values mean lives above this seam.
//
// Every call may fail with an Error whose message describes the platform's
// error. Asynchronous platform operations are awaited on the calling thread.
// Objects may be used from any thread; event handlers run on the platform's
// own threads and must not block.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/error.hpp"

namespace olvex::media {

template <typename T>
using PlatformResult = std::expected<T, Error>;

// Identifies one event registration, for removing it again.
using EventToken = std::int64_t;

// Platform time values count 100-nanosecond ticks; DateTime ticks count from
// 1601-01-01 00:00 UTC.
using TimeSpanTicks = std::int64_t;
using DateTimeTicks = std::int64_t;

// Larger thumbnails are refused rather than read into memory on a player's
// word: pictures are refused far below this anyway by the decoder's pixel
// ceiling.
inline constexpr std::uint64_t LARGEST_THUMBNAIL = std::uint64_t{64} * 1024 * 1024;

class ThumbnailStream {
public:
    virtual ~ThumbnailStream() = default;
    // The stream's size in bytes.
    [[nodiscard]] virtual PlatformResult<std::uint64_t> size() = 0;
    // Loads up to `count` bytes from the start and returns those actually
    // loaded.
    [[nodiscard]] virtual PlatformResult<std::string> read(std::uint32_t count) = 0;
    // Whether read_at works: a file does, so that a picture is decoded as it
    // is read; a stream that can only be read from its start (Windows) does
    // not, and is read whole with `read`.
    [[nodiscard]] virtual bool reads_in_parts() const noexcept { return false; }
    // Copies the bytes from `offset` on, up to the size the stream had when
    // opened, into `into` and returns how many (fewer than asked only at the
    // end).
    [[nodiscard]] virtual PlatformResult<std::size_t> read_at(std::uint64_t /*offset*/,
                                                              std::span<std::uint8_t> /*into*/) {
        return make_error("this thumbnail can only be read whole");
    }
};

// A reference to a thumbnail that has not been opened yet.
class ThumbnailReference {
public:
    virtual ~ThumbnailReference() = default;
    [[nodiscard]] virtual PlatformResult<std::unique_ptr<ThumbnailStream>> open_read() = 0;
};

// Track metadata, each property read on its own.
class MediaProperties {
public:
    virtual ~MediaProperties() = default;
    [[nodiscard]] virtual PlatformResult<std::string> title() = 0;
    [[nodiscard]] virtual PlatformResult<std::string> artist() = 0;
    [[nodiscard]] virtual PlatformResult<std::string> album_title() = 0;
    // The thumbnail, or a null reference when the track has none.
    [[nodiscard]] virtual PlatformResult<std::unique_ptr<ThumbnailReference>> thumbnail() = 0;
};

class PlaybackInfo {
public:
    virtual ~PlaybackInfo() = default;
    // 0 Closed, 1 Opened, 2 Changing, 3 Stopped, 4 Playing, 5 Paused; other
    // values are passed on as they come.
    [[nodiscard]] virtual PlatformResult<std::int32_t> playback_status() = 0;
    // The rate, or nothing when the player does not publish one.
    [[nodiscard]] virtual PlatformResult<std::optional<double>> playback_rate() = 0;
};

class TimelineProperties {
public:
    virtual ~TimelineProperties() = default;
    [[nodiscard]] virtual PlatformResult<TimeSpanTicks> start_time() = 0;
    [[nodiscard]] virtual PlatformResult<TimeSpanTicks> end_time() = 0;
    [[nodiscard]] virtual PlatformResult<TimeSpanTicks> position() = 0;
    // When `position` was last set by the player.
    [[nodiscard]] virtual PlatformResult<DateTimeTicks> last_updated_time() = 0;
};

// The three events of a session.
enum class SessionEvent : std::uint8_t { media_properties_changed, playback_info_changed, timeline_properties_changed };

class MediaSession;

// A counted reference to a session: copying adds a reference, dropping one
// releases it.
using SessionRef = std::shared_ptr<MediaSession>;

// Called with the session that raised the event (null if the platform passed
// none).
using SessionEventHandler = std::function<void(SessionRef)>;

class MediaSession {
public:
    virtual ~MediaSession() = default;

    // Whether `other` stands for the same player session: a platform may hand
    // out a new object for the same session on every call.
    [[nodiscard]] virtual bool is_same_session(const MediaSession& other) const { return this == &other; }

    [[nodiscard]] virtual PlatformResult<std::string> source_app_user_model_id() = 0;
    // The process that owns the player, where the platform names one.
    [[nodiscard]] virtual std::optional<std::uint32_t> source_process_id() { return std::nullopt; }
    [[nodiscard]] virtual PlatformResult<std::unique_ptr<MediaProperties>> try_get_media_properties() = 0;
    [[nodiscard]] virtual PlatformResult<std::unique_ptr<PlaybackInfo>> get_playback_info() = 0;
    [[nodiscard]] virtual PlatformResult<std::unique_ptr<TimelineProperties>> get_timeline_properties() = 0;

    // Each yields whether the player accepted the request.
    [[nodiscard]] virtual PlatformResult<bool> try_toggle_play_pause() = 0;
    [[nodiscard]] virtual PlatformResult<bool> try_skip_next() = 0;
    [[nodiscard]] virtual PlatformResult<bool> try_skip_previous() = 0;
    [[nodiscard]] virtual PlatformResult<bool> try_change_playback_position(TimeSpanTicks position) = 0;

    [[nodiscard]] virtual PlatformResult<EventToken> add_event_handler(SessionEvent event,
                                                                       SessionEventHandler handler) = 0;
    [[nodiscard]] virtual PlatformResult<void> remove_event_handler(SessionEvent event, EventToken token) = 0;
};

// The two events of the manager.
enum class ManagerEvent : std::uint8_t { sessions_changed, current_session_changed };

using ManagerEventHandler = std::function<void()>;

// The one session manager of the process.
class MediaManager {
public:
    virtual ~MediaManager() = default;

    // The session the platform names current; null when there is none.
    [[nodiscard]] virtual PlatformResult<SessionRef> get_current_session() = 0;
    [[nodiscard]] virtual PlatformResult<std::vector<SessionRef>> get_sessions() = 0;

    [[nodiscard]] virtual PlatformResult<EventToken> add_event_handler(ManagerEvent event,
                                                                       ManagerEventHandler handler) = 0;
    [[nodiscard]] virtual PlatformResult<void> remove_event_handler(ManagerEvent event, EventToken token) = 0;
};

// Reaches the platform and obtains its session manager. Implemented by each
// platform's backend.
[[nodiscard]] PlatformResult<std::shared_ptr<MediaManager>> start_media_platform();

}  // namespace olvex::media
