#pragma once

#include <mutex>
#include <optional>
#include <utility>

#include "base/channel.hpp"
#include "serial/transport.hpp"

namespace olvex::device {

// The writer queue of the connected device, or nothing while no device is
// connected. Shared between the device session, which fills and empties it,
// and whoever sends messages to the device.
class DeviceLink {
public:
    // Replaces the queue of any earlier connection.
    void connect(Sender<serial::Bytes> writer) {
        std::lock_guard lock(mutex_);
        writer_ = std::move(writer);
    }

    // Waits for a with_writer in progress; the queue is let go outside the lock.
    void disconnect() {
        std::optional<Sender<serial::Bytes>> released;
        std::lock_guard lock(mutex_);
        released.swap(writer_);
    }

    // Runs `use` on the writer queue while holding the lock, so that nothing
    // reaches a connection that was already let go. Returns false, without
    // calling `use`, while no device is connected.
    template <typename Use>
    bool with_writer(Use&& use) {
        std::lock_guard lock(mutex_);
        if (!writer_) return false;
        std::forward<Use>(use)(*writer_);
        return true;
    }

    // May be stale by the time it returns: to send, use with_writer.
    [[nodiscard]] bool connected() const {
        std::lock_guard lock(mutex_);
        return writer_.has_value();
    }

private:
    mutable std::mutex mutex_;
    std::optional<Sender<serial::Bytes>> writer_;
};

}  // namespace olvex::device
