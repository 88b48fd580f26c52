#include "fakes/fake_audio.hpp"

#include <functional>
#include <thread>
#include <utility>

namespace olvex::testing_support {

using namespace volume;

namespace {

// The context of changes made by "someone else".
constexpr EventContext FOREIGN_CONTEXT{{0xF0, 0x0F}};

std::unexpected<Error> audio_failure(const char* what) {
    return make_error(std::string(what) + " failed (0x88890004)");
}

void on_platform_thread(std::function<void()> body) { std::thread(std::move(body)).join(); }

}  // namespace

// Removes one sink when destroyed.
class FakeRegistration final : public Registration {
public:
    explicit FakeRegistration(std::function<void()> remove) : remove_(std::move(remove)) {}
    ~FakeRegistration() override { remove_(); }

private:
    std::function<void()> remove_;
};

class FakeAudioSessionImpl final : public AudioSession {
public:
    FakeAudioSessionImpl(std::shared_ptr<FakeAudio> audio, std::size_t id) : audio_(std::move(audio)), id_(id) {}

    AudioResult<AudioSessionState> state() override { return data().state; }
    AudioResult<bool> is_system_sounds_session() override { return data().system_sounds; }
    AudioResult<std::uint32_t> process_id() override {
        const auto pid = data().process_id;
        if (!pid) return audio_failure("GetProcessId");
        return *pid;
    }
    AudioResult<std::string> session_identifier() override { return data().identifier; }
    AudioResult<std::string> session_instance_identifier() override { return data().instance_identifier; }
    AudioResult<float> level() override { return data().level; }
    AudioResult<bool> muted() override { return data().muted; }

    AudioResult<void> set_level(float level, const EventContext& context) override {
        if (data().set_fails) return audio_failure("SetMasterVolume");
        const bool muted = update([&](FakeAudioSessionData& d) { d.level = level; }).muted;
        audio_->notify_session(id_, level, muted, context);
        return {};
    }

    AudioResult<void> set_muted(bool muted, const EventContext& context) override {
        if (data().set_fails) return audio_failure("SetMute");
        const float level = update([&](FakeAudioSessionData& d) { d.muted = muted; }).level;
        audio_->notify_session(id_, level, muted, context);
        return {};
    }

    AudioResult<RegistrationPtr> register_events(std::shared_ptr<SessionEventSink> sink) override {
        std::lock_guard lock(audio_->mutex_);
        const int key = audio_->next_registration_++;
        audio_->sessions_[id_].sinks.emplace(key, std::move(sink));
        return std::make_unique<FakeRegistration>([audio = audio_, id = id_, key] {
            std::lock_guard inner(audio->mutex_);
            audio->sessions_[id].sinks.erase(key);
        });
    }

private:
    FakeAudioSessionData data() const {
        std::lock_guard lock(audio_->mutex_);
        return audio_->sessions_[id_].data;
    }
    template <typename Change>
    FakeAudioSessionData update(Change&& change) {
        std::lock_guard lock(audio_->mutex_);
        change(audio_->sessions_[id_].data);
        return audio_->sessions_[id_].data;
    }

    std::shared_ptr<FakeAudio> audio_;
    std::size_t id_;
};

class FakeSessionManagerImpl final : public AudioSessionManager {
public:
    FakeSessionManagerImpl(std::shared_ptr<FakeAudio> audio, std::string device)
        : audio_(std::move(audio)), device_(std::move(device)) {}

    AudioResult<std::vector<AudioSessionPtr>> sessions() override {
        std::lock_guard lock(audio_->mutex_);
        if (audio_->listing_fails_) return audio_failure("GetSessionEnumerator");
        std::vector<AudioSessionPtr> found;
        for (std::size_t id = 0; id < audio_->sessions_.size(); ++id) {
            if (audio_->sessions_[id].device == device_) found.push_back(std::make_unique<FakeAudioSessionImpl>(audio_, id));
        }
        return found;
    }

    AudioResult<RegistrationPtr> register_session_creation(std::shared_ptr<SessionCreationSink> sink) override {
        std::lock_guard lock(audio_->mutex_);
        const int key = audio_->next_registration_++;
        audio_->devices_[device_].creation_sinks.emplace(key, std::move(sink));
        return std::make_unique<FakeRegistration>([audio = audio_, device = device_, key] {
            std::lock_guard inner(audio->mutex_);
            audio->devices_[device].creation_sinks.erase(key);
        });
    }

private:
    std::shared_ptr<FakeAudio> audio_;
    std::string device_;
};

class FakeEndpointVolumeImpl final : public EndpointVolume {
public:
    FakeEndpointVolumeImpl(std::shared_ptr<FakeAudio> audio, std::string device)
        : audio_(std::move(audio)), device_(std::move(device)) {}

