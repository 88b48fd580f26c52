#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "volume/process_facts.hpp"

namespace olvex::volume {

// The given processes and all their ancestors, each with its parent and its
// start time from /proc; names are left empty. Processes that are gone are
// left out, and a line of ancestors ends after a few dozen generations.
[[nodiscard]] std::vector<ProcessFacts> process_lineage(std::span<const std::uint32_t> processes);

}  // namespace olvex::volume
