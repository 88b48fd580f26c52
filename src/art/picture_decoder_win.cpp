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
// at full size; min_width is a permission, not a request. The rows are asked
// for in bands, so that we never hold the whole picture; what WIC's own
// decoders hold meanwhile is theirs to decide.

#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
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
// pixels, RGB or RGBA. Returns the bytes they then take.
std::size_t repack_bgra(std::span<std::uint8_t> pixels, std::uint8_t channels) {
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
    return count * channels;
}

// Bytes of the rows asked of WIC at a time (at least one row): its converter
// and decoders then work on bands, and our buffer stays small whatever the
// picture's height.
constexpr std::uint64_t BAND_BYTES = std::uint64_t{1} << 20;

// Every format, in every WIC (Wine's too), converts to 32-bit BGRA, while the
// direct conversions to RGB or grey are patchy; so the pixels come as BGRA,
// a band of rows at a time, and are repacked here.
bool copy_rows(IWICImagingFactory& factory, IWICBitmapFrameDecode& frame, const PictureShape& shape, RowSink& sink) {
    const std::uint64_t stride = std::uint64_t{shape.width} * 4;
    const auto band_rows = static_cast<UINT>(std::clamp<std::uint64_t>(BAND_BYTES / stride, 1, shape.height));
    ComPtr<IWICFormatConverter> converter;
    if (FAILED(factory.CreateFormatConverter(converter.put())) ||
        FAILED(converter->Initialize(&frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                     WICBitmapPaletteTypeCustom))) {
        return false;
    }
    std::vector<std::uint8_t> band(static_cast<std::size_t>(stride * band_rows));
    sink.begin(shape);
    for (UINT top = 0; top < shape.height; top += band_rows) {
        const UINT rows = std::min<UINT>(band_rows, shape.height - top);
        const WICRect rect{0, static_cast<INT>(top), static_cast<INT>(shape.width), static_cast<INT>(rows)};
        if (FAILED(converter->CopyPixels(&rect, static_cast<UINT>(stride), static_cast<UINT>(stride * rows),
                                         band.data()))) {
            return false;
        }
        for (UINT row = 0; row < rows; ++row) {
            const std::span<std::uint8_t> pixels(band.data() + row * stride, static_cast<std::size_t>(stride));
            sink.row(top + row, pixels.first(repack_bgra(pixels, shape.channels)));
        }
    }
    return true;
}

bool decode_with_wic(Bytes bytes, const GUID& container, RowSink& sink, std::uint64_t max_pixels) {
    if (bytes.size() > MAXDWORD || !com_is_usable()) return false;
    ComPtr<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                                factory.put_void()))) {
        return false;
    }
    const ComPtr<IWICBitmapFrameDecode> frame = first_frame(*factory.get(), bytes, container);
    UINT width = 0;
    UINT height = 0;
    GUID source{};
    if (!frame || FAILED(frame->GetSize(&width, &height)) || FAILED(frame->GetPixelFormat(&source))) return false;
    if (width == 0 || height == 0 || width > MAX_PICTURE_EDGE || height > MAX_PICTURE_EDGE ||
        std::uint64_t{width} * height > max_pixels) {
        return false;
    }
    const PictureShape shape{width, height, width, height, channels_for(*factory.get(), *frame.get(), source)};
    return copy_rows(*factory.get(), *frame.get(), shape, sink);
}

// Larger files are no cover art.
constexpr std::size_t LARGEST_PICTURE_FILE = std::size_t{64} * 1024 * 1024;

// WIC is handed the picture in memory: the thumbnails of the media sessions
// arrive whole anyway, through a stream that can only be read from its start.
std::optional<std::vector<std::uint8_t>> read_whole(PictureInput& input) {
    constexpr std::size_t STEP = std::size_t{1} << 20;
    std::vector<std::uint8_t> bytes;
    for (;;) {
        const std::size_t filled = bytes.size();
        if (filled > LARGEST_PICTURE_FILE) return std::nullopt;
        bytes.resize(filled + STEP);
        const auto got = input.read_at(filled, std::span(bytes).subspan(filled));
        if (!got) return std::nullopt;
        bytes.resize(filled + *got);
        if (*got == 0) return bytes;
    }
}

}  // namespace

bool decode_picture_rows(PictureInput& input, RowSink& sink, std::uint32_t /*min_width*/, std::uint64_t max_pixels) {
    std::optional<std::vector<std::uint8_t>> copy;
    std::optional<std::span<const std::uint8_t>> bytes = input.in_memory();
    if (!bytes && (copy = read_whole(input))) bytes = std::span<const std::uint8_t>(*copy);
    if (!bytes) return false;
    const std::optional<PictureHeader> header = read_picture_header(*bytes, max_pixels);
    if (!header) return false;
    const GUID& container = header->format == PictureFormat::png ? GUID_ContainerFormatPng : GUID_ContainerFormatJpeg;
    return decode_with_wic(*bytes, container, sink, max_pixels);
}

}  // namespace olvex::art
