#include "app/subscriber.hpp"

#include <string>
#include <utility>

#include "app/playing_application.hpp"
#include "tray/tray.hpp"

namespace olvex::app {

namespace {

void on_no_session(const MediaSubscriberOutputs& outputs) {
    if (outputs.application_channel) outputs.application_channel->post(std::nullopt);
    outputs.debouncer->cancel();
    const auto nothing_plays = [&] {
        if (outputs.set_tooltip) outputs.set_tooltip(std::string(tray::INITIAL_TOOLTIP));
        outputs.outbound.send(media::now_playing_from(std::nullopt));
        outputs.outbound.send(protocol::Art{});
    };
    if (outputs.announcements) {
        outputs.announcements->close_turns(nothing_plays);
    } else {
        nothing_plays();
    }
}

void on_session_attached(const MediaSubscriberOutputs& outputs, media::SessionSnapshot snapshot) {
    const auto app = application_of(snapshot);
    if (outputs.application_channel) outputs.application_channel->post(app);
    outputs.volume_commands.send(volume::VolumeCommand{.kind = volume::VolumeCommand::Kind::AppChanged, .app = app});
    outputs.debouncer->trigger(std::move(snapshot));
}

}  // namespace

media::Subscriber make_media_subscriber(MediaSubscriberOutputs outputs) {
    return [outputs = std::move(outputs)](std::optional<media::SessionSnapshot> snapshot, media::SessionChange change) {
        // Told first, as when the device itself lets go of the lock.
        if (change == media::SessionChange::LockReleased) outputs.outbound.send(protocol::Lock{false});
        if (!snapshot) return on_no_session(outputs);
        switch (change) {
        case media::SessionChange::PlaybackInfoChanged:
        case media::SessionChange::TimelinePropertiesChanged:
            outputs.outbound.send(now_playing_from(snapshot));
            return;
        case media::SessionChange::SessionAttached:
        case media::SessionChange::LockReleased:
            return on_session_attached(outputs, std::move(*snapshot));
        case media::SessionChange::MediaPropertiesChanged:
            outputs.debouncer->trigger(std::move(*snapshot));
            return;
        }
    };
}

}  // namespace olvex::app
