#include "base/debouncer.hpp"

#include <algorithm>
#include <chrono>

namespace olvex {

namespace {

// The longest single wait. A Duration can reach far beyond what the clocks
// can add to their current time, so a longer quiet period is waited in pieces
// of this length; only a very long period ever needs more than one.
constexpr Duration LONGEST_SINGLE_WAIT = Duration::from_seconds(24 * 60 * 60);

}  // namespace

namespace detail {

void wait_quiet_period(std::condition_variable& wakeup, std::unique_lock<std::mutex>& lock,
                       const std::uint64_t& triggers, Duration delay) {
    Duration remaining = delay;
    while (remaining != Duration{}) {
        const Duration piece = std::min(remaining, LONGEST_SINGLE_WAIT);
        const std::uint64_t triggers_before = triggers;
        const auto deadline = std::chrono::steady_clock::now() + piece.to_chrono();
        // Only a trigger restarts the period. A wake-up without one (spurious,
        // or a time-out that the platform ends a little before our deadline)
        // goes on waiting for the same deadline: restarting there could put
        // off firing for ever. Counting triggers also catches one that got the
        // lock between our deadline and our taking the lock back.
        const bool triggered = wakeup.wait_until(lock, deadline, [&] { return triggers != triggers_before; });
        remaining = triggered ? delay : remaining.saturating_sub(piece);
    }
}

}  // namespace detail

}  // namespace olvex
