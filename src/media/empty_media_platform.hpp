#pragma once

#include <memory>

#include "media/media_platform.hpp"

namespace olvex::media {

// A manager with no sessions that never raises an event: the media platform
// of a system whose own media sessions cannot be reached yet.
[[nodiscard]] std::shared_ptr<MediaManager> make_empty_media_manager();

}  // namespace olvex::media
