#include "art_view.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "art/art.hpp"

namespace olvex::simulator {
namespace {

RgbPicture picture_of(std::size_t width, std::size_t height, std::vector<Rgb> pixels) {
    return {.width = width, .height = height, .pixels = std::move(pixels)};
}

TEST(Base64Decode, ReadsStandardBase64) {
    const std::pair<const char*, std::string> vectors[] = {
        {"", ""},         {"Zg==", "f"},         {"Zm8=", "fo"},         {"Zm9v", "foo"},
        {"Zm9vYg==", "foob"}, {"Zm9vYmE=", "fooba"}, {"Zm9vYmFy", "foobar"}, {"+/8A", std::string("\xfb\xff\0", 3)},
    };
    for (const auto& [text, bytes] : vectors) {
        const auto decoded = base64_decode(text);
        ASSERT_TRUE(decoded.has_value()) << text;
        EXPECT_EQ(std::string(decoded->begin(), decoded->end()), bytes) << text;
    }
}

TEST(Base64Decode, ReadsBackAWholeSquareFromTheArtEncoder) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> square(art::ART_BYTES);
    for (auto& byte : square) byte = static_cast<std::uint8_t>(random());
    EXPECT_EQ(base64_decode(art::base64_encode(square)), square);
}

TEST(Base64Decode, RefusesTextThatIsNotBase64) {
    for (const char* text : {"QQ", "QQ=", "Q===", "QR==", "QQ=A", "QQ-=", "QQ==QQ==x", "QU\nJD"}) {
        EXPECT_FALSE(base64_decode(text).has_value()) << text;
    }
}

TEST(Rgb332Colour, SpreadsEachChannelOverTheFullRange) {
    EXPECT_EQ(rgb332_colour(0x00), (Rgb{0, 0, 0}));
    EXPECT_EQ(rgb332_colour(0xFF), (Rgb{255, 255, 255}));
    EXPECT_EQ(rgb332_colour(0xE0), (Rgb{255, 0, 0}));
    EXPECT_EQ(rgb332_colour(0x1C), (Rgb{0, 255, 0}));
    EXPECT_EQ(rgb332_colour(0x03), (Rgb{0, 0, 255}));
    EXPECT_EQ(rgb332_colour(0x92), (Rgb{146, 146, 170}));
}

TEST(Rgb332Colour, ReducesBackToTheSameByte) {
    for (unsigned byte = 0; byte < 256; ++byte) {
        const Rgb colour = rgb332_colour(static_cast<std::uint8_t>(byte));
        EXPECT_EQ(art::rgb332(colour.r, colour.g, colour.b), byte);
    }
}

TEST(ArtPicture, TakesOnlyAWholeSquare) {
    std::vector<std::uint8_t> square(art::ART_BYTES, 0x00);
    square[art::ART_SIZE + 1] = 0xE0;  // row 1, column 1
    const auto picture = art_picture(art::base64_encode(square));
    ASSERT_TRUE(picture.has_value());
    EXPECT_EQ(picture->width, 128U);
    EXPECT_EQ(picture->height, 128U);
    EXPECT_EQ(picture->at(1, 1), (Rgb{255, 0, 0}));
    EXPECT_EQ(picture->at(0, 1), (Rgb{0, 0, 0}));

    square.pop_back();
    EXPECT_FALSE(art_picture(art::base64_encode(square)).has_value());
    EXPECT_FALSE(art_picture("not base64!").has_value());
}

TEST(ScaleDown, AveragesTheSourcePixelsOfEachTargetPixel) {
    const Rgb black{0, 0, 0};
    const Rgb white{255, 255, 255};
    const auto checks = picture_of(4, 2, {black, white, black, black, white, black, white, white});
    const auto halved = scale_down(checks, 2, 1);
    ASSERT_EQ(halved.pixels.size(), 2U);
    EXPECT_EQ(halved.pixels[0], (Rgb{128, 128, 128}));  // two of four white, rounded
    EXPECT_EQ(halved.pixels[1], (Rgb{128, 128, 128}));

    const auto uniform = picture_of(128, 128, std::vector<Rgb>(128 * 128, Rgb{10, 20, 30}));
    const auto small = scale_down(uniform, 37, 37);
    EXPECT_EQ(small.pixels, std::vector<Rgb>(37 * 37, Rgb{10, 20, 30}));
}

TEST(HalfBlockLines, DrawsTwoPixelRowsPerLine) {
    const Rgb red{255, 0, 0};
    const Rgb blue{0, 0, 255};
    const auto lines = half_block_lines(picture_of(2, 3, {red, red, blue, red, blue, blue}));
    ASSERT_EQ(lines.size(), 2U);
    // Repeated colours are not written again.
    EXPECT_EQ(lines[0],
              "\x1b[38;2;255;0;0m\x1b[48;2;0;0;255m\u2580\x1b[48;2;255;0;0m\u2580\x1b[0m");
    // The odd last row lies over the terminal's own background.
    EXPECT_EQ(lines[1], "\x1b[49m\x1b[38;2;0;0;255m\u2580\u2580\x1b[0m");
}

}  // namespace
}  // namespace olvex::simulator
