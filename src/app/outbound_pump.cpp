#include "app/outbound_pump.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "base/thread.hpp"

namespace olvex::app {

namespace {

// The resync bit of each kind, in the order of HostMessage; 0 for the
// greeting, which is neither replaced nor remembered.
constexpr std::array<std::uint8_t, std::variant_size_v<protocol::HostMessage>> KIND_BITS = {
    0, protocol::resync_what::NOW_PLAYING, protocol::resync_what::ART, protocol::resync_what::VOLUME,
    protocol::resync_what::LOCK};

std::uint8_t resync_bit(const protocol::HostMessage& message) { return KIND_BITS[message.index()]; }

bool hand_line(const protocol::HostMessage& message, std::string line, device::DeviceLink& link) {
    // A line that could not be encoded is not sent, and above all does not
    // take the place of a good one.
    if (line.empty()) return false;
    const auto kind = protocol::wire_name(message);
    const auto same_kind = [kind](const serial::Bytes& waiting) {
        return protocol::wire_name_of_line(waiting) == kind;
    };
    const bool replaceable = resync_bit(message) != 0;
    return link.with_writer([&](const Sender<serial::Bytes>& writer) {
        if (replaceable) {
            writer.send_replacing(std::move(line), same_kind);
        } else {
            writer.send(std::move(line));
        }
    });
}

}  // namespace

bool pump_message(const protocol::HostMessage& message, device::DeviceLink& link) {
    return hand_line(message, protocol::encode_host_message(message), link);
}

bool OutboundPump::pump(const protocol::HostMessage& message, device::DeviceLink& link) {
    const std::uint8_t asked = requests_ ? requests_->take() : 0;
    for (std::size_t kind = 0; kind < last_lines_.size(); ++kind) {
        if (asked & KIND_BITS[kind]) last_lines_[kind].clear();
    }
    std::string line = protocol::encode_host_message(message);
    std::string& last = last_lines_[message.index()];
    const bool remembered = resync_bit(message) != 0;
    if (remembered && line == last) return false;
    if (!hand_line(message, line, link)) return false;
    if (remembered) last = std::move(line);
    return true;
}

void start_outbound_pump(Receiver<protocol::HostMessage> messages, std::shared_ptr<device::DeviceLink> link,
                         std::shared_ptr<ResendRequests> requests) {
    spawn_thread([messages = std::move(messages), link = std::move(link), requests = std::move(requests)]() mutable {
        OutboundPump pump(std::move(requests));
        while (auto message = messages.recv()) (void)pump.pump(*message, *link);
    });
}

}  // namespace olvex::app
