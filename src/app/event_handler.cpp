#include "app/event_handler.hpp"

#include <algorithm>

#include "app/playing_application.hpp"
#include "app/track_announcer.hpp"
#include "media/commands.hpp"
#include "tray/tray.hpp"

namespace olvex::app {

namespace {

// Only the application is asked for, not a whole snapshot: the volume
// belongs to the application even while its player does not answer.
void send_volume_command(const SessionContext& context, volume::VolumeCommand command) {
    auto application = media::read_current_application(context.media);
    if (!application || !*application) return;
    command.app = application_of(std::move(**application));
    context.volume_commands.send(std::move(command));
}

void ask_resend(const SessionContext& context, std::uint8_t what) {
    if (context.resend) context.resend->request(what);
}

void send_lock(const SessionContext& context) {
    context.outbound.send(protocol::Lock{context.media.is_session_locked()});
}

// Carries out one device command; one overload per event.
struct DeviceCommandRunner {
    const SessionContext& context;

    void operator()(const protocol::PlayPause&) const { (void)media::toggle_play_pause(context.media); }
    void operator()(const protocol::Next&) const { (void)media::skip_next(context.media); }
    void operator()(const protocol::Previous&) const { (void)media::skip_previous(context.media); }
    void operator()(const protocol::Seek& seek) const { media::seek_to_seconds(context.media, seek.position_s); }
    void operator()(const protocol::SeekRelative& seek) const { media::seek_to_fraction(context.media, seek.position); }

    void operator()(const protocol::SetVolume& set) const {
        // Clamped while still a double: a device value beyond float's range
        // must not reach the conversion.
        const auto percent = static_cast<float>(std::clamp(set.volume, 0.0, 100.0));
        send_volume_command(context, {volume::VolumeCommand::Kind::SetLevel, false, percent / 100.0f, {}});
    }

    void operator()(const protocol::SetMute& set) const {
        send_volume_command(context, {volume::VolumeCommand::Kind::SetMute, set.muted, 0.0f, {}});
    }

    void operator()(const protocol::SetLock& set) const {
        context.media.set_session_lock(set.locked);
        ask_resend(context, protocol::resync_what::LOCK);  // the device waits for the answer
        send_lock(context);
    }

    void operator()(const protocol::Resync& resync) const { push_state(context, resync.what); }

    // A hello_ack after the handshake means nothing.
    void operator()(const protocol::HelloAck&) const {}
};

void handle_device_event(const SessionContext& context, const protocol::DeviceEvent& event) {
    std::visit(DeviceCommandRunner{context}, event);
}

}  // namespace

void push_state(const SessionContext& context, std::uint8_t what) {
    ask_resend(context, what);
    bool unreadable = false;
    if (what & protocol::resync_what::NOW_PLAYING) {
        const auto current = media::read_current(context.media);
        unreadable = !current.has_value();
        if (current && *current) context.outbound.send(media::now_playing_from(*current));
    }
    // A session that could not be read just now is not asked again for its
    // art: a player that does not answer would make the device wait out a
    // second time limit before its volume and lock.
    if ((what & protocol::resync_what::ART) && !unreadable) {
        if (auto art = app::current_art(context.media)) context.outbound.send(protocol::Art{std::move(*art)});
    }
    if (what & protocol::resync_what::VOLUME) {
        const auto reading = context.volume_state->read();
        context.outbound.send(protocol::volume_message(reading.level, reading.muted));
    }
    if (what & protocol::resync_what::LOCK) send_lock(context);
}

void handle_link_event(const SessionContext& context, device::LinkEvent event) {
    if (std::holds_alternative<device::Connected>(event)) {
        tray::set_tray_icon(tray::ICON_CONNECTED);
        push_state(context, FULL_STATE);
    } else if (std::holds_alternative<device::Disconnected>(event)) {
        tray::set_tray_icon(tray::ICON_NO_DEVICE);
    } else {
        handle_device_event(context, std::get<device::Device>(event).event);
    }
}

}  // namespace olvex::app
