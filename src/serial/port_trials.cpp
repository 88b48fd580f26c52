#include "serial/port_trials.hpp"

#include <algorithm>

namespace olvex::serial {

void PortTrials::begin_pass(const std::vector<PortRecord>& present) {
    const auto gone = [&](const PortRecord& port) { return std::ranges::find(present, port) == present.end(); };
    std::erase_if(seen_, [&](const Seen& seen) { return gone(seen.port); });
    std::erase_if(refusing_, gone);
}

bool PortTrials::may_try(const PortRecord& port) const {
    if (has_device_marker(port)) return true;
    const auto seen = std::ranges::find(seen_, port, &Seen::port);
    return seen == seen_.end() || seen->passes < UNMARKED_PORT_PASSES;
}

void PortTrials::tried(const PortRecord& port) {
    if (has_device_marker(port)) return;
    const auto seen = std::ranges::find(seen_, port, &Seen::port);
    if (seen == seen_.end()) {
        seen_.push_back(Seen{port, 1});
    } else {
        ++seen->passes;
    }
}

void PortTrials::answered(const PortRecord& port) {
    std::erase_if(seen_, [&](const Seen& seen) { return seen.port == port; });
}

bool PortTrials::refused(const PortRecord& port) {
    if (std::ranges::find(refusing_, port) != refusing_.end()) return false;
    refusing_.push_back(port);
    return true;
}

void PortTrials::not_refused(const PortRecord& port) { std::erase(refusing_, port); }

}  // namespace olvex::serial
