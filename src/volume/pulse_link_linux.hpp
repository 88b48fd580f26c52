#pragma once

// The sound server as this program reaches it: through one connection at a
// time, opened anew once the current one is no longer usable. Sound servers
// restart (pipewire-pulse does so on every update), and a program that kept
// its first connection would have no volume control from then on.
//
// What was listed through a connection (sinks, sink inputs) and what was
// registered on it stays bound to it, since indexes mean nothing to another
// server; it fails, or stays silent, once that connection is lost. Whoever
// registered hears of a new default device both when a connection is lost
// and when the next one is opened, and registers anew.

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

#include "volume/audio_platform.hpp"
#include "volume/echo_filter.hpp"
#include "volume/pulse_connection_linux.hpp"
#include "volume/pulse_events_linux.hpp"

namespace olvex::volume::pulse {

// After a failed attempt to connect, calls fail at once with its error for
// this many times as long as the attempt took. A server that is gone refuses
// at once and is tried again on the next call; one that accepts but never
// answers makes callers wait for it a quarter of the time, not on every call.
inline constexpr int RETRY_SPACING = 3;

class PulseLink {
public:
    explicit PulseLink(std::shared_ptr<EchoFilter> echoes) : echoes_(std::move(echoes)) {}
    PulseLink(const PulseLink&) = delete;
    PulseLink& operator=(const PulseLink&) = delete;

    // The current connection while it is usable, else a new one.
    [[nodiscard]] AudioResult<std::shared_ptr<PulseConnection>> connection();

    [[nodiscard]] const std::shared_ptr<DeviceSinks>& devices() const { return devices_; }

private:
    using Clock = std::chrono::steady_clock;

    AudioResult<std::shared_ptr<PulseConnection>> reconnect();

    std::shared_ptr<EchoFilter> echoes_;
    std::shared_ptr<DeviceSinks> devices_ = std::make_shared<DeviceSinks>();
    std::mutex mutex_;
    std::shared_ptr<PulseConnection> current_;
    bool connected_before_ = false;
    std::optional<Error> failure_;
    Clock::time_point next_attempt_;
};

}  // namespace olvex::volume::pulse
