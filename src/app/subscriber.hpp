#pragma once

#include <memory>

#include "base/channel.hpp"
#include "base/debouncer.hpp"
#include "media/snapshot.hpp"
#include "media/watcher.hpp"
#include "protocol/messages.hpp"
#include "volume/volume_command.hpp"

namespace olvex::media {

using TrackDebouncer = Debouncer<SessionSnapshot>;

// Where the media subscriber sends what it learns.
struct MediaSubscriberOutputs {
    Sender<device::HostMessage> outbound;
    Sender<volume::VolumeCommand> volume_commands;
    std::shared_ptr<TrackDebouncer> debouncer;
    const volume::CurrentApplicationChannel* application_channel = &volume::current_application_channel();
};

// The subscriber that turns media changes into device messages: play state and
// position go out at once; title, artist, album and art wait for the
// debouncer's quiet period; a new session also tells the volume side which
// application now plays. With no session the device is told "none" and gets
// empty art.
[[nodiscard]] Subscriber make_media_subscriber(MediaSubscriberOutputs outputs);

}  // namespace olvex::media
