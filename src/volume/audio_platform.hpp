#pragma once

// The audio seam: exactly what the volume code asks of the system's audio
// service. Windows answers with Core Audio, Linux with PulseAudio. Backends
// pass plain values up and carry plain requests down; which sessions belong to
// an application, what to report and which notifications to ignore is decided
// above this seam.
//
// Every call may fail with an Error describing the platform's error. Sinks are
// called on the platform's own threads and must not block.

#include <array>
#include <compare>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "volume/process_facts.hpp"

namespace olvex::volume {

template <typename T>
using AudioResult = std::expected<T, Error>;

// The tag carried by every change this program makes, so that the
// notifications of its own changes can be told apart.
struct EventContext {
    std::array<std::uint8_t, 16> bytes{};
    friend auto operator<=>(const EventContext&, const EventContext&) = default;
};

// An audio session's state as the platform reports it.
enum class AudioSessionState : std::int32_t { inactive = 0, active = 1, expired = 2 };

// Who a process is: its application user model id and its executable's file
// name, each absent when it cannot be learnt.
struct ProcessIdentity {
    std::optional<std::string> app_user_model_id;
    std::optional<std::string> executable_name;
};

// Called when the master volume of a device changes.
class EndpointVolumeSink {
public:
    virtual ~EndpointVolumeSink() = default;
    // `master_level` is within 0.0 to 1.0; `context` is the tag of whoever made the change.
    virtual void on_notify(float master_level, bool muted, const EventContext& context) = 0;
};

// Called with what happens to one audio session.
class SessionEventSink {
public:
    virtual ~SessionEventSink() = default;
    // `context` is absent when the platform gave none.
    virtual void on_simple_volume_changed(float level, bool muted, const std::optional<EventContext>& context) = 0;
    // `state` is expired once the session has ended.
    virtual void on_state_changed(AudioSessionState state) = 0;
    // The session went away with its device or with the audio service itself.
    virtual void on_session_disconnected() = 0;
};

// Called when a session is created on a device.
class SessionCreationSink {
public:
    virtual ~SessionCreationSink() = default;
    // Names no session: whoever cares lists the device's sessions anew.
    virtual void on_session_created() = 0;
};

// The kinds of device event the platform announces.
enum class DeviceEventKind : std::int32_t {
    state_changed = 0,
    added = 1,
    removed = 2,
    default_changed = 3,
    property_changed = 4,
};

// Called with device events; data flow 0 is render, role 0 console.
class EndpointNotificationSink {
public:
    virtual ~EndpointNotificationSink() = default;
    // Another device is now the default for `data_flow` and `role`.
    virtual void on_default_device_changed(std::int32_t data_flow, std::int32_t role) = 0;
    // Which device the event concerns is not said.
    virtual void on_device_event(DeviceEventKind kind) = 0;
};

// One registration of a sink; destroying it unregisters (failures ignored).
class Registration {
public:
    virtual ~Registration() = default;
};
using RegistrationPtr = std::unique_ptr<Registration>;

// One audio session with its volume.
class AudioSession {
public:
    virtual ~AudioSession() = default;
    // Active while the session plays.
    [[nodiscard]] virtual AudioResult<AudioSessionState> state() = 0;
    // Whether the session carries the system's notification sounds rather than an application's audio.
    [[nodiscard]] virtual AudioResult<bool> is_system_sounds_session() = 0;
    // The process that plays through the session; fails when the platform does not say.
    [[nodiscard]] virtual AudioResult<std::uint32_t> process_id() = 0;
    // The platform's names for the session's application and for this instance of it; either may be empty.
    [[nodiscard]] virtual AudioResult<std::string> session_identifier() = 0;
    [[nodiscard]] virtual AudioResult<std::string> session_instance_identifier() = 0;

    // Within 0.0 to 1.0, apart from the mute.
    [[nodiscard]] virtual AudioResult<float> level() = 0;
    [[nodiscard]] virtual AudioResult<bool> muted() = 0;
    // `level` is within 0.0 to 1.0. `context` tags the notification of the change.
    [[nodiscard]] virtual AudioResult<void> set_level(float level, const EventContext& context) = 0;
    // `context` tags the notification of the change.
    [[nodiscard]] virtual AudioResult<void> set_muted(bool muted, const EventContext& context) = 0;

