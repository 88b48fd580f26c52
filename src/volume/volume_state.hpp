#pragma once

#include <mutex>

#include "base/channel.hpp"
#include "protocol/messages.hpp"

namespace olvex::volume {

// The last volume learnt: level 0.0 to 1.0 and mute, under one mutex. Shared
// by the volume worker, the volume notifications and the device event handler.
class VolumeState {
public:
    struct Reading {
        float level = 0.0f;
        bool muted = false;
        bool operator==(const Reading&) const = default;
    };

    void store(float level, bool muted);
    [[nodiscard]] Reading read() const;

private:
    mutable std::mutex mutex_;
    Reading reading_;
};

// A "volume" report: stores the pair in `state`, then sends the "volume"
// message. A closed queue drops the message.
void report_volume(VolumeState& state, const Sender<protocol::HostMessage>& outbound, float level, bool muted);

}  // namespace olvex::volume
