#include "media/snapshot.hpp"

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include <fmt/format.h>

#include "log/log.hpp"

namespace olvex::media {

namespace {

constexpr std::uint64_t TICKS_PER_SECOND = 10'000'000;
constexpr std::uint32_t NANOS_PER_TICK = 100;
// DateTime ticks from 1601-01-01 to 1970-01-01.
constexpr std::int64_t UNIX_EPOCH_TICKS = 116'444'736'000'000'000;
constexpr auto MAX_TICKS = std::numeric_limits<TimeSpanTicks>::max();
constexpr Duration LONGEST_DURATION{std::numeric_limits<std::uint64_t>::max(), Duration::NANOS_PER_SECOND - 1};

Duration duration_from_unsigned_ticks(std::uint64_t ticks) {
    return {ticks / TICKS_PER_SECOND, static_cast<std::uint32_t>(ticks % TICKS_PER_SECOND) * NANOS_PER_TICK};
}

// How far the player has moved since it last reported its position:
// `elapsed` of wall time at `factor` times normal speed. Absurd products
// saturate instead of failing.
Duration carried_forward(Duration elapsed, double factor) {
    const double seconds = elapsed.as_seconds_f64() * factor;
    if (!(seconds > 0.0)) return {};
    return seconds_to_duration(seconds).value_or(LONGEST_DURATION);
}

Duration elapsed_since(DateTimeTicks last_updated, DateTimeTicks now) {
    if (last_updated >= now) return {};
    // now > last_updated, so the difference fits in 64 unsigned bits.
    return duration_from_unsigned_ticks(static_cast<std::uint64_t>(now) - static_cast<std::uint64_t>(last_updated));
}

// A zero, negative or NaN rate freezes the position; no rate at all means
// normal speed.
double rate_factor(const std::optional<double>& rate) {
    if (!rate) return 1.0;
    return *rate > 0.0 ? *rate : 0.0;
}

template <typename T>
T value_or_default(PlatformResult<T> result) {
    return result ? std::move(*result) : T{};
}

Duration duration_or_zero(PlatformResult<TimeSpanTicks> ticks) {
    return ticks ? duration_from_ticks(*ticks) : Duration{};
}

std::optional<double> read_rate(PlaybackInfo& playback) {
    auto rate = playback.playback_rate();
    if (!rate) return std::nullopt;
    return *rate;
}

// What a session answered, every property that it could not give already
// taken as its default.
struct SessionReading {
    std::string source_app_id;
    std::optional<std::uint32_t> source_process_id;
    std::string title;
    std::string artist;
    std::string album_title;
    std::int32_t status = 0;
    std::optional<double> rate;
    Duration position;  // as the session last reported it
    std::optional<DateTimeTicks> position_reported_at;
    Duration start_time;
    Duration end_time;
};

// Fails only when the media properties, the playback info or the timeline
// cannot be obtained.
PlatformResult<SessionReading> fetch_reading(MediaSession& session) {
    auto properties = session.try_get_media_properties();
    if (!properties) return std::unexpected(std::move(properties.error()));
    if (!*properties) return make_error("the session gave no media properties");
    auto playback = session.get_playback_info();
    if (!playback) return std::unexpected(std::move(playback.error()));
    if (!*playback) return make_error("the session gave no playback info");
    auto timeline = session.get_timeline_properties();
    if (!timeline) return std::unexpected(std::move(timeline.error()));
    if (!*timeline) return make_error("the session gave no timeline");

    SessionReading reading;
    reading.status = value_or_default((*playback)->playback_status());
    reading.rate = read_rate(**playback);
    reading.end_time = duration_or_zero((*timeline)->end_time());
    reading.position = duration_or_zero((*timeline)->position());
    // Only a playing position is carried forward, so only then is its age asked.
    if (reading.status == PLATFORM_STATUS_PLAYING) {
        // A time of 0 was never set: carrying the position forward from it
        // would add four centuries.
        const auto reported_at = (*timeline)->last_updated_time();
        if (reported_at && *reported_at != 0) reading.position_reported_at = *reported_at;
    }
    reading.source_app_id = value_or_default(session.source_app_user_model_id());
    reading.source_process_id = session.source_process_id();
    reading.title = value_or_default((*properties)->title());
    reading.artist = value_or_default((*properties)->artist());
    reading.album_title = value_or_default((*properties)->album_title());
    reading.start_time = duration_or_zero((*timeline)->start_time());
    return reading;
}

Duration position_at(const SessionReading& reading, DateTimeTicks now) {
    if (reading.status != PLATFORM_STATUS_PLAYING) return reading.position;
    const Duration elapsed =
        reading.position_reported_at ? elapsed_since(*reading.position_reported_at, now) : Duration{};
    Duration position =
        reading.position.checked_add(carried_forward(elapsed, rate_factor(reading.rate))).value_or(LONGEST_DURATION);
    if (reading.end_time != Duration{} && reading.end_time < position) position = reading.end_time;
    return position;
}

SessionSnapshot assemble_snapshot(SessionReading reading, DateTimeTicks now) {
    SessionSnapshot snapshot;
    snapshot.position = position_at(reading, now);
    snapshot.source_app_id = std::move(reading.source_app_id);
    snapshot.source_process_id = reading.source_process_id;
    snapshot.title = std::move(reading.title);
    snapshot.artist = std::move(reading.artist);
    snapshot.album_title = std::move(reading.album_title);
    snapshot.start_time = reading.start_time;
    snapshot.end_time = reading.end_time;
    snapshot.status = reading.status;
    return snapshot;
}

}  // namespace

Duration duration_from_ticks(TimeSpanTicks ticks) {
    if (ticks <= 0) return {};
    return duration_from_unsigned_ticks(static_cast<std::uint64_t>(ticks));
}

DateTimeTicks current_date_time_ticks() {
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    const auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count();
    if (nanos < 0) return 0;
    return nanos / NANOS_PER_TICK + UNIX_EPOCH_TICKS;
}

std::optional<Duration> seconds_to_duration(double seconds) {
    // 2^64: the first value whose whole seconds no longer fit.
    constexpr double TOO_LONG = 18446744073709551616.0;
    if (std::isnan(seconds) || seconds < 0.0 || seconds >= TOO_LONG) return std::nullopt;
    const double whole = std::floor(seconds);
    auto whole_seconds = static_cast<std::uint64_t>(whole);
    auto nanos = static_cast<std::uint64_t>(std::llround((seconds - whole) * 1e9));
    if (nanos >= Duration::NANOS_PER_SECOND) {
        if (whole_seconds == std::numeric_limits<std::uint64_t>::max()) return std::nullopt;
        ++whole_seconds;
        nanos -= Duration::NANOS_PER_SECOND;
    }
    return Duration{whole_seconds, static_cast<std::uint32_t>(nanos)};
}

TimeSpanTicks position_ticks(Duration position) {
    constexpr auto max_whole_seconds = static_cast<std::uint64_t>(MAX_TICKS) / TICKS_PER_SECOND;
    if (position.seconds > max_whole_seconds) return MAX_TICKS;
    const std::uint64_t ticks = position.seconds * TICKS_PER_SECOND + position.nanoseconds / NANOS_PER_TICK;
    return ticks > static_cast<std::uint64_t>(MAX_TICKS) ? MAX_TICKS : static_cast<TimeSpanTicks>(ticks);
}

PlatformResult<SessionSnapshot> read_snapshot(MediaSession& session, std::optional<DateTimeTicks> now) {
    auto reading = fetch_reading(session);
    if (!reading) return std::unexpected(std::move(reading.error()));
    // The clock is read once the session has answered, so the time its calls
    // took is not lost from a playing position.
    return assemble_snapshot(std::move(*reading), now.value_or(current_date_time_ticks()));
}

std::optional<SessionSnapshot> read_session_information(const SessionRef& session) {
    if (!session) return std::nullopt;
    auto snapshot = read_snapshot(*session);
    if (!snapshot) {
        log_message(fmt::format("smtc: could not read session information: {}", snapshot.error().message));
        return std::nullopt;
    }
    return std::move(*snapshot);
}

protocol::PlaybackStatus playback_status_from(std::int32_t platform_status) {
    switch (platform_status) {
    case PLATFORM_STATUS_PLAYING:
        return protocol::PlaybackStatus::playing;
    case PLATFORM_STATUS_PAUSED:
        return protocol::PlaybackStatus::paused;
    default:
        return protocol::PlaybackStatus::stopped;
    }
}

protocol::NowPlaying now_playing_from(const std::optional<SessionSnapshot>& snapshot) {
    if (!snapshot) return {};
    return protocol::NowPlaying{
        .status = playback_status_from(snapshot->status),
        .title = std::string(protocol::bounded_text(snapshot->title)),
        .artist = std::string(protocol::bounded_text(snapshot->artist)),
        .album = std::string(protocol::bounded_text(snapshot->album_title)),
        .position_s = snapshot->position.as_seconds_f64(),
        .duration_s = snapshot->end_time.saturating_sub(snapshot->start_time).as_seconds_f64(),
    };
}

}  // namespace olvex::media
