#pragma once

#include <functional>
#include <memory>

#include "media/media_platform.hpp"

namespace olvex::app {

// What the program reaches the media platform through; tests replace it.
struct ProgramPlatform {
    std::function<media::PlatformResult<std::shared_ptr<media::MediaManager>>()> start_media_platform =
        &media::start_media_platform;
};

// The whole program: builds the system in its fixed order, runs the tray
// until the program is told to end, and returns the exit status: 0 after an
// ordinary end, 1 after a start-up error (reported on standard error as
// "Error: <description>" and nowhere else), and 0 at once, after the log line
// "already running", when another copy runs in the user's session.
[[nodiscard]] int run_program(const ProgramPlatform& platform = {});

}  // namespace olvex::app
