#pragma once

// A scriptable audio system for tests: devices with master volumes, audio
// sessions of processes, and the notifications the platform would raise, on
// threads of the fake's own. The code under test reaches it through the audio
// seam; the test plays the user (moves sliders, starts players, switches the
// default device).

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "volume/audio_platform.hpp"

namespace olvex::testing_support {

using volume::AudioResult;
using volume::EventContext;

struct FakeAudioSessionData {
    std::optional<std::uint32_t> process_id;
    std::string identifier;
    std::string instance_identifier;
    volume::AudioSessionState state = volume::AudioSessionState::active;
    bool system_sounds = false;
    float level = 1.0f;
    bool muted = false;
    bool set_fails = false;

    // Builders, since designated initializers that leave members out warn.
    [[nodiscard]] static FakeAudioSessionData of_process(std::uint32_t pid) {
        FakeAudioSessionData data;
        data.process_id = pid;
        return data;
    }
    [[nodiscard]] static FakeAudioSessionData unidentified() { return {}; }
    [[nodiscard]] FakeAudioSessionData with_identifier(std::string id) && {
        identifier = std::move(id);
        return std::move(*this);
    }
    [[nodiscard]] FakeAudioSessionData with_instance_identifier(std::string id) && {
        instance_identifier = std::move(id);
        return std::move(*this);
    }
    [[nodiscard]] FakeAudioSessionData in_state(volume::AudioSessionState new_state) && {
        state = new_state;
        return std::move(*this);
    }
    [[nodiscard]] FakeAudioSessionData as_system_sounds() && {
        system_sounds = true;
        return std::move(*this);
    }
    [[nodiscard]] FakeAudioSessionData at_level(float new_level) && {
        level = new_level;
        return std::move(*this);
    }
};

class FakeAudio;

// A handle on one session of the fake, for the test.
class FakeAudioSessionHandle {
public:
    [[nodiscard]] float level() const;
    [[nodiscard]] bool muted() const;
    [[nodiscard]] int sink_count() const;

private:
    friend class FakeAudio;
    FakeAudioSessionHandle(std::shared_ptr<FakeAudio> audio, std::size_t id) : audio_(std::move(audio)), id_(id) {}
    std::shared_ptr<FakeAudio> audio_;
    std::size_t id_;
};

class FakeAudio : public std::enable_shared_from_this<FakeAudio> {
public:
    // A new active output device; the first one becomes the default.
    void add_device(const std::string& device);
    void set_device_active(const std::string& device, bool active);
    // Makes `device` the default and tells the registered clients, as the
    // platform does, for render and console (and, first, for another role).
    void switch_default_device(const std::string& device);
    void set_master(const std::string& device, float level, bool muted);
    void add_process(std::uint32_t process_id, volume::ProcessIdentity identity);

    // A new session on `device`; registered creation sinks hear of it.
    FakeAudioSessionHandle add_session(const std::string& device, FakeAudioSessionData data);
    // Someone else moves the session's slider: notified with a foreign context.
    void change_session_volume(const FakeAudioSessionHandle& session, float level, bool muted);
    // Someone else moves the master slider.
    void change_master(const std::string& device, float level, bool muted);
    void expire_session(const FakeAudioSessionHandle& session);

    void fail_join(bool fail) { join_fails_ = fail; }
    void fail_endpoint_registration(bool fail) { endpoint_registration_fails_ = fail; }
    void fail_listing(bool fail);

    // Sinks currently registered, by kind.
    [[nodiscard]] int endpoint_volume_sinks(const std::string& device) const;
    [[nodiscard]] int creation_sinks(const std::string& device) const;
    [[nodiscard]] int endpoint_notification_sinks() const;
    // The event contexts the code under test made.
    [[nodiscard]] std::vector<EventContext> contexts_made() const;

    [[nodiscard]] std::shared_ptr<volume::AudioBackend> backend();

private:
    friend class FakeAudioSessionHandle;
    friend class FakeAudioSystemImpl;
    friend class FakeAudioDeviceImpl;
    friend class FakeSessionManagerImpl;
    friend class FakeEndpointVolumeImpl;
    friend class FakeAudioSessionImpl;
    friend class FakeBackendImpl;
    friend class FakeRegistration;

    struct Session {
        std::string device;
        FakeAudioSessionData data;
        std::map<int, std::shared_ptr<volume::SessionEventSink>> sinks;
    };
    struct Device {
        bool active = true;
        float master = 1.0f;
        bool master_muted = false;
        std::map<int, std::shared_ptr<volume::EndpointVolumeSink>> volume_sinks;
        std::map<int, std::shared_ptr<volume::SessionCreationSink>> creation_sinks;
    };

    void notify_session(std::size_t id, float level, bool muted, std::optional<EventContext> context);
    void notify_master(const std::string& device, float level, bool muted, EventContext context);

    mutable std::mutex mutex_;
    std::vector<std::string> device_order_;
    std::map<std::string, Device> devices_;
    std::string default_device_;
    std::vector<Session> sessions_;
    std::map<std::uint32_t, volume::ProcessIdentity> processes_;
    std::map<int, std::shared_ptr<volume::EndpointNotificationSink>> notification_sinks_;
    std::vector<EventContext> contexts_;
    int next_registration_ = 1;
    bool join_fails_ = false;
    bool endpoint_registration_fails_ = false;
    bool listing_fails_ = false;
};

}  // namespace olvex::testing_support
