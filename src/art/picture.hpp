#pragma once

// The picture decoder seam: PNG and JPEG bytes in, 8-bit pixels out. Windows
// decodes with the Windows Imaging Component, Linux with libjpeg-turbo and
// libpng. Album art comes from arbitrary media files, so every backend treats
// its input as hostile.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace olvex::art {

// A picture file that decoders read in pieces, wherever it lies: a file on
// disk is read as it is decoded, never whole into memory.
class PictureInput {
public:
    virtual ~PictureInput() = default;
    // Copies bytes from `offset` on into the start of `into` and returns how
    // many: at least one unless the file ends at `offset`; nothing when the
    // file cannot be read.
    [[nodiscard]] virtual std::optional<std::size_t> read_at(std::uint64_t offset, std::span<std::uint8_t> into) = 0;
    // The whole file, when it already lies in memory.
    [[nodiscard]] virtual std::optional<std::span<const std::uint8_t>> in_memory() const { return std::nullopt; }
};

// Bytes already in memory as a PictureInput; `bytes` must outlive it.
class MemoryInput final : public PictureInput {
public:
    explicit MemoryInput(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    [[nodiscard]] std::optional<std::size_t> read_at(std::uint64_t offset, std::span<std::uint8_t> into) override;
    [[nodiscard]] std::optional<std::span<const std::uint8_t>> in_memory() const override { return bytes_; }

private:
    std::span<const std::uint8_t> bytes_;
};

// Reads a PictureInput through a buffer of its own, so that the many small
// reads of a file's structure cost no system call each.
class BufferedInput {
public:
    explicit BufferedInput(PictureInput& input);

    // Copies exactly into.size() bytes from `offset`; false when the file
    // ends before or cannot be read.
    [[nodiscard]] bool read_exact(std::uint64_t offset, std::span<std::uint8_t> into);

    // The buffered bytes from `offset` on: at least one unless the file ends
    // at `offset` or cannot be read (then none).
    [[nodiscard]] std::span<const std::uint8_t> bytes_at(std::uint64_t offset);

private:
    static constexpr std::size_t BUFFER_BYTES = std::size_t{64} * 1024;
    PictureInput& input_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t buffer_offset_ = 0;
    std::size_t buffered_ = 0;
};

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

// What a decoder announces before the first row: the fields of Picture but
// the pixels.
struct PictureShape {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t source_width = 0;
    std::uint32_t source_height = 0;
    std::uint8_t channels = 0;
};

// Takes a picture's rows as the decoder makes them, so that nobody needs the
// whole picture in memory.
class RowSink {
public:
    virtual ~RowSink() = default;
    // Called once, before the first row.
    virtual void begin(const PictureShape& shape) = 0;
    // Row `y`, width * channels bytes, valid during the call only. Rows come
    // top to bottom, each once.
    virtual void row(std::uint32_t y, std::span<const std::uint8_t> pixels) = 0;
};

// Decodes as decode_picture does, handing the rows to `sink` as they come.
// True once the whole picture has decoded; on false the sink may have seen a
// part of it, which it must throw away. Non-interlaced pictures (every JPEG,
// and PNGs but Adam7 ones) are decoded without the whole picture in memory.
// The input is read twice: once for the header check, then to decode.
[[nodiscard]] bool decode_picture_rows(PictureInput& input, RowSink& sink, std::uint32_t min_width = 0,
                                       std::uint64_t max_pixels = MAX_PICTURE_PIXELS);
[[nodiscard]] bool decode_picture_rows(std::span<const std::uint8_t> bytes, RowSink& sink, std::uint32_t min_width = 0,
                                       std::uint64_t max_pixels = MAX_PICTURE_PIXELS);

// Decodes `bytes` as PNG or JPEG, the format recognised from the content.
// Anything else, damaged data, a zero-sized picture, one above `max_pixels`
// and one with an edge above MAX_PICTURE_EDGE give nothing. When `min_width`
// is not 0 the decoder may hand back a picture reduced by a power of two
// (JPEG's DCT scaling) as long as its width stays at least `min_width`; 0 asks
// for the full size. Safe on any thread.
[[nodiscard]] std::optional<Picture> decode_picture(std::span<const std::uint8_t> bytes,
                                                    std::uint32_t min_width = 0,
                                                    std::uint64_t max_pixels = MAX_PICTURE_PIXELS);
[[nodiscard]] std::optional<Picture> decode_picture(PictureInput& input, std::uint32_t min_width = 0,
                                                    std::uint64_t max_pixels = MAX_PICTURE_PIXELS);

}  // namespace olvex::art
