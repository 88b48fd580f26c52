// Picture decoding on Linux: libjpeg-turbo for JPEG, libpng for PNG, both
// reading from the input a buffer at a time, once the header check (art/picture_header.hpp)
// has recognised the format and passed the announced size. The size the
// libraries read is checked again, with the edge limit too, since that is the
// size they allocate for.
//
// Both libraries report errors by calling a handler that must not return; we
// leave through longjmp. Jumping over a C++ destructor is undefined, so each
// step that can jump is a function of its own that calls setjmp first and
// keeps no C++ object alive: the decoder state, whose destructor releases the
// library's memory, and the row buffers live in the caller's frame and are
// set up between the steps, never while a jump can happen.

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>  // before jpeglib.h, which needs FILE and size_t
#include <optional>
#include <span>
#include <vector>

#include <jpeglib.h>
#include <png.h>

#include <jerror.h>  // after jpeglib.h: which messages exist depends on its configuration

#include "art/picture.hpp"
#include "art/picture_header.hpp"

namespace olvex::art {

namespace {


bool within_ceiling(std::uint32_t width, std::uint32_t height, std::uint64_t max_pixels) {
    return width != 0 && height != 0 && width <= MAX_PICTURE_EDGE && height <= MAX_PICTURE_EDGE &&
           std::uint64_t{width} * height <= max_pixels;
}

// ---------------------------------------------------------------- JPEG

// Enough for the coefficients of a progressive 4:4:4 picture at the pixel
// ceiling (two bytes per sample, three samples per pixel). libjpeg has no
// backing store here, so a picture that would need more fails to decode.
constexpr long JPEG_MEMORY_LIMIT = 256L << 20;

// A progressive JPEG may consist of thousands of tiny scans, each of which
// walks the whole coefficient buffer; TurboJPEG stops at the same number.
constexpr int JPEG_MAX_SCANS = 500;

// The reductions (scale 1/n) worth trying, strongest first.
constexpr unsigned JPEG_SCALE_DENOMINATORS[] = {8, 4, 2};

enum class JpegOutput { grey, rgb, cmyk };

// Bytes libjpeg is handed at a time.
constexpr std::size_t JPEG_INPUT_BYTES = std::size_t{64} * 1024;

struct JpegDecoder {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_progress_mgr progress{};
    jpeg_source_mgr source{};
    PictureInput* input = nullptr;
    std::uint64_t input_offset = 0;  // of the first byte not yet in `input_buffer`
    std::vector<std::uint8_t> input_buffer;
    std::jmp_buf jump{};
    JpegOutput output = JpegOutput::rgb;

