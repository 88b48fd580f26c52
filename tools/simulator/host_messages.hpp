#pragma once

// The device's side of the wire: reading what the program sends and writing
// what the device sends. The program's own types are used on both sides.

#include <expected>
#include <string>
#include <string_view>

#include "base/error.hpp"
#include "protocol/device_event.hpp"
#include "protocol/messages.hpp"

namespace olvex::simulator {

// Decodes one line the program sent (without its line feed): an object whose
// "event" names one of the five host message kinds and that carries every
// member of that kind with the right JSON type. Members no kind knows are
// ignored. An error names what is wrong.
[[nodiscard]] std::expected<protocol::HostMessage, Error> decode_host_message(std::string_view line);

// Whether `line` is exactly what encode_host_message writes for `message`
// (member order, number forms, escapes), line feed aside.
[[nodiscard]] bool is_canonical(std::string_view line, const protocol::HostMessage& message);

// The line the device sends for `event`: a compact JSON object with "event"
// first and the event's members after it, ending in one line feed.
[[nodiscard]] std::string encode_device_event(const protocol::DeviceEvent& event);

// The text of a hello_ack that the simulator sends in answer to each hello.
[[nodiscard]] protocol::HelloAck simulator_hello_ack();

}  // namespace olvex::simulator
