#pragma once

// The application that plays media, as the media side names it.

#include <cstdint>
#include <optional>
#include <string>

namespace olvex::volume {

struct MediaApplication {
    // The application user model id on Windows; the player's desktop entry,
    // else its bus name, on Linux.
    std::string id;
    // The process that owns the player, where the media side learns it.
    std::optional<std::uint32_t> process_id = std::nullopt;
    bool operator==(const MediaApplication&) const = default;
};

}  // namespace olvex::volume
