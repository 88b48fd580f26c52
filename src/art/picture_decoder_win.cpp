// Picture decoding on Windows with the Windows Imaging Component (WIC).
//
// The format is recognised here from the first bytes, and only the PNG or the
// JPEG decoder is created for it: asking WIC to find a decoder for the stream
// would let every installed codec, third-party ones included, parse hostile
// bytes just to say whether they are its format. The file's structure is
// walked first, for two reasons: some WIC decoders decode the whole picture as
// soon as they are handed the stream, so the pixel ceiling must be applied to
// the size the header announces before WIC sees it; and WIC hands out a
// truncated picture with its missing part filled in, so a file must reach its
// end marker.
//
// WIC has no DCT scaling that every system offers, so the picture always comes
// at full size; min_width is a permission, not a request.

#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "art/picture.hpp"
#include "base/com_apartment_win.hpp"
#include "base/com_ptr_win.hpp"

namespace olvex::art {

namespace {

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint8_t PNG_SIGNATURE[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::uint32_t big_endian(Bytes bytes, std::size_t at, std::size_t size) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value = value << 8 | bytes[at + i];
    return value;
}

constexpr std::uint32_t PNG_IHDR = 0x49484452;
constexpr std::uint32_t PNG_IEND = 0x49454E44;

// The pixels IHDR announces, once every chunk is whole up to IEND.
std::optional<std::uint64_t> png_pixels(Bytes bytes) {
    constexpr std::size_t IHDR_AT = sizeof PNG_SIGNATURE;
    if (bytes.size() < IHDR_AT + 16 || big_endian(bytes, IHDR_AT + 4, 4) != PNG_IHDR) return std::nullopt;
    const std::uint64_t pixels = std::uint64_t{big_endian(bytes, IHDR_AT + 8, 4)} * big_endian(bytes, IHDR_AT + 12, 4);
    for (std::size_t at = IHDR_AT; bytes.size() - at >= 12;) {
        const std::size_t length = big_endian(bytes, at, 4);
        if (length > bytes.size() - at - 12) return std::nullopt;
        if (big_endian(bytes, at + 4, 4) == PNG_IEND) return pixels;
        at += 12 + length;
    }
    return std::nullopt;
}

// A marker is 0xFF and a code; in entropy-coded data 0xFF 0x00 is a stuffed
// data byte, 0xFF 0xFF a fill byte, and RSTn and TEM carry no segment.
bool is_segment_marker(std::uint8_t code) {
    return code != 0x00 && code != 0xFF && code != 0x01 && (code & 0xF8) != 0xD0;
}

// Start of frame, of any coding process; not DHT, JPG or DAC, which share the range.
bool is_frame_header(std::uint8_t code) {
    return (code & 0xF0) == 0xC0 && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

// The most pixels any frame header announces, once the segments, and the
// entropy-coded data between them, lead up to EOI. Segments are skipped by
// their length, so an embedded thumbnail's markers do not count.
std::optional<std::uint64_t> jpeg_pixels(Bytes bytes) {
    std::uint64_t pixels = 0;
    for (std::size_t at = 2;;) {
        const Bytes rest = bytes.subspan(at);
        const auto marker = std::ranges::adjacent_find(
            rest, [](std::uint8_t first, std::uint8_t second) { return first == 0xFF && is_segment_marker(second); });
        if (marker == rest.end()) return std::nullopt;
        at += static_cast<std::size_t>(marker - rest.begin()) + 2;
        const std::uint8_t code = bytes[at - 1];
        if (code == 0xD9) return pixels;
        if (bytes.size() - at < 2) return std::nullopt;
        const std::size_t length = big_endian(bytes, at, 2);
        if (length < 2 || length > bytes.size() - at) return std::nullopt;
        if (is_frame_header(code) && length >= 7) {
            pixels = std::max(pixels, std::uint64_t{big_endian(bytes, at + 3, 2)} * big_endian(bytes, at + 5, 2));
        }
        at += length;
    }
}

struct Sniffed {
    GUID container;
    std::uint64_t pixels;
};

std::optional<Sniffed> sniff(Bytes bytes) {
    std::optional<std::uint64_t> pixels;
    if (bytes.size() >= sizeof PNG_SIGNATURE && std::ranges::equal(bytes.first(sizeof PNG_SIGNATURE), PNG_SIGNATURE)) {
        if ((pixels = png_pixels(bytes))) return Sniffed{GUID_ContainerFormatPng, *pixels};
    } else if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) {
        if ((pixels = jpeg_pixels(bytes))) return Sniffed{GUID_ContainerFormatJpeg, *pixels};
    }
    return std::nullopt;
}

// Decoding runs on worker threads that nobody initialised for COM. The
// apartment is joined once per process, so nothing is paid per decode.
bool com_is_usable() {
    static const bool usable = SUCCEEDED(join_multithreaded_apartment());
    return usable;
}

bool is_one_of(const GUID& format, std::initializer_list<GUID> formats) {
    return std::ranges::any_of(formats, [&](const GUID& candidate) { return IsEqualGUID(format, candidate); });
}

bool palette_has_alpha(IWICImagingFactory& factory, IWICBitmapFrameDecode& frame) {
    ComPtr<IWICPalette> palette;
    BOOL has_alpha = FALSE;
    return SUCCEEDED(factory.CreatePalette(palette.put())) && SUCCEEDED(frame.CopyPalette(palette.get())) &&
           SUCCEEDED(palette->HasAlpha(&has_alpha)) && has_alpha;
}

// Grey stays grey, anything that can be transparent gets alpha, the rest is
// RGB. The PNG decoder gives grey with alpha as BGRA, so that comes as RGBA.
std::uint8_t channels_for(IWICImagingFactory& factory, IWICBitmapFrameDecode& frame, const GUID& source) {
    if (is_one_of(source, {GUID_WICPixelFormatBlackWhite, GUID_WICPixelFormat2bppGray, GUID_WICPixelFormat4bppGray,
                           GUID_WICPixelFormat8bppGray, GUID_WICPixelFormat16bppGray})) {
        return 1;
    }
    if (is_one_of(source, {GUID_WICPixelFormat32bppBGRA, GUID_WICPixelFormat32bppRGBA, GUID_WICPixelFormat32bppPBGRA,
                           GUID_WICPixelFormat32bppPRGBA, GUID_WICPixelFormat64bppRGBA, GUID_WICPixelFormat64bppBGRA,
                           GUID_WICPixelFormat64bppPRGBA, GUID_WICPixelFormat64bppPBGRA})) {
        return 4;
    }
    if (is_one_of(source, {GUID_WICPixelFormat1bppIndexed, GUID_WICPixelFormat2bppIndexed,
                           GUID_WICPixelFormat4bppIndexed, GUID_WICPixelFormat8bppIndexed})) {
        return palette_has_alpha(factory, frame) ? 4 : 3;
    }
    return 3;
}

ComPtr<IWICBitmapFrameDecode> first_frame(IWICImagingFactory& factory, Bytes bytes, const GUID& container) {
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    // WIC only reads through the pointer; its signature just lacks the const.
    auto* data = const_cast<BYTE*>(bytes.data());
    if (FAILED(factory.CreateStream(stream.put())) ||
        FAILED(stream->InitializeFromMemory(data, static_cast<DWORD>(bytes.size()))) ||
        FAILED(factory.CreateDecoder(container, nullptr, decoder.put())) ||
        FAILED(decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnDemand)) ||
        FAILED(decoder->GetFrame(0, frame.put()))) {
        return {};
    }
    return frame;
}

// Moves BGRA pixels, in place, into `channels` channels: the green of grey
// pixels, RGB or RGBA.
void repack_bgra(std::vector<std::uint8_t>& pixels, std::uint8_t channels) {
    const std::size_t count = pixels.size() / 4;
    std::uint8_t* const data = pixels.data();
    auto each_pixel = [&](auto&& store) {
        for (std::size_t i = 0; i < count; ++i) store(data + i * channels, data + i * 4);
    };
    switch (channels) {
        case 1: each_pixel([](std::uint8_t* out, const std::uint8_t* in) { out[0] = in[1]; }); break;
        case 3:
            each_pixel([](std::uint8_t* out, const std::uint8_t* in) {
                const std::uint8_t blue = in[0];
                out[0] = in[2];
                out[1] = in[1];
                out[2] = blue;
            });
            break;
        default: each_pixel([](std::uint8_t* out, const std::uint8_t*) { std::swap(out[0], out[2]); }); break;
    }
    pixels.resize(count * channels);
}

// Every format, in every WIC (Wine's too), converts to 32-bit BGRA, while the
// direct conversions to RGB or grey are patchy; so the pixels come as BGRA
// and are repacked here.
bool copy_pixels(IWICImagingFactory& factory, IWICBitmapFrameDecode& frame, Picture& picture) {
    const std::uint64_t stride = std::uint64_t{picture.width} * 4;
    const std::uint64_t size = stride * picture.height;
    if (size > UINT_MAX) return false;
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(factory.CreateFormatConverter(converter.put())) ||
        FAILED(converter->Initialize(&frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom))) {
        return false;
    }
    picture.pixels.resize(static_cast<std::size_t>(size));
    if (FAILED(converter->CopyPixels(nullptr, static_cast<UINT>(stride), static_cast<UINT>(size),
                                     picture.pixels.data()))) {
        return false;
    }
    repack_bgra(picture.pixels, picture.channels);
    return true;
}