    JpegDecoder() = default;
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;
    // Safe whatever step failed: a never-created or half-created struct has no
    // memory manager, and then there is nothing to release.
    ~JpegDecoder() { jpeg_destroy_decompress(&info); }
};

JpegDecoder& jpeg_decoder_of(j_common_ptr info) { return *static_cast<JpegDecoder*>(info->client_data); }

[[noreturn]] void fail_jpeg(j_common_ptr info) { std::longjmp(jpeg_decoder_of(info).jump, 1); }

// Warnings are silent, except those that mean pixels are missing: libjpeg
// would go on and hand out grey or smeared rows, and a half-grey cover is
// worse than none. Warnings about odd but intact files are tolerated.
void on_jpeg_message(j_common_ptr info, int level) {
    if (level >= 0) return;  // trace messages
    switch (info->err->msg_code) {
        case JWRN_JPEG_EOF:
        case JWRN_HIT_MARKER:
        case JWRN_MUST_RESYNC:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_ARITH_BAD_CODE:
            fail_jpeg(info);
        default:
            return;
    }
}

void on_jpeg_progress(j_common_ptr info) {
    if (info->is_decompressor && reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > JPEG_MAX_SCANS) {
        fail_jpeg(info);
    }
}

void start_jpeg_source(j_decompress_ptr /*info*/) {}

void end_jpeg_source(j_decompress_ptr /*info*/) {}

// The end of the data, or a read error, fails the decoding the way libjpeg's
// own sources do: with the warning that the data ended early.
boolean fill_jpeg_source(j_decompress_ptr info) {
    JpegDecoder& decoder = jpeg_decoder_of(reinterpret_cast<j_common_ptr>(info));
    const std::optional<std::size_t> got = decoder.input->read_at(decoder.input_offset, decoder.input_buffer);
    if (!got || *got == 0) {
        info->err->msg_code = JWRN_JPEG_EOF;
        info->err->emit_message(reinterpret_cast<j_common_ptr>(info), -1);
        static constexpr JOCTET END_OF_IMAGE[] = {0xFF, JPEG_EOI};
        info->src->next_input_byte = END_OF_IMAGE;
        info->src->bytes_in_buffer = sizeof END_OF_IMAGE;
        return TRUE;
    }
    decoder.input_offset += *got;
    info->src->next_input_byte = decoder.input_buffer.data();
    info->src->bytes_in_buffer = *got;
    return TRUE;
}

void skip_jpeg_source(j_decompress_ptr info, long count) {
    if (count <= 0) return;
    jpeg_source_mgr& source = *info->src;
    const auto skip = static_cast<std::size_t>(count);
    if (skip <= source.bytes_in_buffer) {
        source.next_input_byte += skip;
        source.bytes_in_buffer -= skip;
        return;
    }
    jpeg_decoder_of(reinterpret_cast<j_common_ptr>(info)).input_offset += skip - source.bytes_in_buffer;
    source.bytes_in_buffer = 0;
}

void set_jpeg_source(JpegDecoder& decoder, PictureInput& input) {
    decoder.input = &input;
    decoder.input_buffer.resize(JPEG_INPUT_BYTES);
    decoder.source.init_source = start_jpeg_source;
    decoder.source.fill_input_buffer = fill_jpeg_source;
    decoder.source.skip_input_data = skip_jpeg_source;
    decoder.source.resync_to_restart = jpeg_resync_to_restart;
    decoder.source.term_source = end_jpeg_source;
    decoder.info.src = &decoder.source;
}

// Grey stays grey, colour becomes RGB, and CMYK (also YCCK, which libjpeg
// turns into CMYK) is converted to RGB by us. Other component counts have no
// agreed meaning.
bool choose_jpeg_output(JpegDecoder& decoder) {
    switch (decoder.info.jpeg_color_space) {
        case JCS_GRAYSCALE:
            decoder.output = JpegOutput::grey;
            decoder.info.out_color_space = JCS_GRAYSCALE;
            return true;
        case JCS_YCbCr:
        case JCS_RGB:
            decoder.output = JpegOutput::rgb;
            decoder.info.out_color_space = JCS_RGB;
            return true;
        case JCS_CMYK:
        case JCS_YCCK:
            decoder.output = JpegOutput::cmyk;
            decoder.info.out_color_space = JCS_CMYK;
            return true;
        default:
            return false;
    }
}

// DCT scaling: the largest reduction whose width (rounded up, as libjpeg
// rounds) still reaches min_width.
unsigned jpeg_scale_denominator(std::uint32_t width, std::uint32_t min_width) {
    if (min_width == 0) return 1;
    for (unsigned denominator : JPEG_SCALE_DENOMINATORS) {
        if ((width + denominator - 1) / denominator >= min_width) return denominator;
    }
    return 1;
}

// Reads the header, checks it and starts decompression; a progressive picture
// is read whole here. The decoder must be fresh.
bool start_jpeg(JpegDecoder& decoder, PictureInput& input, std::uint32_t min_width, std::uint64_t max_pixels) {
    jpeg_decompress_struct& info = decoder.info;
    info.err = jpeg_std_error(&decoder.errors);
    decoder.errors.error_exit = fail_jpeg;
    decoder.errors.emit_message = on_jpeg_message;
    info.client_data = &decoder;
    if (setjmp(decoder.jump)) return false;

    jpeg_create_decompress(&info);
    info.mem->max_memory_to_use = JPEG_MEMORY_LIMIT;
    decoder.progress.progress_monitor = on_jpeg_progress;
    info.progress = &decoder.progress;
    set_jpeg_source(decoder, input);
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) return false;
    if (!within_ceiling(info.image_width, info.image_height, max_pixels)) return false;
    if (!choose_jpeg_output(decoder)) return false;

