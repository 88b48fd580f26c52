#pragma once

// The volume watcher: keeps change notifications registered for the master
// volume of the default output device and for every audio session of the
// current media application on it, and re-registers whenever the default
// device, the application or its set of sessions changes.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/channel.hpp"
#include "base/listener_registry.hpp"
#include "volume/audio_platform.hpp"
#include "volume/media_application.hpp"

namespace olvex::volume {

// Master volume changes: (level, muted).
using MasterVolumeListeners = ListenerRegistry<std::function<void(float, bool)>>;
// Session volume changes of the watched application: (app id, level, muted).
using SessionVolumeListeners = ListenerRegistry<std::function<void(const std::string&, float, bool)>>;

// One thing the watcher must act on.
struct WatchNotice {
    enum class Kind : std::uint8_t { AppChanged, DefaultDeviceChanged, Rescan, Stop };
    Kind kind = Kind::Rescan;
    std::optional<MediaApplication> app;  // AppChanged only; nothing when no media session is left

    [[nodiscard]] static WatchNotice app_changed(std::optional<MediaApplication> app) {
        return {Kind::AppChanged, std::move(app)};
    }
    bool operator==(const WatchNotice&) const = default;
};

// Master volume notifications not caused by this program go to `listeners`.
class EndpointVolumeCallback final : public EndpointVolumeSink {
public:
    EndpointVolumeCallback(std::shared_ptr<MasterVolumeListeners> listeners, EventContext own_context)
        : listeners_(std::move(listeners)), own_context_(own_context) {}
    void on_notify(float master_level, bool muted, const EventContext& context) override;

private:
    std::shared_ptr<MasterVolumeListeners> listeners_;
    EventContext own_context_;
};

// Volume changes of one application's sessions not caused by this program go
// to `listeners`; a session that expires or disconnects asks for a rescan.
class SessionEventsCallback final : public SessionEventSink {
public:
    SessionEventsCallback(std::string app_id, std::shared_ptr<SessionVolumeListeners> listeners,
                          Sender<WatchNotice> notices, EventContext own_context)
        : app_id_(std::move(app_id)), listeners_(std::move(listeners)), notices_(std::move(notices)),
          own_context_(own_context) {}
    void on_simple_volume_changed(float level, bool muted, const std::optional<EventContext>& context) override;
    void on_state_changed(AudioSessionState state) override;
    void on_session_disconnected() override;

private:
    std::string app_id_;
    std::shared_ptr<SessionVolumeListeners> listeners_;
    Sender<WatchNotice> notices_;
    EventContext own_context_;
};

// A new session on the watched device asks for a rescan.
class SessionCreationCallback final : public SessionCreationSink {
public:
    explicit SessionCreationCallback(Sender<WatchNotice> notices) : notices_(std::move(notices)) {}
    void on_session_created() override;

private:
    Sender<WatchNotice> notices_;
};

// A new default output device for the console role moves the watcher; every
// device event also goes to the client's own listeners.
class EndpointNotificationClient final : public EndpointNotificationSink {
public:
    explicit EndpointNotificationClient(Sender<WatchNotice> notices) : notices_(std::move(notices)) {}
    void on_default_device_changed(std::int32_t data_flow, std::int32_t role) override;
    void on_device_event(DeviceEventKind kind) override;
    [[nodiscard]] ListenerRegistry<std::function<void(DeviceEventKind)>>& listeners() { return listeners_; }

private:
    Sender<WatchNotice> notices_;
    ListenerRegistry<std::function<void(DeviceEventKind)>> listeners_;
};

// What the watcher thread is given.
struct VolumeWatcherSetup {
    std::shared_ptr<AudioBackend> backend;
    std::shared_ptr<EndpointVolumeCallback> endpoint_callback;
    std::shared_ptr<SessionVolumeListeners> session_listeners;
    EventContext own_context;
    Sender<WatchNotice> notices;    // for the sinks it registers
    Receiver<WatchNotice> receiver;
    Sender<bool> finished;          // dropped when the thread ends
};

// Starts the watcher thread. It ends on Stop (or when its queue closes) after
// removing every registration it made.
void start_volume_watcher(VolumeWatcherSetup setup);

}  // namespace olvex::volume
