#pragma once

// Separable three-lobe Lanczos resampling that computes only the output rows a
// caller keeps, so that a very tall picture costs no more than its visible
// part, and takes the source row by row, so that it never needs the whole
// source picture in memory.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <utility>
#include <vector>

#include "art/picture.hpp"

namespace olvex::art {

// sinc(x) * sinc(x / 3) for -3 <= x < 3, else 0; sinc(x) = sin(pi x) / (pi x).
[[nodiscard]] double lanczos3(double x) noexcept;

// Where each output sample of one axis reads its source samples, and with what
// weights, when `in_size` samples become `out_size`. Only the output samples
// [first, first + count) are described. An output sample i is centred on
// source position (i + 0.5) * in_size / out_size; when shrinking, the kernel
// is stretched by the shrink factor. The weights of each sample sum to one.
class AxisFilter {
public:
    // in_size and out_size must not be 0; first + count must not pass out_size.
    AxisFilter(std::uint32_t in_size, std::uint32_t out_size, std::uint32_t first, std::uint32_t count);

    [[nodiscard]] std::uint32_t count() const noexcept { return static_cast<std::uint32_t>(windows_.size()); }

    // First source sample read by output sample first + index.
    [[nodiscard]] std::uint32_t start(std::uint32_t index) const noexcept { return windows_[index].start; }

    // One past the last source sample read by output sample first + index.
    [[nodiscard]] std::uint32_t end(std::uint32_t index) const noexcept {
        return windows_[index].start + windows_[index].size;
    }

    // Weights of the samples [start(index), end(index)).
    [[nodiscard]] std::span<const float> weights(std::uint32_t index) const noexcept {
        return {weights_.data() + windows_[index].offset, windows_[index].size};
    }

private:
    struct Window {
        std::uint32_t start;
        std::uint32_t size;
        std::size_t offset;
    };
    std::vector<Window> windows_;
    std::vector<float> weights_;
};

// Resizes a picture that arrives row by row, top to bottom: the rows
// [first_row, first_row + row_count) of it resized to out_width by out_height
// with the three-lobe Lanczos filter, each channel on its own. Each source row
// is filtered vertically into the output rows whose kernel covers it, and an
// output row is filtered horizontally as soon as its last source row has come;
// so besides the result it holds only the few output rows still open, at the
// source's width. Rounds to nearest and clamps to 0..255.
class RowResizer {
public:
    // Sizes must not be 0, 1 to 4 channels, the rows within out_height
    // (std::invalid_argument otherwise, or from AxisFilter's preconditions).
    RowResizer(std::uint32_t in_width, std::uint32_t in_height, std::uint8_t channels, std::uint32_t out_width,
               std::uint32_t out_height, std::uint32_t first_row, std::uint32_t row_count);
    RowResizer(const RowResizer&) = delete;
    RowResizer& operator=(const RowResizer&) = delete;
    ~RowResizer();

    // The source rows [first_needed(), end_needed()) make the result; rows
    // outside it change nothing and need not be added.
    [[nodiscard]] std::uint32_t first_needed() const noexcept;
    [[nodiscard]] std::uint32_t end_needed() const noexcept;

    // Adds source row `y`, in_width * channels bytes. Every needed row must be
    // added, in order, once.
    void add_row(std::uint32_t y, std::span<const std::uint8_t> pixels);

    // The result, row_count * out_width * channels bytes, once every needed
    // row has been added.
    [[nodiscard]] std::vector<std::uint8_t> take() && { return std::move(result_); }

    // Consecutive output columns whose weights are made together.
    struct ColumnGroup {
        std::uint32_t first;
        std::uint32_t count;
    };

private:
    struct ColumnGroupWeights;

    void add_rows(std::uint32_t y, const std::uint8_t* first, const std::uint8_t* second);
    void open_row();
    void close_row();
    void filter_horizontally(const std::vector<float>& samples, std::uint32_t row);

    std::uint32_t in_width_;
    std::uint32_t out_width_;
    std::uint8_t channels_;
    AxisFilter rows_;
    std::vector<ColumnGroup> groups_;
    std::unique_ptr<ColumnGroupWeights> cached_;
    std::deque<std::vector<float>> open_;  // vertical sums of rows [first_open_, next_unopened_)
    std::vector<std::vector<float>> free_;  // closed rows' buffers, for reuse
    std::vector<std::uint8_t> held_row_;  // a row waiting for the next one
    bool held_ = false;
    std::uint32_t first_open_ = 0;
    std::uint32_t next_unopened_ = 0;
    std::vector<std::uint8_t> result_;
};

// Rows [first_row, first_row + row_count) of `source` resized to out_width by
// out_height with the three-lobe Lanczos filter, each channel on its own:
// row_count * out_width * source.channels bytes. Rounds to nearest and clamps
// to 0..255. Work and memory grow with the rows asked for, not with
// out_height. `source` must hold width * height * channels bytes, 1 to 4
// channels; out_width and out_height must not be 0 and the rows must lie
// within out_height. Throws std::invalid_argument otherwise.
[[nodiscard]] std::vector<std::uint8_t> resize_rows(const Picture& source, std::uint32_t out_width,
                                                    std::uint32_t out_height, std::uint32_t first_row,
                                                    std::uint32_t row_count);

}  // namespace olvex::art
