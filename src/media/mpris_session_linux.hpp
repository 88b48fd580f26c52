#pragma once

// One MPRIS player as a media session. Every reading asks the player afresh;
// the session only remembers the player's address and its identity.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <sdbus-c++/sdbus-c++.h>

#include "base/listener_registry.hpp"
#include "media/media_platform.hpp"

namespace olvex::media::mpris {

class MprisSession final : public MediaSession, public std::enable_shared_from_this<MprisSession> {
public:
    // `proxy` must address the player by its unique connection name, so that
    // calls reach this player alone and can never start a service. `process_id`
    // owns that name, when the bus said.
    MprisSession(std::shared_ptr<sdbus::IConnection> connection, std::unique_ptr<sdbus::IProxy> proxy,
                 std::string application_id, std::optional<std::uint32_t> process_id);
    MprisSession(const MprisSession&) = delete;
    MprisSession& operator=(const MprisSession&) = delete;
    ~MprisSession() override;

    PlatformResult<std::string> source_app_user_model_id() override;
    std::optional<std::uint32_t> source_process_id() override { return process_id_; }
    PlatformResult<std::unique_ptr<MediaProperties>> try_get_media_properties() override;
    PlatformResult<std::unique_ptr<PlaybackInfo>> get_playback_info() override;
    PlatformResult<std::unique_ptr<TimelineProperties>> get_timeline_properties() override;

    PlatformResult<bool> try_toggle_play_pause() override;
    PlatformResult<bool> try_skip_next() override;
    PlatformResult<bool> try_skip_previous() override;
    PlatformResult<bool> try_change_playback_position(TimeSpanTicks position) override;

    PlatformResult<EventToken> add_event_handler(SessionEvent event, SessionEventHandler handler) override;
    PlatformResult<void> remove_event_handler(SessionEvent event, EventToken token) override;

    // Calls the handlers of `event` on the calling thread.
    void raise(SessionEvent event);

private:
    PlatformResult<bool> command(const std::string& method);
    PlatformResult<bool> set_position(std::int64_t position_us);

    // Declared first so that it outlives the proxy that refers to it.
    std::shared_ptr<sdbus::IConnection> connection_;
    std::unique_ptr<sdbus::IProxy> proxy_;
    std::string application_id_;
    std::optional<std::uint32_t> process_id_;
    ListenerRegistry<SessionEventHandler, SessionEvent> handlers_;
};

}  // namespace olvex::media::mpris
