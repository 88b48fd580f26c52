#pragma once

// The device's buttons, played on the keyboard, and the events they send.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/device_event.hpp"
#include "device_state.hpp"

namespace olvex::simulator {

// A seek key moves this many seconds; a volume key this many percent.
inline constexpr double SEEK_STEP_S = 10.0;
inline constexpr double VOLUME_STEP = 5.0;

enum class Action : std::uint8_t {
    play_pause,
    next,
    previous,
    seek_back,
    seek_forward,
    seek_tenth,
    volume_up,
    volume_down,
    mute,
    lock,
    resync,
    quit,
};

struct Key {
    Action action = Action::quit;
    // For seek_tenth: 0 to 9, the tenth of the track to go to.
    int tenth = 0;
    bool operator==(const Key&) const = default;
};

// Turns the bytes typed in a raw terminal into keys. Arrow keys arrive as
// escape sequences that a read may cut anywhere; the unfinished part waits
// for the next feed. Bytes that mean nothing here are skipped.
class KeyReader {
public:
    [[nodiscard]] std::vector<Key> feed(std::string_view bytes);

private:
    std::string pending_;
};

// The key a script names: "space", "n", "p", "left", "right", "up", "down",
// "+", "-", "0" to "9", "m", "l", "r" or "q".
[[nodiscard]] std::optional<Key> key_named(std::string_view name);

// What the device sends for `key` in `state` at `now`: seeks start from the
// position the device shows, volume steps from the last reported volume
// (rounded to a whole percent, held within 0 and 100), mute and lock ask
// for the opposite of the last report, resync asks for everything. Nothing
// for quit.
[[nodiscard]] std::optional<protocol::DeviceEvent> event_for_key(const Key& key, const DeviceState& state,
                                                               Clock::time_point now);

}  // namespace olvex::simulator
