// The audio seam over Windows Core Audio.
//
// Every object here is free-threaded COM, used from threads in the process's
// multithreaded apartment. Registrations keep both the object they were made
// with and the callback object until they unregister, so that the callback
// outlives its registration whether or not Core Audio holds a reference too.

#include <windows.h>
#include <audiopolicy.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>
#include <objbase.h>

#include <memory>
#include <utility>
#include <vector>

#include "base/com_apartment_win.hpp"
#include "base/com_ptr_win.hpp"
#include "volume/audio_callbacks_win.hpp"
#include "volume/audio_platform.hpp"
#include "volume/audio_session_win.hpp"
#include "volume/core_audio_win.hpp"
#include "volume/process_facts_win.hpp"
#include "volume/process_identity_win.hpp"

namespace olvex::volume {

namespace {

using core_audio::failure;
using core_audio::obtain;
using core_audio::registered;

// IMMDevice::Activate, which hands out whatever interface it is asked for.
template <class Interface>
AudioResult<ComPtr<Interface>> activate(IMMDevice& device) {
    return obtain<Interface>([&](Interface** slot) {
        return device.Activate(__uuidof(Interface), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(slot));
    });
}

class WinSessionManager final : public AudioSessionManager {
public:
    explicit WinSessionManager(ComPtr<IAudioSessionManager2> manager) : manager_(std::move(manager)) {}

    AudioResult<std::vector<AudioSessionPtr>> sessions() override {
        auto list = session_list();
        if (!list) return std::unexpected(list.error());
        int count = 0;
        if (const HRESULT hr = (*list)->GetCount(&count); FAILED(hr)) return failure(hr);
        std::vector<AudioSessionPtr> found;
        for (int i = 0; i < count; ++i) {
            auto control = obtain<IAudioSessionControl>(
                [&](IAudioSessionControl** slot) { return (*list)->GetSession(i, slot); });
            if (!control) return std::unexpected(control.error());
            if (auto control2 = control->as<IAudioSessionControl2>())
                found.push_back(make_audio_session(std::move(control2)));
        }
        return found;
    }

    // The session manager holds back creation notifications until its
    // sessions have been counted once, so they are counted here first; if
    // that fails, so be it: only notifications are lost.
    AudioResult<RegistrationPtr> register_session_creation(std::shared_ptr<SessionCreationSink> sink) override {
        if (auto list = session_list()) {
            int count = 0;
            static_cast<void>((*list)->GetCount(&count));
        }
        auto notification = make_session_creation_notification(std::move(sink));
        return registered(manager_->RegisterSessionNotification(notification.get()),
                          [manager = manager_, notification] {
                              manager->UnregisterSessionNotification(notification.get());
                          });
    }

private:
    AudioResult<ComPtr<IAudioSessionEnumerator>> session_list() {
        return obtain<IAudioSessionEnumerator>(
            [&](IAudioSessionEnumerator** slot) { return manager_->GetSessionEnumerator(slot); });
    }

    ComPtr<IAudioSessionManager2> manager_;
};

class WinEndpointVolume final : public EndpointVolume {
public:
    explicit WinEndpointVolume(ComPtr<IAudioEndpointVolume> volume) : volume_(std::move(volume)) {}

    AudioResult<float> master_level() override {
        float value = 0.0f;
        if (const HRESULT hr = volume_->GetMasterVolumeLevelScalar(&value); FAILED(hr)) return failure(hr);
        return value;
    }

    AudioResult<bool> muted() override {
        BOOL value = FALSE;
        if (const HRESULT hr = volume_->GetMute(&value); FAILED(hr)) return failure(hr);
        return value != FALSE;
    }

    AudioResult<RegistrationPtr> register_changes(std::shared_ptr<EndpointVolumeSink> sink) override {
        auto callback = make_endpoint_volume_callback(std::move(sink));
        return registered(volume_->RegisterControlChangeNotify(callback.get()),
                          [volume = volume_, callback] { volume->UnregisterControlChangeNotify(callback.get()); });
    }

private:
    ComPtr<IAudioEndpointVolume> volume_;
};

class WinAudioDevice final : public AudioDevice {
public:
    explicit WinAudioDevice(ComPtr<IMMDevice> device) : device_(std::move(device)) {}

