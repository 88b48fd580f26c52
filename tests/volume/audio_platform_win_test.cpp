#include "volume/audio_platform.hpp"

#include <windows.h>
#include <audioclient.h>
#include <audiopolicy.h>
#include <endpointvolume.h>
#include <mmdeviceapi.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <source_location>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/com_ptr_win.hpp"
#include "base/failure.hpp"
#include "base/text.hpp"
#include "volume/audio_callbacks_win.hpp"
#include "volume/audio_session_win.hpp"
#include "volume/process_identity_win.hpp"

namespace olvex::volume {
namespace {

using namespace std::chrono_literals;

// A GUID whose bytes in memory are 1, 2, ... 16 on a little-endian machine.
constexpr GUID COUNTING_GUID = {0x04030201, 0x0605, 0x0807, {9, 10, 11, 12, 13, 14, 15, 16}};

EventContext counting_context() {
    EventContext context;
    for (std::uint8_t i = 0; i < 16; ++i) context.bytes[i] = static_cast<std::uint8_t>(i + 1);
    return context;
}

// Each thing a sink heard, as text, in order; notifications from Core Audio's
// own threads can be waited for.
class Heard {
public:
    void add(std::string entry) {
        {
            std::lock_guard lock(mutex_);
            entries_.push_back(std::move(entry));
        }
        changed_.notify_all();
    }
    std::vector<std::string> all() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }
    bool wait_for(const std::string& entry) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 5s, [&] { return std::ranges::find(entries_, entry) != entries_.end(); });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> entries_;
};

std::string describe(const std::optional<EventContext>& context) {
    if (!context) return "none";
    if (*context == counting_context()) return "counting";
    return "other";
}

struct RecordingSink final : EndpointNotificationSink, SessionCreationSink, SessionEventSink, EndpointVolumeSink {
    void on_default_device_changed(std::int32_t flow, std::int32_t role) override {
        heard.add("default " + std::to_string(flow) + " " + std::to_string(role));
    }
    void on_device_event(DeviceEventKind kind) override {
        heard.add("device " + std::to_string(static_cast<int>(kind)));
    }
    void on_session_created() override { heard.add("created"); }
    void on_simple_volume_changed(float level, bool muted, const std::optional<EventContext>& context) override {
        heard.add("session " + std::to_string(level) + (muted ? " muted " : " on ") + describe(context));
    }
    void on_state_changed(AudioSessionState state) override {
        heard.add("state " + std::to_string(static_cast<int>(state)));
    }
    void on_session_disconnected() override { heard.add("disconnected"); }
    void on_notify(float level, bool muted, const EventContext& context) override {
        heard.add("master " + std::to_string(level) + (muted ? " muted " : " on ") + describe(context));
    }

    Heard heard;
};

struct ThrowingSink final : EndpointNotificationSink, SessionCreationSink, SessionEventSink, EndpointVolumeSink {
    void on_default_device_changed(std::int32_t, std::int32_t) override { throw std::runtime_error("default"); }
    void on_device_event(DeviceEventKind) override { throw std::runtime_error("device"); }
    void on_session_created() override { throw std::runtime_error("created"); }
    void on_simple_volume_changed(float, bool, const std::optional<EventContext>&) override { throw 7; }
    void on_state_changed(AudioSessionState) override { throw std::runtime_error("state"); }
    void on_session_disconnected() override { throw std::runtime_error("disconnected"); }
    void on_notify(float, bool, const EventContext&) override { throw std::runtime_error("master"); }
};

std::atomic<int> failures_recorded{0};
void count_failure(const std::source_location&, std::optional<std::string_view>) { ++failures_recorded; }

TEST(EventContextWin, IsTheGuidsBytesInMemoryOrder) {
    EXPECT_EQ(event_context_from_guid(COUNTING_GUID), counting_context());
    EXPECT_TRUE(IsEqualGUID(guid_from_event_context(counting_context()), COUNTING_GUID));
}

TEST(AudioBackendWin, JoinsTheApartmentAndMakesFreshEventContexts) {
    const auto backend = platform_audio_backend();
    ASSERT_TRUE(backend->join_multithreaded_apartment().has_value());
    ASSERT_TRUE(backend->join_multithreaded_apartment().has_value()) << "joining again is harmless";
    const auto first = backend->make_event_context();
    const auto second = backend->make_event_context();
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    EXPECT_NE(*first, EventContext{});
}

