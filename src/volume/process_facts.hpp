#pragma once

// What the platform tells about one running process, as plain values, for
// deciding which processes make an application's sound.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace olvex::volume {

struct ProcessFacts {
    std::uint32_t id = 0;
    // The process that created this one; its number may since have been
    // given to a newer process.
    std::uint32_t parent = 0;
    // When the process was created, in the platform's own ticks; 0 when
    // unknown. Only compared with other processes' times.
    std::uint64_t started = 0;
    // The executable's file name, without folder.
    std::string executable;
    // The package family (Windows) of a packaged process.
    std::optional<std::string> package_family = std::nullopt;
    // The package's application id of the process: its application user model
    // id on Windows, the sandbox's application id (Flatpak) on Linux.
    std::optional<std::string> package_app_id = std::nullopt;
    // The application ids carried by the process's top-level windows.
    std::vector<std::string> window_app_ids = {};
    // The application id that the shell resolves to this process's
    // executable, for the id being looked up.
    std::optional<std::string> shell_app_id = std::nullopt;
};

}  // namespace olvex::volume
