#pragma once

// The JSON lines exchanged with the device: what the host sends
// (HostMessage), what the device sends (DeviceEvent, see device_event.hpp),
// and the two conversions between them and bytes.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "protocol/device_event.hpp"

namespace olvex::protocol {

// State of the media session. "none" means there is no session at all.
enum class PlaybackStatus : std::uint8_t { playing, paused, stopped, none };

// "hello": opens the handshake; the device answers with HelloAck.
struct Hello {
    bool operator==(const Hello&) const = default;
};

// "now_playing": the current track. Strings are UTF-8 and may be empty;
// positions are in seconds.
struct NowPlaying {
    PlaybackStatus status = PlaybackStatus::none;
    std::string title;
    std::string artist;
    std::string album;
    double position_s = 0.0;
    double duration_s = 0.0;
    bool operator==(const NowPlaying&) const = default;
};

// "art": the whole picture as base64 text, or empty when there is no session.
struct Art {
    std::string data;
    bool operator==(const Art&) const = default;
};

// "volume": volume in percent and the mute flag. Build it with volume_message.
struct Volume {
    double volume = 0.0;
    bool muted = false;
    bool operator==(const Volume&) const = default;
};

// "lock".
struct Lock {
    bool locked = false;
    bool operator==(const Lock&) const = default;
};

// One message from the host to the device.
using HostMessage = std::variant<Hello, NowPlaying, Art, Volume, Lock>;

// The wire name of `message`: "hello", "now_playing", "art", "volume" or "lock".
[[nodiscard]] std::string_view wire_name(const HostMessage& message) noexcept;

// The volume message for a single-precision level (0.0 to 1.0): the level
// widened to double times 100, unrounded (0.3f gives 30.000001192092896).
[[nodiscard]] Volume volume_message(float level, bool muted) noexcept;

// The exact line for `message`: a compact JSON object with "event" first and
// the kind's members in their fixed order, followed by one line feed. Should
// encoding fail, logs "device: could not encode <kind>: <reason>" and returns
// an empty string. Pure apart from that log line; safe on any thread.
[[nodiscard]] std::string encode_host_message(const HostMessage& message);

}  // namespace olvex::protocol
