#include "app/outbound_pump.hpp"

#include "base/thread.hpp"

namespace olvex::app {

bool pump_message(const protocol::HostMessage& message, device::DeviceLink& link) {
    return link.with_writer([&](const Sender<serial::Bytes>& writer) {
        writer.send(protocol::encode_host_message(message));
    });
}

void start_outbound_pump(Receiver<protocol::HostMessage> messages, std::shared_ptr<device::DeviceLink> link) {
    spawn_thread([messages = std::move(messages), link = std::move(link)]() mutable {
        while (auto message = messages.recv()) (void)pump_message(*message, *link);
    });
}

}  // namespace olvex::app
