// libFuzzer target for the picture decoder: album art comes from arbitrary
// media files.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "art/picture.hpp"

namespace {

// Keeps each run quick and well under libFuzzer's memory limit; the ceiling
// itself is what is being exercised, not the allocator.
constexpr std::uint64_t FUZZ_MAX_PIXELS = 4'000'000;

void check(const std::optional<olvex::art::Picture>& picture, std::uint32_t min_width) {
    if (!picture) return;
    const auto& p = *picture;
    if (p.width == 0 || p.height == 0 || p.channels < 1 || p.channels > 4) __builtin_trap();
    if (p.pixels.size() != std::size_t{p.width} * p.height * p.channels) __builtin_trap();
    if (p.width > p.source_width || p.height > p.source_height) __builtin_trap();
    if (std::uint64_t{p.source_width} * p.source_height > FUZZ_MAX_PIXELS) __builtin_trap();
    if (p.width < p.source_width && (min_width == 0 || p.width < min_width)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    check(olvex::art::decode_picture(bytes, 0, FUZZ_MAX_PIXELS), 0);
    // The reduced decoding takes other paths through libjpeg.
    check(olvex::art::decode_picture(bytes, 16, FUZZ_MAX_PIXELS), 16);
    return 0;
}