// One callback object: what COM asks of its IUnknown, and that the last
// release deletes it, which lets go of its sink.
template <class Interface, class Make>
void expect_sound_unknown(Make make) {
    auto sink = std::make_shared<RecordingSink>();
    const std::weak_ptr<RecordingSink> watched = sink;
    ComPtr<Interface> object = make(std::move(sink));
    ASSERT_TRUE(object);
    void* same = nullptr;
    ASSERT_EQ(object->QueryInterface(__uuidof(Interface), &same), S_OK);
    EXPECT_EQ(same, object.get());
    void* unknown = nullptr;
    ASSERT_EQ(object->QueryInterface(__uuidof(IUnknown), &unknown), S_OK);
    EXPECT_EQ(unknown, static_cast<IUnknown*>(object.get()));
    EXPECT_EQ(object->Release(), 2u);
    EXPECT_EQ(object->Release(), 1u);

    void* other = &same;
    EXPECT_EQ(object->QueryInterface(__uuidof(IAgileObject), &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    const bool is_client = IsEqualIID(__uuidof(Interface), __uuidof(IMMNotificationClient));
    other = &same;
    EXPECT_EQ(object->QueryInterface(is_client ? __uuidof(IAudioSessionEvents) : __uuidof(IMMNotificationClient),
                                     &other),
              E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(object->QueryInterface(__uuidof(Interface), nullptr), E_POINTER);

    EXPECT_EQ(object->AddRef(), 2u);
    EXPECT_EQ(object->Release(), 1u);
    EXPECT_FALSE(watched.expired());
    object.reset();
    EXPECT_TRUE(watched.expired()) << "the object was not deleted at its last release";
}

TEST(AudioCallbacksWin, ObjectsCountReferencesAndAnswerOnlyTheirInterfaces) {
    expect_sound_unknown<IMMNotificationClient>(
        [](std::shared_ptr<RecordingSink> sink) { return make_endpoint_notification_client(std::move(sink)); });
    expect_sound_unknown<IAudioSessionNotification>(
        [](std::shared_ptr<RecordingSink> sink) { return make_session_creation_notification(std::move(sink)); });
    expect_sound_unknown<IAudioSessionEvents>(
        [](std::shared_ptr<RecordingSink> sink) { return make_session_events(std::move(sink)); });
    expect_sound_unknown<IAudioEndpointVolumeCallback>(
        [](std::shared_ptr<RecordingSink> sink) { return make_endpoint_volume_callback(std::move(sink)); });
}

TEST(AudioCallbacksWin, DeviceEventsReachTheSinkByKind) {
    const auto sink = std::make_shared<RecordingSink>();
    const auto client = make_endpoint_notification_client(sink);
    const PROPERTYKEY key{};
    EXPECT_EQ(client->OnDefaultDeviceChanged(eRender, eConsole, L"{0.0.0.00000000}.{x}"), S_OK);
    EXPECT_EQ(client->OnDefaultDeviceChanged(eCapture, eCommunications, nullptr), S_OK);
    EXPECT_EQ(client->OnDeviceStateChanged(L"a", DEVICE_STATE_UNPLUGGED), S_OK);
    EXPECT_EQ(client->OnDeviceAdded(L"a"), S_OK);
    EXPECT_EQ(client->OnDeviceRemoved(L"a"), S_OK);
    EXPECT_EQ(client->OnPropertyValueChanged(L"a", key), S_OK);
    EXPECT_THAT(sink->heard.all(),
                testing::ElementsAre("default 0 0", "default 1 2", "device 0", "device 1", "device 2", "device 4"));
}

TEST(AudioCallbacksWin, SessionEventsPassVolumeStateAndDisconnection) {
    const auto sink = std::make_shared<RecordingSink>();
    const auto events = make_session_events(sink);
    const auto creation = make_session_creation_notification(sink);
    float channels[2] = {0.1f, 0.2f};
    EXPECT_EQ(events->OnSimpleVolumeChanged(0.25f, TRUE, &COUNTING_GUID), S_OK);
    EXPECT_EQ(events->OnSimpleVolumeChanged(0.5f, FALSE, nullptr), S_OK);
    EXPECT_EQ(events->OnSimpleVolumeChanged(1.0f, 2, &GUID_NULL), S_OK) << "any non-zero BOOL is true";
    EXPECT_EQ(events->OnDisplayNameChanged(L"x", nullptr), S_OK);
    EXPECT_EQ(events->OnIconPathChanged(L"x", nullptr), S_OK);
    EXPECT_EQ(events->OnChannelVolumeChanged(2, channels, 1, nullptr), S_OK);
    EXPECT_EQ(events->OnGroupingParamChanged(&GUID_NULL, nullptr), S_OK);
    EXPECT_EQ(events->OnStateChanged(AudioSessionStateExpired), S_OK);
    EXPECT_EQ(events->OnStateChanged(AudioSessionStateActive), S_OK);
    EXPECT_EQ(events->OnSessionDisconnected(DisconnectReasonDeviceRemoval), S_OK);
    EXPECT_EQ(creation->OnSessionCreated(nullptr), S_OK);
    EXPECT_THAT(sink->heard.all(),
                testing::ElementsAre("session 0.250000 muted counting", "session 0.500000 on none",
                                     "session 1.000000 muted other", "state 2", "state 1", "disconnected",
                                     "created"));
}

TEST(AudioCallbacksWin, MasterVolumeNotificationsNeedData) {
    const auto sink = std::make_shared<RecordingSink>();
    const auto callback = make_endpoint_volume_callback(sink);
    EXPECT_EQ(callback->OnNotify(nullptr), S_OK);
    AUDIO_VOLUME_NOTIFICATION_DATA data{COUNTING_GUID, TRUE, 0.75f, 1, {0.75f}};
    EXPECT_EQ(callback->OnNotify(&data), S_OK);
    data = {GUID_NULL, FALSE, 0.0f, 1, {0.0f}};
    EXPECT_EQ(callback->OnNotify(&data), S_OK);
    EXPECT_THAT(sink->heard.all(), testing::ElementsAre("master 0.750000 muted counting", "master 0.000000 on other"));
}

TEST(AudioCallbacksWin, AFailingSinkIsRecordedAndCoreAudioStillHearsSuccess) {
    failures_recorded = 0;
    set_failure_recorder(&count_failure);
    const auto sink = std::make_shared<ThrowingSink>();
    const auto client = make_endpoint_notification_client(sink);
    const auto creation = make_session_creation_notification(sink);
    const auto events = make_session_events(sink);
    const auto master = make_endpoint_volume_callback(sink);
    AUDIO_VOLUME_NOTIFICATION_DATA data{GUID_NULL, FALSE, 0.5f, 1, {0.5f}};
    EXPECT_EQ(client->OnDefaultDeviceChanged(eRender, eConsole, nullptr), S_OK);
    EXPECT_EQ(client->OnDeviceAdded(L"a"), S_OK);
    EXPECT_EQ(creation->OnSessionCreated(nullptr), S_OK);
    EXPECT_EQ(events->OnSimpleVolumeChanged(0.5f, FALSE, nullptr), S_OK);
    EXPECT_EQ(events->OnStateChanged(AudioSessionStateExpired), S_OK);
    EXPECT_EQ(events->OnSessionDisconnected(DisconnectReasonServerShutdown), S_OK);
    EXPECT_EQ(master->OnNotify(&data), S_OK);
    set_failure_recorder(nullptr);
    EXPECT_EQ(failures_recorded, 7);
}

// "... (0x8007xxxx)", as every platform error is described.
bool ends_in_hresult(std::string_view message) {
    constexpr std::size_t CODE = std::string_view("(0x12345678)").size();
    if (message.size() < CODE || !message.ends_with(')')) return false;
    const std::string_view code = message.substr(message.size() - CODE);
    return code.starts_with("(0x") && std::ranges::all_of(code.substr(3, 8), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
           });
}

// Wine leaves parts of Core Audio unimplemented; what it lacks is skipped
// rather than failed.
bool not_implemented(const Error& error) { return error.message.ends_with("(0x80004001)"); }
bool not_implemented(HRESULT hr) { return hr == E_NOTIMPL; }

// Without a sound card (Wine on a build machine) there may be no enumerator
// or no device; either way failures come described.
TEST(AudioSystemWin, ListsDevicesOrSaysWhyNot) {
    const auto backend = platform_audio_backend();
    ASSERT_TRUE(backend->join_multithreaded_apartment());
    const auto system = backend->open_audio_system();
    if (!system) {
        EXPECT_TRUE(ends_in_hresult(system.error().message)) << system.error().message;
        GTEST_SKIP() << "no device enumerator: " << system.error().message;
    }
    const auto devices = (*system)->active_render_devices();
    ASSERT_TRUE(devices) << devices.error().message;
    RecordProperty("active_render_devices", static_cast<int>(devices->size()));
    for (const auto& device : *devices) {
        const auto manager = device->session_manager();
        ASSERT_TRUE(manager) << manager.error().message;
        const auto sessions = (*manager)->sessions();
        EXPECT_TRUE(sessions || not_implemented(sessions.error())) << sessions.error().message;
        const auto volume = device->endpoint_volume();
        ASSERT_TRUE(volume) << volume.error().message;
        const auto level = (*volume)->master_level();
        ASSERT_TRUE(level) << level.error().message;
        EXPECT_THAT(*level, testing::AllOf(testing::Ge(0.0f), testing::Le(1.0f)));
    }
    const auto sink = std::make_shared<RecordingSink>();
    auto registration = (*system)->register_endpoint_notifications(sink);
    ASSERT_TRUE(registration) << registration.error().message;
    registration->reset();

    const auto default_device = (*system)->default_render_device();
    if (devices->empty()) {
        ASSERT_FALSE(default_device) << "a default device among no active ones";
        EXPECT_TRUE(ends_in_hresult(default_device.error().message)) << default_device.error().message;
    } else {
        EXPECT_TRUE(default_device) << default_device.error().message;
    }
}

// An audio stream of this process on the default device, which gives the
// process a session there.
class OwnStream {
public:
    // Empty when the system has no default device or refuses the stream.
    static std::optional<OwnStream> open(const GUID* session) {
        ComPtr<IMMDeviceEnumerator> enumerator;
        ComPtr<IMMDevice> device;
        OwnStream stream;
        WAVEFORMATEX* format = nullptr;
        if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                    enumerator.put_void())) ||
            FAILED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.put())) ||
            FAILED(device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, stream.client_.put_void())) ||
            FAILED(stream.client_->GetMixFormat(&format))) {
            return std::nullopt;
        }
        const HRESULT hr = stream.client_->Initialize(AUDCLNT_SHAREMODE_SHARED, 0, 10'000'000, 0, format, session);
        CoTaskMemFree(format);
        if (FAILED(hr)) return std::nullopt;
        return stream;
    }

    // The stream's session, asked of the stream itself rather than found
    // among the device's sessions.
    [[nodiscard]] ComPtr<IAudioSessionControl2> session_control() const {
        ComPtr<IAudioSessionControl> control;
        if (FAILED(client_->GetService(__uuidof(IAudioSessionControl), control.put_void()))) return {};
        return control.as<IAudioSessionControl2>();
    }

