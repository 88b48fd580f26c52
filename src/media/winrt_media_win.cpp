#include "media/winrt_media_win.hpp"

#include <string>
#include <utility>
#include <vector>

#include "media/winrt_activation_win.hpp"
#include "media/winrt_await_win.hpp"
#include "media/winrt_object_win.hpp"
#include "media/winrt_string_win.hpp"

namespace olvex::media::winrt {

namespace {

class WinThumbnailStream final : public ThumbnailStream {
public:
    explicit WinThumbnailStream(ComPtr<abi::IRandomAccessStreamWithContentType> stream) : stream_(std::move(stream)) {}

    PlatformResult<std::uint64_t> size() override {
        auto random_access = query<abi::IRandomAccessStream>(*stream_.get());
        if (!random_access) return std::unexpected(std::move(random_access.error()));
        return get_value(*random_access->get(), &abi::IRandomAccessStream::get_Size);
    }

    PlatformResult<std::string> read(std::uint32_t count) override {
        auto reader = open_reader();
        if (!reader) return std::unexpected(std::move(reader.error()));
        const auto loaded = run_async<UINT32>("LoadAsync", [&](abi::IAsyncOperation<UINT32>** operation) {
            return (*reader)->LoadAsync(count, operation);
        });
        if (!loaded) return std::unexpected(loaded.error());
        std::string bytes(*loaded, '\0');
        if (bytes.empty()) return bytes;
        if (const HRESULT hr = (*reader)->ReadBytes(*loaded, reinterpret_cast<BYTE*>(bytes.data())); FAILED(hr)) {
            return failure(hr);
        }
        return bytes;
    }

private:
    PlatformResult<ComPtr<abi::IDataReader>> open_reader() {
        auto input = query<abi::IInputStream>(*stream_.get());
        if (!input) return std::unexpected(std::move(input.error()));
        auto factory = data_reader_factory();
        if (!factory) return std::unexpected(std::move(factory.error()));
        ComPtr<abi::IDataReader> reader;
        if (const HRESULT hr = (*factory)->CreateDataReader(input->get(), reader.put()); FAILED(hr)) return failure(hr);
        if (!reader) return failure(E_POINTER);
        return reader;
    }

    ComPtr<abi::IRandomAccessStreamWithContentType> stream_;
};

class WinThumbnailReference final : public ThumbnailReference {
public:
    explicit WinThumbnailReference(ComPtr<abi::IRandomAccessStreamReference> reference)
        : reference_(std::move(reference)) {}

    PlatformResult<std::unique_ptr<ThumbnailStream>> open_read() override {
        auto stream = run_async<abi::IRandomAccessStreamWithContentType*>(
            "OpenReadAsync", [&](auto** operation) { return reference_->OpenReadAsync(operation); });
        if (!stream) return std::unexpected(std::move(stream.error()));
        if (!*stream) return std::unique_ptr<ThumbnailStream>();
        return std::make_unique<WinThumbnailStream>(std::move(*stream));
    }

private:
    ComPtr<abi::IRandomAccessStreamReference> reference_;
};

class WinMediaProperties final : public MediaProperties {
public:
    explicit WinMediaProperties(ComPtr<abi::IMediaProperties> properties) : properties_(std::move(properties)) {}

    PlatformResult<std::string> title() override {
        return get_text(*properties_.get(), &abi::IMediaProperties::get_Title);
    }
    PlatformResult<std::string> artist() override {
        return get_text(*properties_.get(), &abi::IMediaProperties::get_Artist);
    }
    PlatformResult<std::string> album_title() override {
        return get_text(*properties_.get(), &abi::IMediaProperties::get_AlbumTitle);
    }

    PlatformResult<std::unique_ptr<ThumbnailReference>> thumbnail() override {
        auto reference = get_object(*properties_.get(), &abi::IMediaProperties::get_Thumbnail);
        if (!reference) return std::unexpected(std::move(reference.error()));
        if (!*reference) return std::unique_ptr<ThumbnailReference>();
        return std::make_unique<WinThumbnailReference>(std::move(*reference));
    }

private:
    ComPtr<abi::IMediaProperties> properties_;
};

class WinPlaybackInfo final : public PlaybackInfo {
public:
    explicit WinPlaybackInfo(ComPtr<abi::IPlaybackInfo> info) : info_(std::move(info)) {}

    PlatformResult<std::int32_t> playback_status() override {
        return get_value(*info_.get(), &abi::IPlaybackInfo::get_PlaybackStatus);
    }

    PlatformResult<std::optional<double>> playback_rate() override {
        auto rate = get_object(*info_.get(), &abi::IPlaybackInfo::get_PlaybackRate);
        if (!rate) return std::unexpected(std::move(rate.error()));
        if (!*rate) return std::optional<double>();
        auto value = get_value(*rate->get(), &abi::IReference<DOUBLE>::get_Value);
        if (!value) return std::unexpected(std::move(value.error()));
        return std::optional<double>(*value);
    }

private:
    ComPtr<abi::IPlaybackInfo> info_;
};

class WinTimelineProperties final : public TimelineProperties {
public:
    explicit WinTimelineProperties(ComPtr<abi::ITimelineProperties> timeline) : timeline_(std::move(timeline)) {}

