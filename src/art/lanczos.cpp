#include "art/lanczos.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <span>
#include <stdexcept>
#include <vector>

namespace olvex::art {

namespace {

constexpr double LOBES = 3.0;

// Budget, in floats, of one group of output columns' weights (one copy for
// each channel). Any picture of ordinary width fits all its columns in one
// group, whose weights then serve every row; only pictures hundreds of
// thousands of pixels wide (and so a row or two high) are split, so that
// their weights never take gigabytes.
constexpr std::size_t GROUP_WEIGHTS = std::size_t{1} << 21;

// Floats of one strip of vertically filtered samples: small enough to stay
// in the second-level cache while the horizontal pass reads it.
constexpr std::size_t STRIP_FLOATS = std::size_t{1} << 16;

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

// sums[at] = weight * row[at]
void set_scaled(float* __restrict sums, const std::uint8_t* __restrict row, float weight, std::size_t count) noexcept {
    std::size_t block = 0;
    for (; block + BLOCK <= count; block += BLOCK) {
        for (std::size_t offset = 0; offset < BLOCK; ++offset) {
            sums[block + offset] = weight * static_cast<float>(row[block + offset]);
        }
    }
    for (std::size_t at = block; at < count; ++at) sums[at] = weight * static_cast<float>(row[at]);
}

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

// The horizontal pass reads the vertically filtered strip with its channels
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
    if (done < count) {  // a window cut by the edge of a strip
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

struct ColumnGroup {
    std::uint32_t first;
    std::uint32_t count;
};

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
// and followed by zeros up to a whole number of lanes, so that a column whose
// window lies inside the strip is summed without a scalar tail.
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

// One group of output columns over the requested rows: for each row, the
// vertical pass filters strips of the source columns the group reads, and the
// horizontal pass adds each strip's share to the group's column sums.
template <std::size_t Channels>
class GroupResizer {
public:
    GroupResizer(const Picture& source, const AxisFilter& rows, const AxisFilter& columns)
        : source_(source),
          rows_(rows),
          columns_(columns),
          weights_(columns, Channels, LANES<Channels>),
          strip_pixels_(std::min<std::size_t>(columns.end(columns.count() - 1) - columns.start(0),
                                              std::max<std::size_t>(1, STRIP_FLOATS / Channels))),
          // Room past the end for the zero-weighted lanes of the last column.
          strip_(strip_pixels_ * Channels + LANES<Channels>, 0.0F),
          sums_(std::size_t{columns.count()} * Channels) {}

    // Writes the group's columns of every requested row into `out`, whose rows
    // are `out_width` pixels wide, starting at column `first_column`.
    void run(std::span<std::uint8_t> out, std::uint32_t out_width, std::uint32_t first_column) {
        const std::uint32_t begin = columns_.start(0);
        const std::uint32_t end = columns_.end(columns_.count() - 1);
        for (std::uint32_t row = 0; row < rows_.count(); ++row) {
            std::fill(sums_.begin(), sums_.end(), 0.0F);
            for (std::uint32_t strip_begin = begin; strip_begin < end;) {
                const auto strip_end =
                    static_cast<std::uint32_t>(std::min<std::size_t>(end, strip_begin + strip_pixels_));
                filter_vertically(row, strip_begin, strip_end);
                add_columns(strip_begin, strip_end);
                strip_begin = strip_end;
            }
            const std::size_t row_start = (std::size_t{row} * out_width + first_column) * Channels;
            std::transform(sums_.begin(), sums_.end(), out.begin() + static_cast<std::ptrdiff_t>(row_start), to_byte);
        }
    }

private:
    // Source columns [strip_begin, strip_end) filtered down to output row `row`.
    void filter_vertically(std::uint32_t row, std::uint32_t strip_begin, std::uint32_t strip_end) {
        const std::size_t row_bytes = std::size_t{source_.width} * Channels;
        const std::size_t count = std::size_t{strip_end - strip_begin} * Channels;
        const std::uint8_t* first =
            source_.pixels.data() + std::size_t{rows_.start(row)} * row_bytes + strip_begin * Channels;
        const auto weights = rows_.weights(row);
        set_scaled(strip_.data(), first, weights[0], count);
        std::size_t tap = 1;
        for (; tap + 2 <= weights.size(); tap += 2) {
            add_scaled2(strip_.data(), first + tap * row_bytes, weights[tap], first + (tap + 1) * row_bytes,
                        weights[tap + 1], count);
        }
        if (tap < weights.size()) add_scaled(strip_.data(), first + tap * row_bytes, weights[tap], count);
    }

    void add_columns(std::uint32_t strip_begin, std::uint32_t strip_end) {
        for (std::uint32_t column = 0; column < columns_.count(); ++column) {
            const std::uint32_t start = columns_.start(column);
            const std::uint32_t low = std::max(strip_begin, start);
            const std::uint32_t high = std::min(strip_end, columns_.end(column));
            if (low >= high) continue;
            const bool whole = low == start && high == columns_.end(column);
            const std::size_t size = std::size_t{high - low} * Channels;
            const std::size_t count = whole ? (size + LANES<Channels> - 1) / LANES<Channels> * LANES<Channels> : size;
            dot_channels<Channels>(weights_.column(column) + std::size_t{low - start} * Channels,
                                   strip_.data() + std::size_t{low - strip_begin} * Channels, count,
                                   sums_.data() + std::size_t{column} * Channels);
        }
    }

    const Picture& source_;
    const AxisFilter& rows_;
    const AxisFilter& columns_;
    ChannelWeights weights_;
    std::size_t strip_pixels_;
    std::vector<float> strip_;
    std::vector<float> sums_;
};

template <std::size_t Channels>
void resize_group(const Picture& source, const AxisFilter& rows, const AxisFilter& columns,
                  std::span<std::uint8_t> out, std::uint32_t out_width, std::uint32_t first_column) {
    GroupResizer<Channels>(source, rows, columns).run(out, out_width, first_column);
}

void check_arguments(const Picture& source, std::uint32_t out_width, std::uint32_t out_height,
                     std::uint32_t first_row, std::uint32_t row_count) {
    if (source.channels < 1 || source.channels > 4) throw std::invalid_argument("resize_rows: 1 to 4 channels");
    if (source.width == 0 || source.height == 0 || out_width == 0 || out_height == 0) {
        throw std::invalid_argument("resize_rows: empty picture");
    }
    if (source.pixels.size() != std::size_t{source.width} * source.height * source.channels) {
        throw std::invalid_argument("resize_rows: pixel count does not match the size");
    }
    if (first_row > out_height || row_count > out_height - first_row) {
        throw std::invalid_argument("resize_rows: rows outside the picture");
    }
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

std::vector<std::uint8_t> resize_rows(const Picture& source, std::uint32_t out_width, std::uint32_t out_height,
                                      std::uint32_t first_row, std::uint32_t row_count) {
    check_arguments(source, out_width, out_height, first_row, row_count);
    std::vector<std::uint8_t> out(std::size_t{row_count} * out_width * source.channels);
    if (row_count == 0) return out;
    const AxisFilter rows(source.height, out_height, first_row, row_count);
    for (const ColumnGroup& group : plan_column_groups(source.width, out_width, source.channels)) {
        const AxisFilter columns(source.width, out_width, group.first, group.count);
        switch (source.channels) {
            case 1: resize_group<1>(source, rows, columns, out, out_width, group.first); break;
            case 2: resize_group<2>(source, rows, columns, out, out_width, group.first); break;
            case 3: resize_group<3>(source, rows, columns, out, out_width, group.first); break;
            default: resize_group<4>(source, rows, columns, out, out_width, group.first); break;
        }
    }
    return out;
}

}  // namespace olvex::art
