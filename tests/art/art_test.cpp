#include "art/art.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "art/art_sample_pictures.hpp"
#include "art/lanczos.hpp"

namespace olvex::art {
namespace {

using Bytes = std::vector<std::uint8_t>;
using PixelFunction = std::function<std::uint8_t(std::uint32_t x, std::uint32_t y, std::uint32_t channel)>;

Picture make_picture(std::uint32_t width, std::uint32_t height, std::uint8_t channels, const PixelFunction& pixel) {
    Picture picture{width, height, width, height, channels, {}};
    picture.pixels.reserve(std::size_t{width} * height * channels);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            for (std::uint32_t c = 0; c < channels; ++c) picture.pixels.push_back(pixel(x, y, c));
        }
    }
    return picture;
}

Picture uniform(std::uint32_t width, std::uint32_t height, const Bytes& colour) {
    return make_picture(width, height, static_cast<std::uint8_t>(colour.size()),
                        [&](std::uint32_t, std::uint32_t, std::uint32_t c) { return colour[c]; });
}

std::uint8_t noise(std::uint32_t x, std::uint32_t y, std::uint32_t c) {
    std::uint32_t h = x * 73856093U ^ y * 19349663U ^ c * 83492791U;
    h ^= h >> 13U;
    h *= 0x5bd1e995U;
    return static_cast<std::uint8_t>(h >> 24U);
}

Bytes pseudo_random_bytes(std::size_t size, std::uint32_t seed) {
    Bytes bytes(size);
    for (auto& b : bytes) {
        seed = seed * 1664525U + 1013904223U;
        b = static_cast<std::uint8_t>(seed >> 24U);
    }
    return bytes;
}

Bytes base64_decode(std::string_view text) {
    constexpr std::string_view ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    Bytes bytes;
    unsigned bits = 0;
    int count = 0;
    for (const char ch : text) {
        if (ch == '=') break;
        bits = bits << 6U | static_cast<unsigned>(ALPHABET.find(ch));
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes.push_back(static_cast<std::uint8_t>(bits >> static_cast<unsigned>(count)));
        }
    }
    return bytes;
}

std::uint8_t grey332(std::uint8_t level) { return rgb332(level, level, level); }

Bytes square_row(const Bytes& square, std::uint32_t row) {
    const auto start = square.begin() + static_cast<std::ptrdiff_t>(row * ART_SIZE);
    return {start, start + ART_SIZE};
}

Bytes filled_row(std::uint8_t value) { return Bytes(ART_SIZE, value); }

// ------------------------------------------------------------ pixel bytes

TEST(Rgb332, ReducesTheNamedColours) {
    EXPECT_EQ(rgb332(255, 255, 255), 0xFF);
    EXPECT_EQ(rgb332(0, 0, 0), 0x00);
    EXPECT_EQ(rgb332(ART_BACKGROUND[0], ART_BACKGROUND[1], ART_BACKGROUND[2]), 0x00);
    EXPECT_EQ(rgb332(255, 0, 0), 0xE0);
    EXPECT_EQ(rgb332(0, 255, 0), 0x1C);
    EXPECT_EQ(rgb332(0, 0, 255), 0x03);
    EXPECT_EQ(rgb332(128, 128, 128), 0x92);
}

TEST(Rgb332, RoundsEachChannelToItsNearestLevel) {
    EXPECT_EQ(rgb332(18, 0, 0), 0x00);
    EXPECT_EQ(rgb332(19, 0, 0), 0x20);
    EXPECT_EQ(rgb332(236, 0, 0), 0xC0);
    EXPECT_EQ(rgb332(237, 0, 0), 0xE0);
    EXPECT_EQ(rgb332(0, 19, 0), 0x04);
    EXPECT_EQ(rgb332(0, 0, 42), 0x00);
    EXPECT_EQ(rgb332(0, 0, 43), 0x01);
    EXPECT_EQ(rgb332(0, 0, 212), 0x02);
    EXPECT_EQ(rgb332(0, 0, 213), 0x03);
}

