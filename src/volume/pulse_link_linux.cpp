#include "volume/pulse_link_linux.hpp"

#include <utility>

namespace olvex::volume::pulse {

// The sinks are told of a new connection outside the lock: they may ask for
// the connection themselves.
AudioResult<std::shared_ptr<PulseConnection>> PulseLink::connection() {
    std::shared_ptr<PulseConnection> opened;
    bool replaced = false;
    {
        const std::lock_guard lock(mutex_);
        if (current_ && current_->usable()) return current_;
        auto connected = reconnect();
        if (!connected) return connected;
        opened = std::move(*connected);
        replaced = std::exchange(connected_before_, true);
    }
    if (replaced) devices_->default_changed();
    return opened;
}

// A lost connection is let go before the next attempt, so that a server that
// stays away costs no loop thread.
AudioResult<std::shared_ptr<PulseConnection>> PulseLink::reconnect() {
    current_.reset();
    if (failure_ && Clock::now() < next_attempt_) return std::unexpected(*failure_);
    const auto started = Clock::now();
    auto opened = PulseConnection::open(echoes_, devices_);
    if (!opened) {
        const auto ended = Clock::now();
        next_attempt_ = ended + (ended - started) * RETRY_SPACING;
        failure_ = opened.error();
        return opened;
    }
    failure_.reset();
    current_ = *opened;
    return opened;
}

}  // namespace olvex::volume::pulse
