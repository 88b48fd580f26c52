#pragma once

// Recognises the notification of a volume change this program made itself on
// an audio service that does not carry the caller's event context through to
// its notifications.
//
// Setting a stream's volume is remembered as the state the stream is expected
// to show next, with the context of the change. For a short while afterwards,
// a notification that shows the stream in exactly that state is taken for the
// echo of the change and tagged with its context; anything else is someone
// else's change. A later change to the same stream replaces the expectation.

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

#include "volume/audio_platform.hpp"

namespace olvex::volume {

// How long after a change its notification is expected.
inline constexpr std::chrono::milliseconds ECHO_WINDOW{1500};

// A stream's volume in the service's own units, and its mute.
struct StreamVolume {
    std::uint32_t level = 0;
    bool muted = false;
    bool operator==(const StreamVolume&) const = default;
};

class EchoFilter {
public:
    using Clock = std::chrono::steady_clock;

    // `level_tolerance`: how far (in the service's units) a reported level may
    // lie from the one that was set and still count as the same, for services
    // that rescale what they are given.
    explicit EchoFilter(std::chrono::milliseconds window = ECHO_WINDOW, std::uint32_t level_tolerance = 0)
        : window_(window), level_tolerance_(level_tolerance) {}

    // This program has just asked for `stream` to become `expected`, marked
    // with `context`.
    void expect(std::uint32_t stream, StreamVolume expected, const EventContext& context, Clock::time_point now);

    // The context of the change whose echo a notification showing `stream` as
    // `seen` at `now` is; nothing when it is not the echo of one of ours.
    [[nodiscard]] std::optional<EventContext> context_of(std::uint32_t stream, StreamVolume seen,
                                                         Clock::time_point now);

    // The stream is gone; its expectation with it.
    void forget(std::uint32_t stream);

private:
    struct Expectation {
        StreamVolume volume;
        EventContext context;
        Clock::time_point made;
    };

    [[nodiscard]] bool same_volume(StreamVolume expected, StreamVolume seen) const;
    void drop_expired(Clock::time_point now);

    std::chrono::milliseconds window_;
    std::uint32_t level_tolerance_;
    std::mutex mutex_;
    std::map<std::uint32_t, Expectation> expectations_;
};

}  // namespace olvex::volume
