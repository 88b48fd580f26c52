#include "media/winrt_media_win.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <source_location>
#include <stdexcept>
#include <string_view>

#include "base/failure.hpp"
#include "media/winrt_activation_win.hpp"
#include "media/winrt_object_win.hpp"
#include "media/winrt_stub_objects_win.hpp"

namespace olvex::media::winrt {
namespace {

using ::testing::EndsWith;
using testing::Finish;
using testing::StubObject;
using testing::StubOperation;

// The IIDs the Windows Runtime derives for two of the delegate instances.
constexpr GUID MEDIA_PROPERTIES_CHANGED_HANDLER = {
    0x0f2ce2b7, 0xafa7, 0x5ed0, {0x8c, 0xb6, 0x8c, 0x40, 0xcf, 0x9b, 0x3a, 0x5f}};
constexpr GUID SESSIONS_CHANGED_HANDLER = {
    0x2e2a8630, 0xdc8c, 0x530a, {0x97, 0x46, 0xbc, 0x98, 0x4d, 0x4b, 0x02, 0x9e}};

#define OLVEX_UNUSED_METHOD(name, ...) \
    HRESULT STDMETHODCALLTYPE name(__VA_ARGS__) override { return E_NOTIMPL; }

// A session that keeps the delegate of its media-properties event and
// answers play/pause with "accepted".
class StubSession final : public StubObject<abi::ISession> {
public:
    HRESULT STDMETHODCALLTYPE get_SourceAppUserModelId(HSTRING* value) override {
        *value = nullptr;
        return S_OK;
    }
    OLVEX_UNUSED_METHOD(TryGetMediaPropertiesAsync, abi::IAsyncOperation<abi::IMediaProperties*>**)
    OLVEX_UNUSED_METHOD(GetTimelineProperties, abi::ITimelineProperties**)
    OLVEX_UNUSED_METHOD(GetPlaybackInfo, abi::IPlaybackInfo**)
    OLVEX_UNUSED_METHOD(TryPlayAsync, abi::IAsyncOperation<boolean>**)
    OLVEX_UNUSED_METHOD(TryPauseAsync, abi::IAsyncOperation<boolean>**)
    OLVEX_UNUSED_METHOD(TryStopAsync, abi::IAsyncOperation<boolean>**)
    OLVEX_UNUSED_METHOD(TryRecordAsync, abi::IAsyncOperation<boolean>**)
    OLVEX_UNUSED_METHOD(TryFastForwardAsync, abi::IAsyncOperation<boolean>**)
    OLVEX_UNUSED_METHOD(TryRewindAsync, abi::IAsyncOperation<boolean>**)
    OLVEX_UNUSED_METHOD(TrySkipNextAsync, abi::IAsyncOperation<boolean>**)
    OLVEX_UNUSED_METHOD(TrySkipPreviousAsync, abi::IAsyncOperation<boolean>**)
    OLVEX_UNUSED_METHOD(TryChangeChannelUpAsync, abi::IAsyncOperation<boolean>**)
    OLVEX_UNUSED_METHOD(TryChangeChannelDownAsync, abi::IAsyncOperation<boolean>**)
    HRESULT STDMETHODCALLTYPE TryTogglePlayPauseAsync(abi::IAsyncOperation<boolean>** operation) override {
        toggle.AddRef();
        *operation = &toggle;
        return S_OK;
    }
    OLVEX_UNUSED_METHOD(TryChangeAutoRepeatModeAsync, INT32, abi::IAsyncOperation<boolean>**)
    OLVEX_UNUSED_METHOD(TryChangePlaybackRateAsync, DOUBLE, abi::IAsyncOperation<boolean>**)
    OLVEX_UNUSED_METHOD(TryChangeShuffleActiveAsync, boolean, abi::IAsyncOperation<boolean>**)
    OLVEX_UNUSED_METHOD(TryChangePlaybackPositionAsync, INT64, abi::IAsyncOperation<boolean>**)
    OLVEX_UNUSED_METHOD(add_TimelinePropertiesChanged, abi::SessionTimelinePropertiesChangedHandler*,
                        EventRegistrationToken*)
    OLVEX_UNUSED_METHOD(remove_TimelinePropertiesChanged, EventRegistrationToken)
    OLVEX_UNUSED_METHOD(add_PlaybackInfoChanged, abi::SessionPlaybackInfoChangedHandler*, EventRegistrationToken*)
    OLVEX_UNUSED_METHOD(remove_PlaybackInfoChanged, EventRegistrationToken)
    HRESULT STDMETHODCALLTYPE add_MediaPropertiesChanged(abi::SessionMediaPropertiesChangedHandler* handler,
                                                         EventRegistrationToken* token) override {
        delegate = share(handler);
        token->value = 0x1234'5678'9ABC;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE remove_MediaPropertiesChanged(EventRegistrationToken token) override {
        removed_token = token.value;
        delegate.reset();
        return S_OK;
    }

    ComPtr<abi::SessionMediaPropertiesChangedHandler> delegate;
    std::optional<INT64> removed_token;
    StubOperation<boolean> toggle{Finish::inside_put_completed, abi::AsyncStatus::completed, 1};
};

bool answers(IUnknown& object, const GUID& iid) {
    void* answer = reinterpret_cast<void*>(1);
    const HRESULT hr = object.QueryInterface(iid, &answer);
    if (FAILED(hr)) {
        EXPECT_EQ(answer, nullptr);
        return false;
    }
    static_cast<IUnknown*>(answer)->Release();
    return true;
}

std::atomic<int> failures_recorded{0};
void count_failure(const std::source_location&, std::optional<std::string_view>) { ++failures_recorded; }

TEST(EventDelegateWin, AnswersOnlyIUnknownAgileAndItsOwnIid) {
    auto delegate = make_event_delegate<abi::IManager, abi::ISessionsChangedEventArgs>([](abi::IManager*) {});
    EXPECT_TRUE(answers(*delegate.get(), __uuidof(IUnknown)));
    EXPECT_TRUE(answers(*delegate.get(), __uuidof(IAgileObject)));
    EXPECT_TRUE(answers(*delegate.get(), SESSIONS_CHANGED_HANDLER));
    EXPECT_FALSE(answers(*delegate.get(), __uuidof(IInspectable)));
    EXPECT_FALSE(answers(*delegate.get(), MEDIA_PROPERTIES_CHANGED_HANDLER));
    EXPECT_EQ(delegate->AddRef(), 2u);
    EXPECT_EQ(delegate->Release(), 1u);
}

TEST(EventDelegateWin, DiesWithItsLastReference) {
    auto held = std::make_shared<int>(0);
    const std::weak_ptr<int> watch = held;
    auto delegate = make_event_delegate<abi::IManager, abi::ISessionsChangedEventArgs>(
        [held = std::move(held)](abi::IManager*) { ++*held; });
    EXPECT_FALSE(watch.expired());
    delegate.reset();
    EXPECT_TRUE(watch.expired());
}

TEST(EventDelegateWin, KeepsExceptionsAwayFromTheCaller) {
    set_failure_recorder(&count_failure);
    failures_recorded = 0;
    auto delegate = make_event_delegate<abi::IManager, abi::ISessionsChangedEventArgs>(
        [](abi::IManager*) { throw std::runtime_error("handler failed"); });
    EXPECT_EQ(delegate->Invoke(nullptr, nullptr), S_OK);
    EXPECT_EQ(failures_recorded, 1);
    set_failure_recorder(nullptr);
}

TEST(WinMediaSession, HandsEachEventTheSessionThatRaisedIt) {
    StubSession stub;
    const SessionRef session = wrap_session(share<abi::ISession>(&stub));
    std::vector<SessionRef> heard;
    const auto token = session->add_event_handler(SessionEvent::media_properties_changed,
                                                  [&](SessionRef sender) { heard.push_back(std::move(sender)); });
    ASSERT_TRUE(token.has_value()) << token.error().message;
    EXPECT_EQ(*token, 0x1234'5678'9ABC);
    ASSERT_TRUE(stub.delegate);
    EXPECT_TRUE(answers(*stub.delegate.get(), MEDIA_PROPERTIES_CHANGED_HANDLER));

    EXPECT_EQ(stub.delegate->Invoke(&stub, nullptr), S_OK);
    EXPECT_EQ(stub.delegate->Invoke(nullptr, nullptr), S_OK);
    ASSERT_EQ(heard.size(), 2u);
    ASSERT_NE(heard[0], nullptr);
    EXPECT_EQ(heard[0]->source_app_user_model_id().value_or("<failed>"), "");
    EXPECT_EQ(heard[1], nullptr);
    const ULONG with_sender = stub.references();
    heard.clear();
    EXPECT_EQ(stub.references(), with_sender - 1);

    EXPECT_TRUE(session->remove_event_handler(SessionEvent::media_properties_changed, *token).has_value());
    EXPECT_EQ(stub.removed_token, 0x1234'5678'9ABC);
}

TEST(WinMediaSession, ReportsWhatThePlatformAnswers) {
    StubSession stub;
    const SessionRef session = wrap_session(share<abi::ISession>(&stub));
    EXPECT_EQ(session->try_toggle_play_pause().value_or(false), true);
    const auto refused = session->try_skip_next();
    ASSERT_FALSE(refused.has_value());
    EXPECT_THAT(refused.error().message, EndsWith("(0x80004001)"));
    const auto unknown = session->add_event_handler(SessionEvent::playback_info_changed, [](SessionRef) {});
    EXPECT_FALSE(unknown.has_value());
    EXPECT_EQ(wrap_session(ComPtr<abi::ISession>()), nullptr);
}

TEST(ActivationWin, AnUnregisteredClassGivesTheHresult) {
    const auto factory = get_activation_factory<abi::IManagerStatics>(L"Olvex.Tests.NoSuchClass");
    ASSERT_FALSE(factory.has_value());
    EXPECT_THAT(factory.error().message, EndsWith("(0x80040154)"));
}

}  // namespace
}  // namespace olvex::media::winrt
