#pragma once

// The cover art as the device shows it, drawn in a terminal: RGB332 bytes
// back to colours, scaled down, two pixels per character cell.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.hpp"

namespace olvex::simulator {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    bool operator==(const Rgb&) const = default;
};

// A picture of width x height colours, row by row.
struct RgbPicture {
    std::size_t width = 0;
    std::size_t height = 0;
    std::vector<Rgb> pixels;
    [[nodiscard]] const Rgb& at(std::size_t x, std::size_t y) const { return pixels[y * width + x]; }
};

// Standard base64 with "=" padding; an error for any other character, a bad
// length or bad padding.
[[nodiscard]] std::expected<std::vector<std::uint8_t>, Error> base64_decode(std::string_view text);

// The colour an RGB332 byte stands for, each channel spread over 0 to 255
// (red and green in eight levels, blue in four).
[[nodiscard]] Rgb rgb332_colour(std::uint8_t byte) noexcept;

// The 128 x 128 picture of an art message's data; an error when the text is
// not base64 of exactly 16384 bytes.
[[nodiscard]] std::expected<RgbPicture, Error> art_picture(std::string_view data);

// `picture` scaled to width x height, each target pixel the mean of the
// source pixels it covers. Meant for shrinking; a size of 0 gives an empty
// picture.
[[nodiscard]] RgbPicture scale_down(const RgbPicture& picture, std::size_t width, std::size_t height);

// Terminal lines that draw `picture` with upper half blocks in 24-bit colour:
// each cell's foreground is the upper pixel and its background the lower
// one, so a line shows two pixel rows. An odd last row is drawn over the
// terminal's own background. Each line ends by resetting the colours.
[[nodiscard]] std::vector<std::string> half_block_lines(const RgbPicture& picture);

}  // namespace olvex::simulator