    info.scale_num = 1;
    info.scale_denom = jpeg_scale_denominator(info.image_width, min_width);
    // The fast DCT and plain upsampling save about a tenth of a full-size
    // decoding with libjpeg-turbo's SIMD code, and nothing in a reduced one,
    // which is what art asks for; the accurate defaults stay.
    info.dct_method = JDCT_ISLOW;
    return jpeg_start_decompress(&info) == TRUE;
}

// Adobe's programs store CMYK inverted (255 = no ink) and mark such files
// with their APP14 marker; those without it store ink amounts.
void cmyk_row_to_rgb(const std::uint8_t* cmyk, std::uint8_t* rgb, std::uint32_t width, bool inverted) {
    for (std::uint32_t x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
        const unsigned flip = inverted ? 0 : 255;
        const unsigned paper = cmyk[3] ^ flip;
        for (int channel = 0; channel < 3; ++channel) {
            rgb[channel] = static_cast<std::uint8_t>(((cmyk[channel] ^ flip) * paper + 127) / 255);
        }
    }
}

// Hands every output row to `sink` through `row` (output_width * channels
// bytes); a CMYK picture goes through `cmyk_row` (output_width * 4 bytes)
// first. Also checks that the data end properly.
bool read_jpeg_rows(JpegDecoder& decoder, RowSink& sink, std::uint8_t* row, std::size_t row_bytes,
                    std::uint8_t* cmyk_row) {
    jpeg_decompress_struct& info = decoder.info;
    if (setjmp(decoder.jump)) return false;

    while (info.output_scanline < info.output_height) {
        const JDIMENSION y = info.output_scanline;
        JSAMPROW target = cmyk_row != nullptr ? cmyk_row : row;
        if (jpeg_read_scanlines(&info, &target, 1) != 1) return false;
        if (cmyk_row != nullptr) cmyk_row_to_rgb(cmyk_row, row, info.output_width, info.saw_Adobe_marker == TRUE);
        sink.row(y, std::span(row, row_bytes));
    }
    return jpeg_finish_decompress(&info) == TRUE;
}

bool decode_jpeg(PictureInput& input, RowSink& sink, std::uint32_t min_width, std::uint64_t max_pixels) {
    JpegDecoder decoder;
    if (!start_jpeg(decoder, input, min_width, max_pixels)) return false;

    const jpeg_decompress_struct& info = decoder.info;
    const PictureShape shape{info.output_width, info.output_height, info.image_width, info.image_height,
                             static_cast<std::uint8_t>(decoder.output == JpegOutput::grey ? 1 : 3)};
    const std::size_t row_bytes = std::size_t{shape.width} * shape.channels;
    std::vector<std::uint8_t> row(row_bytes);
    std::vector<std::uint8_t> cmyk_row(decoder.output == JpegOutput::cmyk ? std::size_t{shape.width} * 4 : 0);
    sink.begin(shape);
    return read_jpeg_rows(decoder, sink, row.data(), row_bytes, cmyk_row.empty() ? nullptr : cmyk_row.data());
}

// ---------------------------------------------------------------- PNG

// Text, colour profiles and the like are skipped unread, so these bound only
// what is left: the palette and its transparency.
constexpr png_uint_32 PNG_MAX_CACHED_CHUNKS = 64;
constexpr png_alloc_size_t PNG_MAX_CHUNK_BYTES = 1 << 20;

struct PngDecoder {
    png_structp png = nullptr;
    png_infop info = nullptr;
    BufferedInput* input = nullptr;
    std::uint64_t offset = 0;
    int passes = 1;

