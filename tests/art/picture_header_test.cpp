// The header check that both backends run before a decoder takes any pixel
// memory, on hand-made files that no decoder would get past: here nothing but
// the check decides.

#include "art/picture_header.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "art/picture.hpp"

namespace olvex::art {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put_big_endian(Bytes& out, std::uint32_t value, int size) {
    for (int shift = 8 * (size - 1); shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void put(Bytes& out, std::initializer_list<std::uint8_t> bytes) { out.insert(out.end(), bytes); }

// Signature, IHDR for an 8-bit RGB picture and IEND; the CRCs are left zero.
Bytes png_header(std::uint32_t width, std::uint32_t height) {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    put_big_endian(png, 13, 4);
    put(png, {'I', 'H', 'D', 'R'});
    put_big_endian(png, width, 4);
    put_big_endian(png, height, 4);
    put(png, {8, 2, 0, 0, 0, 0, 0, 0, 0});
    put_big_endian(png, 0, 4);
    put(png, {'I', 'E', 'N', 'D', 0, 0, 0, 0});
    return png;
}

// SOI, a baseline frame header with three components, and EOI.
Bytes jpeg_header(std::uint16_t width, std::uint16_t height) {
    Bytes jpeg = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 0x08};
    put_big_endian(jpeg, height, 2);
    put_big_endian(jpeg, width, 2);
    put(jpeg, {3, 1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1, 0xFF, 0xD9});
    return jpeg;
}

// 6000 x 6000 is exactly the ceiling.
static_assert(MAX_PICTURE_PIXELS == 6000 * 6000);

TEST(PictureHeader, AnnouncedPixelsAboveTheCeilingAreRefusedAndUpToItPass) {
    const auto png = read_picture_header(png_header(6000, 6000), MAX_PICTURE_PIXELS);
    ASSERT_TRUE(png.has_value());
    EXPECT_EQ(png->format, PictureFormat::png);
    EXPECT_EQ(png->pixels, MAX_PICTURE_PIXELS);
    EXPECT_FALSE(read_picture_header(png_header(6000, 6001), MAX_PICTURE_PIXELS).has_value());
    EXPECT_FALSE(read_picture_header(png_header(0x7FFFFFFF, 0x7FFFFFFF), MAX_PICTURE_PIXELS).has_value())
        << "a product beyond 32 bits must not wrap";

    const auto jpeg = read_picture_header(jpeg_header(6000, 6000), MAX_PICTURE_PIXELS);
    ASSERT_TRUE(jpeg.has_value());
    EXPECT_EQ(jpeg->format, PictureFormat::jpeg);
    EXPECT_EQ(jpeg->pixels, MAX_PICTURE_PIXELS);
    EXPECT_FALSE(read_picture_header(jpeg_header(6001, 6000), MAX_PICTURE_PIXELS).has_value());

    // A frame header inside another segment (an Exif thumbnail's) is that
    // segment's data, not a frame of the picture.
    Bytes thumbnail = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x0D, 0xFF, 0xC0, 0x00,
                       0x11, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x00};
    const Bytes frame = jpeg_header(10, 10);
    thumbnail.insert(thumbnail.end(), frame.begin() + 2, frame.end());
    const auto with_thumbnail = read_picture_header(thumbnail, MAX_PICTURE_PIXELS);
    ASSERT_TRUE(with_thumbnail.has_value());
    EXPECT_EQ(with_thumbnail->pixels, 100u);

    // Nothing announced, or no end marker: refused whatever the size.
    EXPECT_FALSE(read_picture_header(png_header(6000, 0), MAX_PICTURE_PIXELS).has_value());
    EXPECT_FALSE(read_picture_header(jpeg_header(10, 0), MAX_PICTURE_PIXELS).has_value());
    const Bytes small_png = png_header(10, 10);
    const Bytes small_jpeg = jpeg_header(10, 10);
    EXPECT_FALSE(read_picture_header(Bytes(small_png.begin(), small_png.end() - 12), MAX_PICTURE_PIXELS).has_value());
    EXPECT_FALSE(read_picture_header(Bytes(small_jpeg.begin(), small_jpeg.end() - 2), MAX_PICTURE_PIXELS).has_value());
}

}  // namespace
}  // namespace olvex::art
