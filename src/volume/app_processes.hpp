#pragma once

// Which processes make the sound of the application that plays media, decided
// over facts the platform gathered (no platform call here).

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "volume/media_application.hpp"
#include "volume/process_facts.hpp"

namespace olvex::volume {

// How the application's processes were found, in the order the rules are tried.
enum class MatchRule {
    // the process the media side names (Linux: the owner of the player's bus name)
    media_process,
    // the package's application id, or the package family of a "Family!App" id
    package,
    // the executable's file name, with or without ".exe", against the id or its first dot-separated part
    executable,
    // an application id on the process's top-level windows
    window,
    // the shell's shortcut for the id, or the browser's own record of it, names the executable
    shell,
};

[[nodiscard]] std::string_view rule_name(MatchRule rule);

struct AppProcessMatch {
    MatchRule rule = MatchRule::media_process;
    // The given session processes that are the application's, or descend from one of its processes.
    std::vector<std::uint32_t> session_processes;
    bool operator==(const AppProcessMatch&) const = default;
};

// Tries the rules in order and keeps the first under which one of the
// application's processes, or a process it started, owns an audio session
// (a browser plays from a child of the process that owns its media session).
// A process counts as started by another only where the other was created
// no later than it: a process number that was reused never links two trees.
// Process 0 (the system's, which owns the system sounds) never matches.
// Nothing when no rule finds a session process.
[[nodiscard]] std::optional<AppProcessMatch> match_app_processes(const MediaApplication& app,
                                                                 std::span<const ProcessFacts> processes,
                                                                 std::span<const std::uint32_t> session_processes);

}  // namespace olvex::volume
