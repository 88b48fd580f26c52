#pragma once

#include <optional>
#include <string>

#include "media/media_platform.hpp"
#include "media/watcher.hpp"

namespace olvex::art {

// The current session's thumbnail file, unchanged (possibly empty); nothing
// when there is no session or no readable thumbnail; an error only when the
// session's media properties cannot be obtained. Callers treat the error as
// nothing. Holds no lock during the platform calls.
[[nodiscard]] media::PlatformResult<std::optional<std::string>> read_thumbnail(const media::MediaWatcherHandle& watcher);

// The art text of the current session's thumbnail; nothing where
// read_thumbnail gives nothing or an error, or the picture does not decode.
// A thumbnail that can be read in parts (a file) is decoded as it is read and
// never held whole; one that cannot is read whole, up to LARGEST_THUMBNAIL.
// Conversions run one at a time: a second caller (the track announcer and a
// resync at once) waits for the first once it has its stream, so that their
// memory never adds up.
[[nodiscard]] std::optional<std::string> thumbnail_art(const media::MediaWatcherHandle& watcher);

}  // namespace olvex::art
