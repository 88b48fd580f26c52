#!/usr/bin/python3
"""Draws the program's three icons, a speaker with two sound waves on a
transparent background: icon1.ico white (the program), icon2.ico red (no
device), icon3.ico green (device connected). Needs Debian's python3-pil.

    /usr/bin/python3 resources/make-icons.py

The Linux icons are PNGs in the freedesktop hicolor theme's layout, written
when the Debian package is built:

    /usr/bin/python3 resources/make-icons.py --hicolor FOLDER

Each file holds a 256 px PNG entry and 16, 20, 24, 32 and 48 px entries as
32-bit bitmaps with an AND mask, the form every Windows icon loader accepts.
Every size is drawn on its own, eight times larger, and reduced with Lanczos,
so that the strokes of the small sizes keep at least about a pixel and a half.
The output depends only on this script and the Pillow version.

    /usr/bin/python3 resources/make-icons.py --pixmaps

writes instead src/tray/icon_pixmaps_linux.hpp, the red and green speaker's
pixmaps for the Linux notification area, at 16, 22, 24, 32 and 48 px.
"""

import argparse
import io
import struct
import sys
from pathlib import Path

from PIL import Image, ImageDraw

HERE = Path(__file__).resolve().parent

COLOURS = {
    "icon1.ico": (255, 255, 255),
    "icon2.ico": (232, 17, 35),
    "icon3.ico": (16, 185, 60),
}
SMALL_SIZES = [16, 20, 24, 32, 48]
LARGE_SIZE = 256
SUPERSAMPLING = 8

# The glyph on a unit square.
BODY = (0.08, 0.36, 0.28, 0.64)
CONE = [(0.27, 0.36), (0.50, 0.15), (0.50, 0.85), (0.27, 0.64)]
WAVE_CENTRE = (0.46, 0.50)
WAVE_RADII = [0.21, 0.38]
WAVE_HALF_ANGLE = 48
WAVE_WIDTH = 0.075
MIN_WAVE_WIDTH_PX = 1.5


def coverage(size):
    """The glyph's coverage (0 to 255) at `size` pixels square."""
    big = size * SUPERSAMPLING
    mask = Image.new("L", (big, big), 0)
    draw = ImageDraw.Draw(mask)

    def px(x, y):
        return (round(x * big), round(y * big))

    draw.rectangle(px(*BODY[:2]) + px(*BODY[2:]), fill=255)
    draw.polygon([px(*corner) for corner in CONE], fill=255)
    width = max(WAVE_WIDTH * size, MIN_WAVE_WIDTH_PX) * SUPERSAMPLING
    cx, cy = WAVE_CENTRE[0] * big, WAVE_CENTRE[1] * big
    for radius in WAVE_RADII:
        # The stroke is centred on the radius; Pillow draws it inwards from the box.
        outer = radius * big + width / 2
        box = [round(cx - outer), round(cy - outer), round(cx + outer), round(cy + outer)]
        draw.arc(box, -WAVE_HALF_ANGLE, WAVE_HALF_ANGLE, fill=255, width=round(width))
    return mask.resize((size, size), Image.Resampling.LANCZOS)


def picture(size, colour):
    """The glyph in one flat colour; only the alpha channel varies."""
    image = Image.new("RGBA", (size, size), colour + (0,))
    image.putalpha(coverage(size))
    return image


def png_entry(image):
    out = io.BytesIO()
    image.save(out, format="PNG", optimize=True)
    return out.getvalue()


