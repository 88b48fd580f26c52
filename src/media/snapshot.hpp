#pragma once

// One reading of a media session, the platform's time values, and the
// now_playing payload derived from a reading.

#include <cstdint>
#include <optional>
#include <string>

#include "base/duration.hpp"
#include "media/media_platform.hpp"
#include "protocol/messages.hpp"

namespace olvex::media {

// The platform's playback status values that the rules below single out.
inline constexpr std::int32_t PLATFORM_STATUS_PLAYING = 4;
inline constexpr std::int32_t PLATFORM_STATUS_PAUSED = 5;

// What one reading of a session yields. A property the platform could not
// give keeps the default shown here.
struct SessionSnapshot {
    std::string source_app_id;
    std::optional<std::uint32_t> source_process_id;
    std::string title;
    std::string artist;
    std::string album_title;
    Duration position;  // carried forward to the moment of reading while playing
    Duration start_time;
    Duration end_time;
    std::int32_t status = 0;  // the platform's playback status, as is
    bool operator==(const SessionSnapshot&) const = default;
};

// A TimeSpan as a duration; zero and negative spans give 0.
[[nodiscard]] Duration duration_from_ticks(TimeSpanTicks ticks);

// The system clock as a DateTime; a clock before 1970 gives 0.
[[nodiscard]] DateTimeTicks current_date_time_ticks();

// `seconds` rounded to the nearest nanosecond. Nothing for a negative number,
// a NaN, or 2^64 seconds and more: no duration can hold those.
[[nodiscard]] std::optional<Duration> seconds_to_duration(double seconds);

// A position for the platform: whole ticks, rounded down, saturating at
// 2^63 - 1.
[[nodiscard]] TimeSpanTicks position_ticks(Duration position);

// Reads `session`, carrying a playing position forward to `now` (by default
// the moment the timeline has been obtained). Fails only when the media
// properties, the playback info or the timeline cannot be obtained; any single
// property that cannot be read takes its default.
[[nodiscard]] PlatformResult<SessionSnapshot> read_snapshot(MediaSession& session,
                                                           std::optional<DateTimeTicks> now = std::nullopt);

// read_snapshot for an optional session. A failed reading is logged as
// "smtc: could not read session information: <error>" and gives nothing.
[[nodiscard]] std::optional<SessionSnapshot> read_session_information(const SessionRef& session);

// The device's view of the platform's playback status.
[[nodiscard]] protocol::PlaybackStatus playback_status_from(std::int32_t platform_status);

// The now_playing payload of a reading, its texts cut with bounded_text (the
// tooltip shows the same cut title); nothing (no session, or one that
// could not be read) gives status none with empty texts and zero times.
[[nodiscard]] protocol::NowPlaying now_playing_from(const std::optional<SessionSnapshot>& snapshot);

}  // namespace olvex::media
