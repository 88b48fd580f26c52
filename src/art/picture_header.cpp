#include "art/picture_header.hpp"

#include <algorithm>
#include <cstddef>

namespace olvex::art {

namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint8_t PNG_SIGNATURE[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t big_endian(Bytes bytes, std::size_t at, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value = value << 8 | bytes[at + i];
    return value;
}

constexpr std::uint32_t PNG_IHDR = 0x49484452;
constexpr std::uint32_t PNG_IEND = 0x49454E44;

// The pixels IHDR announces, once every chunk is whole up to IEND.
std::optional<std::uint64_t> png_pixels(Bytes bytes) {
    constexpr std::size_t IHDR_AT = sizeof PNG_SIGNATURE;
    if (bytes.size() < IHDR_AT + 16 || big_endian(bytes, IHDR_AT + 4, 4) != PNG_IHDR) return std::nullopt;
    const std::uint64_t pixels = std::uint64_t{big_endian(bytes, IHDR_AT + 8, 4)} * big_endian(bytes, IHDR_AT + 12, 4);
    for (std::size_t at = IHDR_AT; bytes.size() - at >= 12;) {
        const std::size_t length = big_endian(bytes, at, 4);
        if (length > bytes.size() - at - 12) return std::nullopt;
        if (big_endian(bytes, at + 4, 4) == PNG_IEND) return pixels;
        at += 12 + length;
    }
    return std::nullopt;
}

// A marker is 0xFF and a code; in entropy-coded data 0xFF 0x00 is a stuffed
// data byte, 0xFF 0xFF a fill byte, and RSTn and TEM carry no segment.
bool is_segment_marker(std::uint8_t code) {
    return code != 0x00 && code != 0xFF && code != 0x01 && (code & 0xF8) != 0xD0;
}

// Start of frame, of any coding process; not DHT, JPG or DAC, which share the range.
bool is_frame_header(std::uint8_t code) {
    return (code & 0xF0) == 0xC0 && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

// The most pixels any frame header announces, once the segments, and the
// entropy-coded data between them, lead up to EOI. Segments are skipped by
// their length, so an embedded thumbnail's markers do not count.
std::optional<std::uint64_t> jpeg_pixels(Bytes bytes) {
    std::uint64_t pixels = 0;
    for (std::size_t at = 2;;) {
        const Bytes rest = bytes.subspan(at);
        const auto marker = std::ranges::adjacent_find(
            rest, [](std::uint8_t first, std::uint8_t second) { return first == 0xFF && is_segment_marker(second); });
        if (marker == rest.end()) return std::nullopt;
        at += static_cast<std::size_t>(marker - rest.begin()) + 2;
        const std::uint8_t code = bytes[at - 1];
        if (code == 0xD9) return pixels;
        if (bytes.size() - at < 2) return std::nullopt;
        const std::size_t length = big_endian(bytes, at, 2);
        if (length < 2 || length > bytes.size() - at) return std::nullopt;
        if (is_frame_header(code) && length >= 7) {
            pixels = std::max(pixels, std::uint64_t{big_endian(bytes, at + 3, 2)} * big_endian(bytes, at + 5, 2));
        }
        at += length;
    }
}

std::optional<PictureHeader> announced(Bytes bytes) {
    std::optional<std::uint64_t> pixels;
    if (bytes.size() >= sizeof PNG_SIGNATURE && std::ranges::equal(bytes.first(sizeof PNG_SIGNATURE), PNG_SIGNATURE)) {
        if ((pixels = png_pixels(bytes))) return PictureHeader{PictureFormat::png, *pixels};
    } else if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) {
        if ((pixels = jpeg_pixels(bytes))) return PictureHeader{PictureFormat::jpeg, *pixels};
    }
    return std::nullopt;
}

}  // namespace

std::optional<PictureHeader> read_picture_header(std::span<const std::uint8_t> bytes, std::uint64_t max_pixels) {
    const std::optional<PictureHeader> header = announced(bytes);
    if (!header || header->pixels == 0 || header->pixels > max_pixels) return std::nullopt;
    return header;
}

}  // namespace olvex::art