    PlatformResult<TimeSpanTicks> start_time() override { return ticks(&abi::ITimelineProperties::get_StartTime); }
    PlatformResult<TimeSpanTicks> end_time() override { return ticks(&abi::ITimelineProperties::get_EndTime); }
    PlatformResult<TimeSpanTicks> position() override { return ticks(&abi::ITimelineProperties::get_Position); }
    PlatformResult<DateTimeTicks> last_updated_time() override {
        auto time = get_value(*timeline_.get(), &abi::ITimelineProperties::get_LastUpdatedTime);
        if (!time) return std::unexpected(std::move(time.error()));
        return time->UniversalTime;
    }

private:
    PlatformResult<TimeSpanTicks> ticks(HRESULT (STDMETHODCALLTYPE abi::ITimelineProperties::*getter)(abi::TimeSpan*)) {
        auto span = get_value(*timeline_.get(), getter);
        if (!span) return std::unexpected(std::move(span.error()));
        return span->Duration;
    }

    ComPtr<abi::ITimelineProperties> timeline_;
};

PlatformResult<bool> accepted(PlatformResult<boolean> answer) {
    if (!answer) return std::unexpected(std::move(answer.error()));
    return *answer != 0;
}

// Registers `delegate` through an add_* method and gives its token's value.
template <class Source, class Handler>
PlatformResult<EventToken> add_delegate(Source& source,
                                        HRESULT (STDMETHODCALLTYPE Source::*add)(Handler*, EventRegistrationToken*),
                                        const ComPtr<Handler>& delegate) {
    EventRegistrationToken token{};
    if (const HRESULT hr = (source.*add)(delegate.get(), &token); FAILED(hr)) return failure(hr);
    return token.value;
}

template <class Source>
PlatformResult<void> remove_delegate(Source& source,
                                     HRESULT (STDMETHODCALLTYPE Source::*remove)(EventRegistrationToken),
                                     EventToken token) {
    if (const HRESULT hr = (source.*remove)(EventRegistrationToken{token}); FAILED(hr)) return failure(hr);
    return {};
}

class WinMediaSession final : public MediaSession {
public:
    explicit WinMediaSession(ComPtr<abi::ISession> session) : session_(std::move(session)) {}

    PlatformResult<std::string> source_app_user_model_id() override {
        return get_text(*session_.get(), &abi::ISession::get_SourceAppUserModelId);
    }

    PlatformResult<std::unique_ptr<MediaProperties>> try_get_media_properties() override {
        auto properties = run_async<abi::IMediaProperties*>("TryGetMediaPropertiesAsync", [&](auto** operation) {
            return session_->TryGetMediaPropertiesAsync(operation);
        });
        if (!properties) return std::unexpected(std::move(properties.error()));
        if (!*properties) return std::unique_ptr<MediaProperties>();
        return std::make_unique<WinMediaProperties>(std::move(*properties));
    }

    PlatformResult<std::unique_ptr<PlaybackInfo>> get_playback_info() override {
        auto info = get_object(*session_.get(), &abi::ISession::GetPlaybackInfo);
        if (!info) return std::unexpected(std::move(info.error()));
        if (!*info) return std::unique_ptr<PlaybackInfo>();
        return std::make_unique<WinPlaybackInfo>(std::move(*info));
    }

    PlatformResult<std::unique_ptr<TimelineProperties>> get_timeline_properties() override {
        auto timeline = get_object(*session_.get(), &abi::ISession::GetTimelineProperties);
        if (!timeline) return std::unexpected(std::move(timeline.error()));
        if (!*timeline) return std::unique_ptr<TimelineProperties>();
        return std::make_unique<WinTimelineProperties>(std::move(*timeline));
    }

    PlatformResult<bool> try_toggle_play_pause() override {
        return accepted(run_async<boolean>("TryTogglePlayPauseAsync", [&](auto** operation) {
            return session_->TryTogglePlayPauseAsync(operation);
        }));
    }
    PlatformResult<bool> try_skip_next() override {
        return accepted(run_async<boolean>("TrySkipNextAsync", [&](auto** operation) {
            return session_->TrySkipNextAsync(operation);
        }));
    }
    PlatformResult<bool> try_skip_previous() override {
        return accepted(run_async<boolean>("TrySkipPreviousAsync", [&](auto** operation) {
            return session_->TrySkipPreviousAsync(operation);
        }));
    }
    PlatformResult<bool> try_change_playback_position(TimeSpanTicks position) override {
        return accepted(run_async<boolean>("TryChangePlaybackPositionAsync", [&](auto** operation) {
            return session_->TryChangePlaybackPositionAsync(position, operation);
        }));
    }