    PngDecoder() = default;
    PngDecoder(const PngDecoder&) = delete;
    PngDecoder& operator=(const PngDecoder&) = delete;
    ~PngDecoder() { png_destroy_read_struct(&png, &info, nullptr); }
};

[[noreturn]] void fail_png(png_structp png, png_const_charp /*message*/) { png_longjmp(png, 1); }

void ignore_png_warning(png_structp /*png*/, png_const_charp /*message*/) {}

void read_png_bytes(png_structp png, png_bytep out, std::size_t count) {
    auto& decoder = *static_cast<PngDecoder*>(png_get_io_ptr(png));
    if (!decoder.input->read_exact(decoder.offset, std::span(out, count))) png_error(png, "truncated");
    decoder.offset += count;
}

// Reads the chunks up to the image data, checks the size and sets the
// conversion to 8-bit grey, grey and alpha, RGB or RGBA. The decoder must
// hold created structs and its input.
bool start_png(PngDecoder& decoder, std::uint64_t max_pixels) {
    png_structp png = decoder.png;
    png_infop info = decoder.info;
    if (setjmp(png_jmpbuf(png))) return false;

    const auto edge_limit = static_cast<png_uint_32>(std::min<std::uint64_t>(max_pixels, PNG_UINT_31_MAX));
    png_set_user_limits(png, edge_limit, edge_limit);
    png_set_chunk_cache_max(png, PNG_MAX_CACHED_CHUNKS);
    png_set_chunk_malloc_max(png, PNG_MAX_CHUNK_BYTES);
    // Every chunk but the image, its palette and transparency is skipped
    // without being decompressed.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_read_fn(png, &decoder, read_png_bytes);

    png_read_info(png, info);
    if (!within_ceiling(png_get_image_width(png, info), png_get_image_height(png, info), max_pixels)) return false;

    png_set_expand(png);  // palette to RGB, fewer than 8 bits to 8, transparency to alpha
    png_set_strip_16(png);
    decoder.passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const png_byte channels = png_get_channels(png, info);
    return channels >= 1 && channels <= 4 &&
           png_get_rowbytes(png, info) == std::size_t{png_get_image_width(png, info)} * channels;
}

// Hands every row to `sink` as libpng makes it, then reads the rest of the
// file up to its end marker.
bool read_png_rows(PngDecoder& decoder, RowSink& sink, std::uint8_t* row, std::size_t row_bytes,
                   std::uint32_t height) {
    png_structp png = decoder.png;
    if (setjmp(png_jmpbuf(png))) return false;

    for (std::uint32_t y = 0; y < height; ++y) {
        png_read_row(png, row, nullptr);
        sink.row(y, std::span(row, row_bytes));
    }
    png_read_end(png, nullptr);
    return true;
}

// An interlaced picture's passes each cover the whole picture, so it is
// decoded whole into `pixels` before any row goes on.
bool read_interlaced_png(PngDecoder& decoder, std::uint8_t* pixels, std::size_t row_bytes, std::uint32_t height) {
    png_structp png = decoder.png;
    if (setjmp(png_jmpbuf(png))) return false;

    for (int pass = 0; pass < decoder.passes; ++pass) {
        for (std::uint32_t y = 0; y < height; ++y) png_read_row(png, pixels + std::size_t{y} * row_bytes, nullptr);
    }
    png_read_end(png, nullptr);
    return true;
}

bool decode_png(PictureInput& input, RowSink& sink, std::uint64_t max_pixels) {
    BufferedInput buffered(input);
    PngDecoder decoder;
    decoder.input = &buffered;
    decoder.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, fail_png, ignore_png_warning);
    if (decoder.png == nullptr) return false;
    decoder.info = png_create_info_struct(decoder.png);
    if (decoder.info == nullptr) return false;
    if (!start_png(decoder, max_pixels)) return false;

    const std::uint32_t width = png_get_image_width(decoder.png, decoder.info);
    const std::uint32_t height = png_get_image_height(decoder.png, decoder.info);
    const PictureShape shape{width, height, width, height, png_get_channels(decoder.png, decoder.info)};
    const std::size_t row_bytes = std::size_t{width} * shape.channels;
    if (decoder.passes == 1) {
        std::vector<std::uint8_t> row(row_bytes);
        sink.begin(shape);
        return read_png_rows(decoder, sink, row.data(), row_bytes, height);
    }
    std::vector<std::uint8_t> pixels(row_bytes * height);
    if (!read_interlaced_png(decoder, pixels.data(), row_bytes, height)) return false;
    sink.begin(shape);
    for (std::uint32_t y = 0; y < height; ++y) sink.row(y, std::span(pixels).subspan(y * row_bytes, row_bytes));
    return true;
}

}  // namespace

bool decode_picture_rows(PictureInput& input, RowSink& sink, std::uint32_t min_width, std::uint64_t max_pixels) {
    const std::optional<PictureHeader> header = read_picture_header(input, max_pixels);
    if (!header) return false;
    if (header->format == PictureFormat::png) return decode_png(input, sink, max_pixels);
    return decode_jpeg(input, sink, min_width, max_pixels);
}

}  // namespace olvex::art
