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

Geometry geometry(std::uint32_t in_size, std::uint32_t out_size) noexcept {
    const double scale = static_cast<double>(in_size) / static_cast<double>(out_size);
    const double filter_scale = std::max(scale, 1.0);
    return {scale, filter_scale, LOBES * filter_scale};
}

double centre_of(const Geometry& g, std::uint32_t i) noexcept { return (static_cast<double>(i) + 0.5) * g.scale; }

// The source samples whose centres fall inside the kernel around `centre`,
// rounded the way Pillow rounds them, never empty.
Bounds bounds_of(const Geometry& g, double centre, std::uint32_t in_size) noexcept {
    const double size = static_cast<double>(in_size);
    const double low = std::clamp(std::floor(centre - g.support + 0.5), 0.0, size - 1.0);
    const double high = std::clamp(std::floor(centre + g.support + 0.5), low + 1.0, size);
    return {static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(high)};
}

// Writes the kernel's values at t0, t0 + step, t0 + 2 step, ... and returns
// their sum. A wide kernel has millions of samples, and two sines for each
// would cost seconds, so sin(pi t) and sin(pi t / 3) advance by rotation
// instead: in four interleaved phases, which keeps the processor busy,
// started afresh every RESEED samples before rounding can build up. Near
// t = 0, where the quotient loses its relative precision, the kernel is
// evaluated directly.
double kernel_samples(double t0, double step, std::span<float> out) {
    constexpr std::size_t PHASES = 4;
    constexpr std::size_t RESEED = 256;
    constexpr double NEAR_ZERO = 1.0 / 64;
    constexpr double PI = std::numbers::pi;
    const double turn = PI * step * PHASES;
    const double cos1 = std::cos(turn), sin1 = std::sin(turn);
    const double cos3 = std::cos(turn / LOBES), sin3 = std::sin(turn / LOBES);
    double a_sin[PHASES], a_cos[PHASES], b_sin[PHASES], b_cos[PHASES];
    for (std::size_t k0 = 0; k0 < out.size(); k0 += PHASES) {
        if (k0 % RESEED == 0) {
            for (std::size_t j = 0; j < PHASES; ++j) {
                const double angle = PI * (t0 + static_cast<double>(k0 + j) * step);
                a_sin[j] = std::sin(angle);
                a_cos[j] = std::cos(angle);
                b_sin[j] = std::sin(angle / LOBES);
                b_cos[j] = std::cos(angle / LOBES);
            }
        }
        for (std::size_t j = 0; j < PHASES && k0 + j < out.size(); ++j) {
            out[k0 + j] = static_cast<float>(a_sin[j] * b_sin[j]);
        }
        for (std::size_t j = 0; j < PHASES; ++j) {
            const double a_next = a_sin[j] * cos1 + a_cos[j] * sin1;
            a_cos[j] = a_cos[j] * cos1 - a_sin[j] * sin1;
            a_sin[j] = a_next;
            const double b_next = b_sin[j] * cos3 + b_cos[j] * sin3;
            b_cos[j] = b_cos[j] * cos3 - b_sin[j] * sin3;
            b_sin[j] = b_next;
        }
    }
    double sum = 0.0;
    for (std::size_t k = 0; k < out.size(); ++k) {
        const double t = t0 + static_cast<double>(k) * step;
        double value = 0.0;
        if (t < -LOBES || t >= LOBES) {
            value = 0.0;
        } else if (std::abs(t) < NEAR_ZERO) {
            value = lanczos3(t);
        } else {
            value = static_cast<double>(out[k]) * LOBES / (PI * PI * t * t);
        }
        out[k] = static_cast<float>(value);
        sum += value;
    }
    return sum;
}

void fill_weights(const Geometry& g, double centre, Bounds bounds, std::span<float> out) {
    const double step = 1.0 / g.filter_scale;
    const double sum = kernel_samples((static_cast<double>(bounds.start) - centre + 0.5) * step, step, out);
    if (sum == 0.0) return;
    const double scale = 1.0 / sum;
    for (float& w : out) w = static_cast<float>(static_cast<double>(w) * scale);
}

// Blocks of a fixed size let the compiler's cheapest vectorisation model
// (GCC's at -O2) take these loops; the tails are short.
constexpr std::size_t BLOCK = 16;

// acc[i] = weight * row[i]
void set_scaled(float* __restrict acc, const std::uint8_t* __restrict row, float weight, std::size_t n) noexcept {
    std::size_t i = 0;
    for (; i + BLOCK <= n; i += BLOCK) {
        for (std::size_t j = 0; j < BLOCK; ++j) acc[i + j] = weight * static_cast<float>(row[i + j]);
    }
    for (; i < n; ++i) acc[i] = weight * static_cast<float>(row[i]);
}

