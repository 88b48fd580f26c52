#pragma once

#include <memory>

#include "base/channel.hpp"
#include "device/device_link.hpp"
#include "protocol/messages.hpp"

namespace olvex::app {

// Starts the thread that encodes every message for the device and hands it to
// the connected device's writer queue; while no device is connected messages
// are dropped. Ends when the queue closes.
void start_outbound_pump(Receiver<protocol::HostMessage> messages, std::shared_ptr<device::DeviceLink> link);

// One message: encoded and queued under the link's lock, so that nothing
// reaches a connection that was already let go. False when no device is
// connected (the message is dropped).
bool pump_message(const protocol::HostMessage& message, device::DeviceLink& link);

}  // namespace olvex::app
