#include "app/event_handler.hpp"

#include <algorithm>

#include "app/playing_application.hpp"
#include "app/track_announcer.hpp"
#include "media/commands.hpp"
#include "tray/tray.hpp"

namespace olvex::device {

namespace {

// The snapshot of the current session; an error counts as none.
std::optional<media::SessionSnapshot> current_snapshot(const SessionContext& context) {
    auto current = media::read_current(context.media);
    if (!current) return std::nullopt;
    return std::move(*current);
}

void send_volume_command(const SessionContext& context, volume::VolumeCommand command) {
    const auto snapshot = current_snapshot(context);
    if (!snapshot) return;
    command.app = application_of(*snapshot);
    context.volume_commands.send(std::move(command));
}

void send_lock(const SessionContext& context) { context.outbound.send(Lock{context.media.is_session_locked()}); }

// Carries out one device command; one overload per event.
struct DeviceCommandRunner {
    const SessionContext& context;

    void operator()(const PlayPause&) const { (void)media::toggle_play_pause(context.media); }
    void operator()(const Next&) const { (void)media::skip_next(context.media); }
    void operator()(const Previous&) const { (void)media::skip_previous(context.media); }
    void operator()(const Seek& seek) const { media::seek_to_seconds(context.media, seek.position_s); }
    void operator()(const SeekRelative& seek) const { media::seek_to_fraction(context.media, seek.position); }

    void operator()(const SetVolume& set) const {
        // Clamped while still a double: a device value beyond float's range
        // must not reach the conversion.
        const auto percent = static_cast<float>(std::clamp(set.volume, 0.0, 100.0));
        send_volume_command(context, {volume::VolumeCommand::Kind::SetLevel, false, percent / 100.0f, {}});
    }

    void operator()(const SetMute& set) const {
        send_volume_command(context, {volume::VolumeCommand::Kind::SetMute, set.muted, 0.0f, {}});
    }

    void operator()(const SetLock& set) const {
        context.media.set_session_lock(set.locked);
        send_lock(context);
    }

    void operator()(const Resync& resync) const { push_state(context, resync.what); }

    // A hello_ack after the handshake means nothing.
    void operator()(const HelloAck&) const {}
};

void handle_device_event(const SessionContext& context, const DeviceEvent& event) {
    std::visit(DeviceCommandRunner{context}, event);
}

}  // namespace

void push_state(const SessionContext& context, std::uint8_t what) {
    if (what & resync_what::NOW_PLAYING) {
        if (const auto snapshot = current_snapshot(context)) context.outbound.send(media::now_playing_from(snapshot));
    }
    if (what & resync_what::ART) {
        if (auto art = art::current_art(context.media)) context.outbound.send(Art{std::move(*art)});
    }
    if (what & resync_what::VOLUME) {
        const auto reading = context.volume_state->read();
        context.outbound.send(volume_message(reading.level, reading.muted));
    }
    if (what & resync_what::LOCK) send_lock(context);
}

void handle_link_event(const SessionContext& context, LinkEvent event) {
    if (std::holds_alternative<Connected>(event)) {
        tray::set_tray_icon(tray::ICON_CONNECTED);
        push_state(context, FULL_STATE);
    } else if (std::holds_alternative<Disconnected>(event)) {
        tray::set_tray_icon(tray::ICON_NO_DEVICE);
    } else {
        handle_device_event(context, std::get<Device>(event).event);
    }
}

}  // namespace olvex::device