    // Calls `sink` with this session's changes for as long as the registration lives.
    [[nodiscard]] virtual AudioResult<RegistrationPtr> register_events(std::shared_ptr<SessionEventSink> sink) = 0;
};
using AudioSessionPtr = std::unique_ptr<AudioSession>;

// The session manager of one device.
class AudioSessionManager {
public:
    virtual ~AudioSessionManager() = default;
    // The device's sessions in the platform's order.
    [[nodiscard]] virtual AudioResult<std::vector<AudioSessionPtr>> sessions() = 0;
    // Calls `sink` when a session is created on the device, for as long as the registration lives.
    [[nodiscard]] virtual AudioResult<RegistrationPtr> register_session_creation(
        std::shared_ptr<SessionCreationSink> sink) = 0;
};

// The master volume of one device.
class EndpointVolume {
public:
    virtual ~EndpointVolume() = default;
    // Within 0.0 to 1.0, apart from the mute.
    [[nodiscard]] virtual AudioResult<float> master_level() = 0;
    [[nodiscard]] virtual AudioResult<bool> muted() = 0;
    // Calls `sink` when the level or the mute changes, for as long as the registration lives.
    [[nodiscard]] virtual AudioResult<RegistrationPtr> register_changes(std::shared_ptr<EndpointVolumeSink> sink) = 0;
};

class AudioDevice {
public:
    virtual ~AudioDevice() = default;
    // Each call gives a handle of its own.
    [[nodiscard]] virtual AudioResult<std::unique_ptr<AudioSessionManager>> session_manager() = 0;
    // Each call gives a handle of its own.
    [[nodiscard]] virtual AudioResult<std::unique_ptr<EndpointVolume>> endpoint_volume() = 0;
};
using AudioDevicePtr = std::unique_ptr<AudioDevice>;

// The device enumerator and what else the platform offers process-wide.
class AudioSystem {
public:
    virtual ~AudioSystem() = default;
    // The output devices in the active state, in the platform's order.
    [[nodiscard]] virtual AudioResult<std::vector<AudioDevicePtr>> active_render_devices() = 0;
    // The default output device for the console role.
    [[nodiscard]] virtual AudioResult<AudioDevicePtr> default_render_device() = 0;
    // Calls `sink` with device events for as long as the registration lives.
    [[nodiscard]] virtual AudioResult<RegistrationPtr> register_endpoint_notifications(
        std::shared_ptr<EndpointNotificationSink> sink) = 0;
    // Never fails: what cannot be learnt is left absent.
    [[nodiscard]] virtual ProcessIdentity process_identity(std::uint32_t process_id) = 0;
    // What is known of the running processes, for finding the processes of
    // the application `app_id` among `processes` (those that own sessions):
    // all the platform tells of those and their ancestors, and on Windows the
    // parent and executable of every other process. Never fails: what cannot
    // be learnt is left out.
    [[nodiscard]] virtual std::vector<ProcessFacts> process_facts(const std::string& app_id,
                                                                  std::span<const std::uint32_t> processes) = 0;
};

// The platform's process-wide entry points.
class AudioBackend {
public:
    virtual ~AudioBackend() = default;
    // Joins the calling thread to the process's multithreaded apartment for
    // good (nothing to do where there is none).
    [[nodiscard]] virtual AudioResult<void> join_multithreaded_apartment() = 0;
    // A fresh, unique event context.
    [[nodiscard]] virtual AudioResult<EventContext> make_event_context() = 0;
    // A new device enumerator.
    [[nodiscard]] virtual AudioResult<std::shared_ptr<AudioSystem>> open_audio_system() = 0;
};

// This system's audio backend. Implemented by each platform.
[[nodiscard]] std::shared_ptr<AudioBackend> platform_audio_backend();

}  // namespace olvex::volume
