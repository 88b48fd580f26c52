#include "device/event_handler.hpp"

#include <algorithm>
#include <type_traits>

#include "art/track_announcer.hpp"
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
    command.app_id = snapshot->source_app_id;
    context.volume_commands.send(std::move(command));
}

void send_lock(const SessionContext& context) { context.outbound.send(Lock{context.media.is_session_locked()}); }

void handle_device_event(const SessionContext& context, const DeviceEvent& event) {
    std::visit(
        [&](const auto& e) {
            using Event = std::decay_t<decltype(e)>;
            if constexpr (std::is_same_v<Event, PlayPause>) {
                (void)media::toggle_play_pause(context.media);
            } else if constexpr (std::is_same_v<Event, Next>) {
                (void)media::skip_next(context.media);
            } else if constexpr (std::is_same_v<Event, Previous>) {
                (void)media::skip_previous(context.media);
            } else if constexpr (std::is_same_v<Event, Seek>) {
                media::seek_to_seconds(context.media, e.position_s);
            } else if constexpr (std::is_same_v<Event, SeekRelative>) {
                media::seek_to_fraction(context.media, e.position);
            } else if constexpr (std::is_same_v<Event, SetVolume>) {
                // Clamped while still a double: a device value beyond float's
                // range must not reach the conversion.
                const auto percent = static_cast<float>(std::clamp(e.volume, 0.0, 100.0));
                send_volume_command(context, {volume::VolumeCommand::Kind::SetLevel, false, percent / 100.0f, {}});
            } else if constexpr (std::is_same_v<Event, SetMute>) {
                send_volume_command(context, {volume::VolumeCommand::Kind::SetMute, e.muted, 0.0f, {}});
            } else if constexpr (std::is_same_v<Event, SetLock>) {
                context.media.set_session_lock(e.locked);
                send_lock(context);
            } else if constexpr (std::is_same_v<Event, Resync>) {
                push_state(context, e.what);
            }
            // HelloAck after the handshake means nothing.
        },
        event);
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