    AudioResult<float> master_level() override {
        std::lock_guard lock(audio_->mutex_);
        return audio_->devices_[device_].master;
    }
    AudioResult<bool> muted() override {
        std::lock_guard lock(audio_->mutex_);
        return audio_->devices_[device_].master_muted;
    }
    AudioResult<RegistrationPtr> register_changes(std::shared_ptr<EndpointVolumeSink> sink) override {
        std::lock_guard lock(audio_->mutex_);
        const int key = audio_->next_registration_++;
        audio_->devices_[device_].volume_sinks.emplace(key, std::move(sink));
        return std::make_unique<FakeRegistration>([audio = audio_, device = device_, key] {
            std::lock_guard inner(audio->mutex_);
            audio->devices_[device].volume_sinks.erase(key);
        });
    }

private:
    std::shared_ptr<FakeAudio> audio_;
    std::string device_;
};

class FakeAudioDeviceImpl final : public AudioDevice {
public:
    FakeAudioDeviceImpl(std::shared_ptr<FakeAudio> audio, std::string device)
        : audio_(std::move(audio)), device_(std::move(device)) {}
    AudioResult<std::unique_ptr<AudioSessionManager>> session_manager() override {
        return std::make_unique<FakeSessionManagerImpl>(audio_, device_);
    }
    AudioResult<std::unique_ptr<EndpointVolume>> endpoint_volume() override {
        return std::make_unique<FakeEndpointVolumeImpl>(audio_, device_);
    }

private:
    std::shared_ptr<FakeAudio> audio_;
    std::string device_;
};

class FakeAudioSystemImpl final : public AudioSystem {
public:
    explicit FakeAudioSystemImpl(std::shared_ptr<FakeAudio> audio) : audio_(std::move(audio)) {}

