#pragma once

// The picture decoder seam: PNG and JPEG bytes in, 8-bit pixels out. Windows
// decodes with the Windows Imaging Component, Linux with libjpeg-turbo and
// libpng. Album art comes from arbitrary media files, so every backend treats
// its input as hostile.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace olvex::art {

// Pictures whose header announces more pixels than this are refused before
// any pixel memory is taken: a small file must not make us allocate gigabytes.
inline constexpr std::uint64_t MAX_PICTURE_PIXELS = 36'000'000;

// Nor is an edge longer than this accepted: a decoder's row buffers grow with
// the width, and a picture a million pixels wide is no album art.
inline constexpr std::uint32_t MAX_PICTURE_EDGE = 1'000'000;

// Decoded pixels, 8 bits per channel, rows top to bottom without padding.
// `width` and `height` are those of the decoded pixels; `source_width` and
// `source_height` those the file announces. They differ only when the decoder
// used a reduced decoding (see decode_picture).
struct Picture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t source_width = 0;
    std::uint32_t source_height = 0;
    std::uint8_t channels = 0;  // 1 grey, 2 grey and alpha, 3 RGB, 4 RGBA
    std::vector<std::uint8_t> pixels;  // width * height * channels bytes
};

// Decodes `bytes` as PNG or JPEG, the format recognised from the content.
// Anything else, damaged data, a zero-sized picture, one above `max_pixels`
// and one with an edge above MAX_PICTURE_EDGE give nothing. When `min_width`
// is not 0 the decoder may hand back a picture reduced by a power of two
// (JPEG's DCT scaling) as long as its width stays at least `min_width`; 0 asks
// for the full size. Safe on any thread.
[[nodiscard]] std::optional<Picture> decode_picture(std::span<const std::uint8_t> bytes,
                                                    std::uint32_t min_width = 0,
                                                    std::uint64_t max_pixels = MAX_PICTURE_PIXELS);

}  // namespace olvex::art
