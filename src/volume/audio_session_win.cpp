#include "volume/audio_session_win.hpp"

#include <objbase.h>

#include <memory>
#include <string>
#include <utility>

#include "base/text.hpp"
#include "volume/audio_callbacks_win.hpp"
#include "volume/core_audio_win.hpp"

namespace olvex::volume {

namespace {

using core_audio::failure;
using core_audio::obtain;
using core_audio::registered;

// A string Core Audio allocated for the caller, who frees it.
AudioResult<std::string> take_text(HRESULT hr, wchar_t* text) {
    const std::unique_ptr<wchar_t, decltype(&CoTaskMemFree)> owned(text, &CoTaskMemFree);
    if (FAILED(hr)) return failure(hr);
    if (text == nullptr) return std::string();
    return utf16_to_utf8(reinterpret_cast<const char16_t*>(text));
}

class WinAudioSession final : public AudioSession {
public:
    explicit WinAudioSession(ComPtr<IAudioSessionControl2> control) : control_(std::move(control)) {}

    AudioResult<AudioSessionState> state() override {
        ::AudioSessionState value{};
        if (const HRESULT hr = control_->GetState(&value); FAILED(hr)) return failure(hr);
        return static_cast<AudioSessionState>(value);
    }

    // S_FALSE, the other success, means "no".
    AudioResult<bool> is_system_sounds_session() override {
        const HRESULT hr = control_->IsSystemSoundsSession();
        if (FAILED(hr)) return failure(hr);
        return hr == S_OK;
    }

    // A session shared by several processes answers with the success code
    // AUDCLNT_S_NO_SINGLE_PROCESS and the id of the one that made it.
    AudioResult<std::uint32_t> process_id() override {
        DWORD id = 0;
        if (const HRESULT hr = control_->GetProcessId(&id); FAILED(hr)) return failure(hr);
        return static_cast<std::uint32_t>(id);
    }

    AudioResult<std::string> session_identifier() override {
        wchar_t* text = nullptr;
        const HRESULT hr = control_->GetSessionIdentifier(&text);
        return take_text(hr, text);
    }

    AudioResult<std::string> session_instance_identifier() override {
        wchar_t* text = nullptr;
        const HRESULT hr = control_->GetSessionInstanceIdentifier(&text);
        return take_text(hr, text);
    }

    AudioResult<float> level() override {
        return with_volume([](ISimpleAudioVolume& volume) -> AudioResult<float> {
            float value = 0.0f;
            if (const HRESULT hr = volume.GetMasterVolume(&value); FAILED(hr)) return failure(hr);
            return value;
        });
    }

    AudioResult<bool> muted() override {
        return with_volume([](ISimpleAudioVolume& volume) -> AudioResult<bool> {
            BOOL value = FALSE;
            if (const HRESULT hr = volume.GetMute(&value); FAILED(hr)) return failure(hr);
            return value != FALSE;
        });
    }

    AudioResult<void> set_level(float value, const EventContext& context) override {
        const GUID guid = guid_from_event_context(context);
        return with_volume([&](ISimpleAudioVolume& volume) { return done(volume.SetMasterVolume(value, &guid)); });
    }

    AudioResult<void> set_muted(bool value, const EventContext& context) override {
        const GUID guid = guid_from_event_context(context);
        return with_volume([&](ISimpleAudioVolume& volume) { return done(volume.SetMute(value ? TRUE : FALSE, &guid)); });
    }

    AudioResult<RegistrationPtr> register_events(std::shared_ptr<SessionEventSink> sink) override {
        auto events = make_session_events(std::move(sink));
        return registered(control_->RegisterAudioSessionNotification(events.get()),
                          [control = control_, events] { control->UnregisterAudioSessionNotification(events.get()); });
    }

private:
    static AudioResult<void> done(HRESULT hr) {
        if (FAILED(hr)) return failure(hr);
        return {};
    }

    // Most sessions are only looked at, so the volume interface is asked for
    // when it is first needed.
    template <class Use>
    auto with_volume(Use&& use) -> decltype(use(std::declval<ISimpleAudioVolume&>())) {
        if (!volume_) {
            auto volume = obtain<ISimpleAudioVolume>([&](ISimpleAudioVolume** slot) {
                return control_->QueryInterface(__uuidof(ISimpleAudioVolume), reinterpret_cast<void**>(slot));
            });
            if (!volume) return std::unexpected(volume.error());
            volume_ = std::move(*volume);
        }
        return std::forward<Use>(use)(*volume_.get());
    }

    ComPtr<IAudioSessionControl2> control_;
    ComPtr<ISimpleAudioVolume> volume_;
};

}  // namespace

AudioSessionPtr make_audio_session(ComPtr<IAudioSessionControl2> control) {
    return std::make_unique<WinAudioSession>(std::move(control));
}

}  // namespace olvex::volume
