#pragma once

#include <chrono>
#include <compare>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace olvex {

// A span of time as whole seconds plus nanoseconds (always below one second).
// It reaches far beyond what std::chrono::nanoseconds can hold: the seconds are
// a full unsigned 64-bit number.
struct Duration {
    static constexpr std::uint32_t NANOS_PER_SECOND = 1'000'000'000;

    std::uint64_t seconds = 0;
    std::uint32_t nanoseconds = 0;

    [[nodiscard]] static constexpr Duration from_seconds(std::uint64_t s) { return {s, 0}; }
    [[nodiscard]] static constexpr Duration from_millis(std::uint64_t ms) {
        return {ms / 1000, static_cast<std::uint32_t>(ms % 1000 * 1'000'000)};
    }
    [[nodiscard]] static constexpr Duration from_nanos(std::uint64_t ns) {
        return {ns / NANOS_PER_SECOND, static_cast<std::uint32_t>(ns % NANOS_PER_SECOND)};
    }

    // The sum, or nothing when the seconds would overflow.
    [[nodiscard]] constexpr std::optional<Duration> checked_add(Duration other) const {
        std::uint64_t s = seconds;
        std::uint32_t ns = nanoseconds + other.nanoseconds;
        if (ns >= NANOS_PER_SECOND) {
            ns -= NANOS_PER_SECOND;
            if (s == std::numeric_limits<std::uint64_t>::max()) return std::nullopt;
            ++s;
        }
        if (s > std::numeric_limits<std::uint64_t>::max() - other.seconds) return std::nullopt;
        return Duration{s + other.seconds, ns};
    }

    // The difference, or zero when `other` is the longer one.
    [[nodiscard]] constexpr Duration saturating_sub(Duration other) const {
        if (*this <= other) return {};
        std::uint64_t s = seconds - other.seconds;
        std::uint32_t ns = nanoseconds;
        if (ns < other.nanoseconds) {
            ns += NANOS_PER_SECOND;
            --s;
        }
        return {s, ns - other.nanoseconds};
    }

    [[nodiscard]] constexpr double as_seconds_f64() const {
        return static_cast<double>(seconds) + static_cast<double>(nanoseconds) / 1e9;
    }

    // For waiting on clocks; saturates at the largest std::chrono::nanoseconds.
    [[nodiscard]] constexpr std::chrono::nanoseconds to_chrono() const {
        constexpr auto max_ns = std::numeric_limits<std::chrono::nanoseconds::rep>::max();
        constexpr auto max_whole_seconds = static_cast<std::uint64_t>(max_ns / NANOS_PER_SECOND) - 1;
        if (seconds > max_whole_seconds) return std::chrono::nanoseconds(max_ns);
        return std::chrono::nanoseconds(static_cast<std::int64_t>(seconds) * NANOS_PER_SECOND + nanoseconds);
    }

    friend constexpr auto operator<=>(const Duration&, const Duration&) = default;
};

// A short human form in the largest fitting unit, without trailing zeros:
// "10s", "1.5s", "100ms", "2.5µs", "7ns", "0ns".
[[nodiscard]] std::string format_duration(Duration duration);

}  // namespace olvex
