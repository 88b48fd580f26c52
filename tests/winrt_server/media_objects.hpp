#pragma once

// The Windows.Media.Control side of the test server: the manager with its
// sessions, and what a test may do to them.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "winrt_server/com_object.hpp"
#include "winrt_server/event_source.hpp"

namespace olvex::test_server {

using Bytes = std::vector<BYTE>;

// What a session shows at the moment.
struct SessionData {
    std::string title;
    std::string artist;
    std::string album;
    std::shared_ptr<const Bytes> thumbnail;  // null: no thumbnail
    std::int32_t status = 4;                 // Playing
    std::optional<double> rate = 1.0;
    std::int64_t start = 0;
    std::int64_t end = 0;
    std::int64_t position = 0;
    std::int64_t last_updated = 0;
};

enum class SessionEventKind : std::uint8_t { media_properties, playback_info, timeline_properties };
enum class ManagerEventKind : std::uint8_t { sessions_changed, current_session_changed };

class Session final : public ComObject<Session, abi::ISession> {
public:
    static constexpr const wchar_t* CLASS_NAME = L"Windows.Media.Control.GlobalSystemMediaTransportControlsSession";

    Session(int id, std::string app_id) : id_(id), app_id_(std::move(app_id)) {}

    [[nodiscard]] int id() const { return id_; }
    [[nodiscard]] SessionData data() const;
    void set_data(const SessionData& data);
    // Calls the handlers of `kind` on a server thread and waits for them.
    void raise(SessionEventKind kind);
    [[nodiscard]] std::size_t handler_count(SessionEventKind kind) const;
    void drop_handlers();

    void* find_interface(const GUID& iid);

    HRESULT __stdcall get_SourceAppUserModelId(HSTRING* value) override;
    HRESULT __stdcall TryGetMediaPropertiesAsync(abi::IAsyncOperation<abi::IMediaProperties*>** operation) override;
    HRESULT __stdcall GetTimelineProperties(abi::ITimelineProperties** result) override;
    HRESULT __stdcall GetPlaybackInfo(abi::IPlaybackInfo** result) override;
    HRESULT __stdcall TryPlayAsync(abi::IBooleanOperation** operation) override;
    HRESULT __stdcall TryPauseAsync(abi::IBooleanOperation** operation) override;
    HRESULT __stdcall TryStopAsync(abi::IBooleanOperation** operation) override;
    HRESULT __stdcall TryRecordAsync(abi::IBooleanOperation** operation) override;
    HRESULT __stdcall TryFastForwardAsync(abi::IBooleanOperation** operation) override;
    HRESULT __stdcall TryRewindAsync(abi::IBooleanOperation** operation) override;
    HRESULT __stdcall TrySkipNextAsync(abi::IBooleanOperation** operation) override;
    HRESULT __stdcall TrySkipPreviousAsync(abi::IBooleanOperation** operation) override;
    HRESULT __stdcall TryChangeChannelUpAsync(abi::IBooleanOperation** operation) override;
    HRESULT __stdcall TryChangeChannelDownAsync(abi::IBooleanOperation** operation) override;
    HRESULT __stdcall TryTogglePlayPauseAsync(abi::IBooleanOperation** operation) override;
    HRESULT __stdcall TryChangeAutoRepeatModeAsync(std::int32_t mode, abi::IBooleanOperation** operation) override;
    HRESULT __stdcall TryChangePlaybackRateAsync(DOUBLE rate, abi::IBooleanOperation** operation) override;
    HRESULT __stdcall TryChangeShuffleActiveAsync(boolean active, abi::IBooleanOperation** operation) override;
    HRESULT __stdcall TryChangePlaybackPositionAsync(INT64 ticks, abi::IBooleanOperation** operation) override;
    HRESULT __stdcall add_TimelinePropertiesChanged(abi::ITimelinePropertiesChangedHandler* handler,
                                                    abi::EventRegistrationToken* token) override;
    HRESULT __stdcall remove_TimelinePropertiesChanged(abi::EventRegistrationToken token) override;
    HRESULT __stdcall add_PlaybackInfoChanged(abi::IPlaybackInfoChangedHandler* handler,
                                              abi::EventRegistrationToken* token) override;
    HRESULT __stdcall remove_PlaybackInfoChanged(abi::EventRegistrationToken token) override;
    HRESULT __stdcall add_MediaPropertiesChanged(abi::IMediaPropertiesChangedHandler* handler,
                                                 abi::EventRegistrationToken* token) override;
    HRESULT __stdcall remove_MediaPropertiesChanged(abi::EventRegistrationToken token) override;

private:
    // A media command: counted, logged, accepted.
    HRESULT command(const char* name, const std::string& argument, abi::IBooleanOperation** operation);

    const int id_;
    const std::string app_id_;
    mutable std::mutex mutex_;
    SessionData data_;
    EventSource<abi::IMediaPropertiesChangedHandler> media_properties_changed_;
    EventSource<abi::IPlaybackInfoChangedHandler> playback_info_changed_;
    EventSource<abi::ITimelinePropertiesChangedHandler> timeline_properties_changed_;
};

class Manager final : public ComObject<Manager, abi::IManager> {
public:
    static constexpr const wchar_t* CLASS_NAME =
        L"Windows.Media.Control.GlobalSystemMediaTransportControlsSessionManager";

    // Control by tests. Ids start at 1; 0 stands for "no session".
    int add_session(const std::string& app_id);
    [[nodiscard]] Ref<Session> session(int id) const;
    // Also clears the current session if it was this one.
    bool remove_session(int id);
    bool set_current(int id);
    void raise(ManagerEventKind kind);
    [[nodiscard]] std::size_t handler_count(ManagerEventKind kind) const;
    // Back to no sessions and no registrations.
    void reset();

    void* find_interface(const GUID& iid);

    HRESULT __stdcall GetCurrentSession(abi::ISession** result) override;
    HRESULT __stdcall GetSessions(abi::IVectorView<abi::ISession*>** result) override;
    HRESULT __stdcall add_CurrentSessionChanged(abi::ICurrentSessionChangedHandler* handler,
                                                abi::EventRegistrationToken* token) override;
    HRESULT __stdcall remove_CurrentSessionChanged(abi::EventRegistrationToken token) override;
    HRESULT __stdcall add_SessionsChanged(abi::ISessionsChangedHandler* handler,
                                          abi::EventRegistrationToken* token) override;
    HRESULT __stdcall remove_SessionsChanged(abi::EventRegistrationToken token) override;

private:
    mutable std::mutex mutex_;
    std::vector<Ref<Session>> sessions_;
    Ref<Session> current_;
    int last_id_ = 0;
    EventSource<abi::ICurrentSessionChangedHandler> current_session_changed_;
    EventSource<abi::ISessionsChangedHandler> sessions_changed_;
};

// The one manager of the process.
Manager& manager();

// The activation factory of the manager class (IActivationFactory and the
// statics interface).
Ref<abi::IActivationFactory> make_manager_factory();

}  // namespace olvex::test_server
