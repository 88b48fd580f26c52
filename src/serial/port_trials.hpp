#pragma once

// How often the search may knock on a port that does not say it is the
// device's. Opening a port raises DTR and the hello goes into it: that resets
// boards that reset on DTR and writes into printers, modems and consoles, so
// such a port gets a few chances after it appears and is then left alone.

#include <cstdint>
#include <string>
#include <vector>

#include "serial/port_list.hpp"

namespace olvex::serial {

// Passes in which a port without the device's marker is tried after it
// appears: a device that is still starting gets its chances.
inline constexpr std::uint32_t UNMARKED_PORT_PASSES = 3;

class PortTrials {
public:
    // Starts a pass over the present ports: a port that has gone, or now
    // describes itself otherwise, counts as new when it is seen again.
    // `present` holds the listed ports and any port named by the user.
    void begin_pass(const std::vector<PortRecord>& present);

    // Whether `port` may be tried in this pass: always when it carries the
    // marker, else while it has had fewer than UNMARKED_PORT_PASSES passes.
    [[nodiscard]] bool may_try(const PortRecord& port) const;

    // Counts a pass in which `port` was tried.
    void tried(const PortRecord& port);

    // `port` answered as the device: its chances start afresh.
    void answered(const PortRecord& port);

    // `port` refused to be opened (no permission); true when that is news:
    // the first refusal since it appeared or last opened.
    [[nodiscard]] bool refused(const PortRecord& port);

    // `port` was tried and did not refuse: a later refusal is news again.
    void not_refused(const PortRecord& port);

private:
    struct Seen {
        PortRecord port;
        std::uint32_t passes = 0;
    };
    std::vector<Seen> seen_;
    std::vector<PortRecord> refusing_;
};

}  // namespace olvex::serial
