#include "app/volume_worker.hpp"

#include <fmt/format.h>

#include "app/playing_application.hpp"
#include "base/thread.hpp"
#include "log/log.hpp"
#include "media/commands.hpp"
#include "volume/volume_control.hpp"

namespace olvex::app {

namespace {

void listen_for_changes(volume::VolumeControl& control, const VolumeWorkerSetup& setup) {
    control.master_listeners().add([state = setup.state, outbound = setup.outbound](float level, bool muted) {
        report_volume(*state, outbound, level, muted);
    });
    control.session_listeners().add(
        [state = setup.state, outbound = setup.outbound](const std::string&, float level, bool muted) {
            report_volume(*state, outbound, level, muted);
            });
}

std::optional<volume::MediaApplication> current_app(const media::MediaWatcherHandle& media) {
    auto current = media::read_current(media);
    if (!current || !*current) return std::nullopt;
    return application_of(**current);
}

// Lets the media side tell the watcher of every change of application, then
// tells it which application plays now. In this order a change that lands
// in between is not lost; and once the media side has told of one, what was
// read here is no newer and is not sent.
std::optional<volume::MediaApplication> follow_current_application(volume::VolumeControl& control,
                                                                   const VolumeWorkerSetup& setup) {
    const bool published =
        setup.application_channel &&
        setup.application_channel->set(
            [notices = control.watch_notices()](std::optional<volume::MediaApplication> app) {
                return notices.send(volume::WatchNotice::app_changed(std::move(app)));
            });
    auto app = current_app(setup.media);
    if (published) {
        (void)setup.application_channel->post_first(app);
    } else {
        control.watch_notices().send(volume::WatchNotice::app_changed(app));
    }
    return app;
}

// The application's volume when it has a session, else the master volume.
std::optional<volume::VolumeReading> starting_volume(volume::VolumeControl& control,
                                                    const std::optional<volume::MediaApplication>& app) {
    if (app) {
        if (auto reading = control.read_app_volume(*app); reading && *reading) return **reading;
    }
    if (auto master = control.read_master_volume()) return *master;
    return std::nullopt;
}

void carry_out(volume::VolumeControl& control, const volume::VolumeCommand& command, const VolumeWorkerSetup& setup) {
    switch (command.kind) {
    case volume::VolumeCommand::Kind::SetLevel:
        (void)control.set_app_level(command.app, command.level);
        break;
    case volume::VolumeCommand::Kind::SetMute:
        (void)control.set_app_mute(command.app, command.muted);
        break;
    case volume::VolumeCommand::Kind::AppChanged:
        break;
    }
    // No fallback to the master volume here: the device hears only about the
    // application it acts on.
    if (auto reading = control.read_app_volume(command.app); reading && *reading) {
        report_volume(*setup.state, setup.outbound, (*reading)->level, (*reading)->muted);
    }
}

void run_volume_worker(VolumeWorkerSetup& setup) {
    auto control = volume::VolumeControl::create(setup.backend);
    if (!control) {
        log_message(fmt::format("volume: could not initialize volume control: {}", control.error().message));
        return;
    }
    listen_for_changes(**control, setup);
    const auto app = follow_current_application(**control, setup);
    if (const auto reading = starting_volume(**control, app)) {
        volume::report_volume(*setup.state, setup.outbound, reading->level, reading->muted);
    }
    while (auto command = setup.commands.recv()) carry_out(**control, *command, setup);
}

}  // namespace

void start_volume_worker(VolumeWorkerSetup setup) {
    spawn_thread([setup = std::move(setup)]() mutable { run_volume_worker(setup); });
}

}  // namespace olvex::app
