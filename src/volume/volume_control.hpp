#pragma once

// Reading and changing the volume of the application that plays media, with
// the default output device's master volume as the fallback reading.

#include <memory>
#include <optional>

#include "base/channel.hpp"
#include "volume/audio_platform.hpp"
#include "volume/media_application.hpp"
#include "volume/session_matching.hpp"
#include "volume/volume_watcher.hpp"

namespace olvex::volume {

struct VolumeReading {
    float level = 0.0f;
    bool muted = false;
    bool operator==(const VolumeReading&) const = default;
};

class VolumeControl {
public:
    // Joins the multithreaded apartment, makes the event context, opens the
    // device enumerator, starts the volume watcher and registers for device
    // events, in that order; the first failure is returned.
    [[nodiscard]] static AudioResult<std::unique_ptr<VolumeControl>> create(std::shared_ptr<AudioBackend> backend);

    // Unregisters from device events, stops the watcher and waits for it.
    ~VolumeControl();
    VolumeControl(const VolumeControl&) = delete;
    VolumeControl& operator=(const VolumeControl&) = delete;

    // The default output device's master volume and mute.
    [[nodiscard]] AudioResult<VolumeReading> read_master_volume();
    // The first session of the application; nothing when it has none.
    [[nodiscard]] AudioResult<std::optional<VolumeReading>> read_app_volume(const MediaApplication& app);
    // Sets every session of the application (level clamped to 0.0 to 1.0),
    // stopping at the first failure; yields whether there was any session.
    AudioResult<bool> set_app_level(const MediaApplication& app, float level);
    AudioResult<bool> set_app_mute(const MediaApplication& app, bool muted);

    [[nodiscard]] MasterVolumeListeners& master_listeners() { return *master_listeners_; }
    [[nodiscard]] SessionVolumeListeners& session_listeners() { return *session_listeners_; }
    // Where application changes reach the watcher.
    [[nodiscard]] const Sender<WatchNotice>& watch_notices() const { return *notices_; }

private:
    VolumeControl() = default;
    AudioResult<void> start(std::shared_ptr<AudioBackend> backend);

    std::optional<Sender<WatchNotice>> notices_;
    std::shared_ptr<AudioSystem> system_;
    RegistrationPtr endpoint_client_;
    std::shared_ptr<EndpointVolumeCallback> endpoint_callback_;
    std::shared_ptr<MasterVolumeListeners> master_listeners_ = std::make_shared<MasterVolumeListeners>();
    std::shared_ptr<SessionVolumeListeners> session_listeners_ = std::make_shared<SessionVolumeListeners>();
    std::optional<Receiver<bool>> watcher_finished_;
    EventContext event_context_;
    // Tells the log which sessions each application was found to have.
    std::unique_ptr<AppSessionFinder> finder_ = std::make_unique<AppSessionFinder>(AppSessionFinder::Telling::logged);
};

}  // namespace olvex::volume
