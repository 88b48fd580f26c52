#include "volume/echo_filter.hpp"

#include <iterator>

namespace olvex::volume {

void EchoFilter::expect(std::uint32_t stream, StreamVolume expected, const EventContext& context,
                        Clock::time_point now) {
    std::lock_guard lock(mutex_);
    drop_expired(now);
    expectations_.insert_or_assign(stream, Expectation{expected, context, now});
}

// An echo may come more than once (a service can announce one change in
// several notifications), so a match does not use the expectation up.
std::optional<EventContext> EchoFilter::context_of(std::uint32_t stream, StreamVolume seen, Clock::time_point now) {
    std::lock_guard lock(mutex_);
    drop_expired(now);
    const auto found = expectations_.find(stream);
    if (found == expectations_.end() || !same_volume(found->second.volume, seen)) return std::nullopt;
    return found->second.context;
}

void EchoFilter::forget(std::uint32_t stream) {
    std::lock_guard lock(mutex_);
    expectations_.erase(stream);
}

bool EchoFilter::same_volume(StreamVolume expected, StreamVolume seen) const {
    const std::uint32_t distance =
        expected.level > seen.level ? expected.level - seen.level : seen.level - expected.level;
    return expected.muted == seen.muted && distance <= level_tolerance_;
}

void EchoFilter::drop_expired(Clock::time_point now) {
    for (auto it = expectations_.begin(); it != expectations_.end();) {
        it = now - it->second.made > window_ ? expectations_.erase(it) : std::next(it);
    }
}

}  // namespace olvex::volume
