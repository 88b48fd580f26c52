#include "media/mpris_session_linux.hpp"

#include <optional>
#include <utility>

#include "base/failure.hpp"
#include "media/mpris_bus_linux.hpp"
#include "media/mpris_thumbnail_linux.hpp"
#include "media/mpris_values_linux.hpp"
#include "media/snapshot.hpp"

namespace olvex::media::mpris {

namespace {

class MprisMediaProperties final : public MediaProperties {
public:
    explicit MprisMediaProperties(TrackMetadata track) : track_(std::move(track)) {}
    PlatformResult<std::string> title() override { return track_.title; }
    PlatformResult<std::string> artist() override { return track_.artist; }
    PlatformResult<std::string> album_title() override { return track_.album; }

    // Only local files: fetching a remote address would make the companion a
    // network client of whatever a player names.
    PlatformResult<std::unique_ptr<ThumbnailReference>> thumbnail() override {
        auto path = local_file_path(track_.art_url);
        if (!path) return std::unique_ptr<ThumbnailReference>();
        return make_file_thumbnail(std::move(*path));
    }

private:
    TrackMetadata track_;
};

class MprisPlaybackInfo final : public PlaybackInfo {
public:
    explicit MprisPlaybackInfo(const PropertyMap& player) {
        if (const auto found = player.find("PlaybackStatus"); found != player.end()) status_ = text_of(found->second);
        const auto rate = player.find("Rate");
        if (rate != player.end() && rate->second.containsValueOfType<double>()) rate_ = rate->second.get<double>();
    }

    PlatformResult<std::int32_t> playback_status() override {
        if (!status_) return make_error("the player reports no PlaybackStatus");
        return platform_status(*status_);
    }
    PlatformResult<std::optional<double>> playback_rate() override { return rate_; }

private:
    std::optional<std::string> status_;
    std::optional<double> rate_;
};

class MprisTimeline final : public TimelineProperties {
public:
    MprisTimeline(std::optional<std::int64_t> length_us, std::optional<std::int64_t> position_us,
                  DateTimeTicks read_at)
        : length_us_(length_us), position_us_(position_us), read_at_(read_at) {}

    PlatformResult<TimeSpanTicks> start_time() override { return 0; }
    PlatformResult<TimeSpanTicks> end_time() override { return ticks_from_microseconds(length_us_.value_or(0)); }
    PlatformResult<TimeSpanTicks> position() override {
        if (!position_us_) return make_error("the player reports no Position");
        return ticks_from_microseconds(*position_us_);
    }
    // MPRIS gives no time for Position; it is as fresh as the reading.
    PlatformResult<DateTimeTicks> last_updated_time() override { return read_at_; }

private:
    std::optional<std::int64_t> length_us_;
    std::optional<std::int64_t> position_us_;
    DateTimeTicks read_at_;
};

std::optional<std::int64_t> position_in(const PropertyMap& player) {
    const auto found = player.find("Position");
    if (found == player.end() || !found->second.containsValueOfType<std::int64_t>()) return std::nullopt;
    return found->second.get<std::int64_t>();
}

TrackMetadata metadata_in(const PropertyMap& player) {
    const auto found = player.find("Metadata");
    if (found == player.end() || !found->second.containsValueOfType<PropertyMap>()) return {};
    return track_metadata(found->second.get<PropertyMap>());
}

TrackMetadata read_metadata(sdbus::IProxy& proxy) {
    const auto value = get_property(proxy, PLAYER_INTERFACE, "Metadata");
    if (!value.containsValueOfType<PropertyMap>()) return {};
    return track_metadata(value.get<PropertyMap>());
}

// A call the player turned down is "not accepted"; one that never reached a
// working player is an error.
PlatformResult<bool> refusal(const sdbus::Error& error) {
    if (is_delivery_failure(error)) return std::unexpected(bus_error(error));
    return false;
}

}  // namespace

MprisSession::MprisSession(std::shared_ptr<sdbus::IConnection> connection, std::unique_ptr<sdbus::IProxy> proxy,
                           std::string application_id, std::optional<std::uint32_t> process_id)
    : connection_(std::move(connection)), proxy_(std::move(proxy)), application_id_(std::move(application_id)),
      process_id_(process_id) {}

MprisSession::~MprisSession() = default;

PlatformResult<std::string> MprisSession::source_app_user_model_id() { return application_id_; }

PlatformResult<std::unique_ptr<MediaProperties>> MprisSession::try_get_media_properties() {
    try {
        return std::make_unique<MprisMediaProperties>(read_metadata(*proxy_));
    } catch (const sdbus::Error& error) {
        return std::unexpected(bus_error(error));
    }
}

PlatformResult<std::unique_ptr<PlaybackInfo>> MprisSession::get_playback_info() {
    try {
        return std::make_unique<MprisPlaybackInfo>(get_all_properties(*proxy_, PLAYER_INTERFACE));
    } catch (const sdbus::Error& error) {
        return std::unexpected(bus_error(error));
    }
}

PlatformResult<std::unique_ptr<TimelineProperties>> MprisSession::get_timeline_properties() {
    try {
        const auto player = get_all_properties(*proxy_, PLAYER_INTERFACE);
        const DateTimeTicks read_at = current_date_time_ticks();
        return std::make_unique<MprisTimeline>(metadata_in(player).length_us, position_in(player), read_at);
    } catch (const sdbus::Error& error) {
        return std::unexpected(bus_error(error));
    }
}

PlatformResult<bool> MprisSession::try_toggle_play_pause() { return command("PlayPause"); }
PlatformResult<bool> MprisSession::try_skip_next() { return command("Next"); }
PlatformResult<bool> MprisSession::try_skip_previous() { return command("Previous"); }

PlatformResult<bool> MprisSession::try_change_playback_position(TimeSpanTicks position) {
    return set_position(microseconds_from_ticks(position));
}

PlatformResult<EventToken> MprisSession::add_event_handler(SessionEvent event, SessionEventHandler handler) {
    return handlers_.add(event, std::move(handler));
}

PlatformResult<void> MprisSession::remove_event_handler(SessionEvent event, EventToken token) {
    handlers_.remove(event, token);
    return {};
}

void MprisSession::raise(SessionEvent event) {
    const SessionRef self = shared_from_this();
    for (const auto& handler : handlers_.listeners_for(event)) run_guarded([&] { handler(self); });
}

PlatformResult<bool> MprisSession::command(const std::string& method) {
    try {
        auto call = proxy_->createMethodCall(PLAYER_INTERFACE, method);
        (void)proxy_->callMethod(call);
        return true;
    } catch (const sdbus::Error& error) {
        return refusal(error);
    }
}

// SetPosition names the track it means, so the track id is read just before:
// a remembered id would be stale after a track change, and the player would
// silently ignore the request. Positions outside the track are ignored by
// players too, so they are reported as not accepted.
PlatformResult<bool> MprisSession::set_position(std::int64_t position_us) {
    try {
        const TrackMetadata track = read_metadata(*proxy_);
        if (!track.track_id || position_us < 0) return false;
        if (track.length_us && position_us > *track.length_us) return false;
        auto call = proxy_->createMethodCall(PLAYER_INTERFACE, "SetPosition");
        call << sdbus::ObjectPath(*track.track_id) << position_us;
        (void)proxy_->callMethod(call);
        return true;
    } catch (const sdbus::Error& error) {
        return refusal(error);
    }
}

}  // namespace olvex::media::mpris
