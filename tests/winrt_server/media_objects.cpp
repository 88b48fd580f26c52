#include "winrt_server/media_objects.hpp"

#include <algorithm>
#include <utility>

#include "winrt_server/async_operation.hpp"
#include "winrt_server/stream_objects.hpp"

namespace olvex::test_server {

namespace {

struct BooleanOperationTraits {
    static constexpr const char* NAME = "Operation<Boolean>";
    static constexpr GUID OPERATION_IID = abi::IID_ASYNC_OPERATION_BOOLEAN;
    static constexpr GUID HANDLER_IID = abi::IID_COMPLETED_HANDLER_BOOLEAN;
};
struct ManagerOperationTraits {
    static constexpr const char* NAME = "Operation<Manager>";
    static constexpr GUID OPERATION_IID = abi::IID_ASYNC_OPERATION_MANAGER;
    static constexpr GUID HANDLER_IID = abi::IID_COMPLETED_HANDLER_MANAGER;
};
struct MediaPropertiesOperationTraits {
    static constexpr const char* NAME = "Operation<MediaProperties>";
    static constexpr GUID OPERATION_IID = abi::IID_ASYNC_OPERATION_MEDIA_PROPERTIES;
    static constexpr GUID HANDLER_IID = abi::IID_COMPLETED_HANDLER_MEDIA_PROPERTIES;
};

using BooleanOperation = AsyncOperation<boolean, BooleanOperationTraits>;
using ManagerOperation = AsyncOperation<abi::IManager*, ManagerOperationTraits>;
using MediaPropertiesOperation = AsyncOperation<abi::IMediaProperties*, MediaPropertiesOperationTraits>;

#define OLVEX_ENTER(method)                                                          \
    do {                                                                             \
        if (const HRESULT failed = state().enter(method); FAILED(failed)) return failed; \
    } while (false)

template <class Value>
HRESULT hand_out(Value value, Value* out) {
    if (out == nullptr) return E_POINTER;
    *out = value;
    return S_OK;
}

// Event arguments carry nothing; each kind answers its own IID.
template <class Interface, const GUID& IID>
class EventArgs final : public ComObject<EventArgs<Interface, IID>, Interface> {
public:
    static constexpr const wchar_t* CLASS_NAME = L"Windows.Media.Control.EventArgs";
    void* find_interface(const GUID& iid) { return same_guid(iid, IID) ? static_cast<Interface*>(this) : nullptr; }
};

// Calls every handler with (sender, fresh arguments) on a server thread and
// waits until all have returned.
template <class Args, class Sender, class Handler>
void invoke_handlers(Sender* sender, const EventSource<Handler>& source) {
    auto handlers = source.handlers();
    Ref<Sender> keep = Ref<Sender>::share(sender);
    run_on_server_thread(
        [&handlers, keep] {
            for (auto& handler : handlers) {
                auto args = Args::make();
                handler->Invoke(keep.get(), args.get());
            }
        },
        true);
}

using MediaPropertiesChangedArgs =
    EventArgs<abi::IMediaPropertiesChangedEventArgs, abi::IID_MEDIA_PROPERTIES_CHANGED_ARGS>;
using PlaybackInfoChangedArgs = EventArgs<abi::IPlaybackInfoChangedEventArgs, abi::IID_PLAYBACK_INFO_CHANGED_ARGS>;
using TimelinePropertiesChangedArgs =
    EventArgs<abi::ITimelinePropertiesChangedEventArgs, abi::IID_TIMELINE_PROPERTIES_CHANGED_ARGS>;
using CurrentSessionChangedArgs =
    EventArgs<abi::ICurrentSessionChangedEventArgs, abi::IID_CURRENT_SESSION_CHANGED_ARGS>;
using SessionsChangedArgs = EventArgs<abi::ISessionsChangedEventArgs, abi::IID_SESSIONS_CHANGED_ARGS>;

// The platform's delegates answer their parameterized IID.
template <class Handler>
HRESULT checked_handler(Handler* handler, const GUID& iid, const char* method) {
    if (handler == nullptr) return E_INVALIDARG;
    void* same = nullptr;
    if (FAILED(handler->QueryInterface(iid, &same)) || same == nullptr) {
        state().log_violation(std::string(method) + " handler does not answer its IID");
    } else {
        static_cast<IUnknown*>(same)->Release();
    }
    return S_OK;
}

template <class Handler>
HRESULT add_handler(EventSource<Handler>& source, Handler* handler, abi::EventRegistrationToken* token,
                    const GUID& iid, const char* method) {
    OLVEX_ENTER(method);
    if (token == nullptr) return E_POINTER;
    if (const HRESULT checked = checked_handler(handler, iid, method); FAILED(checked)) return checked;
    token->value = source.add(handler);
    return S_OK;
}

template <class Handler>
HRESULT remove_handler(EventSource<Handler>& source, abi::EventRegistrationToken token, const char* method) {
    OLVEX_ENTER(method);
    if (!source.remove(token.value)) state().log_violation(std::string(method) + " with an unknown token");
    return S_OK;
}

class DoubleReference final : public ComObject<DoubleReference, abi::IReference<DOUBLE>> {
public:
    static constexpr const wchar_t* CLASS_NAME = L"Windows.Foundation.IReference`1<Double>";
    explicit DoubleReference(double value) : value_(value) {}
    void* find_interface(const GUID& iid) {
        return same_guid(iid, abi::IID_REFERENCE_DOUBLE) ? static_cast<abi::IReference<DOUBLE>*>(this) : nullptr;
    }
    HRESULT __stdcall get_Value(DOUBLE* value) override {
        OLVEX_ENTER("Reference<Double>.get_Value");
        return hand_out(value_, value);
    }

private:
    double value_;
};

class PlaybackControls final : public ComObject<PlaybackControls, abi::IPlaybackControls> {
public:
    static constexpr const wchar_t* CLASS_NAME =
        L"Windows.Media.Control.GlobalSystemMediaTransportControlsSessionPlaybackControls";
    void* find_interface(const GUID& iid) {
        return same_guid(iid, abi::IID_PLAYBACK_CONTROLS) ? static_cast<abi::IPlaybackControls*>(this) : nullptr;
    }
    HRESULT __stdcall get_IsPlayEnabled(boolean* value) override { return enabled("IsPlayEnabled", value); }
    HRESULT __stdcall get_IsPauseEnabled(boolean* value) override { return enabled("IsPauseEnabled", value); }
    HRESULT __stdcall get_IsStopEnabled(boolean* value) override { return enabled("IsStopEnabled", value); }
    HRESULT __stdcall get_IsRecordEnabled(boolean* value) override { return enabled("IsRecordEnabled", value); }
    HRESULT __stdcall get_IsFastForwardEnabled(boolean* value) override {
        return enabled("IsFastForwardEnabled", value);
    }
    HRESULT __stdcall get_IsRewindEnabled(boolean* value) override { return enabled("IsRewindEnabled", value); }
    HRESULT __stdcall get_IsNextEnabled(boolean* value) override { return enabled("IsNextEnabled", value); }
    HRESULT __stdcall get_IsPreviousEnabled(boolean* value) override { return enabled("IsPreviousEnabled", value); }
    HRESULT __stdcall get_IsChannelUpEnabled(boolean* value) override { return enabled("IsChannelUpEnabled", value); }
    HRESULT __stdcall get_IsChannelDownEnabled(boolean* value) override {
        return enabled("IsChannelDownEnabled", value);
    }
    HRESULT __stdcall get_IsPlayPauseToggleEnabled(boolean* value) override {
        return enabled("IsPlayPauseToggleEnabled", value);
    }
    HRESULT __stdcall get_IsShuffleEnabled(boolean* value) override { return enabled("IsShuffleEnabled", value); }
    HRESULT __stdcall get_IsRepeatEnabled(boolean* value) override { return enabled("IsRepeatEnabled", value); }
    HRESULT __stdcall get_IsPlaybackRateEnabled(boolean* value) override {
        return enabled("IsPlaybackRateEnabled", value);
    }
    HRESULT __stdcall get_IsPlaybackPositionEnabled(boolean* value) override {
        return enabled("IsPlaybackPositionEnabled", value);
    }

private:
    static HRESULT enabled(const char* name, boolean* value) {
        OLVEX_ENTER(std::string("PlaybackControls.get_") + name);
        return hand_out<boolean>(1, value);
    }
};

class PlaybackInfo final : public ComObject<PlaybackInfo, abi::IPlaybackInfo> {
public:
    static constexpr const wchar_t* CLASS_NAME =
        L"Windows.Media.Control.GlobalSystemMediaTransportControlsSessionPlaybackInfo";
    PlaybackInfo(std::int32_t status, std::optional<double> rate) : status_(status), rate_(rate) {}
    void* find_interface(const GUID& iid) {
        return same_guid(iid, abi::IID_PLAYBACK_INFO) ? static_cast<abi::IPlaybackInfo*>(this) : nullptr;
    }
    HRESULT __stdcall get_Controls(abi::IPlaybackControls** value) override {
        OLVEX_ENTER("PlaybackInfo.get_Controls");
        if (value == nullptr) return E_POINTER;
        *value = PlaybackControls::make().detach();
        return S_OK;
    }
    HRESULT __stdcall get_PlaybackStatus(std::int32_t* value) override {
        OLVEX_ENTER("PlaybackInfo.get_PlaybackStatus");
        return hand_out(status_, value);
    }
    HRESULT __stdcall get_PlaybackType(abi::IReference<std::int32_t>** value) override {
        OLVEX_ENTER("PlaybackInfo.get_PlaybackType");
        return hand_out<abi::IReference<std::int32_t>*>(nullptr, value);
    }
    HRESULT __stdcall get_AutoRepeatMode(abi::IReference<std::int32_t>** value) override {
        OLVEX_ENTER("PlaybackInfo.get_AutoRepeatMode");
        return hand_out<abi::IReference<std::int32_t>*>(nullptr, value);
    }
    HRESULT __stdcall get_PlaybackRate(abi::IReference<DOUBLE>** value) override {
        OLVEX_ENTER("PlaybackInfo.get_PlaybackRate");
        if (value == nullptr) return E_POINTER;
        *value = rate_ ? DoubleReference::make(*rate_).detach() : nullptr;
        return S_OK;
    }
    HRESULT __stdcall get_IsShuffleActive(abi::IReference<boolean>** value) override {
        OLVEX_ENTER("PlaybackInfo.get_IsShuffleActive");
        return hand_out<abi::IReference<boolean>*>(nullptr, value);
    }

private:
    std::int32_t status_;
    std::optional<double> rate_;
};

class TimelineProperties final : public ComObject<TimelineProperties, abi::ITimelineProperties> {
public:
    static constexpr const wchar_t* CLASS_NAME =
        L"Windows.Media.Control.GlobalSystemMediaTransportControlsSessionTimelineProperties";
    explicit TimelineProperties(const SessionData& data) : data_(data) {}
    void* find_interface(const GUID& iid) {
        return same_guid(iid, abi::IID_TIMELINE_PROPERTIES) ? static_cast<abi::ITimelineProperties*>(this) : nullptr;
    }
    HRESULT __stdcall get_StartTime(abi::TimeSpan* value) override {
        OLVEX_ENTER("TimelineProperties.get_StartTime");
        return hand_out(abi::TimeSpan{data_.start}, value);
    }
    HRESULT __stdcall get_EndTime(abi::TimeSpan* value) override {
        OLVEX_ENTER("TimelineProperties.get_EndTime");
        return hand_out(abi::TimeSpan{data_.end}, value);
    }
    HRESULT __stdcall get_MinSeekTime(abi::TimeSpan* value) override {
        OLVEX_ENTER("TimelineProperties.get_MinSeekTime");
        return hand_out(abi::TimeSpan{data_.start}, value);
    }
    HRESULT __stdcall get_MaxSeekTime(abi::TimeSpan* value) override {
        OLVEX_ENTER("TimelineProperties.get_MaxSeekTime");
        return hand_out(abi::TimeSpan{data_.end}, value);
    }
    HRESULT __stdcall get_Position(abi::TimeSpan* value) override {
        OLVEX_ENTER("TimelineProperties.get_Position");
        return hand_out(abi::TimeSpan{data_.position}, value);
    }
    HRESULT __stdcall get_LastUpdatedTime(abi::DateTime* value) override {
        OLVEX_ENTER("TimelineProperties.get_LastUpdatedTime");
        return hand_out(abi::DateTime{data_.last_updated}, value);
    }

private:
    SessionData data_;
};

class MediaProperties final : public ComObject<MediaProperties, abi::IMediaProperties> {
public:
    static constexpr const wchar_t* CLASS_NAME =
        L"Windows.Media.Control.GlobalSystemMediaTransportControlsSessionMediaProperties";
    explicit MediaProperties(const SessionData& data) : data_(data) {}
    void* find_interface(const GUID& iid) {
        return same_guid(iid, abi::IID_MEDIA_PROPERTIES) ? static_cast<abi::IMediaProperties*>(this) : nullptr;
    }
    HRESULT __stdcall get_Title(HSTRING* value) override {
        OLVEX_ENTER("MediaProperties.get_Title");
        return make_hstring(widen(data_.title), value);
    }
    HRESULT __stdcall get_Subtitle(HSTRING* value) override {
        OLVEX_ENTER("MediaProperties.get_Subtitle");
        return make_hstring({}, value);
    }
    HRESULT __stdcall get_AlbumArtist(HSTRING* value) override {
        OLVEX_ENTER("MediaProperties.get_AlbumArtist");
        return make_hstring(widen(data_.artist), value);
    }
    HRESULT __stdcall get_Artist(HSTRING* value) override {
        OLVEX_ENTER("MediaProperties.get_Artist");
        return make_hstring(widen(data_.artist), value);
    }
    HRESULT __stdcall get_AlbumTitle(HSTRING* value) override {
        OLVEX_ENTER("MediaProperties.get_AlbumTitle");
        return make_hstring(widen(data_.album), value);
    }
    HRESULT __stdcall get_TrackNumber(INT32* value) override {
        OLVEX_ENTER("MediaProperties.get_TrackNumber");
        return hand_out<INT32>(1, value);
    }
    HRESULT __stdcall get_Genres(abi::IVectorView<HSTRING>** value) override {
        OLVEX_ENTER("MediaProperties.get_Genres");
        if (value != nullptr) *value = nullptr;
        return E_NOTIMPL;
    }
    HRESULT __stdcall get_AlbumTrackCount(INT32* value) override {
        OLVEX_ENTER("MediaProperties.get_AlbumTrackCount");
        return hand_out<INT32>(1, value);
    }
    HRESULT __stdcall get_PlaybackType(abi::IReference<std::int32_t>** value) override {
        OLVEX_ENTER("MediaProperties.get_PlaybackType");
        return hand_out<abi::IReference<std::int32_t>*>(nullptr, value);
    }
    HRESULT __stdcall get_Thumbnail(abi::IRandomAccessStreamReference** value) override {
        OLVEX_ENTER("MediaProperties.get_Thumbnail");
        if (value == nullptr) return E_POINTER;
        *value = data_.thumbnail ? make_stream_reference(data_.thumbnail).detach() : nullptr;
        return S_OK;
    }

private:
    SessionData data_;
};

class SessionList final : public ComObject<SessionList, abi::IVectorView<abi::ISession*>> {
public:
    static constexpr const wchar_t* CLASS_NAME =
        L"Windows.Foundation.Collections.IVectorView`1<Windows.Media.Control."
        L"GlobalSystemMediaTransportControlsSession>";
    explicit SessionList(std::vector<Ref<Session>> sessions) : sessions_(std::move(sessions)) {}
    void* find_interface(const GUID& iid) {
        return same_guid(iid, abi::IID_VECTOR_VIEW_SESSION) ? static_cast<abi::IVectorView<abi::ISession*>*>(this)
                                                            : nullptr;
    }
    HRESULT __stdcall GetAt(UINT32 index, abi::ISession** item) override {
        OLVEX_ENTER("SessionList.GetAt");
        if (item == nullptr) return E_POINTER;
        if (index >= sessions_.size()) return abi::E_BOUNDS;
        *item = Ref<Session>(sessions_[index]).detach();
        return S_OK;
    }
    HRESULT __stdcall get_Size(UINT32* size) override {
        OLVEX_ENTER("SessionList.get_Size");
        return hand_out(static_cast<UINT32>(sessions_.size()), size);
    }
    HRESULT __stdcall IndexOf(abi::ISession* value, UINT32* index, boolean* found) override {
        OLVEX_ENTER("SessionList.IndexOf");
        if (index == nullptr || found == nullptr) return E_POINTER;
        const auto at = std::find_if(sessions_.begin(), sessions_.end(),
                                     [value](const Ref<Session>& session) { return session.get() == value; });
        *found = at != sessions_.end();
        *index = *found ? static_cast<UINT32>(at - sessions_.begin()) : 0;
        return S_OK;
    }
    HRESULT __stdcall GetMany(UINT32 start, UINT32 capacity, abi::ISession** items, UINT32* actual) override {
        OLVEX_ENTER("SessionList.GetMany");
        if (actual == nullptr || (items == nullptr && capacity > 0)) return E_POINTER;
        UINT32 count = 0;
        for (std::size_t index = start; index < sessions_.size() && count < capacity; ++index) {
            items[count++] = Ref<Session>(sessions_[index]).detach();
        }
        *actual = count;
        return S_OK;
    }

private:
    std::vector<Ref<Session>> sessions_;
};

class ManagerFactory final : public ComObject<ManagerFactory, abi::IActivationFactory, abi::IManagerStatics> {
public:
    static constexpr const wchar_t* CLASS_NAME = Manager::CLASS_NAME;
    void* find_interface(const GUID& iid) {
        if (same_guid(iid, abi::IID_ACTIVATION_FACTORY)) return static_cast<abi::IActivationFactory*>(this);
        if (same_guid(iid, abi::IID_MANAGER_STATICS)) return static_cast<abi::IManagerStatics*>(this);
        return nullptr;
    }
    HRESULT __stdcall ActivateInstance(IInspectable** instance) override {
        OLVEX_ENTER("ManagerFactory.ActivateInstance");
        if (instance != nullptr) *instance = nullptr;
        return E_NOTIMPL;  // the class has statics only
    }
    HRESULT __stdcall RequestAsync(abi::IAsyncOperation<abi::IManager*>** operation) override {
        OLVEX_ENTER("ManagerStatics.RequestAsync");
        if (operation == nullptr) return E_POINTER;
        ManagerOperation::Slot result;
        result.value = Ref<abi::IManager>::share(&manager());
        *operation =
            ManagerOperation::start(std::move(result), "ManagerStatics.RequestAsync")
                .detach();
        return S_OK;
    }
};

}  // namespace

// ---- Session --------------------------------------------------------------

SessionData Session::data() const {
    const std::lock_guard lock(mutex_);
    return data_;
}

void Session::set_data(const SessionData& data) {
    const std::lock_guard lock(mutex_);
    data_ = data;
}

void Session::raise(SessionEventKind kind) {
    switch (kind) {
        case SessionEventKind::media_properties:
            invoke_handlers<MediaPropertiesChangedArgs>(static_cast<abi::ISession*>(this), media_properties_changed_);
            break;
        case SessionEventKind::playback_info:
            invoke_handlers<PlaybackInfoChangedArgs>(static_cast<abi::ISession*>(this), playback_info_changed_);
            break;
        case SessionEventKind::timeline_properties:
            invoke_handlers<TimelinePropertiesChangedArgs>(static_cast<abi::ISession*>(this),
                                                           timeline_properties_changed_);
            break;
    }
}

std::size_t Session::handler_count(SessionEventKind kind) const {
    switch (kind) {
        case SessionEventKind::media_properties:
            return media_properties_changed_.size();
        case SessionEventKind::playback_info:
            return playback_info_changed_.size();
        case SessionEventKind::timeline_properties:
            return timeline_properties_changed_.size();
    }
    return 0;
}

void Session::drop_handlers() {
    media_properties_changed_.clear();
    playback_info_changed_.clear();
    timeline_properties_changed_.clear();
}

void* Session::find_interface(const GUID& iid) {
    return same_guid(iid, abi::IID_SESSION) ? static_cast<abi::ISession*>(this) : nullptr;
}

HRESULT Session::get_SourceAppUserModelId(HSTRING* value) {
    OLVEX_ENTER("Session.get_SourceAppUserModelId");
    return make_hstring(widen(app_id_), value);
}

HRESULT Session::TryGetMediaPropertiesAsync(abi::IAsyncOperation<abi::IMediaProperties*>** operation) {
    OLVEX_ENTER("Session.TryGetMediaPropertiesAsync");
    if (operation == nullptr) return E_POINTER;
    MediaPropertiesOperation::Slot result;
    result.value = Ref<abi::IMediaProperties>::adopt(MediaProperties::make(data()).detach());
    *operation = MediaPropertiesOperation::start(std::move(result), "Session.TryGetMediaPropertiesAsync").detach();
    return S_OK;
}

HRESULT Session::GetTimelineProperties(abi::ITimelineProperties** result) {
    OLVEX_ENTER("Session.GetTimelineProperties");
    if (result == nullptr) return E_POINTER;
    *result = TimelineProperties::make(data()).detach();
    return S_OK;
}

HRESULT Session::GetPlaybackInfo(abi::IPlaybackInfo** result) {
    OLVEX_ENTER("Session.GetPlaybackInfo");
    if (result == nullptr) return E_POINTER;
    const auto now = data();
    *result = PlaybackInfo::make(now.status, now.rate).detach();
    return S_OK;
}

HRESULT Session::command(const char* name, const std::string& argument, abi::IBooleanOperation** operation) {
    const std::string method = std::string("Session.") + name;
    OLVEX_ENTER(method);
    if (operation == nullptr) return E_POINTER;
    std::string entry = std::string(name) + " " + app_id_;
    if (!argument.empty()) entry += " " + argument;
    state().log_command(entry);
    BooleanOperation::Slot accepted;
    accepted.value = 1;
    *operation = BooleanOperation::start(accepted, method).detach();
    return S_OK;
}

HRESULT Session::TryPlayAsync(abi::IBooleanOperation** operation) { return command("TryPlayAsync", "", operation); }
HRESULT Session::TryPauseAsync(abi::IBooleanOperation** operation) { return command("TryPauseAsync", "", operation); }
HRESULT Session::TryStopAsync(abi::IBooleanOperation** operation) { return command("TryStopAsync", "", operation); }
HRESULT Session::TryRecordAsync(abi::IBooleanOperation** operation) {
    return command("TryRecordAsync", "", operation);
}
HRESULT Session::TryFastForwardAsync(abi::IBooleanOperation** operation) {
    return command("TryFastForwardAsync", "", operation);
}
HRESULT Session::TryRewindAsync(abi::IBooleanOperation** operation) {
    return command("TryRewindAsync", "", operation);
}
HRESULT Session::TrySkipNextAsync(abi::IBooleanOperation** operation) {
    return command("TrySkipNextAsync", "", operation);
}
HRESULT Session::TrySkipPreviousAsync(abi::IBooleanOperation** operation) {
    return command("TrySkipPreviousAsync", "", operation);
}
HRESULT Session::TryChangeChannelUpAsync(abi::IBooleanOperation** operation) {
    return command("TryChangeChannelUpAsync", "", operation);
}
HRESULT Session::TryChangeChannelDownAsync(abi::IBooleanOperation** operation) {
    return command("TryChangeChannelDownAsync", "", operation);
}
HRESULT Session::TryTogglePlayPauseAsync(abi::IBooleanOperation** operation) {
    return command("TryTogglePlayPauseAsync", "", operation);
}
HRESULT Session::TryChangeAutoRepeatModeAsync(std::int32_t mode, abi::IBooleanOperation** operation) {
    return command("TryChangeAutoRepeatModeAsync", std::to_string(mode), operation);
}
HRESULT Session::TryChangePlaybackRateAsync(DOUBLE rate, abi::IBooleanOperation** operation) {
    return command("TryChangePlaybackRateAsync", std::to_string(rate), operation);
}
HRESULT Session::TryChangeShuffleActiveAsync(boolean active, abi::IBooleanOperation** operation) {
    return command("TryChangeShuffleActiveAsync", active ? "true" : "false", operation);
}
HRESULT Session::TryChangePlaybackPositionAsync(INT64 ticks, abi::IBooleanOperation** operation) {
    return command("TryChangePlaybackPositionAsync", std::to_string(ticks), operation);
}

HRESULT Session::add_TimelinePropertiesChanged(abi::ITimelinePropertiesChangedHandler* handler,
                                               abi::EventRegistrationToken* token) {
    return add_handler(timeline_properties_changed_, handler, token, abi::IID_HANDLER_TIMELINE_PROPERTIES_CHANGED,
                       "Session.add_TimelinePropertiesChanged");
}
HRESULT Session::remove_TimelinePropertiesChanged(abi::EventRegistrationToken token) {
    return remove_handler(timeline_properties_changed_, token, "Session.remove_TimelinePropertiesChanged");
}
HRESULT Session::add_PlaybackInfoChanged(abi::IPlaybackInfoChangedHandler* handler,
                                         abi::EventRegistrationToken* token) {
    return add_handler(playback_info_changed_, handler, token, abi::IID_HANDLER_PLAYBACK_INFO_CHANGED,
                       "Session.add_PlaybackInfoChanged");
}
HRESULT Session::remove_PlaybackInfoChanged(abi::EventRegistrationToken token) {
    return remove_handler(playback_info_changed_, token, "Session.remove_PlaybackInfoChanged");
}
HRESULT Session::add_MediaPropertiesChanged(abi::IMediaPropertiesChangedHandler* handler,
                                            abi::EventRegistrationToken* token) {
    return add_handler(media_properties_changed_, handler, token, abi::IID_HANDLER_MEDIA_PROPERTIES_CHANGED,
                       "Session.add_MediaPropertiesChanged");
}
HRESULT Session::remove_MediaPropertiesChanged(abi::EventRegistrationToken token) {
    return remove_handler(media_properties_changed_, token, "Session.remove_MediaPropertiesChanged");
}

// ---- Manager --------------------------------------------------------------

int Manager::add_session(const std::string& app_id) {
    const std::lock_guard lock(mutex_);
    const int id = ++last_id_;
    sessions_.push_back(Session::make(id, app_id));
    return id;
}

Ref<Session> Manager::session(int id) const {
    const std::lock_guard lock(mutex_);
    for (const auto& session : sessions_) {
        if (session->id() == id) return session;
    }
    return {};
}

bool Manager::remove_session(int id) {
    Ref<Session> removed;
    const std::lock_guard lock(mutex_);
    const auto at =
        std::find_if(sessions_.begin(), sessions_.end(), [id](const Ref<Session>& session) { return session->id() == id; });
    if (at == sessions_.end()) return false;
    removed = *at;
    sessions_.erase(at);
    if (current_.get() == removed.get()) current_.reset();
    return true;
}

bool Manager::set_current(int id) {
    if (id == 0) {
        const std::lock_guard lock(mutex_);
        current_.reset();
        return true;
    }
    auto chosen = session(id);
    if (!chosen) return false;
    const std::lock_guard lock(mutex_);
    current_ = chosen;
    return true;
}

void Manager::raise(ManagerEventKind kind) {
    auto* self = static_cast<abi::IManager*>(this);
    if (kind == ManagerEventKind::sessions_changed) {
        invoke_handlers<SessionsChangedArgs>(self, sessions_changed_);
    } else {
        invoke_handlers<CurrentSessionChangedArgs>(self, current_session_changed_);
    }
}

std::size_t Manager::handler_count(ManagerEventKind kind) const {
    return kind == ManagerEventKind::sessions_changed ? sessions_changed_.size() : current_session_changed_.size();
}

void Manager::reset() {
    std::vector<Ref<Session>> dropped;
    Ref<Session> dropped_current;
    {
        const std::lock_guard lock(mutex_);
        dropped.swap(sessions_);
        std::swap(dropped_current, current_);
    }
    for (auto& session : dropped) session->drop_handlers();
    sessions_changed_.clear();
    current_session_changed_.clear();
}

void* Manager::find_interface(const GUID& iid) {
    return same_guid(iid, abi::IID_MANAGER) ? static_cast<abi::IManager*>(this) : nullptr;
}

HRESULT Manager::GetCurrentSession(abi::ISession** result) {
    OLVEX_ENTER("Manager.GetCurrentSession");
    if (result == nullptr) return E_POINTER;
    const std::lock_guard lock(mutex_);
    *result = Ref<Session>(current_).detach();
    return S_OK;
}

HRESULT Manager::GetSessions(abi::IVectorView<abi::ISession*>** result) {
    OLVEX_ENTER("Manager.GetSessions");
    if (result == nullptr) return E_POINTER;
    std::vector<Ref<Session>> copy;
    {
        const std::lock_guard lock(mutex_);
        copy = sessions_;
    }
    *result = SessionList::make(std::move(copy)).detach();
    return S_OK;
}

HRESULT Manager::add_CurrentSessionChanged(abi::ICurrentSessionChangedHandler* handler,
                                           abi::EventRegistrationToken* token) {
    return add_handler(current_session_changed_, handler, token, abi::IID_HANDLER_CURRENT_SESSION_CHANGED,
                       "Manager.add_CurrentSessionChanged");
}
HRESULT Manager::remove_CurrentSessionChanged(abi::EventRegistrationToken token) {
    return remove_handler(current_session_changed_, token, "Manager.remove_CurrentSessionChanged");
}
HRESULT Manager::add_SessionsChanged(abi::ISessionsChangedHandler* handler, abi::EventRegistrationToken* token) {
    return add_handler(sessions_changed_, handler, token, abi::IID_HANDLER_SESSIONS_CHANGED,
                       "Manager.add_SessionsChanged");
}
HRESULT Manager::remove_SessionsChanged(abi::EventRegistrationToken token) {
    return remove_handler(sessions_changed_, token, "Manager.remove_SessionsChanged");
}

Manager& manager() {
    static Manager* const instance = Manager::make().detach();  // lives as long as the process
    return *instance;
}

Ref<abi::IActivationFactory> make_manager_factory() {
    return Ref<abi::IActivationFactory>::adopt(ManagerFactory::make().detach());
}

}  // namespace olvex::test_server