def bitmap_entry(image):
    """BITMAPINFOHEADER, bottom-up BGRA rows, then the AND mask (1 = transparent)."""
    size = image.width
    mask_stride = (size + 31) // 32 * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, size * size * 4 + mask_stride * size, 0, 0, 0, 0)
    pixels = bytearray()
    mask = bytearray()
    for y in reversed(range(size)):
        row_mask = bytearray(mask_stride)
        for x in range(size):
            red, green, blue, alpha = image.getpixel((x, y))
            pixels += bytes((blue, green, red, alpha))
            if alpha == 0:
                row_mask[x // 8] |= 0x80 >> (x % 8)
        mask += row_mask
    return header + bytes(pixels) + bytes(mask)


# The sizes that hosts of the Linux notification area pick from.
PIXMAP_SIZES = [16, 22, 24, 32, 48]


def pixmap_header():
    """The C++ header the Linux tray builds its icon pixmaps from: the colours
    of icon2 and icon3 and the glyph's coverage (the alpha channel) at each of
    PIXMAP_SIZES, rows top to bottom, one row to a line."""
    lines = [
        "#pragma once",
        "",
        "// Drawn by resources/make-icons.py --pixmaps; do not edit.",
        "",
        "#include <array>",
        "#include <cstdint>",
        "",
        "namespace olvex::tray::drawn {",
        "",
        "struct Colour {",
        "    std::uint8_t red, green, blue;",
        "};",
        "struct Coverage {",
        "    int size;",
        "    const std::uint8_t* alpha;  // size * size values",
        "};",
        "",
    ]
    for name, colour in (("NO_DEVICE_COLOUR", COLOURS["icon2.ico"]), ("CONNECTED_COLOUR", COLOURS["icon3.ico"])):
        lines.append(f"inline constexpr Colour {name}{{{colour[0]}, {colour[1]}, {colour[2]}}};")
    for size in PIXMAP_SIZES:
        mask = coverage(size)
        lines += ["", f"inline constexpr std::uint8_t COVERAGE_{size}[{size} * {size}] = {{"]
        for y in range(size):
            lines.append("    " + ",".join(str(mask.getpixel((x, y))) for x in range(size)) + ",")
        lines.append("};")
    entries = ", ".join(f"Coverage{{{size}, COVERAGE_{size}}}" for size in PIXMAP_SIZES)
    lines += ["", f"inline constexpr std::array<Coverage, {len(PIXMAP_SIZES)}> COVERAGES{{{entries}}};", "",
              "}  // namespace olvex::tray::drawn", ""]
    return "\n".join(lines)


def icon_file(colour):
    entries = [(size, bitmap_entry(picture(size, colour))) for size in SMALL_SIZES]
    entries.append((LARGE_SIZE, png_entry(picture(LARGE_SIZE, colour))))
    directory = struct.pack("<HHH", 0, 1, len(entries))
    offset = len(directory) + 16 * len(entries)
    data = b""
    for size, body in entries:
        side = size if size < 256 else 0  # 0 stands for 256
        directory += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(body), offset + len(data))
        data += body
    return directory + data


def write_icon_files():
    for name, colour in COLOURS.items():
        (HERE / name).write_bytes(icon_file(colour))


# The theme's icon names, which the desktop entry and the tray use: the
# program's own icon is the connected (green) speaker.
HICOLOR_ICONS = {
    "olvex-audio-control": COLOURS["icon3.ico"],
    "olvex-audio-control-connected": COLOURS["icon3.ico"],
    "olvex-audio-control-no-device": COLOURS["icon2.ico"],
}
HICOLOR_SIZES = [16, 22, 24, 32, 48, 256]


def write_hicolor_theme(root):
    """Writes <root>/<size>x<size>/apps/<name>.png for every name and size."""
    for size in HICOLOR_SIZES:
        folder = Path(root) / f"{size}x{size}" / "apps"
        folder.mkdir(parents=True, exist_ok=True)
        for name, colour in HICOLOR_ICONS.items():
            (folder / f"{name}.png").write_bytes(png_entry(picture(size, colour)))


def main():
    parser = argparse.ArgumentParser(description="Draws the program's icons.")
    mode = parser.add_mutually_exclusive_group()
    mode.add_argument("--hicolor", metavar="FOLDER",
                      help="write the Linux icons below FOLDER in the hicolor theme's layout, instead of the .ico files")
    mode.add_argument("--pixmaps", action="store_true",
                      help="write the notification-area pixmaps of the Linux program, instead of the .ico files")
    arguments = parser.parse_args()
    if arguments.hicolor:
        write_hicolor_theme(arguments.hicolor)
    elif arguments.pixmaps:
        (HERE.parent / "src" / "tray" / "icon_pixmaps_linux.hpp").write_text(pixmap_header())
    else:
        write_icon_files()


if __name__ == "__main__":
    main()
