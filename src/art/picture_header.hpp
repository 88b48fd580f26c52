#pragma once

// The size a PNG or JPEG file announces, read from the file's structure alone,
// before any decoder is handed the bytes. Every backend applies the pixel
// ceiling here, to the announced size, because a decoder takes its pixel
// memory for that size, and some (WIC's) decode the whole picture as soon as
// they see the stream. The walk also wants the file to reach its end marker:
// a decoder that fills in a truncated picture's missing part would otherwise
// hand it out as whole.

#include <cstdint>
#include <optional>
#include <span>

namespace olvex::art {

class PictureInput;

enum class PictureFormat { png, jpeg };

struct PictureHeader {
    PictureFormat format;
    std::uint64_t pixels;  // for a JPEG, the most that any of its frames announces
};

// The format, recognised from the first bytes, and the pixels the file
// announces, once its chunks (PNG) or its segments and the entropy-coded data
// between them (JPEG) lead up to the end marker. Nothing for any other
// format, a broken structure, or a picture announcing no pixels or more than
// `max_pixels`.
[[nodiscard]] std::optional<PictureHeader> read_picture_header(std::span<const std::uint8_t> bytes,
                                                               std::uint64_t max_pixels);
[[nodiscard]] std::optional<PictureHeader> read_picture_header(PictureInput& input, std::uint64_t max_pixels);

}  // namespace olvex::art
