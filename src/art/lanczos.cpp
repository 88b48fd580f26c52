#include "art/lanczos.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <numbers>
#include <span>
#include <stdexcept>
#include <vector>

namespace olvex::art {

namespace {

constexpr double LOBES = 3.0;

// Budget, in floats, of one group of output columns' weights (one copy for
// each channel): 1 MiB. Any picture of ordinary width fits all its columns in
// one group, whose weights then serve every row; only pictures tens of
// thousands of pixels wide (and so a few rows high) are split, so that their
// weights never take more memory than the picture's rows.
constexpr std::size_t GROUP_WEIGHTS = std::size_t{1} << 18;

double sinc(double x) noexcept {
    if (x == 0.0) return 1.0;
    x *= std::numbers::pi;
    return std::sin(x) / x;
}

struct Bounds {
    std::uint32_t start;
    std::uint32_t end;
};

struct Geometry {
    double scale;         // source samples per output sample
    double filter_scale;  // how far the kernel is stretched: at least 1
    double support;       // half the kernel's width, in source samples
};

Geometry axis_geometry(std::uint32_t in_size, std::uint32_t out_size) noexcept {
    const double scale = static_cast<double>(in_size) / static_cast<double>(out_size);
    const double filter_scale = std::max(scale, 1.0);
    return {scale, filter_scale, LOBES * filter_scale};
}

// Where output sample `index` lies on the source axis.
double centre_of(const Geometry& geometry, std::uint32_t index) noexcept {
    return (static_cast<double>(index) + 0.5) * geometry.scale;
}

// The source samples whose centres fall inside the kernel around `centre`,
// rounded the way Pillow rounds them, never empty.
Bounds bounds_of(const Geometry& geometry, double centre, std::uint32_t in_size) noexcept {
    const double size = static_cast<double>(in_size);
    const double low = std::clamp(std::floor(centre - geometry.support + 0.5), 0.0, size - 1.0);
    const double high = std::clamp(std::floor(centre + geometry.support + 0.5), low + 1.0, size);
    return {static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(high)};
}

constexpr double PI = std::numbers::pi;
constexpr std::size_t PHASES = 4;

// The sine and cosine of one angle per phase, which `turn` advances all by the
// same angle at once.
struct PhaseAngles {
    double sin[PHASES];
    double cos[PHASES];
};

struct Turn {
    double cos;
    double sin;
};

Turn turn_by(double angle) noexcept { return {std::cos(angle), std::sin(angle)}; }

void turn(PhaseAngles& angles, Turn by) noexcept {
    for (std::size_t phase = 0; phase < PHASES; ++phase) {
        const double next_sin = angles.sin[phase] * by.cos + angles.cos[phase] * by.sin;
        angles.cos[phase] = angles.cos[phase] * by.cos - angles.sin[phase] * by.sin;
        angles.sin[phase] = next_sin;
    }
}

// Sets the angles pi t (`whole`) and pi t / 3 (`third`) afresh, from the
// sines themselves, for the samples first_sample ... first_sample + PHASES - 1.
void seed(PhaseAngles& whole, PhaseAngles& third, double first_t, double step, std::size_t first_sample) noexcept {
    for (std::size_t phase = 0; phase < PHASES; ++phase) {
        const double angle = PI * (first_t + static_cast<double>(first_sample + phase) * step);
        whole.sin[phase] = std::sin(angle);
        whole.cos[phase] = std::cos(angle);
        third.sin[phase] = std::sin(angle / LOBES);
        third.cos[phase] = std::cos(angle / LOBES);
    }
}

// Writes sin(pi t) * sin(pi t / 3) at t = first_t, first_t + step, ... A wide
// kernel has millions of samples, and two sines for each would cost seconds,
// so the sines advance by rotation instead: in four interleaved phases, which
// keeps the processor busy, started afresh every RESEED samples before
// rounding can build up.
void write_sine_products(double first_t, double step, std::span<float> out) noexcept {
    constexpr std::size_t RESEED = 256;
    const double turn_angle = PI * step * PHASES;
    const Turn whole_turn = turn_by(turn_angle);
    const Turn third_turn = turn_by(turn_angle / LOBES);
    PhaseAngles whole{};
    PhaseAngles third{};
    for (std::size_t block = 0; block < out.size(); block += PHASES) {
        if (block % RESEED == 0) seed(whole, third, first_t, step, block);
        for (std::size_t phase = 0; phase < PHASES && block + phase < out.size(); ++phase) {
            out[block + phase] = static_cast<float>(whole.sin[phase] * third.sin[phase]);
        }
        turn(whole, whole_turn);
        turn(third, third_turn);
    }
}

// The kernel at `t`, given sin(pi t) * sin(pi t / 3). Near t = 0, where the
// quotient loses its relative precision, the kernel is evaluated directly.
double kernel_from_sine_product(double t, float sine_product) noexcept {
    constexpr double NEAR_ZERO = 1.0 / 64;
    if (t < -LOBES || t >= LOBES) return 0.0;
    if (std::abs(t) < NEAR_ZERO) return lanczos3(t);
    return static_cast<double>(sine_product) * LOBES / (PI * PI * t * t);
}

// Writes the kernel's values at t = first_t, first_t + step, ... and returns
// their sum.
double kernel_samples(double first_t, double step, std::span<float> out) {
    write_sine_products(first_t, step, out);
    double sum = 0.0;
    for (std::size_t sample = 0; sample < out.size(); ++sample) {
        const double t = first_t + static_cast<double>(sample) * step;
        const double value = kernel_from_sine_product(t, out[sample]);
        out[sample] = static_cast<float>(value);
        sum += value;
    }
    return sum;
}

void fill_weights(const Geometry& geometry, double centre, Bounds bounds, std::span<float> out) {
    const double step = 1.0 / geometry.filter_scale;
    const double sum = kernel_samples((static_cast<double>(bounds.start) - centre + 0.5) * step, step, out);
    if (sum == 0.0) return;
    const double scale = 1.0 / sum;
    for (float& weight : out) weight = static_cast<float>(static_cast<double>(weight) * scale);
}

// Blocks of a fixed size let the compiler's cheapest vectorisation model
// (GCC's at -O2) take these loops; the tails are short.
constexpr std::size_t BLOCK = 16;

// sums[at] += weight * row[at]
void add_scaled(float* __restrict sums, const std::uint8_t* __restrict row, float weight, std::size_t count) noexcept {
    std::size_t block = 0;
    for (; block + BLOCK <= count; block += BLOCK) {
        for (std::size_t offset = 0; offset < BLOCK; ++offset) {
            sums[block + offset] += weight * static_cast<float>(row[block + offset]);
        }
    }
    for (std::size_t at = block; at < count; ++at) sums[at] += weight * static_cast<float>(row[at]);
}

// Two rows in one pass: half the loads and stores of the sums.
void add_scaled2(float* __restrict sums, const std::uint8_t* __restrict row0, float weight0,
                 const std::uint8_t* __restrict row1, float weight1, std::size_t count) noexcept {
    std::size_t block = 0;
    for (; block + BLOCK <= count; block += BLOCK) {
        for (std::size_t offset = 0; offset < BLOCK; ++offset) {
            const std::size_t at = block + offset;
            sums[at] += weight0 * static_cast<float>(row0[at]) + weight1 * static_cast<float>(row1[at]);
        }
    }
    for (std::size_t at = block; at < count; ++at) {
        sums[at] += weight0 * static_cast<float>(row0[at]) + weight1 * static_cast<float>(row1[at]);
    }
}

// The horizontal pass reads the vertically filtered row with its channels
// still interleaved; its weights are interleaved the same way (each weight
// repeated for every channel). A multiple of the channel count as the number
// of lanes keeps every lane on one channel, so the products stay contiguous
// and vectorise, and the lanes of each channel are added up at the end.
template <std::size_t Channels>
constexpr std::size_t LANES = Channels == 3 ? 12 : 8;

// Four floats in one SIMD register (a GCC and Clang extension): the sums
// must stay in registers across the loop, which a plain array does not.
using Floats4 = float __attribute__((vector_size(16)));

Floats4 load4(const float* from) noexcept {
    Floats4 loaded;
    std::memcpy(&loaded, from, sizeof loaded);
    return loaded;
}

// sums[channel] += the products of that channel, for `count` products (whole
// pixels). Lane n of the accumulators (lanes 0 to 3, 4 to 7, then 8 to 11)
// belongs to channel n % Channels.
template <std::size_t Channels>
void dot_channels(const float* weights, const float* samples, std::size_t count, float* sums) noexcept {
    constexpr std::size_t lanes = LANES<Channels>;
    Floats4 lanes0 = {}, lanes4 = {}, lanes8 = {};
    std::size_t done = 0;
    for (; done + lanes <= count; done += lanes) {
        lanes0 += load4(weights + done) * load4(samples + done);
        lanes4 += load4(weights + done + 4) * load4(samples + done + 4);
        if constexpr (lanes == 12) lanes8 += load4(weights + done + 8) * load4(samples + done + 8);
    }
    if (done < count) {  // never for whole windows, whose weights are padded
        float rest[lanes] = {};
        for (std::size_t lane = 0; done + lane < count; ++lane) {
            rest[lane] = weights[done + lane] * samples[done + lane];
        }
        lanes0 += load4(rest);
        lanes4 += load4(rest + 4);
        if constexpr (lanes == 12) lanes8 += load4(rest + 8);
    }
    if constexpr (Channels == 1) {
        const Floats4 paired = lanes0 + lanes4;
        sums[0] += (paired[0] + paired[1]) + (paired[2] + paired[3]);
    } else if constexpr (Channels == 2) {
        const Floats4 paired = lanes0 + lanes4;
        sums[0] += paired[0] + paired[2];
        sums[1] += paired[1] + paired[3];
    } else if constexpr (Channels == 3) {
        sums[0] += (lanes0[0] + lanes0[3]) + (lanes4[2] + lanes8[1]);
        sums[1] += (lanes0[1] + lanes4[0]) + (lanes4[3] + lanes8[2]);
        sums[2] += (lanes0[2] + lanes4[1]) + (lanes8[0] + lanes8[3]);
    } else {
        const Floats4 paired = lanes0 + lanes4;
        for (std::size_t channel = 0; channel < 4; ++channel) sums[channel] += paired[channel];
    }
}

std::uint8_t to_byte(float value) noexcept {
    return static_cast<std::uint8_t>(std::clamp(value + 0.5F, 0.0F, 255.0F));
}

using ColumnGroup = RowResizer::ColumnGroup;

// Consecutive output columns whose weights together stay within the budget
// (a group holds at least one column, however wide its kernel).
std::vector<ColumnGroup> plan_column_groups(std::uint32_t in_width, std::uint32_t out_width, std::size_t channels) {
    const Geometry geometry = axis_geometry(in_width, out_width);
    std::vector<ColumnGroup> groups;
    std::size_t weights = 0;
    for (std::uint32_t column = 0; column < out_width; ++column) {
        const Bounds bounds = bounds_of(geometry, centre_of(geometry, column), in_width);
        const std::size_t size = std::size_t{bounds.end - bounds.start} * channels;
        if (groups.empty() || weights + size > GROUP_WEIGHTS) {
            groups.push_back({column, 0});
            weights = 0;
        }
        ++groups.back().count;
        weights += size;
    }
    return groups;
}

// The weights of a group of output columns, each repeated for every channel
// and followed by zeros up to a whole number of lanes, so that every column is
// summed without a scalar tail.
class ChannelWeights {
public:
    ChannelWeights(const AxisFilter& columns, std::size_t channels, std::size_t lanes) : offsets_(columns.count() + 1) {
        for (std::uint32_t column = 0; column < columns.count(); ++column) {
            const std::size_t size = columns.weights(column).size() * channels;
            offsets_[column + 1] = offsets_[column] + (size + lanes - 1) / lanes * lanes;
        }
        weights_.resize(offsets_.back(), 0.0F);
        for (std::uint32_t column = 0; column < columns.count(); ++column) {
            float* to = weights_.data() + offsets_[column];
            for (const float weight : columns.weights(column)) to = std::fill_n(to, channels, weight);
        }
    }
    [[nodiscard]] const float* column(std::uint32_t index) const noexcept { return weights_.data() + offsets_[index]; }

private:
    std::vector<std::size_t> offsets_;
    std::vector<float> weights_;
};

using DotFunction = void (*)(const float*, const float*, std::size_t, float*) noexcept;

DotFunction dot_for(std::size_t channels) noexcept {
    switch (channels) {
        case 1: return dot_channels<1>;
        case 2: return dot_channels<2>;
        case 3: return dot_channels<3>;
        default: return dot_channels<4>;
    }
}

std::size_t lanes_for(std::size_t channels) noexcept { return channels == 3 ? LANES<3> : LANES<1>; }

// The filter of the output rows, once the shape is one the resizer can make.
AxisFilter checked_rows(std::uint32_t in_width, std::uint32_t in_height, std::uint8_t channels, std::uint32_t out_width,
                        std::uint32_t out_height, std::uint32_t first_row, std::uint32_t row_count) {
    if (channels < 1 || channels > 4) throw std::invalid_argument("resize: 1 to 4 channels");
    if (in_width == 0 || in_height == 0 || out_width == 0 || out_height == 0) {
        throw std::invalid_argument("resize: empty picture");
    }
    if (first_row > out_height || row_count > out_height - first_row) {
        throw std::invalid_argument("resize: rows outside the picture");
    }
    return AxisFilter(in_height, out_height, first_row, row_count);
}

}  // namespace

double lanczos3(double x) noexcept {
    if (x < -LOBES || x >= LOBES) return 0.0;
    return sinc(x) * sinc(x / LOBES);
}

AxisFilter::AxisFilter(std::uint32_t in_size, std::uint32_t out_size, std::uint32_t first, std::uint32_t count) {
    const Geometry geometry = axis_geometry(in_size, out_size);
    windows_.reserve(count);
    std::size_t total = 0;
    for (std::uint32_t index = first; index < first + count; ++index) {
        const Bounds bounds = bounds_of(geometry, centre_of(geometry, index), in_size);
        windows_.push_back({bounds.start, bounds.end - bounds.start, total});
        total += bounds.end - bounds.start;
    }
    weights_.resize(total);
    for (std::uint32_t index = 0; index < count; ++index) {
        const Window& window = windows_[index];
        fill_weights(geometry, centre_of(geometry, first + index), {window.start, window.start + window.size},
                     std::span(weights_).subspan(window.offset, window.size));
    }
}

// The horizontal pass of one group of output columns: the columns' weights,
// interleaved for the channels.
struct RowResizer::ColumnGroupWeights {
    ColumnGroupWeights(std::uint32_t in_width, std::uint32_t out_width, ColumnGroup group, std::size_t channels)
        : columns(in_width, out_width, group.first, group.count),
          weights(columns, channels, lanes_for(channels)) {}
    AxisFilter columns;
    ChannelWeights weights;
};

RowResizer::RowResizer(std::uint32_t in_width, std::uint32_t in_height, std::uint8_t channels, std::uint32_t out_width,
                       std::uint32_t out_height, std::uint32_t first_row, std::uint32_t row_count)
    : in_width_(in_width),
      out_width_(out_width),
      channels_(channels),
      rows_(checked_rows(in_width, in_height, channels, out_width, out_height, first_row, row_count)),
      result_(std::size_t{row_count} * out_width * channels) {
    groups_ = plan_column_groups(in_width, out_width, channels);
    // The weights of a picture of ordinary width serve every row; those of
    // one too wide for a single group are made again for each row, of which
    // such a picture has few.
    if (groups_.size() == 1) {
        cached_ = std::make_unique<ColumnGroupWeights>(in_width, out_width, groups_.front(), channels);
    }
}

RowResizer::~RowResizer() = default;

std::uint32_t RowResizer::first_needed() const noexcept { return rows_.count() == 0 ? 0 : rows_.start(0); }

std::uint32_t RowResizer::end_needed() const noexcept { return rows_.count() == 0 ? 0 : rows_.end(rows_.count() - 1); }

void RowResizer::add_row(std::uint32_t y, std::span<const std::uint8_t> pixels) {
    if (pixels.size() != std::size_t{in_width_} * channels_) {
        throw std::invalid_argument("RowResizer: row of the wrong size");
    }
    if (held_) {
        held_ = false;
        add_rows(y - 1, held_row_.data(), pixels.data());
    } else if (y + 1 < end_needed()) {
        // Kept until the next row comes, so that both are added in one pass.
        held_row_.assign(pixels.begin(), pixels.end());
        held_ = true;
    } else {
        add_rows(y, pixels.data(), nullptr);
    }
}

// Adds source row `y` and, when `second` is not null, row y + 1.
void RowResizer::add_rows(std::uint32_t y, const std::uint8_t* first, const std::uint8_t* second) {
    const std::uint32_t last = second != nullptr ? y + 1 : y;
    const std::size_t samples = std::size_t{in_width_} * channels_;
    while (next_unopened_ < rows_.count() && rows_.start(next_unopened_) <= last) open_row();
    for (std::uint32_t index = first_open_; index < next_unopened_; ++index) {
        const std::uint32_t start = rows_.start(index);
        const std::uint32_t end = rows_.end(index);
        const auto weights = rows_.weights(index);
        float* sums = open_[index - first_open_].data();
        const bool takes_first = start <= y && y < end;
        const bool takes_second = second != nullptr && last < end;
        if (takes_first && takes_second) {
            add_scaled2(sums, first, weights[y - start], second, weights[last - start], samples);
        } else if (takes_first) {
            add_scaled(sums, first, weights[y - start], samples);
        } else if (takes_second) {
            add_scaled(sums, second, weights[last - start], samples);
        }
    }
    while (first_open_ < next_unopened_ && rows_.end(first_open_) <= last + 1) close_row();
}

void RowResizer::open_row() {
    if (free_.empty()) {
        // Room past the end for the zero-weighted lanes of the last column.
        open_.emplace_back(std::size_t{in_width_} * channels_ + lanes_for(channels_), 0.0F);
    } else {
        open_.push_back(std::move(free_.back()));
        free_.pop_back();
        std::fill(open_.back().begin(), open_.back().end(), 0.0F);
    }
    ++next_unopened_;
}

void RowResizer::close_row() {
    std::vector<float> sums = std::move(open_.front());
    open_.pop_front();
    filter_horizontally(sums, first_open_);
    free_.push_back(std::move(sums));
    ++first_open_;
}

void RowResizer::filter_horizontally(const std::vector<float>& samples, std::uint32_t row) {
    std::vector<float> sums(std::size_t{out_width_} * channels_, 0.0F);
    const DotFunction dot = dot_for(channels_);
    const std::size_t lanes = lanes_for(channels_);
    for (const ColumnGroup& group : groups_) {
        std::unique_ptr<ColumnGroupWeights> made;
        if (!cached_) made = std::make_unique<ColumnGroupWeights>(in_width_, out_width_, group, channels_);
        const ColumnGroupWeights& weights = cached_ ? *cached_ : *made;
        for (std::uint32_t column = 0; column < weights.columns.count(); ++column) {
            const std::size_t size = weights.columns.weights(column).size() * channels_;
            dot(weights.weights.column(column), samples.data() + std::size_t{weights.columns.start(column)} * channels_,
                (size + lanes - 1) / lanes * lanes, sums.data() + std::size_t{group.first + column} * channels_);
        }
    }
    const std::size_t row_start = std::size_t{row} * out_width_ * channels_;
    std::transform(sums.begin(), sums.end(), result_.begin() + static_cast<std::ptrdiff_t>(row_start), to_byte);
}

std::vector<std::uint8_t> resize_rows(const Picture& source, std::uint32_t out_width, std::uint32_t out_height,
                                      std::uint32_t first_row, std::uint32_t row_count) {
    if (source.pixels.size() != std::size_t{source.width} * source.height * source.channels) {
        throw std::invalid_argument("resize_rows: pixel count does not match the size");
    }
    RowResizer resizer(source.width, source.height, source.channels, out_width, out_height, first_row, row_count);
    const std::size_t row_bytes = std::size_t{source.width} * source.channels;
    for (std::uint32_t y = resizer.first_needed(); y < resizer.end_needed(); ++y) {
        resizer.add_row(y, std::span(source.pixels).subspan(std::size_t{y} * row_bytes, row_bytes));
    }
    return std::move(resizer).take();
}

}  // namespace olvex::art