    AudioResult<std::unique_ptr<AudioSessionManager>> session_manager() override {
        auto manager = activate<IAudioSessionManager2>(*device_.get());
        if (!manager) return std::unexpected(manager.error());
        return std::make_unique<WinSessionManager>(std::move(*manager));
    }

    AudioResult<std::unique_ptr<EndpointVolume>> endpoint_volume() override {
        auto volume = activate<IAudioEndpointVolume>(*device_.get());
        if (!volume) return std::unexpected(volume.error());
        return std::make_unique<WinEndpointVolume>(std::move(*volume));
    }

private:
    ComPtr<IMMDevice> device_;
};

class WinAudioSystem final : public AudioSystem {
public:
    explicit WinAudioSystem(ComPtr<IMMDeviceEnumerator> enumerator) : enumerator_(std::move(enumerator)) {}

    AudioResult<std::vector<AudioDevicePtr>> active_render_devices() override {
        auto collection = obtain<IMMDeviceCollection>([&](IMMDeviceCollection** slot) {
            return enumerator_->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, slot);
        });
        if (!collection) return std::unexpected(collection.error());
        UINT count = 0;
        if (const HRESULT hr = (*collection)->GetCount(&count); FAILED(hr)) return failure(hr);
        std::vector<AudioDevicePtr> devices;
        for (UINT i = 0; i < count; ++i) {
            auto device = obtain<IMMDevice>([&](IMMDevice** slot) { return (*collection)->Item(i, slot); });
            if (!device) return std::unexpected(device.error());
            devices.push_back(std::make_unique<WinAudioDevice>(std::move(*device)));
        }
        return devices;
    }

    AudioResult<AudioDevicePtr> default_render_device() override {
        auto device = obtain<IMMDevice>(
            [&](IMMDevice** slot) { return enumerator_->GetDefaultAudioEndpoint(eRender, eConsole, slot); });
        if (!device) return std::unexpected(device.error());
        return std::make_unique<WinAudioDevice>(std::move(*device));
    }

    AudioResult<RegistrationPtr> register_endpoint_notifications(
        std::shared_ptr<EndpointNotificationSink> sink) override {
        auto client = make_endpoint_notification_client(std::move(sink));
        return registered(enumerator_->RegisterEndpointNotificationCallback(client.get()),
                          [enumerator = enumerator_, client] {
                              enumerator->UnregisterEndpointNotificationCallback(client.get());
                          });
    }

    ProcessIdentity process_identity(std::uint32_t process_id) override { return identify_process(process_id); }
    std::vector<ProcessFacts> process_facts(const std::string& app_id,
                                            std::span<const std::uint32_t> processes) override {
        return gatherer_.gather(app_id, processes);
    }

private:
    ComPtr<IMMDeviceEnumerator> enumerator_;
    ProcessFactGatherer gatherer_;
};

class WinAudioBackend final : public AudioBackend {
public:
    AudioResult<void> join_multithreaded_apartment() override {
        // Qualified: unqualified, the name would be this very member.
        if (const HRESULT hr = olvex::join_multithreaded_apartment(); FAILED(hr)) return failure(hr);
        return {};
    }

    AudioResult<EventContext> make_event_context() override {
        GUID guid{};
        if (const HRESULT hr = CoCreateGuid(&guid); FAILED(hr)) return failure(hr);
        return event_context_from_guid(guid);
    }

    AudioResult<std::shared_ptr<AudioSystem>> open_audio_system() override {
        auto enumerator = obtain<IMMDeviceEnumerator>([](IMMDeviceEnumerator** slot) {
            return CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                    reinterpret_cast<void**>(slot));
        });
        if (!enumerator) return std::unexpected(enumerator.error());
        return std::make_shared<WinAudioSystem>(std::move(*enumerator));
    }
};

}  // namespace

std::shared_ptr<AudioBackend> platform_audio_backend() { return std::make_shared<WinAudioBackend>(); }

}  // namespace olvex::volume
