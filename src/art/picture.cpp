#include "art/picture.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

namespace olvex::art {

namespace {

class PictureCollector final : public RowSink {
public:
    void begin(const PictureShape& shape) override {
        picture_.width = shape.width;
        picture_.height = shape.height;
        picture_.source_width = shape.source_width;
        picture_.source_height = shape.source_height;
        picture_.channels = shape.channels;
        picture_.pixels.resize(std::size_t{shape.width} * shape.height * shape.channels);
    }

    void row(std::uint32_t y, std::span<const std::uint8_t> pixels) override {
        std::ranges::copy(pixels, picture_.pixels.begin() + static_cast<std::ptrdiff_t>(y * pixels.size()));
    }

    [[nodiscard]] Picture take() && { return std::move(picture_); }

private:
    Picture picture_;
};

}  // namespace

std::optional<std::size_t> MemoryInput::read_at(std::uint64_t offset, std::span<std::uint8_t> into) {
    if (offset >= bytes_.size()) return 0;
    const auto rest = bytes_.subspan(static_cast<std::size_t>(offset));
    const std::size_t count = std::min(rest.size(), into.size());
    std::copy_n(rest.begin(), count, into.begin());
    return count;
}

BufferedInput::BufferedInput(PictureInput& input) : input_(input), buffer_(BUFFER_BYTES) {}

std::span<const std::uint8_t> BufferedInput::bytes_at(std::uint64_t offset) {
    if (offset < buffer_offset_ || offset >= buffer_offset_ + buffered_) {
        const auto got = input_.read_at(offset, buffer_);
        buffer_offset_ = offset;
        buffered_ = got.value_or(0);
    }
    const auto skipped = static_cast<std::size_t>(offset - buffer_offset_);
    return std::span<const std::uint8_t>(buffer_).subspan(skipped, buffered_ - skipped);
}

bool BufferedInput::read_exact(std::uint64_t offset, std::span<std::uint8_t> into) {
    while (!into.empty()) {
        std::size_t count = 0;
        if (into.size() > BUFFER_BYTES) {  // large reads go straight to the file
            count = input_.read_at(offset, into).value_or(0);
        } else {
            const auto available = bytes_at(offset);
            count = std::min(available.size(), into.size());
            std::copy_n(available.begin(), count, into.begin());
        }
        if (count == 0) return false;
        into = into.subspan(count);
        offset += count;
    }
    return true;
}

bool decode_picture_rows(std::span<const std::uint8_t> bytes, RowSink& sink, std::uint32_t min_width,
                         std::uint64_t max_pixels) {
    MemoryInput input(bytes);
    return decode_picture_rows(input, sink, min_width, max_pixels);
}

std::optional<Picture> decode_picture(PictureInput& input, std::uint32_t min_width, std::uint64_t max_pixels) {
    PictureCollector collector;
    if (!decode_picture_rows(input, collector, min_width, max_pixels)) return std::nullopt;
    return std::move(collector).take();
}

std::optional<Picture> decode_picture(std::span<const std::uint8_t> bytes, std::uint32_t min_width,
                                      std::uint64_t max_pixels) {
    MemoryInput input(bytes);
    return decode_picture(input, min_width, max_pixels);
}

}  // namespace olvex::art