// acc[i] += weight * row[i]
void add_scaled(float* __restrict acc, const std::uint8_t* __restrict row, float weight, std::size_t n) noexcept {
    std::size_t i = 0;
    for (; i + BLOCK <= n; i += BLOCK) {
        for (std::size_t j = 0; j < BLOCK; ++j) acc[i + j] += weight * static_cast<float>(row[i + j]);
    }
    for (; i < n; ++i) acc[i] += weight * static_cast<float>(row[i]);
}

// Two rows in one pass: half the loads and stores of the sums.
void add_scaled2(float* __restrict acc, const std::uint8_t* __restrict row0, float weight0,
                 const std::uint8_t* __restrict row1, float weight1, std::size_t n) noexcept {
    std::size_t i = 0;
    for (; i + BLOCK <= n; i += BLOCK) {
        for (std::size_t j = 0; j < BLOCK; ++j) {
            acc[i + j] += weight0 * static_cast<float>(row0[i + j]) + weight1 * static_cast<float>(row1[i + j]);
        }
    }
    for (; i < n; ++i) acc[i] += weight0 * static_cast<float>(row0[i]) + weight1 * static_cast<float>(row1[i]);
}

// The horizontal pass reads the vertically filtered strip with its channels
// still interleaved; its weights are interleaved the same way (each weight
// repeated for every channel). A multiple of the channel count as the number
// of lanes keeps every lane on one channel, so the products stay contiguous
// and vectorise, and the lanes of each channel are added up at the end.
template <std::size_t C>
constexpr std::size_t LANES = C == 3 ? 12 : 8;

// Four floats in one SIMD register (a GCC and Clang extension): the sums
// must stay in registers across the loop, which a plain array does not.
using Floats4 = float __attribute__((vector_size(16)));

Floats4 load4(const float* from) noexcept {
    Floats4 v;
    std::memcpy(&v, from, sizeof v);
    return v;
}

