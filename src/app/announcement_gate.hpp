#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

namespace olvex::app {

// Keeps a track announcement from landing after "nothing plays": the steps of
// an announcement and the nothing-plays messages run one at a time through
// here, and once nothing-plays went out, an announcement begun before it
// sends nothing more. Safe to use from any thread.
class AnnouncementGate {
public:
    // The turn of an announcement that begins now.
    [[nodiscard]] std::uint64_t begin() const;

    // Runs `step` unless nothing-plays went out since `begin` gave `turn`;
    // returns whether it ran.
    bool run_if_current(std::uint64_t turn, const std::function<void()>& step);

    // Runs `step` (the nothing-plays messages) and ends every turn begun
    // before it.
    void close_turns(const std::function<void()>& step);

private:
    mutable std::mutex mutex_;
    std::uint64_t turn_ = 0;
};

}  // namespace olvex::app
