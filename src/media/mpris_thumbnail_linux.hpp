#pragma once

// Cover art that a player publishes as a local file.

#include <cstdint>
#include <filesystem>
#include <memory>

#include "media/media_platform.hpp"

namespace olvex::media::mpris {

inline constexpr std::uint64_t LARGEST_THUMBNAIL_FILE = LARGEST_THUMBNAIL;

// A thumbnail reference to the file at `path`. Opening it fails for anything
// but a regular file of at most LARGEST_THUMBNAIL_FILE bytes.
[[nodiscard]] std::unique_ptr<ThumbnailReference> make_file_thumbnail(std::filesystem::path path);

}  // namespace olvex::media::mpris