private:
    ComPtr<IAudioClient> client_;
};

// Needs a sound device: under Wine, a PulseAudio server (a null sink will do).
class OwnSessionWin : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(backend_->join_multithreaded_apartment());
        auto system = backend_->open_audio_system();
        if (!system) GTEST_SKIP() << "no device enumerator: " << system.error().message;
        auto device = (*system)->default_render_device();
        if (!device) GTEST_SKIP() << "no default render device: " << device.error().message;
        device_ = std::move(*device);
        stream_ = OwnStream::open(nullptr);
        if (!stream_) GTEST_SKIP() << "the default device takes no stream";
        auto manager = device_->session_manager();
        ASSERT_TRUE(manager) << manager.error().message;
        manager_ = std::move(*manager);
        control_ = stream_->session_control();
        ASSERT_TRUE(control_);
        session_ = listed_own_session();
        if (!session_) session_ = make_audio_session(control_);
    }

    // This process's session as the device lists it; null where the system
    // cannot list sessions.
    AudioSessionPtr listed_own_session() {
        auto sessions = manager_->sessions();
        if (!sessions && not_implemented(sessions.error())) return nullptr;
        EXPECT_TRUE(sessions) << sessions.error().message;
        if (!sessions) return nullptr;
        for (auto& session : *sessions) {
            if (session->process_id() == GetCurrentProcessId() && session->is_system_sounds_session() == false)
                return std::move(session);
        }
        ADD_FAILURE() << "this process's session is not listed";
        return nullptr;
    }

    std::shared_ptr<AudioBackend> backend_ = platform_audio_backend();
    AudioDevicePtr device_;
    std::optional<OwnStream> stream_;
    std::unique_ptr<AudioSessionManager> manager_;
    ComPtr<IAudioSessionControl2> control_;
    AudioSessionPtr session_;
};

