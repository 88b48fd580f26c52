#include "base/duration.hpp"

#include <fmt/format.h>

namespace olvex {

namespace {

// `whole` units and a fraction of `fraction` out of `fraction_scale`, written
// with only the digits that matter.
std::string with_fraction(std::uint64_t whole, std::uint32_t fraction, std::uint32_t fraction_scale,
                          std::string_view unit) {
    if (fraction == 0) return fmt::format("{}{}", whole, unit);
    std::string digits;
    for (std::uint32_t scale = fraction_scale / 10; scale > 0 && fraction > 0; scale /= 10) {
        digits += static_cast<char>('0' + fraction / scale);
        fraction %= scale;
    }
    return fmt::format("{}.{}{}", whole, digits, unit);
}

}  // namespace

std::string format_duration(Duration duration) {
    const std::uint32_t ns = duration.nanoseconds;
    if (duration.seconds > 0) return with_fraction(duration.seconds, ns, Duration::NANOS_PER_SECOND, "s");
    if (ns >= 1'000'000) return with_fraction(ns / 1'000'000, ns % 1'000'000, 1'000'000, "ms");
    if (ns >= 1'000) return with_fraction(ns / 1'000, ns % 1'000, 1'000, "\u00B5s");
    return fmt::format("{}ns", ns);
}

}  // namespace olvex
