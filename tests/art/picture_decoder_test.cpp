#include "art/picture.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "art/sample_pictures.hpp"

namespace olvex::art {
namespace {

using Bytes = std::span<const std::uint8_t>;

struct Rgba {
    int r, g, b, a;
    bool operator==(const Rgba&) const = default;
    friend std::ostream& operator<<(std::ostream& out, const Rgba& c) {
        return out << '(' << c.r << ", " << c.g << ", " << c.b << ", " << c.a << ')';
    }
};

// The pixel as RGBA whatever the channel count, so that a backend may widen
// grey and alpha to RGBA.
Rgba pixel_at(const Picture& picture, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* p = picture.pixels.data() + (std::size_t{y} * picture.width + x) * picture.channels;
    switch (picture.channels) {
        case 1: return {p[0], p[0], p[0], 255};
        case 2: return {p[0], p[0], p[0], p[1]};
        case 3: return {p[0], p[1], p[2], 255};
        default: return {p[0], p[1], p[2], p[3]};
    }
}

bool has_consistent_size(const Picture& picture) {
    return picture.width > 0 && picture.height > 0 &&
           picture.pixels.size() == std::size_t{picture.width} * picture.height * picture.channels;
}

// The PNG samples' pattern, as tools/make-sample-pictures.py draws it.
constexpr std::uint32_t PATTERN_WIDTH = 9;
constexpr std::uint32_t PATTERN_HEIGHT = 7;
constexpr Rgba PALETTE[] = {{255, 0, 0, 255}, {0, 255, 0, 128}, {0, 0, 255, 0}, {255, 255, 255, 255}};

Rgba grey_of(int value, int alpha = 255) { return {value, value, value, alpha}; }
int pattern_alpha(int x, int y) { return 255 - 15 * (x + y); }
int pattern_grey(int x, int y) { return 10 + 20 * x + 5 * y; }

Rgba pattern_rgb(int x, int y) { return {20 + 25 * x, 30 + 30 * y, 250 - 20 * x - 10 * y, 255}; }
Rgba pattern_rgba(int x, int y) {
    Rgba colour = pattern_rgb(x, y);
    colour.a = pattern_alpha(x, y);
    return colour;
}
Rgba pattern_palette(int x, int y) { return PALETTE[(x + 2 * y) % 4]; }
Rgba pattern_palette_opaque(int x, int y) {
    Rgba colour = pattern_palette(x, y);
    colour.a = 255;
    return colour;
}
Rgba pattern_grey_rgba(int x, int y) { return grey_of(pattern_grey(x, y)); }
Rgba pattern_grey_1bit(int x, int y) { return grey_of((x + y) % 2 * 255); }
Rgba pattern_grey_alpha(int x, int y) { return grey_of(pattern_grey(x, y), pattern_alpha(x, y)); }

struct PngCase {
    const char* name;
    Bytes bytes;
    std::initializer_list<int> channels;  // what a backend may hand out
    Rgba (*expected)(int x, int y);
};

TEST(DecodePicture, PngsOfEveryColourTypeAndDepthDecodeExactly) {
    const PngCase cases[] = {
        {"RGB", samples::PNG_RGB, {3}, pattern_rgb},
        {"RGB, interlaced", samples::PNG_RGB_INTERLACED, {3}, pattern_rgb},
        {"RGB, 16 bits", samples::PNG_RGB_16BIT, {3}, pattern_rgb},
        {"RGBA", samples::PNG_RGBA, {4}, pattern_rgba},
        {"palette", samples::PNG_PALETTE, {3}, pattern_palette_opaque},
        {"palette of 2 bits with transparency", samples::PNG_PALETTE_ALPHA, {4}, pattern_palette},
        {"grey", samples::PNG_GREY, {1}, pattern_grey_rgba},
        {"grey of 1 bit", samples::PNG_GREY_1BIT, {1}, pattern_grey_1bit},
        {"grey and alpha", samples::PNG_GREY_ALPHA, {2, 4}, pattern_grey_alpha},
    };
    for (const PngCase& test : cases) {
        SCOPED_TRACE(test.name);
        const auto picture = decode_picture(test.bytes);
        ASSERT_TRUE(picture.has_value());
        EXPECT_EQ(picture->width, PATTERN_WIDTH);
        EXPECT_EQ(picture->height, PATTERN_HEIGHT);
        EXPECT_EQ(picture->source_width, PATTERN_WIDTH);
        EXPECT_EQ(picture->source_height, PATTERN_HEIGHT);
        EXPECT_TRUE(std::ranges::find(test.channels, picture->channels) != test.channels.end())
            << int{picture->channels} << " channels";
        ASSERT_TRUE(has_consistent_size(*picture));
        for (std::uint32_t y = 0; y < PATTERN_HEIGHT; ++y) {
            for (std::uint32_t x = 0; x < PATTERN_WIDTH; ++x) {
                ASSERT_EQ(pixel_at(*picture, x, y), test.expected(static_cast<int>(x), static_cast<int>(y)))
                    << "at " << x << ", " << y;
            }
        }
    }
}

void expect_near(const Rgba& actual, const Rgba& expected) {
    constexpr int TOLERANCE = 12;  // JPEG is lossy; solid areas come out close
    EXPECT_LE(std::abs(actual.r - expected.r), TOLERANCE) << actual << " for " << expected;
    EXPECT_LE(std::abs(actual.g - expected.g), TOLERANCE) << actual << " for " << expected;
    EXPECT_LE(std::abs(actual.b - expected.b), TOLERANCE) << actual << " for " << expected;
    EXPECT_EQ(actual.a, 255);
}

TEST(DecodePicture, ColourJpegsDecodeToRgbCloseToTheirColours) {
    const std::pair<const char*, Bytes> cases[] = {
        {"baseline", samples::JPEG_BASELINE},
        {"progressive", samples::JPEG_PROGRESSIVE},
        {"CMYK with Adobe marker", samples::JPEG_CMYK},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        const auto picture = decode_picture(bytes);
        ASSERT_TRUE(picture.has_value());
        EXPECT_EQ(picture->width, 32u);
        EXPECT_EQ(picture->height, 32u);
        EXPECT_EQ(picture->channels, 3);
        ASSERT_TRUE(has_consistent_size(*picture));
        expect_near(pixel_at(*picture, 8, 8), {255, 0, 0, 255});
        expect_near(pixel_at(*picture, 24, 8), {0, 255, 0, 255});
        expect_near(pixel_at(*picture, 8, 24), {0, 0, 255, 255});
        expect_near(pixel_at(*picture, 24, 24), grey_of(255));
    }
}

TEST(DecodePicture, GreyJpegStaysGrey) {
    const auto picture = decode_picture(samples::JPEG_GREY_33X17);
    ASSERT_TRUE(picture.has_value());
    EXPECT_EQ(picture->width, 33u);
    EXPECT_EQ(picture->height, 17u);
    EXPECT_EQ(picture->channels, 1);
    ASSERT_TRUE(has_consistent_size(*picture));
    expect_near(pixel_at(*picture, 4, 8), grey_of(40));
    expect_near(pixel_at(*picture, 28, 8), grey_of(200));
}

std::vector<std::uint8_t> pseudo_random_bytes(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t state = 12345;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

TEST(DecodePicture, OtherFormatsAndNoiseGiveNothing) {
    std::vector<std::uint8_t> png_with_noise(std::begin(samples::PNG_RGB), std::begin(samples::PNG_RGB) + 8);
    for (auto byte : pseudo_random_bytes(200)) png_with_noise.push_back(byte);
    std::vector<std::uint8_t> jpeg_with_noise = {0xFF, 0xD8, 0xFF};
    for (auto byte : pseudo_random_bytes(200)) jpeg_with_noise.push_back(byte);
    const std::pair<const char*, std::vector<std::uint8_t>> cases[] = {
        {"empty", {}},
        {"GIF", {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00,
                 0x00, 0xFF, 0xFF, 0xFF, 0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00,
                 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B}},
        {"BMP", {0x42, 0x4D, 0x3A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x36, 0x00, 0x00, 0x00, 0x28,
                 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x18, 0x00,
                 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x13, 0x0B, 0x00, 0x00, 0x13, 0x0B, 0x00,
                 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x00}},
        {"noise", pseudo_random_bytes(1000)},
        {"JPEG start only", {0xFF, 0xD8, 0xFF}},
        {"JPEG start and noise", jpeg_with_noise},
        {"PNG signature only", {std::begin(samples::PNG_RGB), std::begin(samples::PNG_RGB) + 8}},
        {"PNG signature and noise", png_with_noise},
        {"PNG of width 0", {std::begin(samples::PNG_ZERO_WIDTH), std::end(samples::PNG_ZERO_WIDTH)}},
    };
    for (const auto& [name, bytes] : cases) EXPECT_FALSE(decode_picture(bytes).has_value()) << name;
}

TEST(DecodePicture, EveryTruncationGivesNothingAndPrintsNothing) {
    const std::pair<const char*, Bytes> cases[] = {
        {"PNG", samples::PNG_RGB},
        {"interlaced PNG", samples::PNG_RGB_INTERLACED},
        {"palette PNG", samples::PNG_PALETTE_ALPHA},
        {"baseline JPEG", samples::JPEG_BASELINE},
        {"progressive JPEG", samples::JPEG_PROGRESSIVE},
    };
    testing::internal::CaptureStderr();
    for (const auto& [name, bytes] : cases) {
        ASSERT_TRUE(decode_picture(bytes).has_value()) << name << " whole";
        for (std::size_t size = 0; size < bytes.size(); ++size) {
            EXPECT_FALSE(decode_picture(bytes.first(size)).has_value()) << name << " cut to " << size << " bytes";
        }
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// Hands out at most `piece` bytes a read, as a file may, and fails to read
// from `fails_at` on.
class PieceInput final : public PictureInput {
public:
    PieceInput(Bytes bytes, std::size_t piece, std::size_t fails_at)
        : bytes_(bytes), piece_(piece), fails_at_(fails_at) {}
    std::optional<std::size_t> read_at(std::uint64_t offset, std::span<std::uint8_t> into) override {
        if (offset >= bytes_.size()) return 0;
        if (offset >= fails_at_) return std::nullopt;
        const std::size_t count = std::min({into.size(), piece_, std::min(bytes_.size(), fails_at_) - offset});
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), count, into.begin());
        return count;
    }

private:
    Bytes bytes_;
    std::size_t piece_;
    std::size_t fails_at_;
};

TEST(DecodePicture, ReadInPiecesGivesTheSamePictureAndAReadErrorNothing) {
    for (const Bytes bytes : {Bytes(samples::PNG_RGB), Bytes(samples::PNG_RGB_INTERLACED),
                              Bytes(samples::PNG_PALETTE_ALPHA), Bytes(samples::JPEG_BASELINE),
                              Bytes(samples::JPEG_PROGRESSIVE), Bytes(samples::JPEG_1024X512)}) {
        const auto expected = decode_picture(bytes, 128);
        ASSERT_TRUE(expected.has_value());
        for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, bytes.size()}) {
            PieceInput input(bytes, piece, bytes.size());
            const auto picture = decode_picture(input, 128);
            ASSERT_TRUE(picture.has_value()) << bytes.size() << " bytes in pieces of " << piece;
            EXPECT_EQ(picture->pixels, expected->pixels);
        }
        for (const std::size_t fails_at : {std::size_t{0}, bytes.size() / 2, bytes.size() - 1}) {
            PieceInput failing(bytes, 4096, fails_at);
            EXPECT_FALSE(decode_picture(failing, 128).has_value()) << bytes.size() << " bytes failing at " << fails_at;
        }
    }
}

TEST(DecodePicture, PicturesAboveTheCeilingGiveNothing) {
    EXPECT_FALSE(decode_picture(samples::PNG_HUGE).has_value()) << "PNG announcing 50000 x 50000";
    EXPECT_FALSE(decode_picture(samples::JPEG_HUGE).has_value()) << "JPEG announcing 50000 x 50000";

    const std::uint64_t png_pixels = PATTERN_WIDTH * PATTERN_HEIGHT;
    EXPECT_FALSE(decode_picture(samples::PNG_RGB, 0, png_pixels - 1).has_value());
    EXPECT_TRUE(decode_picture(samples::PNG_RGB, 0, png_pixels).has_value());
    EXPECT_FALSE(decode_picture(samples::JPEG_PROGRESSIVE, 0, 32 * 32 - 1).has_value());
    EXPECT_TRUE(decode_picture(samples::JPEG_PROGRESSIVE, 0, 32 * 32).has_value());
}

TEST(DecodePicture, MinWidthNeverGivesANarrowerPicture) {
    const auto jpeg = decode_picture(samples::JPEG_1024X512, 128);
    ASSERT_TRUE(jpeg.has_value());
    EXPECT_GE(jpeg->width, 128u);
    EXPECT_EQ(jpeg->source_width, 1024u);
    EXPECT_EQ(jpeg->source_height, 512u);
    EXPECT_EQ(std::uint64_t{jpeg->width} * 512, std::uint64_t{jpeg->height} * 1024) << "both edges reduced alike";
    EXPECT_TRUE(has_consistent_size(*jpeg));

    const auto png = decode_picture(samples::PNG_RGB, 2);
    ASSERT_TRUE(png.has_value());
    EXPECT_EQ(png->width, PATTERN_WIDTH) << "PNG has no reduced decoding";
}

TEST(DecodePicture, DecodesOnThreadsNobodyPreparedForIt) {
    const auto expected_png = decode_picture(samples::PNG_RGB_INTERLACED);
    const auto expected_jpeg = decode_picture(samples::JPEG_PROGRESSIVE);
    ASSERT_TRUE(expected_png && expected_jpeg);
    std::vector<int> matches(4, 0);
    {
        std::vector<std::jthread> threads;
        for (int& count : matches) {
            threads.emplace_back([&] {
                for (int i = 0; i < 10; ++i) {
                    const auto png = decode_picture(samples::PNG_RGB_INTERLACED);
                    const auto jpeg = decode_picture(samples::JPEG_PROGRESSIVE);
                    const bool same = png && jpeg && png->pixels == expected_png->pixels &&
                                      jpeg->pixels == expected_jpeg->pixels;
                    count += same ? 1 : 0;
                }
            });
        }
    }
    EXPECT_EQ(matches, std::vector<int>(4, 10));
}

}  // namespace
}  // namespace olvex::art