std::optional<Picture> decode_with_wic(Bytes bytes, const GUID& container, std::uint64_t max_pixels) {
    if (bytes.size() > MAXDWORD || !com_is_usable()) return std::nullopt;
    ComPtr<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                                factory.put_void()))) {
        return std::nullopt;
    }
    const ComPtr<IWICBitmapFrameDecode> frame = first_frame(*factory.get(), bytes, container);
    UINT width = 0;
    UINT height = 0;
    GUID source{};
    if (!frame || FAILED(frame->GetSize(&width, &height)) || FAILED(frame->GetPixelFormat(&source))) {
        return std::nullopt;
    }
    if (width == 0 || height == 0 || width > MAX_PICTURE_EDGE || height > MAX_PICTURE_EDGE ||
        std::uint64_t{width} * height > max_pixels) {
        return std::nullopt;
    }

    Picture picture;
    picture.width = picture.source_width = width;
    picture.height = picture.source_height = height;
    picture.channels = channels_for(*factory.get(), *frame.get(), source);
    if (!copy_pixels(*factory.get(), *frame.get(), picture)) return std::nullopt;
    return picture;
}

}  // namespace

std::optional<Picture> decode_picture(std::span<const std::uint8_t> bytes, std::uint32_t /*min_width*/,
                                      std::uint64_t max_pixels) {
    const std::optional<Sniffed> sniffed = sniff(bytes);
    if (!sniffed || sniffed->pixels == 0 || sniffed->pixels > max_pixels) return std::nullopt;
    return decode_with_wic(bytes, sniffed->container, max_pixels);
}

}  // namespace olvex::art
