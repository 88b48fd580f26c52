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

}  // namespace olvex::art
