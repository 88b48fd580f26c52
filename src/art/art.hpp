#pragma once

// Cover art for the device: a picture file becomes a 128 by 128 square of
// RGB332 pixels, sent as base64 text.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "art/picture.hpp"

namespace olvex::art {

// Edge of the square the device shows, in pixels.
inline constexpr std::uint32_t ART_SIZE = 128;

// One byte per pixel of the square.
inline constexpr std::size_t ART_BYTES = std::size_t{ART_SIZE} * ART_SIZE;

// Length of the base64 text of the square.
inline constexpr std::size_t ART_TEXT_SIZE = (ART_BYTES + 2) / 3 * 4;

// The colour of the parts of the square a picture does not cover.
inline constexpr std::array<std::uint8_t, 3> ART_BACKGROUND = {0, 4, 12};

// The smallest width we ask the decoder to keep. A JPEG decoded at a power of
// two below its size is much cheaper; twice the art's width is where
// thumbnailers stop too (Pillow's draft() before a resize with a reducing gap
// of 2), and leaves the Lanczos filter two samples for every pixel it makes.
// The square then differs from one resized from the full picture in a few
// more pixels, each by one RGB332 level at most.
inline constexpr std::uint32_t ART_DECODE_MIN_WIDTH = 2 * ART_SIZE;

// Reduces one 8-bit RGB pixel to RGB332: red in bits 7-5, green in 4-2, blue
// in 1-0, each channel rounded to its nearest level.
[[nodiscard]] constexpr std::uint8_t rgb332(std::uint8_t r, std::uint8_t g, std::uint8_t b) noexcept {
    const unsigned red = (7U * r + 127U) / 255U;
    const unsigned green = (7U * g + 127U) / 255U;
    const unsigned blue = (3U * b + 127U) / 255U;
    return static_cast<std::uint8_t>(red << 5U | green << 2U | blue);
}

// Standard base64 (RFC 4648 alphabet, "=" padding, no line breaks).
[[nodiscard]] std::string base64_encode(std::span<const std::uint8_t> bytes);

// Height of a width x height picture scaled to ART_SIZE wide: rounded half
// away from zero, a width of 0 counted as 1, never below 1 and never above
// 4294967295.
[[nodiscard]] std::uint32_t fitted_height(std::uint32_t width, std::uint32_t height) noexcept;

// Fits a picture that arrives row by row into the square: a decoder's sink
// that resizes the rows as they come (see art_pixels).
class ArtBuilder final : public RowSink {
public:
    ArtBuilder();
    ArtBuilder(const ArtBuilder&) = delete;
    ArtBuilder& operator=(const ArtBuilder&) = delete;
    ~ArtBuilder() override;

    void begin(const PictureShape& shape) override;
    void row(std::uint32_t y, std::span<const std::uint8_t> pixels) override;

    // The ART_BYTES RGB332 bytes, once every row has come.
    [[nodiscard]] std::vector<std::uint8_t> pixels() &&;

private:
    struct Resize;
    std::unique_ptr<Resize> resize_;
};

// The ART_BYTES RGB332 bytes, row by row, of a decoded picture fitted into the
// square: resized to ART_SIZE wide keeping the proportions of its source
// size, centred on the background when lower than the square, its middle rows
// kept when higher. Alpha is dropped, grey spread to all three channels.
// `picture` must hold width * height * channels bytes with 1 to 4 channels.
[[nodiscard]] std::vector<std::uint8_t> art_pixels(const Picture& picture);

// art_pixels of `picture` as base64 text of ART_TEXT_SIZE characters.
[[nodiscard]] std::string encode_picture(const Picture& picture);

// The art text of a PNG or JPEG file, or nothing when `bytes` do not decode as
// one. Pure: safe on any thread.
[[nodiscard]] std::optional<std::string> encode_art(std::span<const std::uint8_t> bytes);

// The same for a picture file read from `input` as it is decoded.
[[nodiscard]] std::optional<std::string> encode_art(PictureInput& input);

}  // namespace olvex::art
