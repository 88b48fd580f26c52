#pragma once

// The one place that reacts to the link with the device: the tray icon, the
// full state for a fresh connection, the device's commands and resyncs.

#include <memory>

#include "app/outbound_pump.hpp"
#include "base/channel.hpp"
#include "device/session.hpp"
#include "media/watcher.hpp"
#include "protocol/messages.hpp"
#include "volume/volume_command.hpp"
#include "volume/volume_state.hpp"

namespace olvex::app {

// What the handler works with; it lives on the device session's thread.
struct SessionContext {
    media::MediaWatcherHandle media;
    Sender<protocol::HostMessage> outbound;
    Sender<volume::VolumeCommand> volume_commands;
    std::shared_ptr<volume::VolumeState> volume_state;
    // Where the kinds the device asked for are marked, so that they reach it
    // even when it got the same line before; none in some tests.
    std::shared_ptr<ResendRequests> resend = nullptr;
};

// Everything a full state push can carry, in the order it is sent.
inline constexpr std::uint8_t FULL_STATE =
    protocol::resync_what::NOW_PLAYING | protocol::resync_what::ART | protocol::resync_what::VOLUME |
    protocol::resync_what::LOCK;

// Handles one link event. Results of media commands are ignored, and a failed
// send is dropped.
void handle_link_event(const SessionContext& context, device::LinkEvent event);

// Sends the items of `what` (resync bits) in their fixed order, marked as
// asked for: now_playing and art only when there is a session (and a picture
// for art), then the volume and the lock.
void push_state(const SessionContext& context, std::uint8_t what);

}  // namespace olvex::app
