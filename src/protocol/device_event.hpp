#pragma once

// The events the device sends, and the decoder for one received line.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

#include "base/error.hpp"

namespace olvex::protocol {

// "hello_ack": the device's answer to "hello". Either string may be missing on
// the wire and is then empty.
struct HelloAck {
    std::string version;
    std::string device;
    bool operator==(const HelloAck&) const = default;
};

// "play_pause", "next", "previous": media keys without arguments.
struct PlayPause {
    bool operator==(const PlayPause&) const = default;
};
struct Next {
    bool operator==(const Next&) const = default;
};
struct Previous {
    bool operator==(const Previous&) const = default;
};

// "seek": absolute position in seconds, as sent (may be negative or huge).
struct Seek {
    double position_s = 0.0;
    bool operator==(const Seek&) const = default;
};

// "seek_relative": position as a fraction of the track length, as sent.
struct SeekRelative {
    double position = 0.0;
    bool operator==(const SeekRelative&) const = default;
};

// "set_volume": volume in percent, as sent.
struct SetVolume {
    double volume = 0.0;
    bool operator==(const SetVolume&) const = default;
};

// "set_mute".
struct SetMute {
    bool muted = false;
    bool operator==(const SetMute&) const = default;
};

// "set_lock".
struct SetLock {
    bool locked = false;
    bool operator==(const SetLock&) const = default;
};

// "resync": asks the host to send again the kinds whose bits are set in
// `what` (see resync_what). Bits above 8 carry no meaning.
struct Resync {
    std::uint8_t what = 0;
    bool operator==(const Resync&) const = default;
};

// Bits of Resync::what. The host answers them in this order.
namespace resync_what {
inline constexpr std::uint8_t NOW_PLAYING = 1;
inline constexpr std::uint8_t ART = 2;
inline constexpr std::uint8_t VOLUME = 4;
inline constexpr std::uint8_t LOCK = 8;
}  // namespace resync_what

// One event received from the device. The alternatives are in wire-name order:
// hello_ack, play_pause, next, previous, seek, seek_relative, set_volume,
// set_mute, set_lock, resync.
using DeviceEvent = std::variant<HelloAck, PlayPause, Next, Previous, Seek, SeekRelative, SetVolume, SetMute,
                                 SetLock, Resync>;

// The wire name of `event`, e.g. "seek_relative".
[[nodiscard]] std::string_view wire_name(const DeviceEvent& event) noexcept;

// Decodes one received line (a trailing "\r", "\n" or "\r\n" is harmless):
// a JSON object naming the event in "event", or the array form
// ["<event>", <members in order>...]. Unknown members are ignored; known
// members must have the right type and appear at most once. Logs nothing;
// safe on any thread.
[[nodiscard]] std::expected<DeviceEvent, Error> decode_device_event(std::string_view line);

}  // namespace olvex::protocol
