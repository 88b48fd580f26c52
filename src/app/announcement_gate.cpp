#include "app/announcement_gate.hpp"

namespace olvex::app {

std::uint64_t AnnouncementGate::begin() const {
    std::lock_guard lock(mutex_);
    return turn_;
}

bool AnnouncementGate::run_if_current(std::uint64_t turn, const std::function<void()>& step) {
    std::lock_guard lock(mutex_);
    if (turn != turn_) return false;
    step();
    return true;
}

void AnnouncementGate::close_turns(const std::function<void()>& step) {
    std::lock_guard lock(mutex_);
    ++turn_;
    step();
}

}  // namespace olvex::app
