#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "volume/process_facts.hpp"

namespace olvex::volume {

// Gathers what Windows tells of the running processes for finding the
// processes of one application: of every process its parent and executable
// name from a process snapshot; of the processes that play and their
// ancestors also the creation time, the package identity, the application ids
// on their top-level windows, and whether the shell's shortcut for the id (or
// Firefox's record of its install folders) names their executable. The
// shell's answer for an id is kept until another id is asked for. Call from a
// thread in a COM apartment.
class ProcessFactGatherer {
public:
    [[nodiscard]] std::vector<ProcessFacts> gather(const std::string& app_id, std::span<const std::uint32_t> playing);

    // Where the executables named for the id lie: full executable paths, and
    // install folders (ending in a backslash).
    struct ShellTargets {
        std::vector<std::wstring> executables;
        std::vector<std::wstring> folders;
    };

private:
    const ShellTargets& shell_targets(const std::string& app_id);

    std::string resolved_id_;
    ShellTargets resolved_;
};

}  // namespace olvex::volume
