#include "art/art.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "art/lanczos.hpp"

namespace olvex::art {

namespace {

constexpr std::string_view BASE64_ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::size_t RGB = 3;

using ChannelTable = std::array<std::uint8_t, 256>;

// Each channel's share of the RGB332 byte, looked up rather than divided.
template <int CHANNEL>
constexpr ChannelTable rgb332_table() {
    ChannelTable table{};
    for (unsigned v = 0; v < 256; ++v) {
        const auto level = static_cast<std::uint8_t>(v);
        table[v] = CHANNEL == 0 ? rgb332(level, 0, 0) : CHANNEL == 1 ? rgb332(0, level, 0) : rgb332(0, 0, level);
    }
    return table;
}

constexpr ChannelTable RGB332_RED = rgb332_table<0>();
constexpr ChannelTable RGB332_GREEN = rgb332_table<1>();
constexpr ChannelTable RGB332_BLUE = rgb332_table<2>();

// Which rows of the resized picture the square shows, and where they go.
struct Placement {
    std::uint32_t first_row;  // in the resized picture
    std::uint32_t rows;
    std::uint32_t top;  // row of the square the first one lands on
};

Placement place(std::uint32_t height) noexcept {
    if (height <= ART_SIZE) return {0, height, (ART_SIZE - height) / 2};
    return {(height - ART_SIZE) / 2, ART_SIZE, 0};
}

void put_pixel(const std::uint8_t* from, std::size_t channels, std::uint8_t* to) noexcept {
    if (channels < RGB) {
        to[0] = to[1] = to[2] = from[0];  // grey, with or without alpha
    } else {
        to[0] = from[0];
        to[1] = from[1];
        to[2] = from[2];  // any alpha is dropped, not blended
    }
}

// The square of RGB pixels: background, with the resized rows laid over it.
std::vector<std::uint8_t> build_square(std::span<const std::uint8_t> resized, std::size_t channels,
                                       const Placement& placement) {
    std::vector<std::uint8_t> square(ART_BYTES * RGB);
    for (std::size_t i = 0; i < square.size(); i += RGB) {
        std::copy(ART_BACKGROUND.begin(), ART_BACKGROUND.end(), square.begin() + static_cast<std::ptrdiff_t>(i));
    }
    const std::size_t pixels = std::size_t{placement.rows} * ART_SIZE;
    std::uint8_t* to = square.data() + std::size_t{placement.top} * ART_SIZE * RGB;
    for (std::size_t i = 0; i < pixels; ++i) put_pixel(resized.data() + i * channels, channels, to + i * RGB);
    return square;
}

}  // namespace

std::string base64_encode(std::span<const std::uint8_t> bytes) {
    std::string text;
    const std::size_t length = (bytes.size() + 2) / 3 * 4;
    // Allocated once at its final size and written in place. The length is
    // returned as computed: libstdc++ 12 may pass the grown capacity instead.
    text.resize_and_overwrite(length, [bytes, length](char* out, std::size_t /*capacity*/) {
        const auto symbol = [](unsigned group, unsigned shift) { return BASE64_ALPHABET[group >> shift & 63U]; };
        std::size_t i = 0;
        for (; i + 3 <= bytes.size(); i += 3, out += 4) {
            const unsigned group = unsigned{bytes[i]} << 16U | unsigned{bytes[i + 1]} << 8U | bytes[i + 2];
            out[0] = symbol(group, 18);
            out[1] = symbol(group, 12);
            out[2] = symbol(group, 6);
            out[3] = symbol(group, 0);
        }
        const std::size_t left = bytes.size() - i;
        if (left > 0) {
            const unsigned group = unsigned{bytes[i]} << 16U | (left == 2 ? unsigned{bytes[i + 1]} << 8U : 0U);
            out[0] = symbol(group, 18);
            out[1] = symbol(group, 12);
            out[2] = left == 2 ? symbol(group, 6) : '=';
            out[3] = '=';
        }
        return length;
    });
    return text;
}

std::uint32_t fitted_height(std::uint32_t width, std::uint32_t height) noexcept {
    const double w = width == 0 ? 1.0 : static_cast<double>(width);
    const double fitted = std::round(static_cast<double>(height) * (static_cast<double>(ART_SIZE) / w));
    const double clamped = std::clamp(fitted, 0.0, 4294967295.0);
    return std::max<std::uint32_t>(static_cast<std::uint32_t>(clamped), 1);
}

// The resize of one picture, with the placement of its rows in the square.
// The proportions are those of the source size: a reduced decoding keeps
// them only up to a rounded-up edge.
struct ArtBuilder::Resize {
    explicit Resize(const PictureShape& shape)
        : channels(shape.channels),
          placement(place(fitted_height(shape.source_width, shape.source_height))),
          resizer(shape.width, shape.height, shape.channels, ART_SIZE,
                  fitted_height(shape.source_width, shape.source_height), placement.first_row, placement.rows) {}
    std::uint8_t channels;
    Placement placement;
    RowResizer resizer;
};

ArtBuilder::ArtBuilder() = default;
ArtBuilder::~ArtBuilder() = default;

void ArtBuilder::begin(const PictureShape& shape) { resize_ = std::make_unique<Resize>(shape); }

void ArtBuilder::row(std::uint32_t y, std::span<const std::uint8_t> pixels) {
    if (y >= resize_->resizer.first_needed() && y < resize_->resizer.end_needed()) resize_->resizer.add_row(y, pixels);
}

std::vector<std::uint8_t> ArtBuilder::pixels() && {
    if (!resize_) throw std::logic_error("ArtBuilder: no picture began");
    const auto resized = std::move(resize_->resizer).take();
    const auto square = build_square(resized, resize_->channels, resize_->placement);
    std::vector<std::uint8_t> bytes(ART_BYTES);
    for (std::size_t i = 0; i < ART_BYTES; ++i) {
        bytes[i] = RGB332_RED[square[i * RGB]] | RGB332_GREEN[square[i * RGB + 1]] | RGB332_BLUE[square[i * RGB + 2]];
    }
    return bytes;
}

std::vector<std::uint8_t> art_pixels(const Picture& picture) {
    if (picture.pixels.size() != std::size_t{picture.width} * picture.height * picture.channels) {
        throw std::invalid_argument("art_pixels: pixel count does not match the size");
    }
    ArtBuilder builder;
    builder.begin({picture.width, picture.height, picture.source_width, picture.source_height, picture.channels});
    const std::size_t row_bytes = std::size_t{picture.width} * picture.channels;
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        builder.row(y, std::span(picture.pixels).subspan(std::size_t{y} * row_bytes, row_bytes));
    }
    return std::move(builder).pixels();
}

std::string encode_picture(const Picture& picture) { return base64_encode(art_pixels(picture)); }

std::optional<std::string> encode_art(PictureInput& input) {
    ArtBuilder builder;
    if (!decode_picture_rows(input, builder, ART_DECODE_MIN_WIDTH)) return std::nullopt;
    return base64_encode(std::move(builder).pixels());
}

std::optional<std::string> encode_art(std::span<const std::uint8_t> bytes) {
    MemoryInput input(bytes);
    return encode_art(input);
}

}  // namespace olvex::art