// sums[c] += the products of channel c, for n products (whole pixels). Lane j
// of the accumulators (a, b, then d) belongs to channel j % C.
template <std::size_t C>
void dot_channels(const float* w, const float* p, std::size_t n, float* sums) noexcept {
    constexpr std::size_t L = LANES<C>;
    Floats4 a = {}, b = {}, d = {};
    std::size_t k = 0;
    for (; k + L <= n; k += L) {
        a += load4(w + k) * load4(p + k);
        b += load4(w + k + 4) * load4(p + k + 4);
        if constexpr (L == 12) d += load4(w + k + 8) * load4(p + k + 8);
    }
    if (k < n) {  // a window cut by the edge of a strip
        float part[L] = {};
        for (std::size_t j = 0; k + j < n; ++j) part[j] = w[k + j] * p[k + j];
        a += load4(part);
        b += load4(part + 4);
        if constexpr (L == 12) d += load4(part + 8);
    }
    if constexpr (C == 1) {
        const Floats4 v = a + b;
        sums[0] += (v[0] + v[1]) + (v[2] + v[3]);
    } else if constexpr (C == 2) {
        const Floats4 v = a + b;
        sums[0] += v[0] + v[2];
        sums[1] += v[1] + v[3];
    } else if constexpr (C == 3) {
        sums[0] += (a[0] + a[3]) + (b[2] + d[1]);
        sums[1] += (a[1] + b[0]) + (b[3] + d[2]);
        sums[2] += (a[2] + b[1]) + (d[0] + d[3]);
    } else {
        const Floats4 v = a + b;
        for (std::size_t c = 0; c < 4; ++c) sums[c] += v[c];
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
    const Geometry g = geometry(in_width, out_width);
    std::vector<ColumnGroup> groups;
    std::size_t weights = 0;
    for (std::uint32_t x = 0; x < out_width; ++x) {
        const Bounds b = bounds_of(g, centre_of(g, x), in_width);
        const std::size_t size = std::size_t{b.end - b.start} * channels;
        if (groups.empty() || weights + size > GROUP_WEIGHTS) {
            groups.push_back({x, 0});
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
        for (std::uint32_t x = 0; x < columns.count(); ++x) {
            const std::size_t size = columns.weights(x).size() * channels;
            offsets_[x + 1] = offsets_[x] + (size + lanes - 1) / lanes * lanes;
        }
        weights_.resize(offsets_.back(), 0.0F);
        for (std::uint32_t x = 0; x < columns.count(); ++x) {
            float* to = weights_.data() + offsets_[x];
            for (const float w : columns.weights(x)) to = std::fill_n(to, channels, w);
        }
    }
    [[nodiscard]] const float* column(std::uint32_t x) const noexcept { return weights_.data() + offsets_[x]; }

private:
    std::vector<std::size_t> offsets_;
    std::vector<float> weights_;
};

// One group of output columns over the requested rows: for each row, the
// vertical pass filters strips of the source columns the group reads, and the
// horizontal pass adds each strip's share to the group's column sums.
template <std::size_t C>
class GroupResizer {
public:
    GroupResizer(const Picture& source, const AxisFilter& rows, const AxisFilter& columns)
        : source_(source),
          rows_(rows),
          columns_(columns),
          weights_(columns, C, LANES<C>),
          strip_pixels_(std::min<std::size_t>(columns.end(columns.count() - 1) - columns.start(0),
                                              std::max<std::size_t>(1, STRIP_FLOATS / C))),
          // Room past the end for the zero-weighted lanes of the last column.
          strip_(strip_pixels_ * C + LANES<C>, 0.0F),
          sums_(std::size_t{columns.count()} * C) {}

    // Writes the group's columns of every requested row into `out`, whose rows
    // are `out_width` pixels wide, starting at column `first_column`.
    void run(std::span<std::uint8_t> out, std::uint32_t out_width, std::uint32_t first_column) {
        const std::uint32_t begin = columns_.start(0);
        const std::uint32_t end = columns_.end(columns_.count() - 1);
        for (std::uint32_t r = 0; r < rows_.count(); ++r) {
            std::fill(sums_.begin(), sums_.end(), 0.0F);
            for (std::uint32_t a = begin; a < end;) {
                const auto b = static_cast<std::uint32_t>(std::min<std::size_t>(end, a + strip_pixels_));
                filter_vertically(r, a, b);
                add_columns(a, b);
                a = b;
            }
            const std::size_t row_start = (std::size_t{r} * out_width + first_column) * C;
            std::transform(sums_.begin(), sums_.end(), out.begin() + static_cast<std::ptrdiff_t>(row_start), to_byte);
        }
    }

private:
    void filter_vertically(std::uint32_t r, std::uint32_t a, std::uint32_t b) {
        const std::size_t row_bytes = std::size_t{source_.width} * C;
        const std::size_t n = std::size_t{b - a} * C;
        const std::uint8_t* first = source_.pixels.data() + std::size_t{rows_.start(r)} * row_bytes + a * C;
        const auto weights = rows_.weights(r);
        set_scaled(strip_.data(), first, weights[0], n);
        std::size_t k = 1;
        for (; k + 2 <= weights.size(); k += 2) {
            add_scaled2(strip_.data(), first + k * row_bytes, weights[k], first + (k + 1) * row_bytes, weights[k + 1], n);
        }
        if (k < weights.size()) add_scaled(strip_.data(), first + k * row_bytes, weights[k], n);
    }

    void add_columns(std::uint32_t a, std::uint32_t b) {
        for (std::uint32_t x = 0; x < columns_.count(); ++x) {
            const std::uint32_t start = columns_.start(x);
            const std::uint32_t low = std::max(a, start);
            const std::uint32_t high = std::min(b, columns_.end(x));
            if (low >= high) continue;
            const bool whole = low == start && high == columns_.end(x);
            const std::size_t size = std::size_t{high - low} * C;
            const std::size_t n = whole ? (size + LANES<C> - 1) / LANES<C> * LANES<C> : size;
            dot_channels<C>(weights_.column(x) + std::size_t{low - start} * C, strip_.data() + std::size_t{low - a} * C, n,
                            sums_.data() + std::size_t{x} * C);
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

template <std::size_t C>
void resize_group(const Picture& source, const AxisFilter& rows, const AxisFilter& columns,
                  std::span<std::uint8_t> out, std::uint32_t out_width, std::uint32_t first_column) {
    GroupResizer<C>(source, rows, columns).run(out, out_width, first_column);
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
    const Geometry g = geometry(in_size, out_size);
    windows_.reserve(count);
    std::size_t total = 0;
    for (std::uint32_t i = first; i < first + count; ++i) {
        const Bounds b = bounds_of(g, centre_of(g, i), in_size);
        windows_.push_back({b.start, b.end - b.start, total});
        total += b.end - b.start;
    }
    weights_.resize(total);
    for (std::uint32_t i = 0; i < count; ++i) {
        const Window& w = windows_[i];
        fill_weights(g, centre_of(g, first + i), {w.start, w.start + w.size},
                     std::span(weights_).subspan(w.offset, w.size));
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
