#pragma once

// What happens once a burst of track changes has settled: the device gets the
// track and its art, the tray its tooltip.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/announcement_gate.hpp"
#include "base/channel.hpp"
#include "media/snapshot.hpp"
#include "media/watcher.hpp"
#include "protocol/messages.hpp"

namespace olvex::app {

// Shows `title` as the tray icon's tooltip. An empty setter means there is no
// tray to show it on.
using TooltipSetter = std::function<void(std::string title)>;

// The art payload of the current session's thumbnail, or nothing when there
// is no session, no readable thumbnail or no decodable picture.
[[nodiscard]] std::optional<std::string> current_art(const media::MediaWatcherHandle& watcher);

// The debouncer's action: sends now_playing for `snapshot`, sets the tooltip
// to its title (cut as the device's copy is), then sends the current art
// once (nothing when there is none). Once the subscriber has sent nothing-plays through `gate`,
// an announcement already running sends nothing more.
[[nodiscard]] std::move_only_function<void(media::SessionSnapshot)> make_track_announcer(
    Sender<protocol::HostMessage> outbound, media::MediaWatcherHandle watcher, TooltipSetter set_tooltip,
    std::shared_ptr<AnnouncementGate> gate = nullptr);

}  // namespace olvex::app
