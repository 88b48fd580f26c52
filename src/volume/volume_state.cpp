#include "volume/volume_state.hpp"

namespace olvex::volume {

void VolumeState::store(float level, bool muted) {
    std::lock_guard lock(mutex_);
    reading_ = {level, muted};
}

VolumeState::Reading VolumeState::read() const {
    std::lock_guard lock(mutex_);
    return reading_;
}

void report_volume(VolumeState& state, const Sender<protocol::HostMessage>& outbound, float level, bool muted) {
    state.store(level, muted);
    outbound.send(protocol::volume_message(level, muted));
}

}  // namespace olvex::volume
