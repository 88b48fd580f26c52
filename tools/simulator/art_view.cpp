#include "art_view.hpp"

#include <array>
#include <fmt/format.h>
#include <optional>

#include "art/art.hpp"

namespace olvex::simulator {
namespace {

constexpr std::string_view BASE64_ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t NOT_BASE64 = 0xFF;
constexpr std::string_view UPPER_HALF_BLOCK = "\u2580";
constexpr std::string_view RESET_COLOURS = "\x1b[0m";

constexpr std::array<std::uint8_t, 256> BASE64_VALUES = [] {
    std::array<std::uint8_t, 256> table{};
    table.fill(NOT_BASE64);
    for (std::size_t i = 0; i < BASE64_ALPHABET.size(); ++i) {
        table[static_cast<unsigned char>(BASE64_ALPHABET[i])] = static_cast<std::uint8_t>(i);
    }
    return table;
}();

std::size_t padding_of(std::string_view text) {
    if (text.ends_with("==")) return 2;
    if (text.ends_with('=')) return 1;
    return 0;
}

std::uint8_t spread(unsigned level, unsigned top) { return static_cast<std::uint8_t>((level * 255U + top / 2U) / top); }

Rgb mean_of(const RgbPicture& picture, std::size_t x0, std::size_t x1, std::size_t y0, std::size_t y1) {
    std::array<std::size_t, 3> sums{};
    for (std::size_t y = y0; y < y1; ++y) {
        for (std::size_t x = x0; x < x1; ++x) {
            const Rgb& pixel = picture.at(x, y);
            sums[0] += pixel.r;
            sums[1] += pixel.g;
            sums[2] += pixel.b;
        }
    }
    const std::size_t count = (x1 - x0) * (y1 - y0);
    const auto mean = [count](std::size_t sum) { return static_cast<std::uint8_t>((sum + count / 2) / count); };
    return {mean(sums[0]), mean(sums[1]), mean(sums[2])};
}

// The source span of target cell `index` of `target` cells over `source`
// cells; never empty, so that a picture grown past its size still draws.
std::pair<std::size_t, std::size_t> source_span(std::size_t index, std::size_t target, std::size_t source) {
    const std::size_t first = index * source / target;
    const std::size_t last = std::max(first + 1, (index + 1) * source / target);
    return {first, std::min(last, source)};
}

void append_colour(std::string& line, int layer, const Rgb& colour) {
    line += fmt::format("\x1b[{};2;{};{};{}m", layer, colour.r, colour.g, colour.b);
}

std::string half_block_line(const RgbPicture& picture, std::size_t upper_row) {
    const bool has_lower = upper_row + 1 < picture.height;
    std::string line;
    std::optional<Rgb> foreground;
    std::optional<Rgb> background;
    if (!has_lower) line += "\x1b[49m";
    for (std::size_t x = 0; x < picture.width; ++x) {
        const Rgb& upper = picture.at(x, upper_row);
        if (foreground != upper) append_colour(line, 38, upper);
        foreground = upper;
        if (has_lower) {
            const Rgb& lower = picture.at(x, upper_row + 1);
            if (background != lower) append_colour(line, 48, lower);
            background = lower;
        }
        line += UPPER_HALF_BLOCK;
    }
    line += RESET_COLOURS;
    return line;
}

}  // namespace

std::expected<std::vector<std::uint8_t>, Error> base64_decode(std::string_view text) {
    if (text.size() % 4 != 0) return make_error("base64 text length is not a multiple of 4");
    const std::size_t padding = padding_of(text);
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3);
    std::uint32_t group = 0;
    std::size_t bits = 0;
    for (const char character : text.substr(0, text.size() - padding)) {
        const std::uint8_t value = BASE64_VALUES[static_cast<unsigned char>(character)];
        if (value == NOT_BASE64) return make_error(fmt::format("'{}' is not a base64 character", character));
        group = (group << 6U) | value;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<std::uint8_t>(group >> bits));
            group &= (1U << bits) - 1U;
        }
    }
    if (group != 0) return make_error("base64 padding bits are not zero");
    return bytes;
}

Rgb rgb332_colour(std::uint8_t byte) noexcept {
    return {spread(byte >> 5U, 7), spread((byte >> 2U) & 7U, 7), spread(byte & 3U, 3)};
}

std::expected<RgbPicture, Error> art_picture(std::string_view data) {
    auto bytes = base64_decode(data);
    if (!bytes) return std::unexpected(bytes.error());
    if (bytes->size() != art::ART_BYTES) {
        return make_error(fmt::format("art holds {} bytes, not {}", bytes->size(), art::ART_BYTES));
    }
    RgbPicture picture{.width = art::ART_SIZE, .height = art::ART_SIZE, .pixels = {}};
    picture.pixels.reserve(bytes->size());
    for (const std::uint8_t byte : *bytes) picture.pixels.push_back(rgb332_colour(byte));
    return picture;
}

RgbPicture scale_down(const RgbPicture& picture, std::size_t width, std::size_t height) {
    RgbPicture scaled{.width = width, .height = height, .pixels = {}};
    if (picture.pixels.empty()) return {};
    scaled.pixels.reserve(width * height);
    for (std::size_t y = 0; y < height; ++y) {
        const auto [y0, y1] = source_span(y, height, picture.height);
        for (std::size_t x = 0; x < width; ++x) {
            const auto [x0, x1] = source_span(x, width, picture.width);
            scaled.pixels.push_back(mean_of(picture, x0, x1, y0, y1));
        }
    }
    return scaled;
}

std::vector<std::string> half_block_lines(const RgbPicture& picture) {
    std::vector<std::string> lines;
    for (std::size_t row = 0; row < picture.height; row += 2) lines.push_back(half_block_line(picture, row));
    return lines;
}

}  // namespace olvex::simulator
