#include "app/track_announcer.hpp"

#include <utility>

#include "art/thumbnail.hpp"

namespace olvex::app {

std::optional<std::string> current_art(const media::MediaWatcherHandle& watcher) {
    return art::thumbnail_art(watcher);
}

std::move_only_function<void(media::SessionSnapshot)> make_track_announcer(
    Sender<protocol::HostMessage> outbound, media::MediaWatcherHandle watcher, TooltipSetter set_tooltip,
    std::shared_ptr<AnnouncementGate> gate) {
    if (!gate) gate = std::make_shared<AnnouncementGate>();
    return [outbound = std::move(outbound), watcher = std::move(watcher), set_tooltip = std::move(set_tooltip),
            gate = std::move(gate)](media::SessionSnapshot snapshot) {
        const auto turn = gate->begin();
        auto now_playing = media::now_playing_from(std::optional(std::move(snapshot)));
        gate->run_if_current(turn, [&] {
            if (set_tooltip) set_tooltip(now_playing.title);
            outbound.send(std::move(now_playing));
        });
        if (auto art = current_art(watcher)) {
            gate->run_if_current(turn, [&] { outbound.send(protocol::Art{std::move(*art)}); });
        }
    };
}

}  // namespace olvex::app