TEST_F(OwnSessionWin, DescribesItsProcessAndState) {
    EXPECT_EQ(session_->process_id(), GetCurrentProcessId());
    EXPECT_EQ(session_->is_system_sounds_session(), false);
    EXPECT_EQ(session_->state(), AudioSessionState::inactive) << "nothing has been played";
}

TEST_F(OwnSessionWin, IdentifiersNameTheExecutable) {
    const auto identifier = session_->session_identifier();
    const auto instance = session_->session_instance_identifier();
    if (!identifier && not_implemented(identifier.error())) GTEST_SKIP() << "no session identifiers here";
    ASSERT_TRUE(identifier && instance);
    EXPECT_THAT(ascii_to_lower(*identifier), testing::HasSubstr("volume_test.exe"));
    EXPECT_THAT(ascii_to_lower(*instance), testing::HasSubstr("volume_test.exe"));
}

TEST_F(OwnSessionWin, VolumeChangesRoundTripTaggedWithTheContext) {
    if (!control_.as<ISimpleAudioVolume>()) {
        // Wine's session controls do not lead to the session volume: every
        // volume call must then fail, described.
        const auto level = session_->level();
        ASSERT_FALSE(level);
        EXPECT_TRUE(ends_in_hresult(level.error().message)) << level.error().message;
        EXPECT_FALSE(session_->set_muted(true, counting_context()));
        GTEST_SKIP() << "session controls here have no ISimpleAudioVolume";
    }
    const auto sink = std::make_shared<RecordingSink>();
    auto registration = session_->register_events(sink);
    ASSERT_TRUE(registration) << registration.error().message;
    ASSERT_TRUE(session_->set_level(0.25f, counting_context()));
    ASSERT_TRUE(session_->set_muted(true, counting_context()));
    EXPECT_EQ(session_->level(), 0.25f);
    EXPECT_EQ(session_->muted(), true);
    EXPECT_TRUE(sink->heard.wait_for("session 0.250000 muted counting")) << testing::PrintToString(sink->heard.all());

    registration->reset();
    ASSERT_TRUE(session_->set_level(0.5f, counting_context()));
    EXPECT_EQ(session_->level(), 0.5f);
    EXPECT_THAT(sink->heard.all(), testing::Not(testing::Contains("session 0.500000 muted counting")))
        << "heard after unregistering";
}

