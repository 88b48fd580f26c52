// libjpeg-turbo's reduced decoding, which the Windows backend does not offer.

#include <gtest/gtest.h>

#include <cstdint>

#include "art/picture.hpp"
#include "art/sample_pictures.hpp"

namespace olvex::art {
namespace {

struct Reduction {
    std::uint32_t min_width;
    std::uint32_t width;
    std::uint32_t height;
};

TEST(DecodePictureLinux, JpegComesAsSmallAsMinWidthAllows) {
    const Reduction cases[] = {
        {0, 1024, 512},   {1, 128, 64},     {128, 128, 64},   {129, 256, 128},
        {256, 256, 128},  {257, 512, 256},  {513, 1024, 512}, {5000, 1024, 512},
    };
    for (const Reduction& test : cases) {
        const auto picture = decode_picture(samples::JPEG_1024X512, test.min_width);
        ASSERT_TRUE(picture.has_value()) << test.min_width;
        EXPECT_EQ(picture->width, test.width) << test.min_width;
        EXPECT_EQ(picture->height, test.height) << test.min_width;
        EXPECT_EQ(picture->source_width, 1024u);
        EXPECT_EQ(picture->source_height, 512u);
        ASSERT_EQ(picture->pixels.size(), std::size_t{test.width} * test.height * 3);

        // Left half red, right half blue, at every scale.
        const std::uint8_t* left = &picture->pixels[(std::size_t{test.height} / 2 * test.width + test.width / 4) * 3];
        const std::uint8_t* right = left + std::size_t{test.width} / 2 * 3;
        EXPECT_GE(left[0], 240);
        EXPECT_LE(left[2], 15);
        EXPECT_LE(right[0], 15);
        EXPECT_GE(right[2], 240);
    }
}

TEST(DecodePictureLinux, ReducedSizesRoundUpAsLibjpegDoes) {
    // 33 x 17: an eighth is 5 x 3 once rounded up, a quarter 9 x 5.
    const auto eighth = decode_picture(samples::JPEG_GREY_33X17, 5);
    ASSERT_TRUE(eighth.has_value());
    EXPECT_EQ(eighth->width, 5u);
    EXPECT_EQ(eighth->height, 3u);
    EXPECT_EQ(eighth->pixels.size(), 15u);

    const auto quarter = decode_picture(samples::JPEG_GREY_33X17, 6);
    ASSERT_TRUE(quarter.has_value());
    EXPECT_EQ(quarter->width, 9u);
    EXPECT_EQ(quarter->height, 5u);
}

TEST(DecodePictureLinux, TheCeilingCountsTheAnnouncedPixelsNotTheReducedOnes) {
    EXPECT_FALSE(decode_picture(samples::JPEG_1024X512, 128, 1024 * 512 - 1).has_value());
    EXPECT_TRUE(decode_picture(samples::JPEG_1024X512, 128, 1024 * 512).has_value());
}

}  // namespace
}  // namespace olvex::art
