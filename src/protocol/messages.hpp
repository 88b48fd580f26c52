#pragma once

// The JSON lines exchanged with the device: what the host sends
// (HostMessage), what the device sends (DeviceEvent, see device_event.hpp),
// and the two conversions between them and bytes.

#include <cstddef>
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

// The device has a few hundred KB of RAM and reads at 115200 baud, while
// players may send text of any length: each text field of now_playing is cut
// to at most this many code points ...
inline constexpr std::size_t MAX_TEXT_CHARS = 256;
// ... and to at most this many bytes once escaped for JSON (256 control
// characters would take 1536) ...
inline constexpr std::size_t MAX_TEXT_ENCODED_BYTES = 1024;
// ... so that no line but the art line, line feed included, is longer than this.
inline constexpr std::size_t MAX_LINE_BYTES = 4096;

// The wire name of `message`: "hello", "now_playing", "art", "volume" or "lock".
[[nodiscard]] std::string_view wire_name(const HostMessage& message) noexcept;

// The wire name of a line that encode_host_message made ("now_playing" for a
// now_playing line); empty for any other text.
[[nodiscard]] std::string_view wire_name_of_line(std::string_view line) noexcept;

// The longest leading part of `text` that ends at a whole code point and
// holds at most MAX_TEXT_CHARS code points and MAX_TEXT_ENCODED_BYTES bytes
// once escaped; the same cut on every platform and for every copy of a text.
[[nodiscard]] std::string_view bounded_text(std::string_view text) noexcept;

// The volume message for a single-precision level (0.0 to 1.0): the level in
// percent rounded to two decimals, so that 0.4f gives 40.0, not the float's
// 40.00000059604645.
[[nodiscard]] Volume volume_message(float level, bool muted) noexcept;

// The exact line for `message`: a compact JSON object with "event" first and
// the kind's members in their fixed order, followed by one line feed. Text
// fields are cut with bounded_text. Should encoding fail, or a line other than
// art come out longer than MAX_LINE_BYTES, logs "device: could not encode <kind>: <reason>" and returns
// an empty string. Pure apart from that log line; safe on any thread.
[[nodiscard]] std::string encode_host_message(const HostMessage& message);

}  // namespace olvex::protocol
