#pragma once

// The media session manager over MPRIS: every player on the session bus is a
// session, and the current one is chosen by choose_current_player.

#include <memory>

#include "media/media_platform.hpp"

namespace olvex::media::mpris {

// Connects to the session bus (DBUS_SESSION_BUS_ADDRESS, else the user's
// default bus), finds the players that are open now and follows players as
// they come and go. Fails when the bus cannot be reached.
[[nodiscard]] PlatformResult<std::shared_ptr<MediaManager>> start_mpris_manager();

}  // namespace olvex::media::mpris
