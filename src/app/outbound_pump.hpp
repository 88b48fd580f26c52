#pragma once

// The way from the program's messages to the device's writer queue. The line
// to the device is slow (115200 baud) and players can change their state a
// thousand times a second, so what waits there is kept current rather than
// long: a newer message of a kind takes the place of one still waiting, and a
// state line the device already has is not sent again unless it asked.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "base/channel.hpp"
#include "device/device_link.hpp"
#include "protocol/messages.hpp"

namespace olvex::app {

// Kinds (resync bits) whose next message the device must get even when it is
// the same as the last one it got: it asked for them. Safe on any thread.
class ResendRequests {
public:
    void request(std::uint8_t what) noexcept { bits_.fetch_or(what); }
    // The kinds asked for since the last call.
    [[nodiscard]] std::uint8_t take() noexcept { return bits_.exchange(0); }

private:
    std::atomic<std::uint8_t> bits_{0};
};

// One message, encoded and handed to the connected device's writer queue
// under the link's lock, so that nothing reaches a connection that was
// already let go. A message of the same kind still waiting there is replaced
// in its place. False when the message is dropped: no device is connected,
// or it could not be encoded.
bool pump_message(const protocol::HostMessage& message, device::DeviceLink& link);

// pump_message with a memory of the last line handed on of each kind: a line
// equal to it is dropped, unless its kind was asked for through `requests`.
class OutboundPump {
public:
    explicit OutboundPump(std::shared_ptr<ResendRequests> requests = nullptr) : requests_(std::move(requests)) {}

    // False when the message was dropped (no device, or nothing new).
    bool pump(const protocol::HostMessage& message, device::DeviceLink& link);

private:
    std::shared_ptr<ResendRequests> requests_;
    std::array<std::string, std::variant_size_v<protocol::HostMessage>> last_lines_;
};

// Starts the thread that pumps every message with one OutboundPump; while no
// device is connected messages are dropped. Ends when the queue closes.
void start_outbound_pump(Receiver<protocol::HostMessage> messages, std::shared_ptr<device::DeviceLink> link,
                         std::shared_ptr<ResendRequests> requests = nullptr);

}  // namespace olvex::app
