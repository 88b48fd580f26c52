#pragma once

// Cover art that a player publishes as a local file.

#include <cstdint>
#include <filesystem>
#include <memory>

#include "media/media_platform.hpp"

namespace olvex::media::mpris {

// A thumbnail reference to the file at `path`. Opening it fails for anything
// but a regular file of at most LARGEST_THUMBNAIL bytes.
[[nodiscard]] std::unique_ptr<ThumbnailReference> make_file_thumbnail(std::filesystem::path path);

}  // namespace olvex::media::mpris