TEST_F(OwnSessionWin, AnnouncesANewSession) {
    const auto sink = std::make_shared<RecordingSink>();
    auto registration = manager_->register_session_creation(sink);
    if (!registration && not_implemented(registration.error())) GTEST_SKIP() << "no creation notifications here";
    ASSERT_TRUE(registration) << registration.error().message;
    GUID second_session{};
    ASSERT_EQ(CoCreateGuid(&second_session), S_OK);
    const auto second = OwnStream::open(&second_session);
    ASSERT_TRUE(second);
    EXPECT_TRUE(sink->heard.wait_for("created"));
}

TEST_F(OwnSessionWin, MasterVolumeChangesArriveWithTheirContext) {
    auto volume = device_->endpoint_volume();
    ASSERT_TRUE(volume) << volume.error().message;
    const auto before = (*volume)->master_level();
    ASSERT_TRUE(before) << before.error().message;
    EXPECT_THAT(*before, testing::AllOf(testing::Ge(0.0f), testing::Le(1.0f)));
    ASSERT_TRUE((*volume)->muted());
    const auto sink = std::make_shared<RecordingSink>();
    auto registration = (*volume)->register_changes(sink);
    ASSERT_TRUE(registration) << registration.error().message;

    // The seam only reads the master volume, so the test changes it directly,
    // and puts it back.
    ComPtr<IMMDeviceEnumerator> enumerator;
    ComPtr<IMMDevice> device;
    ComPtr<IAudioEndpointVolume> endpoint;
    ASSERT_EQ(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                               enumerator.put_void()),
              S_OK);
    ASSERT_EQ(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, device.put()), S_OK);
    ASSERT_EQ(device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr, endpoint.put_void()), S_OK);
    const float wanted = *before == 0.5f ? 0.75f : 0.5f;
    const HRESULT set = endpoint->SetMasterVolumeLevelScalar(wanted, &COUNTING_GUID);
    if (not_implemented(set)) GTEST_SKIP() << "the master volume cannot be set here";
    ASSERT_EQ(set, S_OK);
    EXPECT_EQ((*volume)->master_level(), wanted);
    EXPECT_TRUE(sink->heard.wait_for("master " + std::to_string(wanted) + " on counting"))
        << testing::PrintToString(sink->heard.all());
    endpoint->SetMasterVolumeLevelScalar(*before, nullptr);
}

TEST(ProcessIdentityWin, NamesThisProgramAndNothingForAMissingProcess) {
    const ProcessIdentity own = identify_process(GetCurrentProcessId());
    EXPECT_EQ(own.executable_name, "volume_test.exe");
    EXPECT_EQ(own.app_user_model_id, std::nullopt) << "a test program has no package identity";
    const ProcessIdentity missing = identify_process(0xFFFFFFF0u);
    EXPECT_EQ(missing.app_user_model_id, std::nullopt);
    EXPECT_EQ(missing.executable_name, std::nullopt);
}

}  // namespace
}  // namespace olvex::volume
