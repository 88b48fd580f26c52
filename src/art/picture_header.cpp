#include "art/picture_header.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

#include "art/picture.hpp"

namespace olvex::art {

namespace {

constexpr std::array<std::uint8_t, 8> PNG_SIGNATURE = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t big_endian(std::span<const std::uint8_t> bytes) {
    std::uint32_t value = 0;
    for (const std::uint8_t byte : bytes) value = value << 8 | byte;
    return value;
}

// The big-endian number of `size` bytes (at most 4) at `at`; nothing past the end.
std::optional<std::uint32_t> number_at(BufferedInput& input, std::uint64_t at, std::size_t size) {
    std::array<std::uint8_t, 4> bytes{};
    if (!input.read_exact(at, std::span(bytes).first(size))) return std::nullopt;
    return big_endian(std::span(bytes).first(size));
}

constexpr std::uint32_t PNG_IHDR = 0x49484452;
constexpr std::uint32_t PNG_IEND = 0x49454E44;

// The pixels IHDR announces, once every chunk is whole up to IEND.
std::optional<std::uint64_t> png_pixels(BufferedInput& input) {
    constexpr std::uint64_t IHDR_AT = PNG_SIGNATURE.size();
    std::array<std::uint8_t, 16> ihdr{};
    if (!input.read_exact(IHDR_AT, ihdr) || big_endian(std::span(ihdr).subspan(4, 4)) != PNG_IHDR) return std::nullopt;
    const std::uint64_t pixels =
        std::uint64_t{big_endian(std::span(ihdr).subspan(8, 4))} * big_endian(std::span(ihdr).subspan(12, 4));
    for (std::uint64_t at = IHDR_AT;;) {
        std::array<std::uint8_t, 8> chunk{};
        if (!input.read_exact(at, chunk)) return std::nullopt;
        const std::uint64_t length = big_endian(std::span(chunk).first(4));
        // The chunk's data and CRC must be there: its last byte must be.
        if (input.bytes_at(at + 8 + length + 3).empty()) return std::nullopt;
        if (big_endian(std::span(chunk).subspan(4)) == PNG_IEND) return pixels;
        at += 12 + length;
    }
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

// The offset just past the next segment marker at or after `at`, and its code.
struct Marker {
    std::uint64_t end;
    std::uint8_t code;
};

std::optional<Marker> next_marker(BufferedInput& input, std::uint64_t at) {
    for (;;) {
        const auto bytes = input.bytes_at(at);
        if (bytes.empty()) return std::nullopt;
        // 0xFF is rare in entropy-coded data: memchr finds it far faster than
        // a byte-by-byte search.
        const auto* found = static_cast<const std::uint8_t*>(std::memchr(bytes.data(), 0xFF, bytes.size()));
        if (found == nullptr) {
            at += bytes.size();
            continue;
        }
        at += static_cast<std::uint64_t>(found - bytes.data());
        const auto after = input.bytes_at(at + 1);  // may fill the buffer anew
        if (after.empty()) return std::nullopt;
        if (is_segment_marker(after[0])) return Marker{at + 2, after[0]};
        at += 1;
    }
}

// The most pixels any frame header announces, once the segments, and the
// entropy-coded data between them, lead up to EOI. Segments are skipped by
// their length, so an embedded thumbnail's markers do not count.
std::optional<std::uint64_t> jpeg_pixels(BufferedInput& input) {
    std::uint64_t pixels = 0;
    for (std::uint64_t at = 2;;) {
        const auto marker = next_marker(input, at);
        if (!marker) return std::nullopt;
        at = marker->end;
        if (marker->code == 0xD9) return pixels;
        const auto length = number_at(input, at, 2);
        if (!length || *length < 2 || input.bytes_at(at + *length - 1).empty()) return std::nullopt;
        if (is_frame_header(marker->code) && *length >= 7) {
            const auto height = number_at(input, at + 3, 2);
            const auto width = number_at(input, at + 5, 2);
            if (height && width) pixels = std::max(pixels, std::uint64_t{*height} * *width);
        }
        at += *length;
    }
}

std::optional<PictureHeader> announced(BufferedInput& input) {
    std::array<std::uint8_t, PNG_SIGNATURE.size()> start{};
    std::optional<std::uint64_t> pixels;
    if (input.read_exact(0, start) && start == PNG_SIGNATURE) {
        if ((pixels = png_pixels(input))) return PictureHeader{PictureFormat::png, *pixels};
    } else if (input.read_exact(0, std::span(start).first(3)) && start[0] == 0xFF && start[1] == 0xD8 &&
               start[2] == 0xFF) {
        if ((pixels = jpeg_pixels(input))) return PictureHeader{PictureFormat::jpeg, *pixels};
    }
    return std::nullopt;
}

}  // namespace

std::optional<PictureHeader> read_picture_header(PictureInput& input, std::uint64_t max_pixels) {
    BufferedInput buffered(input);
    const std::optional<PictureHeader> header = announced(buffered);
    if (!header || header->pixels == 0 || header->pixels > max_pixels) return std::nullopt;
    return header;
}

std::optional<PictureHeader> read_picture_header(std::span<const std::uint8_t> bytes, std::uint64_t max_pixels) {
    MemoryInput input(bytes);
    return read_picture_header(input, max_pixels);
}

}  // namespace olvex::art
