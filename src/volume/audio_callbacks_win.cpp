#include "volume/audio_callbacks_win.hpp"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <optional>
#include <source_location>
#include <utility>

#include "base/failure.hpp"

namespace olvex::volume {

namespace {

// IUnknown for an object that implements one interface. COM interfaces have
// no virtual destructor by design: an object is only ever deleted by its own
// Release, here through this class, whose destructor is virtual.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
template <class Interface>
class Callback : public Interface {
public:
    Callback() = default;
    Callback(const Callback&) = delete;
    Callback& operator=(const Callback&) = delete;
    virtual ~Callback() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (!IsEqualIID(iid, __uuidof(IUnknown)) && !IsEqualIID(iid, __uuidof(Interface))) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return references_.fetch_add(1, std::memory_order_relaxed) + 1; }

    // The last release may come on any thread; acq_rel makes every earlier
    // use of the object happen before its deletion.
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

private:
    std::atomic<ULONG> references_{1};
};
#pragma GCC diagnostic pop

// Hands a notification to a sink. Core Audio's threads must never see an
// exception, and a failed sink is no reason to tell Core Audio anything but
// S_OK, since it could not act on it anyway.
template <typename Call>
HRESULT deliver(Call&& call, std::source_location where = std::source_location::current()) noexcept {
    run_guarded(std::forward<Call>(call), where);
    return S_OK;
}

class EndpointNotificationClient final : public Callback<IMMNotificationClient> {
public:
    explicit EndpointNotificationClient(std::shared_ptr<EndpointNotificationSink> sink) : sink_(std::move(sink)) {}

    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR, DWORD) override {
        return event(DeviceEventKind::state_changed);
    }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return event(DeviceEventKind::added); }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR) override { return event(DeviceEventKind::removed); }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override {
        return event(DeviceEventKind::property_changed);
    }
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR) override {
        return deliver([&] {
            sink_->on_default_device_changed(static_cast<std::int32_t>(flow), static_cast<std::int32_t>(role));
        });
    }

private:
    HRESULT event(DeviceEventKind kind) {
        return deliver([&] { sink_->on_device_event(kind); });
    }

    std::shared_ptr<EndpointNotificationSink> sink_;
};

class SessionCreationNotification final : public Callback<IAudioSessionNotification> {
public:
    explicit SessionCreationNotification(std::shared_ptr<SessionCreationSink> sink) : sink_(std::move(sink)) {}

    // The new session is only borrowed for the call; nothing keeps it.
    HRESULT STDMETHODCALLTYPE OnSessionCreated(IAudioSessionControl*) override {
        return deliver([&] { sink_->on_session_created(); });
    }

private:
    std::shared_ptr<SessionCreationSink> sink_;
};

class SessionEvents final : public Callback<IAudioSessionEvents> {
public:
    explicit SessionEvents(std::shared_ptr<SessionEventSink> sink) : sink_(std::move(sink)) {}

    HRESULT STDMETHODCALLTYPE OnSimpleVolumeChanged(float level, WINBOOL muted, LPCGUID context) override {
        return deliver([&] {
            const auto tag = context != nullptr ? std::optional(event_context_from_guid(*context)) : std::nullopt;
            sink_->on_simple_volume_changed(level, muted != FALSE, tag);
        });
    }
    HRESULT STDMETHODCALLTYPE OnStateChanged(::AudioSessionState state) override {
        return deliver([&] { sink_->on_state_changed(static_cast<AudioSessionState>(state)); });
    }
    HRESULT STDMETHODCALLTYPE OnSessionDisconnected(AudioSessionDisconnectReason) override {
        return deliver([&] { sink_->on_session_disconnected(); });
    }

    HRESULT STDMETHODCALLTYPE OnDisplayNameChanged(LPCWSTR, LPCGUID) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnIconPathChanged(LPCWSTR, LPCGUID) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnChannelVolumeChanged(DWORD, float[], DWORD, LPCGUID) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnGroupingParamChanged(LPCGUID, LPCGUID) override { return S_OK; }

private:
    std::shared_ptr<SessionEventSink> sink_;
};

class EndpointVolumeCallback final : public Callback<IAudioEndpointVolumeCallback> {
public:
    explicit EndpointVolumeCallback(std::shared_ptr<EndpointVolumeSink> sink) : sink_(std::move(sink)) {}

    HRESULT STDMETHODCALLTYPE OnNotify(AUDIO_VOLUME_NOTIFICATION_DATA* data) override {
        if (data == nullptr) return S_OK;
        return deliver([&] {
            sink_->on_notify(data->fMasterVolume, data->bMuted != FALSE, event_context_from_guid(data->guidEventContext));
        });
    }

private:
    std::shared_ptr<EndpointVolumeSink> sink_;
};

// Takes over the one reference a new object starts with.
template <class Interface>
ComPtr<Interface> adopt(Interface* object) {
    ComPtr<Interface> pointer;
    *pointer.put() = object;
    return pointer;
}

}  // namespace

EventContext event_context_from_guid(const GUID& guid) {
    static_assert(sizeof(GUID) == sizeof(EventContext::bytes));
    EventContext context;
    std::memcpy(context.bytes.data(), &guid, sizeof guid);
    return context;
}

GUID guid_from_event_context(const EventContext& context) {
    GUID guid;
    std::memcpy(&guid, context.bytes.data(), sizeof guid);
    return guid;
}

ComPtr<IMMNotificationClient> make_endpoint_notification_client(std::shared_ptr<EndpointNotificationSink> sink) {
    return adopt<IMMNotificationClient>(new EndpointNotificationClient(std::move(sink)));
}

ComPtr<IAudioSessionNotification> make_session_creation_notification(std::shared_ptr<SessionCreationSink> sink) {
    return adopt<IAudioSessionNotification>(new SessionCreationNotification(std::move(sink)));
}

ComPtr<IAudioSessionEvents> make_session_events(std::shared_ptr<SessionEventSink> sink) {
    return adopt<IAudioSessionEvents>(new SessionEvents(std::move(sink)));
}

ComPtr<IAudioEndpointVolumeCallback> make_endpoint_volume_callback(std::shared_ptr<EndpointVolumeSink> sink) {
    return adopt<IAudioEndpointVolumeCallback>(new EndpointVolumeCallback(std::move(sink)));
}

}  // namespace olvex::volume
