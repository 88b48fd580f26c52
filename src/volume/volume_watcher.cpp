#include "volume/volume_watcher.hpp"

#include <vector>

#include "base/thread.hpp"
#include "log/log.hpp"
#include "volume/session_matching.hpp"

namespace olvex::volume {

namespace {

constexpr std::int32_t RENDER_FLOW = 0;
constexpr std::int32_t CONSOLE_ROLE = 0;

// Everything registered for the default device and the current application.
class WatchedRegistrations {
public:
    WatchedRegistrations(VolumeWatcherSetup& setup, std::shared_ptr<AudioSystem> system)
        : setup_(setup), system_(std::move(system)) {}

    void watch_default_device() {
        register_endpoint_volume();
        register_session_creation();
        register_sessions();
    }

    // Acts on one notice; false once the watcher must end.
    bool act_on(WatchNotice notice) {
        switch (notice.kind) {
        case WatchNotice::Kind::AppChanged:
            app_ = std::move(notice.app);
            watch_sessions_again();
            return true;
        case WatchNotice::Kind::DefaultDeviceChanged:
            unregister_all();
            watch_default_device();
            return true;
        case WatchNotice::Kind::Rescan:
            watch_sessions_again();
            return true;
        case WatchNotice::Kind::Stop:
            return false;
        }
        return false;
    }

    void unregister_all() {
        endpoint_volume_.reset();
        session_events_.clear();
        session_creation_.reset();
        session_manager_.reset();
    }

private:
    void watch_sessions_again() {
        session_events_.clear();
        register_sessions();
    }

    void register_endpoint_volume() {
        auto device = system_->default_render_device();
        if (!device) return;
        auto volume = (*device)->endpoint_volume();
        if (!volume) return;
        if (auto registration = (*volume)->register_changes(setup_.endpoint_callback)) {
            endpoint_volume_ = std::move(*registration);
        }
    }

    void register_session_creation() {
        auto device = system_->default_render_device();
        if (!device) return;
        auto manager = (*device)->session_manager();
        if (!manager) return;
        session_manager_ = std::move(*manager);
        auto sink = std::make_shared<SessionCreationCallback>(setup_.notices);
        if (auto registration = session_manager_->register_session_creation(std::move(sink))) {
            session_creation_ = std::move(*registration);
        }
    }

    void register_sessions() {
        if (!app_ || app_->id.empty() || !session_manager_) return;
        auto sessions = finder_.on_device(*session_manager_, *system_, *app_);
        if (!sessions) return;
        auto sink = std::make_shared<SessionEventsCallback>(app_->id, setup_.session_listeners, setup_.notices,
                                                            setup_.own_context);
        for (auto& session : *sessions) {
            if (auto registration = session->register_events(sink)) {
                session_events_.push_back(std::move(*registration));
            }
        }
    }

    VolumeWatcherSetup& setup_;
    std::shared_ptr<AudioSystem> system_;
    std::optional<MediaApplication> app_;
    RegistrationPtr endpoint_volume_;
    std::unique_ptr<AudioSessionManager> session_manager_;
    RegistrationPtr session_creation_;
    std::vector<RegistrationPtr> session_events_;
    AppSessionFinder finder_;
};

void run_volume_watcher(VolumeWatcherSetup& setup) {
    if (!setup.backend->join_multithreaded_apartment()) {
        log_message("volume: failed to increment MTA usage, session/device volume watching disabled");
        return;
    }
    auto system = setup.backend->open_audio_system();
    if (!system) return;
    WatchedRegistrations registrations(setup, std::move(*system));
    registrations.watch_default_device();
    while (auto notice = setup.receiver.recv()) {
        if (!registrations.act_on(std::move(*notice))) break;
    }
    registrations.unregister_all();
}

}  // namespace

void EndpointVolumeCallback::on_notify(float master_level, bool muted, const EventContext& context) {
    if (context != own_context_) listeners_->call(master_level, muted);
}

void SessionEventsCallback::on_simple_volume_changed(float level, bool muted,
                                                     const std::optional<EventContext>& context) {
    if (!context || *context != own_context_) listeners_->call(app_id_, level, muted);
}

void SessionEventsCallback::on_state_changed(AudioSessionState state) {
    if (state == AudioSessionState::expired) notices_.send(WatchNotice{WatchNotice::Kind::Rescan, {}});
}

void SessionEventsCallback::on_session_disconnected() { notices_.send(WatchNotice{WatchNotice::Kind::Rescan, {}}); }

void SessionCreationCallback::on_session_created() { notices_.send(WatchNotice{WatchNotice::Kind::Rescan, {}}); }

void EndpointNotificationClient::on_default_device_changed(std::int32_t data_flow, std::int32_t role) {
    if (data_flow == RENDER_FLOW && role == CONSOLE_ROLE) {
        notices_.send(WatchNotice{WatchNotice::Kind::DefaultDeviceChanged, {}});
    }
    listeners_.call(DeviceEventKind::default_changed);
}

void EndpointNotificationClient::on_device_event(DeviceEventKind kind) { listeners_.call(kind); }

void start_volume_watcher(VolumeWatcherSetup setup) {
    spawn_thread([setup = std::move(setup)]() mutable {
        const Sender<bool> finished = std::move(setup.finished);
        {
            VolumeWatcherSetup watcher = std::move(setup);
            run_volume_watcher(watcher);
        }
        // Everything the watcher held is released by now; dropping `finished`
        // tells whoever waits that it is over.
    });
}

}  // namespace olvex::volume
