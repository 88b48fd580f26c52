#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/announcement_gate.hpp"
#include "base/channel.hpp"
#include "base/debouncer.hpp"
#include "media/snapshot.hpp"
#include "media/watcher.hpp"
#include "protocol/messages.hpp"
#include "volume/volume_command.hpp"

namespace olvex::app {

using TrackDebouncer = Debouncer<media::SessionSnapshot>;

// Where the media subscriber sends what it learns.
struct MediaSubscriberOutputs {
    Sender<protocol::HostMessage> outbound;
    Sender<volume::VolumeCommand> volume_commands;
    std::shared_ptr<TrackDebouncer> debouncer;
    const volume::CurrentApplicationChannel* application_channel = &volume::current_application_channel();
    // Shared with the track announcer, so that nothing of an announcement
    // lands after nothing-plays; none: no announcer to hold back.
    std::shared_ptr<app::AnnouncementGate> announcements;
    // Given the idle tooltip when nothing plays; empty: no tray.
    std::function<void(std::string)> set_tooltip;
};

// The subscriber that turns media changes into device messages: play state and
// position go out at once; title, artist, album and art wait for the
// debouncer's quiet period; a new session also tells the volume side which
// application now plays. With no session the device is told "none" and gets
// empty art, and the tooltip returns to "Nothing playing".
[[nodiscard]] media::Subscriber make_media_subscriber(MediaSubscriberOutputs outputs);

}  // namespace olvex::app
