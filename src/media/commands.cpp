#include "media/commands.hpp"

#include <cstdint>
#include <limits>
#include <utility>

namespace olvex::media {

namespace {

template <typename Call>
PlatformResult<bool> on_current_session(const MediaWatcherHandle& watcher, Call&& call) {
    const SessionRef session = watcher.current_session();
    if (!session) return false;
    return std::forward<Call>(call)(*session);
}

}  // namespace

PlatformResult<std::optional<SessionSnapshot>> read_current(const MediaWatcherHandle& watcher) {
    const SessionRef session = watcher.current_session();
    if (!session) return std::optional<SessionSnapshot>{};
    auto snapshot = read_snapshot(*session);
    if (!snapshot) return std::unexpected(std::move(snapshot.error()));
    return std::optional<SessionSnapshot>(std::move(*snapshot));
}

PlatformResult<std::optional<SessionApplication>> read_current_application(const MediaWatcherHandle& watcher) {
    const SessionRef session = watcher.current_session();
    if (!session) return std::optional<SessionApplication>{};
    auto app_id = session->source_app_user_model_id();
    if (!app_id) return std::unexpected(std::move(app_id.error()));
    return std::optional<SessionApplication>({std::move(*app_id), session->source_process_id()});
}

bool has_session(const MediaWatcherHandle& watcher) { return watcher.current_session() != nullptr; }

PlatformResult<bool> toggle_play_pause(const MediaWatcherHandle& watcher) {
    return on_current_session(watcher, [](MediaSession& session) { return session.try_toggle_play_pause(); });
}

PlatformResult<bool> skip_next(const MediaWatcherHandle& watcher) {
    return on_current_session(watcher, [](MediaSession& session) { return session.try_skip_next(); });
}

PlatformResult<bool> skip_previous(const MediaWatcherHandle& watcher) {
    return on_current_session(watcher, [](MediaSession& session) { return session.try_skip_previous(); });
}

PlatformResult<bool> seek_to(const MediaWatcherHandle& watcher, Duration position) {
    return on_current_session(watcher, [position](MediaSession& session) {
        return session.try_change_playback_position(position_ticks(position));
    });
}

void seek_to_seconds(const MediaWatcherHandle& watcher, double position_s) {
    if (const auto position = seconds_to_duration(position_s)) (void)seek_to(watcher, *position);
}

void seek_to_fraction(const MediaWatcherHandle& watcher, double fraction) {
    const auto current = read_current(watcher);
    if (!current || !*current) return;
    const SessionSnapshot& snapshot = **current;
    const Duration span = snapshot.end_time.saturating_sub(snapshot.start_time);
    const auto offset = seconds_to_duration(fraction * span.as_seconds_f64());
    if (!offset) return;
    const Duration target = snapshot.start_time.checked_add(*offset).value_or(
        Duration{std::numeric_limits<std::uint64_t>::max(), Duration::NANOS_PER_SECOND - 1});
    (void)seek_to(watcher, target);
}

}  // namespace olvex::media
