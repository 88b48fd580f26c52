#pragma once

#include <string>
#include <vector>

#include "volume/process_facts.hpp"

namespace olvex::volume {

// Gathers what Windows tells of every running process for finding the
// processes of one application: parent links and creation times from a
// process snapshot and the processes themselves, package identities, the
// application ids on top-level windows, and which executables the shell's
// shortcut for the id (or Firefox's record of its install folders) names.
// The shell's answer for an id is kept until another id is asked for. Call
// from a thread in a COM apartment.
class ProcessFactGatherer {
public:
    [[nodiscard]] std::vector<ProcessFacts> gather(const std::string& app_id);

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
