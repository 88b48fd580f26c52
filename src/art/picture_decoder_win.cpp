// Picture decoding on Windows with the Windows Imaging Component (WIC).
//
// Only the PNG or the JPEG decoder is created, for the format that the header
// check (art/picture_header.hpp) recognised: asking WIC to find a decoder for
// the stream would let every installed codec, third-party ones included,
// parse hostile bytes just to say whether they are its format. The check
// matters doubly here: some WIC decoders decode the whole picture as soon as
// they are handed the stream, and WIC hands out a truncated picture with its
// missing part filled in.
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
#include "art/picture_header.hpp"
#include "base/com_apartment_win.hpp"
#include "base/com_ptr_win.hpp"

namespace olvex::art {

namespace {

using Bytes = std::span<const std::uint8_t>;

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
    const std::optional<PictureHeader> header = read_picture_header(bytes, max_pixels);
    if (!header) return std::nullopt;
    const GUID& container = header->format == PictureFormat::png ? GUID_ContainerFormatPng : GUID_ContainerFormatJpeg;
    return decode_with_wic(bytes, container, max_pixels);
}

}  // namespace olvex::art
