#!/usr/bin/python3
"""Writes the small PNG and JPEG pictures the decoder tests and the fuzz seeds use.

PNGs are written by hand, so that every colour type, bit depth and interlacing
is covered exactly; JPEGs come from Pillow (python3-pil). The output is
tests/art/sample_pictures.hpp and fuzz/corpus/decode_picture/. Run it again
after changing a picture here; the tests know the patterns below.
"""

import io
import pathlib
import struct
import zlib

from PIL import Image

ROOT = pathlib.Path(__file__).resolve().parent.parent
HEADER = ROOT / "tests" / "art" / "sample_pictures.hpp"
CORPUS = ROOT / "fuzz" / "corpus" / "decode_picture"

# The PNG test pattern; tests/art/picture_decoder_test.cpp computes the same.
WIDTH, HEIGHT = 9, 7
PALETTE = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255)]
PALETTE_ALPHA = [255, 128, 0, 255]


def rgb(x, y):
    return (20 + 25 * x, 30 + 30 * y, 250 - 20 * x - 10 * y)


def alpha(x, y):
    return 255 - 15 * (x + y)


def grey(x, y):
    return 10 + 20 * x + 5 * y


def palette_index(x, y):
    return (x + 2 * y) % 4


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))


def pack_row(samples, bit_depth):
    if bit_depth == 16:
        return b"".join(struct.pack(">H", s) for s in samples)
    if bit_depth == 8:
        return bytes(samples)
    per_byte = 8 // bit_depth
    out = bytearray()
    for start in range(0, len(samples), per_byte):
        group = samples[start:start + per_byte]
        value = 0
        for i, s in enumerate(group):
            value |= s << (8 - bit_depth * (i + 1))
        out.append(value)
    return bytes(out)


ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def scanlines(pixel, width, height, bit_depth, interlace):
    """Filter-type-0 scanlines; pixel(x, y) gives the samples of one pixel."""
    passes = ADAM7 if interlace else [(0, 0, 1, 1)]
    out = bytearray()
    for x0, y0, dx, dy in passes:
        xs = range(x0, width, dx)
        for y in range(y0, height, dy):
            if not xs:
                continue
            samples = [s for x in xs for s in pixel(x, y)]
            out += b"\0" + pack_row(samples, bit_depth)
    return bytes(out)


def png(colour_type, bit_depth, pixel, *, width=WIDTH, height=HEIGHT, interlace=False, extra=b""):
    ihdr = struct.pack(">IIBBBBB", width, height, bit_depth, colour_type, 0, 0, 1 if interlace else 0)
    data = zlib.compress(scanlines(pixel, width, height, bit_depth, interlace), 9)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra + chunk(b"IDAT", data) + chunk(b"IEND", b"")


def with_png_size(picture, width, height):
    """The same file with another size in its header (and a valid checksum)."""
    ihdr = struct.pack(">II", width, height) + picture[24:29]
    return picture[:8] + chunk(b"IHDR", ihdr) + picture[33:]


def jpeg(image, **options):
    out = io.BytesIO()
    image.save(out, "JPEG", **options)
    return out.getvalue()


def with_jpeg_size(picture, width, height):
    """The same file with another size in its frame header."""
    at = picture.index(b"\xff\xc0")
    return picture[:at + 5] + struct.pack(">HH", height, width) + picture[at + 9:]


def quadrants(mode, colours, size=32):
    """A picture in four solid quadrants: top left, top right, bottom left, bottom right."""
    image = Image.new(mode, (size, size))
    half = size // 2
    for i, colour in enumerate(colours):
        x, y = (i % 2) * half, (i // 2) * half
        image.paste(colour, (x, y, x + half, y + half))
    return image


def halves(mode, size, left, right):
    image = Image.new(mode, size, left)
    image.paste(right, (size[0] // 2, 0, size[0], size[1]))
    return image


def pictures():
    palette_chunk = chunk(b"PLTE", bytes(c for colour in PALETTE for c in colour))
    png_rgb = png(2, 8, rgb)
    colour_quadrants = quadrants("RGB", [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255)])
    cmyk_quadrants = quadrants("CMYK", [(0, 255, 255, 0), (255, 0, 255, 0), (255, 255, 0, 0), (0, 0, 0, 0)])
    jpeg_baseline = jpeg(colour_quadrants, quality=95)
    return {
        "PNG_RGB": png_rgb,
        "PNG_RGBA": png(6, 8, lambda x, y: rgb(x, y) + (alpha(x, y),)),
        "PNG_PALETTE": png(3, 8, lambda x, y: (palette_index(x, y),), extra=palette_chunk),
        "PNG_PALETTE_ALPHA": png(3, 2, lambda x, y: (palette_index(x, y),),
                                 extra=palette_chunk + chunk(b"tRNS", bytes(PALETTE_ALPHA))),
        "PNG_GREY": png(0, 8, lambda x, y: (grey(x, y),)),
        "PNG_GREY_1BIT": png(0, 1, lambda x, y: ((x + y) % 2,)),
        "PNG_GREY_ALPHA": png(4, 8, lambda x, y: (grey(x, y), alpha(x, y))),
        "PNG_RGB_16BIT": png(2, 16, lambda x, y: tuple(257 * c for c in rgb(x, y))),
        "PNG_RGB_INTERLACED": png(2, 8, rgb, interlace=True),
        "PNG_HUGE": with_png_size(png_rgb, 50000, 50000),
        "PNG_ZERO_WIDTH": with_png_size(png_rgb, 0, HEIGHT),
        "JPEG_BASELINE": jpeg_baseline,
        "JPEG_PROGRESSIVE": jpeg(colour_quadrants, quality=95, progressive=True),
        "JPEG_GREY_33X17": jpeg(halves("L", (33, 17), 40, 200), quality=95),
        "JPEG_CMYK": jpeg(cmyk_quadrants, quality=95),
        "JPEG_HUGE": with_jpeg_size(jpeg_baseline, 50000, 50000),
        "JPEG_1024X512": jpeg(halves("RGB", (1024, 512), (255, 0, 0), (0, 0, 255)), quality=90, optimize=True),
    }


def c_array(name, data):
    lines = [f"inline constexpr std::uint8_t {name}[] = {{"]
    for start in range(0, len(data), 16):
        lines.append("    " + ", ".join(f"0x{b:02x}" for b in data[start:start + 16]) + ",")
    lines.append("};")
    return "\n".join(lines)


def main():
    samples = pictures()
    parts = [
        "#pragma once",
        "",
        "// Small PNG and JPEG files for the decoder tests, written by",
        "// tools/make-sample-pictures.py; change that script, not this file.",
        "",
        "#include <cstdint>",
        "",
        "namespace olvex::art::samples {",
        "",
    ]
    parts += [c_array(name, data) + "\n" for name, data in samples.items()]
    parts.append("}  // namespace olvex::art::samples\n")
    HEADER.write_text("\n".join(parts))

    CORPUS.mkdir(parents=True, exist_ok=True)
    for name, data in samples.items():
        if name in ("PNG_HUGE", "PNG_ZERO_WIDTH", "JPEG_HUGE", "JPEG_1024X512"):
            continue
        suffix = ".png" if name.startswith("PNG") else ".jpg"
        (CORPUS / (name.lower() + suffix)).write_bytes(data)


if __name__ == "__main__":
    main()