    AudioResult<std::vector<AudioDevicePtr>> active_render_devices() override {
        std::lock_guard lock(audio_->mutex_);
        std::vector<AudioDevicePtr> devices;
        for (const auto& name : audio_->device_order_) {
            if (audio_->devices_[name].active) devices.push_back(std::make_unique<FakeAudioDeviceImpl>(audio_, name));
        }
        return devices;
    }
    AudioResult<AudioDevicePtr> default_render_device() override {
        std::lock_guard lock(audio_->mutex_);
        if (audio_->default_device_.empty()) return audio_failure("GetDefaultAudioEndpoint");
        return std::make_unique<FakeAudioDeviceImpl>(audio_, audio_->default_device_);
    }
    AudioResult<RegistrationPtr> register_endpoint_notifications(std::shared_ptr<EndpointNotificationSink> sink) override {
        std::lock_guard lock(audio_->mutex_);
        if (audio_->endpoint_registration_fails_) return audio_failure("RegisterEndpointNotificationCallback");
        const int key = audio_->next_registration_++;
        audio_->notification_sinks_.emplace(key, std::move(sink));
        return std::make_unique<FakeRegistration>([audio = audio_, key] {
            std::lock_guard inner(audio->mutex_);
            audio->notification_sinks_.erase(key);
        });
    }
    ProcessIdentity process_identity(std::uint32_t process_id) override {
        std::lock_guard lock(audio_->mutex_);
        const auto found = audio_->processes_.find(process_id);
        return found == audio_->processes_.end() ? ProcessIdentity{} : found->second;
    }
    // The fake knows no parents: every process stands alone.
    std::vector<ProcessFacts> process_facts(const std::string&, std::span<const std::uint32_t>) override {
        std::lock_guard lock(audio_->mutex_);
        std::vector<ProcessFacts> facts;
        for (const auto& [id, identity] : audio_->processes_) {
            facts.push_back({.id = id, .started = 1, .executable = identity.executable_name.value_or("")});
            facts.back().package_app_id = identity.app_user_model_id;
        }
        return facts;
    }

private:
    std::shared_ptr<FakeAudio> audio_;
};

class FakeBackendImpl final : public AudioBackend {
public:
    explicit FakeBackendImpl(std::shared_ptr<FakeAudio> audio) : audio_(std::move(audio)) {}
    AudioResult<void> join_multithreaded_apartment() override {
        if (audio_->join_fails_) return audio_failure("CoIncrementMTAUsage");
        return {};
    }
    AudioResult<EventContext> make_event_context() override {
        std::lock_guard lock(audio_->mutex_);
        EventContext context;
        context.bytes[0] = 0xC0;
        context.bytes[1] = static_cast<std::uint8_t>(audio_->contexts_.size() + 1);
        audio_->contexts_.push_back(context);
        return context;
    }
    AudioResult<std::shared_ptr<AudioSystem>> open_audio_system() override {
        return std::make_shared<FakeAudioSystemImpl>(audio_);
    }

private:
    std::shared_ptr<FakeAudio> audio_;
};

float FakeAudioSessionHandle::level() const {
    std::lock_guard lock(audio_->mutex_);
    return audio_->sessions_[id_].data.level;
}

bool FakeAudioSessionHandle::muted() const {
    std::lock_guard lock(audio_->mutex_);
    return audio_->sessions_[id_].data.muted;
}

int FakeAudioSessionHandle::sink_count() const {
    std::lock_guard lock(audio_->mutex_);
    return static_cast<int>(audio_->sessions_[id_].sinks.size());
}

void FakeAudio::add_device(const std::string& device) {
    std::lock_guard lock(mutex_);
    device_order_.push_back(device);
    devices_[device];
    if (default_device_.empty()) default_device_ = device;
}

void FakeAudio::set_device_active(const std::string& device, bool active) {
    std::lock_guard lock(mutex_);
    devices_[device].active = active;
}

void FakeAudio::switch_default_device(const std::string& device) {
    std::vector<std::shared_ptr<EndpointNotificationSink>> sinks;
    {
        std::lock_guard lock(mutex_);
        default_device_ = device;
        for (const auto& [key, sink] : notification_sinks_) sinks.push_back(sink);
    }
    on_platform_thread([&] {
        for (const auto& sink : sinks) {
            sink->on_default_device_changed(0, 1);  // the multimedia role: not ours
            sink->on_default_device_changed(0, 0);
        }
    });
}

void FakeAudio::set_master(const std::string& device, float level, bool muted) {
    std::lock_guard lock(mutex_);
    devices_[device].master = level;
    devices_[device].master_muted = muted;
}

void FakeAudio::add_process(std::uint32_t process_id, ProcessIdentity identity) {
    std::lock_guard lock(mutex_);
    processes_[process_id] = std::move(identity);
}

FakeAudioSessionHandle FakeAudio::add_session(const std::string& device, FakeAudioSessionData data) {
    std::vector<std::shared_ptr<SessionCreationSink>> sinks;
    std::size_t id = 0;
    {
        std::lock_guard lock(mutex_);
        id = sessions_.size();
        sessions_.push_back(Session{device, std::move(data), {}});
        for (const auto& [key, sink] : devices_[device].creation_sinks) sinks.push_back(sink);
    }
    on_platform_thread([&] {
        for (const auto& sink : sinks) sink->on_session_created();
    });
    return FakeAudioSessionHandle(shared_from_this(), id);
}

void FakeAudio::change_session_volume(const FakeAudioSessionHandle& session, float level, bool muted) {
    {
        std::lock_guard lock(mutex_);
        sessions_[session.id_].data.level = level;
        sessions_[session.id_].data.muted = muted;
    }
    notify_session(session.id_, level, muted, FOREIGN_CONTEXT);
}

void FakeAudio::change_master(const std::string& device, float level, bool muted) {
    set_master(device, level, muted);
    notify_master(device, level, muted, FOREIGN_CONTEXT);
}

void FakeAudio::expire_session(const FakeAudioSessionHandle& session) {
    std::vector<std::shared_ptr<SessionEventSink>> sinks;
    {
        std::lock_guard lock(mutex_);
        sessions_[session.id_].data.state = AudioSessionState::expired;
        for (const auto& [key, sink] : sessions_[session.id_].sinks) sinks.push_back(sink);
    }
    on_platform_thread([&] {
        for (const auto& sink : sinks) sink->on_state_changed(AudioSessionState::expired);
    });
}

void FakeAudio::fail_listing(bool fail) {
    std::lock_guard lock(mutex_);
    listing_fails_ = fail;
}

void FakeAudio::notify_session(std::size_t id, float level, bool muted, std::optional<EventContext> context) {
    std::vector<std::shared_ptr<SessionEventSink>> sinks;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [key, sink] : sessions_[id].sinks) sinks.push_back(sink);
    }
    on_platform_thread([&] {
        for (const auto& sink : sinks) sink->on_simple_volume_changed(level, muted, context);
    });
}

void FakeAudio::notify_master(const std::string& device, float level, bool muted, EventContext context) {
    std::vector<std::shared_ptr<EndpointVolumeSink>> sinks;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [key, sink] : devices_[device].volume_sinks) sinks.push_back(sink);
    }
    on_platform_thread([&] {
        for (const auto& sink : sinks) sink->on_notify(level, muted, context);
    });
}

int FakeAudio::endpoint_volume_sinks(const std::string& device) const {
    std::lock_guard lock(mutex_);
    const auto found = devices_.find(device);
    return found == devices_.end() ? 0 : static_cast<int>(found->second.volume_sinks.size());
}

int FakeAudio::creation_sinks(const std::string& device) const {
    std::lock_guard lock(mutex_);
    const auto found = devices_.find(device);
    return found == devices_.end() ? 0 : static_cast<int>(found->second.creation_sinks.size());
}

int FakeAudio::endpoint_notification_sinks() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(notification_sinks_.size());
}

std::vector<EventContext> FakeAudio::contexts_made() const {
    std::lock_guard lock(mutex_);
    return contexts_;
}

std::shared_ptr<AudioBackend> FakeAudio::backend() { return std::make_shared<FakeBackendImpl>(shared_from_this()); }

}  // namespace olvex::testing_support