// ------------------------------------------------------------ base64

TEST(Base64, EncodesTheRfc4648Vectors) {
    const auto encode = [](std::string_view text) {
        return base64_encode(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    };
    EXPECT_EQ(encode(""), "");
    EXPECT_EQ(encode("f"), "Zg==");
    EXPECT_EQ(encode("fo"), "Zm8=");
    EXPECT_EQ(encode("foo"), "Zm9v");
    EXPECT_EQ(encode("foob"), "Zm9vYg==");
    EXPECT_EQ(encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(encode("foobar"), "Zm9vYmFy");
    // Lengths where the string's storage grows past the text.
    EXPECT_EQ(encode("0123456789"), "MDEyMzQ1Njc4OQ==");
    EXPECT_EQ(encode("0123456789a"), "MDEyMzQ1Njc4OWE=");
    EXPECT_EQ(encode("0123456789ab"), "MDEyMzQ1Njc4OWFi");
}

TEST(Base64, UsesTheStandardAlphabetToItsEnd) {
    const Bytes bytes = {0xFB, 0xFF, 0xBF, 0x00, 0x10, 0x83};
    EXPECT_EQ(base64_encode(bytes), "+/+/ABCD");
}

// ------------------------------------------------------------ fitted height

TEST(FittedHeight, ScalesRoundsHalvesAwayFromZeroAndClamps) {
    EXPECT_EQ(fitted_height(300, 300), 128U);
    EXPECT_EQ(fitted_height(640, 360), 72U);
    EXPECT_EQ(fitted_height(300, 600), 256U);
    EXPECT_EQ(fitted_height(1000, 1), 1U);  // 0 becomes 1
    EXPECT_EQ(fitted_height(512, 1), 1U);
    EXPECT_EQ(fitted_height(256, 5), 3U);   // 2.5
    EXPECT_EQ(fitted_height(256, 9), 5U);   // 4.5
    EXPECT_EQ(fitted_height(3, 1), 43U);    // 42.67
    EXPECT_EQ(fitted_height(0, 3), 384U);   // a width of 0 counts as 1
    EXPECT_EQ(fitted_height(1, 36'000'000), 4294967295U);
    EXPECT_EQ(fitted_height(4294967295U, 4294967295U), 128U);
}

// ------------------------------------------------------------ fitting into the square

TEST(ArtPixels, SquarePictureFillsTheSquare) {
    const auto picture = make_picture(300, 300, 3, [](std::uint32_t x, std::uint32_t, std::uint32_t c) {
        return static_cast<std::uint8_t>(x < 150 ? (c == 0 ? 255 : 0) : (c == 2 ? 255 : 0));
    });
    const auto square = art_pixels(picture);
    ASSERT_EQ(square.size(), ART_BYTES);
    for (std::uint32_t row = 0; row < ART_SIZE; row += 127) {
        EXPECT_EQ(square[row * ART_SIZE], 0xE0) << row;
        EXPECT_EQ(square[row * ART_SIZE + 127], 0x03) << row;
    }
    EXPECT_EQ(std::count(square.begin(), square.end(), 0x00), 0);
}

TEST(ArtPixels, WidePictureLiesInABandOnTheBackground) {
    const auto square = art_pixels(uniform(640, 360, {255, 255, 255}));
    for (std::uint32_t row = 0; row < ART_SIZE; ++row) {
        EXPECT_EQ(square_row(square, row), filled_row(row >= 28 && row <= 99 ? 0xFF : 0x00)) << row;
    }
}

TEST(ArtPixels, TallPictureKeepsItsMiddleRows) {
    // 300 by 600 is 256 rows high, shown from row 64; 100 by 201 is 257 rows
    // high, shown from row 64 too (half of 129, rounded down).
    for (const auto& [width, height, fitted] : {std::array<std::uint32_t, 3>{300, 600, 256}, {100, 201, 257}}) {
        // Bands of eight rows, each a different grey, so that any shift shows.
        const auto picture = make_picture(width, height, 3, [](std::uint32_t x, std::uint32_t y, std::uint32_t c) {
            return static_cast<std::uint8_t>((y / 8 * 37 + x / 20 * 11 + c * 50) % 256);
        });
        const auto resized = resize_rows(picture, ART_SIZE, fitted, 0, fitted);
        const auto square = art_pixels(picture);
        for (std::size_t i = 0; i < ART_BYTES; ++i) {
            const std::size_t from = (64 * std::size_t{ART_SIZE} + i) * 3;
            ASSERT_EQ(square[i], rgb332(resized[from], resized[from + 1], resized[from + 2])) << width << " " << i;
        }
    }
}

TEST(ArtPixels, OneRowPictureBecomesRow63) {
    const auto square = art_pixels(uniform(1000, 1, {255, 255, 255}));
    for (std::uint32_t row = 0; row < ART_SIZE; ++row) {
        EXPECT_EQ(square_row(square, row), filled_row(row == 63 ? 0xFF : 0x00)) << row;
    }
}

TEST(ArtPixels, ProportionsComeFromTheSourceSize) {
    // A decoder may hand back fewer pixels than the file holds; the square
    // keeps the file's proportions: 100 by 400 is 512 rows high, of which the
    // middle 128 are shown.
    auto picture = make_picture(100, 100, 1, [](std::uint32_t, std::uint32_t y, std::uint32_t) {
        return static_cast<std::uint8_t>(y * 2);
    });
    picture.source_height = 400;
    const auto resized = resize_rows(picture, ART_SIZE, 512, 192, 128);
    const auto square = art_pixels(picture);
    for (std::size_t i = 0; i < ART_BYTES; ++i) ASSERT_EQ(square[i], grey332(resized[i])) << i;
}

TEST(ArtPixels, AlphaIsDroppedAndGreyFillsAllChannels) {
    EXPECT_EQ(art_pixels(uniform(20, 20, {128}))[0], 0x92);
    EXPECT_EQ(art_pixels(uniform(20, 20, {128, 0}))[0], 0x92);
    EXPECT_EQ(art_pixels(uniform(20, 20, {0, 255, 0}))[0], 0x1C);
    EXPECT_EQ(art_pixels(uniform(20, 20, {255, 0, 0, 0}))[0], 0xE0);  // fully transparent, still red
}

TEST(EncodePicture, AllBlackSquareIsAllA) {
    const std::string text = encode_picture(uniform(128, 128, {0, 0, 0}));
    EXPECT_EQ(text, std::string(21846, 'A') + "==");
}

// ------------------------------------------------------------ from file bytes

TEST(EncodeArt, AnythingButPngOrJpegGivesNothing) {
    EXPECT_EQ(encode_art({}), std::nullopt);
    EXPECT_EQ(encode_art(art_samples::ART_GIF_4X4), std::nullopt);
    for (std::uint32_t seed = 1; seed <= 20; ++seed) {
        auto bytes = pseudo_random_bytes(seed * 97, seed);
        EXPECT_EQ(encode_art(bytes), std::nullopt) << seed;
        // The right signatures in front of noise do not make a picture either.
        std::copy_n(art_samples::ART_PNG_GREY_1X100000, 8, bytes.begin());
        EXPECT_EQ(encode_art(bytes), std::nullopt) << seed;
        std::copy_n(art_samples::ART_JPEG_RED_BLUE_512X256, 4, bytes.begin());
        EXPECT_EQ(encode_art(bytes), std::nullopt) << seed;
    }
}

TEST(EncodeArt, JpegBecomesItsBandInTheSquare) {
    const auto text = encode_art(art_samples::ART_JPEG_RED_BLUE_512X256);
    ASSERT_TRUE(text.has_value());
    ASSERT_EQ(text->size(), ART_TEXT_SIZE);
    EXPECT_TRUE(text->ends_with("=="));
    const Bytes square = base64_decode(*text);
    ASSERT_EQ(square.size(), ART_BYTES);
    for (std::uint32_t row = 0; row < ART_SIZE; ++row) {
        if (row < 32 || row >= 96) {
            EXPECT_EQ(square_row(square, row), filled_row(0x00)) << row;
        } else {
            EXPECT_EQ(square[row * ART_SIZE + 10], 0xE0) << row;
            EXPECT_EQ(square[row * ART_SIZE + 117], 0x03) << row;
        }
    }
}

TEST(EncodeArt, VeryTallPngShowsItsMiddle) {
    // 1 by 100000 resizes to 128 by 12800000; the square keeps the rows
    // around the middle, where the dark upper half meets the light lower one.
    const auto text = encode_art(art_samples::ART_PNG_GREY_1X100000);
    ASSERT_TRUE(text.has_value());
    const Bytes square = base64_decode(*text);
    ASSERT_EQ(square.size(), ART_BYTES);
    EXPECT_EQ(square_row(square, 0), filled_row(grey332(40)));
    EXPECT_EQ(square_row(square, 127), filled_row(grey332(200)));
    for (std::uint32_t row = 1; row < ART_SIZE; ++row) {
        EXPECT_EQ(square_row(square, row), filled_row(square[row * ART_SIZE])) << row;
        EXPECT_LE(square[(row - 1) * ART_SIZE], square[row * ART_SIZE]) << row;
    }
}

// ------------------------------------------------------------ resampler

TEST(Lanczos3, HasThreeLobes) {
    EXPECT_DOUBLE_EQ(lanczos3(0.0), 1.0);
    EXPECT_NEAR(lanczos3(0.5), 0.6079271, 1e-7);
    EXPECT_NEAR(lanczos3(-0.5), 0.6079271, 1e-7);
    EXPECT_NEAR(lanczos3(1.5), -0.1350949, 1e-7);
    EXPECT_NEAR(lanczos3(2.5), 0.0243170, 1e-7);
    EXPECT_NEAR(lanczos3(1.0), 0.0, 1e-15);
    EXPECT_NEAR(lanczos3(-2.0), 0.0, 1e-15);
    EXPECT_EQ(lanczos3(3.0), 0.0);
    EXPECT_EQ(lanczos3(-3.5), 0.0);
}

struct Axis {
    std::uint32_t in;
    std::uint32_t out;
    std::uint32_t first;
    std::uint32_t count;
};

// Each output sample centred on (i + 0.5) * in / out, its window the source
// samples within three stretched lobes, its weights the kernel normalised.
TEST(AxisFilter, WeightsAreTheNormalisedKernelAroundEachCentre) {
    for (const Axis axis : {Axis{300, 128, 0, 128}, Axis{128, 128, 0, 128}, Axis{16, 37, 0, 37}, Axis{1, 128, 0, 128},
                            Axis{5000, 3, 0, 3}, Axis{2'000'000, 3, 1, 1}, Axis{1000, 4294967295U, 2147483583U, 128}}) {
        const AxisFilter filter(axis.in, axis.out, axis.first, axis.count);
        ASSERT_EQ(filter.count(), axis.count);
        const double scale = static_cast<double>(axis.in) / axis.out;
        const double stretch = std::max(scale, 1.0);
        for (std::uint32_t i = 0; i < axis.count; ++i) {
            const double centre = (axis.first + i + 0.5) * scale;
            const auto start = static_cast<std::uint32_t>(std::max(0.0, std::floor(centre - 3 * stretch + 0.5)));
            const auto end = static_cast<std::uint32_t>(std::min<double>(axis.in, std::floor(centre + 3 * stretch + 0.5)));
            ASSERT_EQ(filter.start(i), start) << axis.in << " " << i;
            ASSERT_EQ(filter.end(i), end) << axis.in << " " << i;
            const auto weights = filter.weights(i);
            double sum = 0.0;
            std::vector<double> expected(weights.size());
            for (std::size_t k = 0; k < weights.size(); ++k) {
                expected[k] = lanczos3((static_cast<double>(start + k) + 0.5 - centre) / stretch);
                sum += expected[k];
            }
            double total = 0.0;
            const std::size_t stride = std::max<std::size_t>(1, weights.size() / 5000);
            for (std::size_t k = 0; k < weights.size(); ++k) {
                total += weights[k];
                if (k % stride == 0) {
                    ASSERT_NEAR(weights[k], expected[k] / sum, 1e-7) << axis.in << " " << i << " " << k;
                }
            }
            EXPECT_NEAR(total, 1.0, 1e-5) << axis.in << " " << i;
        }
    }
}

// The same sums written out directly, in double precision, one output sample
// at a time.
Bytes reference_resize(const Picture& p, std::uint32_t width, std::uint32_t height, std::uint32_t first,
                       std::uint32_t count) {
    const auto window = [](std::uint32_t in, std::uint32_t out, std::uint32_t i, std::uint32_t& start) {
        const double scale = static_cast<double>(in) / out;
        const double stretch = std::max(scale, 1.0);
        const double centre = (i + 0.5) * scale;
        start = static_cast<std::uint32_t>(std::max(0.0, std::floor(centre - 3 * stretch + 0.5)));
        const auto end = static_cast<std::uint32_t>(std::min<double>(in, std::floor(centre + 3 * stretch + 0.5)));
        std::vector<double> weights;
        double sum = 0.0;
        for (std::uint32_t s = start; s < end; ++s) {
            weights.push_back(lanczos3((s + 0.5 - centre) / stretch));
            sum += weights.back();
        }
        for (double& w : weights) w /= sum;
        return weights;
    };
    Bytes out;
    for (std::uint32_t y = first; y < first + count; ++y) {
        std::uint32_t top = 0;
        const auto wy = window(p.height, height, y, top);
        for (std::uint32_t x = 0; x < width; ++x) {
            std::uint32_t left = 0;
            const auto wx = window(p.width, width, x, left);
            for (std::uint32_t c = 0; c < p.channels; ++c) {
                double value = 0.0;
                for (std::size_t i = 0; i < wy.size(); ++i) {
                    const std::size_t row = (top + i) * std::size_t{p.width};
                    for (std::size_t j = 0; j < wx.size(); ++j) {
                        value += wy[i] * wx[j] * p.pixels[(row + left + j) * p.channels + c];
                    }
                }
                out.push_back(static_cast<std::uint8_t>(std::clamp(std::round(value), 0.0, 255.0)));
            }
        }
    }
    return out;
}

void expect_within_one(const Bytes& actual, const Bytes& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        ASSERT_LE(std::abs(actual[i] - expected[i]), 1) << "at " << i;
    }
}

struct Case {
    std::uint32_t width, height;
    std::uint8_t channels;
    std::uint32_t out_width, out_height, first, count;
};

TEST(ResizeRows, AgreesWithTheSumsWrittenOut) {
    // Includes pictures wider than one strip of the vertical pass (with
    // narrow and wide kernels across the strips' edges) and wider than one
    // group of column weights, and rows far down a huge resize.
    for (const Case& c : {Case{37, 23, 3, 128, 80, 0, 80}, Case{300, 5, 1, 128, 2, 0, 2}, Case{9, 300, 4, 128, 4267, 2069, 128},
                          Case{128, 128, 2, 128, 128, 0, 128}, Case{70'000, 2, 3, 128, 1, 0, 1},
                          Case{50'000, 2, 3, 20'000, 1, 0, 1},
                          Case{1'200'000, 1, 1, 128, 1, 0, 1}, Case{1, 1000, 1, 128, 4294967295U, 2147483583U, 128}}) {
        const auto picture = make_picture(c.width, c.height, c.channels, noise);
        expect_within_one(resize_rows(picture, c.out_width, c.out_height, c.first, c.count),
                          reference_resize(picture, c.out_width, c.out_height, c.first, c.count));
    }
}

TEST(ResizeRows, MatchesPillowAlongOneAxis) {
    const std::span row(art_samples::ART_PILLOW_ROW);
    const auto across = make_picture(16, 1, 1, [&](std::uint32_t x, std::uint32_t, std::uint32_t) {
        return static_cast<std::uint8_t>(row[x]);
    });
    const auto down = make_picture(1, 16, 1, [&](std::uint32_t, std::uint32_t y, std::uint32_t) {
        return static_cast<std::uint8_t>(row[y]);
    });
    const auto expect_pillow = [](const Bytes& actual, std::span<const int> pillow) {
        ASSERT_EQ(actual.size(), pillow.size());
        for (std::size_t i = 0; i < actual.size(); ++i) EXPECT_LE(std::abs(actual[i] - pillow[i]), 1) << i;
    };
    expect_pillow(resize_rows(across, 5, 1, 0, 1), art_samples::ART_PILLOW_ROW_TO_5);
    expect_pillow(resize_rows(across, 37, 1, 0, 1), art_samples::ART_PILLOW_ROW_TO_37);
    expect_pillow(resize_rows(down, 1, 5, 0, 5), art_samples::ART_PILLOW_ROW_TO_5);
    expect_pillow(resize_rows(down, 1, 37, 0, 37), art_samples::ART_PILLOW_ROW_TO_37);
}

TEST(ResizeRows, ConstantPictureStaysConstant) {
    for (const Bytes& colour : {Bytes{0}, Bytes{255, 7}, Bytes{10, 200, 30}, Bytes{255, 255, 255, 128}}) {
        for (const auto& [w, h, ow, oh] : {std::array<std::uint32_t, 4>{37, 23, 128, 80},
                                           {3, 2, 128, 85}, {900, 901, 128, 128}, {1, 5000, 128, 640000}}) {
            const auto picture = uniform(w, h, colour);
            const auto rows = std::min<std::uint32_t>(oh, 128);
            const auto resized = resize_rows(picture, ow, oh, oh - rows, rows);
            ASSERT_EQ(resized.size(), std::size_t{ow} * rows * colour.size());
            for (std::size_t i = 0; i < resized.size(); ++i) ASSERT_EQ(resized[i], colour[i % colour.size()]) << i;
        }
    }
}

TEST(ResizeRows, AnyRowRangeIsThoseRowsOfTheWholeResize) {
    const auto picture = make_picture(203, 311, 3, noise);
    const auto whole = resize_rows(picture, 128, 196, 0, 196);
    const std::size_t row_bytes = 128 * 3;
    for (const auto& [first, count] : {std::array<std::uint32_t, 2>{0, 1}, {0, 128}, {34, 128}, {68, 128}, {195, 1}, {90, 0}}) {
        const auto part = resize_rows(picture, 128, 196, first, count);
        const Bytes expected(whole.begin() + static_cast<std::ptrdiff_t>(first * row_bytes),
                             whole.begin() + static_cast<std::ptrdiff_t>((first + count) * row_bytes));
        EXPECT_EQ(part, expected) << first << " " << count;
    }
}

TEST(ResizeRows, RefusesArgumentsItCannotMeet) {
    auto picture = uniform(4, 4, {1, 2, 3});
    EXPECT_THROW((void)resize_rows(picture, 128, 128, 100, 29), std::invalid_argument);
    EXPECT_THROW((void)resize_rows(picture, 0, 128, 0, 1), std::invalid_argument);
    picture.pixels.pop_back();
    EXPECT_THROW((void)resize_rows(picture, 128, 128, 0, 1), std::invalid_argument);
    picture = uniform(4, 4, {1, 2, 3, 4, 5});
    EXPECT_THROW((void)resize_rows(picture, 128, 128, 0, 1), std::invalid_argument);
}

}  // namespace
}  // namespace olvex::art