    PlatformResult<EventToken> add_event_handler(SessionEvent event, SessionEventHandler handler) override {
        auto on_event = [handler = std::move(handler)](abi::ISession* sender) { handler(wrap_session(share(sender))); };
        switch (event) {
        case SessionEvent::media_properties_changed:
            return add_delegate(*session_.get(), &abi::ISession::add_MediaPropertiesChanged,
                                make_event_delegate<abi::ISession, abi::IMediaPropertiesChangedEventArgs>(on_event));
        case SessionEvent::playback_info_changed:
            return add_delegate(*session_.get(), &abi::ISession::add_PlaybackInfoChanged,
                                make_event_delegate<abi::ISession, abi::IPlaybackInfoChangedEventArgs>(on_event));
        case SessionEvent::timeline_properties_changed:
            return add_delegate(*session_.get(), &abi::ISession::add_TimelinePropertiesChanged,
                                make_event_delegate<abi::ISession, abi::ITimelinePropertiesChangedEventArgs>(on_event));
        }
        return failure(E_INVALIDARG);
    }

    PlatformResult<void> remove_event_handler(SessionEvent event, EventToken token) override {
        switch (event) {
        case SessionEvent::media_properties_changed:
            return remove_delegate(*session_.get(), &abi::ISession::remove_MediaPropertiesChanged, token);
        case SessionEvent::playback_info_changed:
            return remove_delegate(*session_.get(), &abi::ISession::remove_PlaybackInfoChanged, token);
        case SessionEvent::timeline_properties_changed:
            return remove_delegate(*session_.get(), &abi::ISession::remove_TimelinePropertiesChanged, token);
        }
        return failure(E_INVALIDARG);
    }

    // COM identity: two interface pointers are one object when their
    // IUnknown pointers are equal.
    bool is_same_session(const MediaSession& other) const override {
        const auto* win_other = dynamic_cast<const WinMediaSession*>(&other);
        if (win_other == nullptr) return false;
        return session_.as<IUnknown>().get() == win_other->session_.as<IUnknown>().get();
    }

private:
    ComPtr<abi::ISession> session_;
};

class WinMediaManager final : public MediaManager {
public:
    explicit WinMediaManager(ComPtr<abi::IManager> manager) : manager_(std::move(manager)) {}

    PlatformResult<SessionRef> get_current_session() override {
        auto session = get_object(*manager_.get(), &abi::IManager::GetCurrentSession);
        if (!session) return std::unexpected(std::move(session.error()));
        return wrap_session(std::move(*session));
    }

    PlatformResult<std::vector<SessionRef>> get_sessions() override {
        auto list = get_object(*manager_.get(), &abi::IManager::GetSessions);
        if (!list) return std::unexpected(std::move(list.error()));
        if (!*list) return std::vector<SessionRef>();
        return read_sessions(*list->get());
    }

    PlatformResult<EventToken> add_event_handler(ManagerEvent event, ManagerEventHandler handler) override {
        auto on_event = [handler = std::move(handler)](abi::IManager*) { handler(); };
        switch (event) {
        case ManagerEvent::sessions_changed:
            return add_delegate(*manager_.get(), &abi::IManager::add_SessionsChanged,
                                make_event_delegate<abi::IManager, abi::ISessionsChangedEventArgs>(on_event));
        case ManagerEvent::current_session_changed:
            return add_delegate(*manager_.get(), &abi::IManager::add_CurrentSessionChanged,
                                make_event_delegate<abi::IManager, abi::ICurrentSessionChangedEventArgs>(on_event));
        }
        return failure(E_INVALIDARG);
    }

    PlatformResult<void> remove_event_handler(ManagerEvent event, EventToken token) override {
        switch (event) {
        case ManagerEvent::sessions_changed:
            return remove_delegate(*manager_.get(), &abi::IManager::remove_SessionsChanged, token);
        case ManagerEvent::current_session_changed:
            return remove_delegate(*manager_.get(), &abi::IManager::remove_CurrentSessionChanged, token);
        }
        return failure(E_INVALIDARG);
    }

private:
    static PlatformResult<std::vector<SessionRef>> read_sessions(abi::ISessionList& list) {
        auto size = get_value(list, &abi::ISessionList::get_Size);
        if (!size) return std::unexpected(std::move(size.error()));
        std::vector<SessionRef> sessions;
        for (UINT32 index = 0; index < *size; ++index) {
            ComPtr<abi::ISession> session;
            if (const HRESULT hr = list.GetAt(index, session.put()); FAILED(hr)) return failure(hr);
            if (session) sessions.push_back(wrap_session(std::move(session)));
        }
        return sessions;
    }

    ComPtr<abi::IManager> manager_;
};

}  // namespace

SessionRef wrap_session(ComPtr<abi::ISession> session) {
    if (!session) return nullptr;
    return std::make_shared<WinMediaSession>(std::move(session));
}

std::shared_ptr<MediaManager> wrap_manager(ComPtr<abi::IManager> manager) {
    return std::make_shared<WinMediaManager>(std::move(manager));
}

}  // namespace olvex::media::winrt
