// libFuzzer target for the cover art conversion. Each input is used twice:
// as a picture file, the way a media player's thumbnail arrives, and as a
// made-up decoded picture (a small header, then pixels) whose announced size
// may be anything at all, to drive the resizer through shapes no file of
// fuzzing size would decode to.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "art/art.hpp"
#include "art/picture.hpp"

namespace {

using olvex::art::ART_BYTES;
using olvex::art::ART_TEXT_SIZE;

constexpr std::size_t HEADER = 11;  // width, height, source width, source height, channels

void check_text(const std::string& text) {
    constexpr std::string_view ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (text.size() != ART_TEXT_SIZE || !text.ends_with("==")) __builtin_trap();
    if (text.find_first_not_of(ALPHABET) != ART_TEXT_SIZE - 2) __builtin_trap();
}

std::uint32_t read_u32(const std::uint8_t* at) {
    std::uint32_t value = 0;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// Width and height up to 256 (as many pixels as the input has bytes left),
// the announced source size anything a 32-bit field holds.
void convert_made_up_picture(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < HEADER) return;
    olvex::art::Picture picture;
    picture.width = 1U + bytes[0];
    picture.height = 1U + bytes[1];
    picture.source_width = read_u32(&bytes[2]);
    picture.source_height = read_u32(&bytes[6]);
    picture.channels = static_cast<std::uint8_t>(1 + bytes[10] % 4);
    const auto pixels = bytes.subspan(HEADER);
    const std::size_t row = std::size_t{picture.width} * picture.channels;
    picture.height = static_cast<std::uint32_t>(std::min<std::size_t>(picture.height, pixels.size() / row));
    if (picture.height == 0) return;
    picture.pixels.assign(pixels.begin(), pixels.begin() + static_cast<std::ptrdiff_t>(row * picture.height));
    if (olvex::art::art_pixels(picture).size() != ART_BYTES) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    if (const auto text = olvex::art::encode_art(bytes)) check_text(*text);
    convert_made_up_picture(bytes);
    return 0;
}
