#pragma once

// A scriptable media platform for tests: the test plays the player (sets the
// track, raises events, switches the current session) and the code under test
// reads and commands it through the port. Events are raised on threads of the
// fake's own, as the platform does; raise_* returns once the handlers ran.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "media/media_platform.hpp"

namespace olvex::testing_support {

using media::DateTimeTicks;
using media::EventToken;
using media::PlatformResult;
using media::TimeSpanTicks;

// Every call that matters for ordering, across the manager and its sessions,
// as lines such as "add media_properties_changed A 3" or "remove ... A 3".
class FakeCallLog {
public:
    void add(std::string line);
    [[nodiscard]] std::vector<std::string> lines() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// What the player publishes. Each property may be made unreadable on its own.
struct FakeTrack {
    enum class Property {
        source_app_id,
        title,
        artist,
        album_title,
        status,
        rate,
        start_time,
        end_time,
        position,
        last_updated_time
    };

    std::string source_app_id = "fake.player";
    std::string title;
    std::string artist;
    std::string album_title;
    std::int32_t status = 5;  // paused
    std::optional<double> rate;
    TimeSpanTicks start_time = 0;
    TimeSpanTicks end_time = 0;
    TimeSpanTicks position = 0;
    DateTimeTicks last_updated_time = 0;
    std::set<Property> unreadable;

    // Whole objects that cannot be obtained.
    bool media_properties_fail = false;
    bool playback_info_fail = false;
    bool timeline_fail = false;

    // The thumbnail file, or nothing for a track without one.
    std::optional<std::string> thumbnail;
    // Runs while the thumbnail is being opened, on the opening thread.
    std::function<void()> while_opening_thumbnail;
    // claims_4_gib: the stream says it holds 4 GiB, yet reads as the bytes.
    enum class ThumbnailFault { none, reference_fails, open_fails, size_fails, read_fails, claims_4_gib } thumbnail_fault =
        ThumbnailFault::none;

    // `value`, or the platform's error when `property` is unreadable.
    template <typename T>
    [[nodiscard]] PlatformResult<T> read(Property property, const T& value) const {
        if (unreadable.contains(property)) return make_error("property unreadable (0x80004005)");
        return value;
    }
};

class FakeMediaSession final : public media::MediaSession, public std::enable_shared_from_this<FakeMediaSession> {
public:
    FakeMediaSession(std::string name, std::shared_ptr<FakeCallLog> log);

    void set_track(FakeTrack track);
    [[nodiscard]] FakeTrack track() const;
    // What the four commands answer.
    void set_command_result(PlatformResult<bool> result);
    // Makes add_event_handler of `event` fail, or throw, from now on.
    void fail_registration(media::SessionEvent event);
    void throw_on_registration(media::SessionEvent event);
    // Makes remove_event_handler throw from now on.
    void throw_on_removal();
    // Runs `hook` once, right after the next reading of the application id.
    void after_next_app_id_read(std::function<void()> hook);

    // Calls every handler of `event` with this session, on a thread of its own.
    void raise(media::SessionEvent event);

    [[nodiscard]] const std::string& name() const { return name_; }
    [[nodiscard]] int handler_count() const;
    // How many times the media properties were requested (one per reading).
    [[nodiscard]] int property_requests() const;
    // The commands received, e.g. "toggle_play_pause", "change_position 125000000".
    [[nodiscard]] std::vector<std::string> commands() const;

    PlatformResult<std::string> source_app_user_model_id() override;
    PlatformResult<std::unique_ptr<media::MediaProperties>> try_get_media_properties() override;
    PlatformResult<std::unique_ptr<media::PlaybackInfo>> get_playback_info() override;
    PlatformResult<std::unique_ptr<media::TimelineProperties>> get_timeline_properties() override;
    PlatformResult<bool> try_toggle_play_pause() override;
    PlatformResult<bool> try_skip_next() override;
    PlatformResult<bool> try_skip_previous() override;
    PlatformResult<bool> try_change_playback_position(TimeSpanTicks position) override;
    PlatformResult<EventToken> add_event_handler(media::SessionEvent event,
                                                 media::SessionEventHandler handler) override;
    PlatformResult<void> remove_event_handler(media::SessionEvent event, EventToken token) override;

private:
    PlatformResult<bool> command(std::string line);

    const std::string name_;
    const std::shared_ptr<FakeCallLog> log_;
    mutable std::mutex mutex_;
    FakeTrack track_;
    PlatformResult<bool> command_result_ = true;
    std::vector<std::string> commands_;
    int property_requests_ = 0;
    std::map<media::SessionEvent, bool> failing_, throwing_;
    bool removal_throws_ = false;
    std::function<void()> after_app_id_read_;
    std::map<EventToken, std::pair<media::SessionEvent, media::SessionEventHandler>> handlers_;
};

class FakeMediaManager final : public media::MediaManager {
public:
    FakeMediaManager();

    // A new session, not yet in the list nor current.
    [[nodiscard]] std::shared_ptr<FakeMediaSession> make_session(std::string name);
    void set_current(std::shared_ptr<FakeMediaSession> session);
    void set_sessions(std::vector<std::shared_ptr<FakeMediaSession>> sessions);
    void fail_get_sessions(bool fail);
    void fail_get_current_session(bool fail);
    void fail_registration(media::ManagerEvent event);

    // Calls every handler of `event` on a thread of its own.
    void raise(media::ManagerEvent event);

    [[nodiscard]] int handler_count() const;
    [[nodiscard]] const std::shared_ptr<FakeCallLog>& log() const { return log_; }

    PlatformResult<media::SessionRef> get_current_session() override;
    PlatformResult<std::vector<media::SessionRef>> get_sessions() override;
    PlatformResult<EventToken> add_event_handler(media::ManagerEvent event,
                                                 media::ManagerEventHandler handler) override;
    PlatformResult<void> remove_event_handler(media::ManagerEvent event, EventToken token) override;

private:
    const std::shared_ptr<FakeCallLog> log_ = std::make_shared<FakeCallLog>();
    mutable std::mutex mutex_;
    std::shared_ptr<FakeMediaSession> current_;
    std::vector<std::shared_ptr<FakeMediaSession>> sessions_;
    bool sessions_fail_ = false;
    bool current_fails_ = false;
    std::map<media::ManagerEvent, bool> failing_;
    std::map<EventToken, std::pair<media::ManagerEvent, media::ManagerEventHandler>> handlers_;
};

// The ticks of `seconds`, for scripting timelines.
[[nodiscard]] constexpr TimeSpanTicks ticks_of_seconds(double seconds) {
    return static_cast<TimeSpanTicks>(seconds * 10'000'000.0);
}

}  // namespace olvex::testing_support
