#pragma once

// What the device knows: the last of each message the program sent, and
// what became of the link.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "art_view.hpp"
#include "protocol/messages.hpp"

namespace olvex::simulator {

using Clock = std::chrono::steady_clock;

// Lines received and refused, for the screen.
struct LineCounts {
    std::size_t accepted = 0;
    std::size_t refused = 0;
};

struct DeviceState {
    protocol::NowPlaying now_playing;
    Clock::time_point now_playing_at{};
    bool has_now_playing = false;
    // Empty when the program said there is no art (or sent none yet).
    RgbPicture art;
    std::optional<protocol::Volume> volume;
    std::optional<bool> locked;
    // How many hellos the simulator answered.
    std::size_t hellos = 0;
    LineCounts lines;
    std::string last_error;
    std::string last_sent;
};

// Applies one message received at `at`. A hello only counts; an art message
// whose data is not a 128 x 128 picture clears the art and gives the reason.
[[nodiscard]] std::optional<Error> apply_message(DeviceState& state, const protocol::HostMessage& message,
                                                 Clock::time_point at);

// The track position at `now` as the device works it out between messages:
// the last reported position, plus the time since while playing, held within
// 0 and the duration (when the duration is known).
[[nodiscard]] double position_at(const DeviceState& state, Clock::time_point now);

}  // namespace olvex::simulator
