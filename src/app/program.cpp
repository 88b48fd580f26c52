#include "app/program.hpp"

#include <memory>
#include <string>
#include <utility>

#include "app/event_handler.hpp"
#include "app/outbound_pump.hpp"
#include "app/single_instance.hpp"
#include "app/subscriber.hpp"
#include "app/track_announcer.hpp"
#include "app/volume_worker.hpp"
#include "base/channel.hpp"
#include "base/standard_streams.hpp"
#include "device/session.hpp"
#include "log/log.hpp"
#include "media/watcher.hpp"
#include "tray/tray.hpp"
#include "volume/audio_platform.hpp"

namespace olvex::app {

namespace {

// The quiet period after which a burst of track changes is announced.
constexpr Duration TRACK_QUIET_PERIOD = Duration::from_seconds(1);

int start_up_failed(const Error& error) {
    std::string line = "Error: ";
    line += error.message;
    line += '\n';
    write_to_standard_error(line);
    return 1;
}

std::shared_ptr<tray::TrayHandle> publish_tray() {
    tray::publish_tray_handle(std::make_shared<tray::TrayHandle>());
    return tray::tray_handle();  // an earlier publish wins
}

}  // namespace

int run_program(const ProgramPlatform& platform) {
    install_failure_hook();
    // Probing for a writable folder on every entry would cost a file per line.
    fix_crash_log_path();
    // Two copies would fight for the device's port and double every volume
    // change; the claim comes before any thread starts.
    if (!claim_single_instance()) {
        log_message("already running");
        return 0;
    }
    tray::prepare_quit_signals();  // before any thread starts, so every thread inherits it

    auto [volume_commands, volume_command_receiver] = channel<volume::VolumeCommand>();
    auto [outbound, outbound_receiver] = channel<protocol::HostMessage>();

    auto manager = platform.start_media_platform();
    if (!manager) return start_up_failed(manager.error());
    auto media = media::start_watcher(std::move(*manager));
    if (!media) return start_up_failed(media.error());
    auto icons = tray::load_tray_icons();
    if (!icons) return start_up_failed(icons.error());
    const auto tray_handle = publish_tray();
    std::vector<tray::MenuEntry> menu{{tray::COMMAND_QUIT, "Quit"}};

    const auto volume_state = std::make_shared<volume::VolumeState>();
    app::start_volume_worker({volume::platform_audio_backend(), std::move(volume_command_receiver), outbound,
                                 volume_state, *media});

    const auto resend = std::make_shared<app::ResendRequests>();
    const app::SessionContext context{*media, outbound, volume_commands, volume_state, resend};
    auto link = device::start_device_session(
        [context](device::LinkEvent event) { app::handle_link_event(context, std::move(event)); });

    const auto set_tooltip = [](std::string title) { tray::set_tray_tooltip(std::move(title)); };
    const auto announcements = std::make_shared<app::AnnouncementGate>();
    auto debouncer = app::TrackDebouncer::start(
        TRACK_QUIET_PERIOD,
        app::make_track_announcer(outbound, *media, set_tooltip, announcements),
        [] { log_message("debounce: on_fire panicked, event dropped"); });
    media->subscribe(app::make_media_subscriber(
        {outbound, volume_commands, debouncer, &volume::current_application_channel(), announcements, set_tooltip}));
    start_outbound_pump(std::move(outbound_receiver), std::move(link), resend);

    auto ran = tray::run_tray(tray_handle, std::move(*icons), std::move(menu), &tray::run_menu_command);
    if (!ran) return start_up_failed(ran.error());
    return 0;
}

}  // namespace olvex::app
