#include "volume/volume_control.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "volume/session_matching.hpp"

namespace olvex::volume {

namespace {

template <typename Set>
AudioResult<bool> set_each(AppSessionFinder& finder, AudioSystem& system, const MediaApplication& app, Set&& set) {
    auto sessions = finder.everywhere(system, app);
    if (!sessions) return std::unexpected(std::move(sessions.error()));
    for (auto& session : *sessions) {
        if (auto done = set(*session); !done) return std::unexpected(std::move(done.error()));
    }
    return !sessions->empty();
}

}  // namespace

AudioResult<std::unique_ptr<VolumeControl>> VolumeControl::create(std::shared_ptr<AudioBackend> backend) {
    std::unique_ptr<VolumeControl> control(new VolumeControl());
    if (auto started = control->start(std::move(backend)); !started) {
        return std::unexpected(std::move(started.error()));
    }
    return control;
}

AudioResult<void> VolumeControl::start(std::shared_ptr<AudioBackend> backend) {
    if (auto joined = backend->join_multithreaded_apartment(); !joined) return joined;
    auto context = backend->make_event_context();
    if (!context) return std::unexpected(std::move(context.error()));
    event_context_ = *context;
    auto system = backend->open_audio_system();
    if (!system) return std::unexpected(std::move(system.error()));
    system_ = std::move(*system);

    endpoint_callback_ = std::make_shared<EndpointVolumeCallback>(master_listeners_, event_context_);
    auto [sender, receiver] = channel<WatchNotice>();
    auto [finished, finished_receiver] = channel<bool>();
    notices_.emplace(sender);
    watcher_finished_.emplace(std::move(finished_receiver));
    start_volume_watcher(VolumeWatcherSetup{backend, endpoint_callback_, session_listeners_, event_context_,
                                            std::move(sender), std::move(receiver), std::move(finished)});

    auto client = std::make_shared<EndpointNotificationClient>(*notices_);
    auto registration = system_->register_endpoint_notifications(std::move(client));
    if (!registration) return std::unexpected(std::move(registration.error()));
    endpoint_client_ = std::move(*registration);
    return {};
}

VolumeControl::~VolumeControl() {
    endpoint_client_.reset();
    if (notices_) notices_->send(WatchNotice{WatchNotice::Kind::Stop, {}});
    if (watcher_finished_) (void)watcher_finished_->recv();
}

AudioResult<VolumeReading> VolumeControl::read_master_volume() {
    auto device = system_->default_render_device();
    if (!device) return std::unexpected(std::move(device.error()));
    auto volume = (*device)->endpoint_volume();
    if (!volume) return std::unexpected(std::move(volume.error()));
    auto level = (*volume)->master_level();
    if (!level) return std::unexpected(std::move(level.error()));
    auto muted = (*volume)->muted();
    if (!muted) return std::unexpected(std::move(muted.error()));
    return VolumeReading{*level, *muted};
}

AudioResult<std::optional<VolumeReading>> VolumeControl::read_app_volume(const MediaApplication& app) {
    auto sessions = finder_->everywhere(*system_, app);
    if (!sessions) return std::unexpected(std::move(sessions.error()));
    if (sessions->empty()) return std::optional<VolumeReading>();
    AudioSession& first = *sessions->front();
    auto level = first.level();
    if (!level) return std::unexpected(std::move(level.error()));
    auto muted = first.muted();
    if (!muted) return std::unexpected(std::move(muted.error()));
    return std::optional(VolumeReading{*level, *muted});
}

AudioResult<bool> VolumeControl::set_app_level(const MediaApplication& app, float level) {
    // A NaN would pass std::clamp unchanged; no level at all is the safe reading.
    const float clamped = std::isnan(level) ? 0.0f : std::clamp(level, 0.0f, 1.0f);
    return set_each(*finder_, *system_, app,
                    [&](AudioSession& session) { return session.set_level(clamped, event_context_); });
}

AudioResult<bool> VolumeControl::set_app_mute(const MediaApplication& app, bool muted) {
    return set_each(*finder_, *system_, app,
                    [&](AudioSession& session) { return session.set_muted(muted, event_context_); });
}

}  // namespace olvex::volume
