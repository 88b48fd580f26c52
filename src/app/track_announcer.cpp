#include "app/track_announcer.hpp"

#include <cstdint>
#include <span>
#include <utility>

#include "art/art.hpp"
#include "art/thumbnail.hpp"

namespace olvex::art {

std::optional<std::string> current_art(const media::MediaWatcherHandle& watcher) {
    const auto thumbnail = read_thumbnail(watcher);
    if (!thumbnail || !*thumbnail) return std::nullopt;
    const std::string& bytes = **thumbnail;
    return encode_art(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::move_only_function<void(media::SessionSnapshot)> make_track_announcer(
    Sender<device::HostMessage> outbound, media::MediaWatcherHandle watcher, TooltipSetter set_tooltip) {
    return [outbound = std::move(outbound), watcher = std::move(watcher),
            set_tooltip = std::move(set_tooltip)](media::SessionSnapshot snapshot) {
        auto now_playing = media::now_playing_from(std::optional(std::move(snapshot)));
        if (set_tooltip) set_tooltip(now_playing.title);
        outbound.send(std::move(now_playing));
        if (auto art = current_art(watcher)) {
            outbound.send(device::Art{*art});
            outbound.send(device::Art{std::move(*art)});
        }
    };
}

}  // namespace olvex::art
