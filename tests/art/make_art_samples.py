#!/usr/bin/python3
"""Writes tests/art/art_sample_pictures.hpp, the small pictures and the Pillow
figures that the cover art tests use, and the seeds of the encode_art fuzz
target in fuzz/corpus/encode_art/. Needs Debian's python3-pil.

    /usr/bin/python3 tests/art/make_art_samples.py
"""

import io
from pathlib import Path

from PIL import Image

HERE = Path(__file__).resolve().parent
SEEDS = HERE.parent.parent / "fuzz" / "corpus" / "encode_art"

# One row of grey levels, and what Pillow's Lanczos filter makes of it.
ROW = [0, 255, 0, 255, 40, 40, 40, 200, 10, 90, 170, 250, 250, 128, 3, 77]
ROW_SIZES = [5, 37]


def encoded(picture, **options):
    picture.info.clear()  # no colour profile or metadata carried over from the photographs
    out = io.BytesIO()
    picture.save(out, **options)
    return out.getvalue()


def red_blue_jpeg():
    picture = Image.new("RGB", (512, 256), (0, 0, 255))
    picture.paste((255, 0, 0), (0, 0, 256, 256))
    return encoded(picture, format="JPEG", quality=95, subsampling=0)


def tall_png():
    # The upper half dark, the lower half light: the middle of the picture,
    # the only part the square keeps, is where they meet.
    picture = Image.new("L", (1, 100000), 40)
    picture.paste(200, (0, 50000, 1, 100000))
    return encoded(picture, format="PNG", optimize=True)


def gif():
    return encoded(Image.new("RGB", (4, 4), (255, 0, 0)), format="GIF")


def write_seeds():
    # Small crops of the test photographs, in the shapes and kinds the
    # conversion treats differently.
    rocket = Image.open(HERE / "pictures" / "art_rocket.jpg").convert("RGB")
    chelsea = Image.open(HERE / "pictures" / "art_chelsea.png").convert("RGB")
    wide = rocket.crop((200, 150, 296, 174))
    tall = chelsea.crop((200, 100, 216, 164))
    seeds = {
        "wide_96x24.jpg": encoded(wide, format="JPEG", quality=75),
        "wide_96x24_progressive.jpg": encoded(wide, format="JPEG", quality=75, progressive=True),
        "grey_40x40.jpg": encoded(rocket.crop((300, 200, 340, 240)).convert("L"), format="JPEG", quality=75),
        "tall_16x64.png": encoded(tall, format="PNG", optimize=True),
        "tall_16x64_alpha.png": encoded(tall.convert("RGBA"), format="PNG", optimize=True),
        "grey_alpha_20x20.png": encoded(chelsea.crop((0, 0, 20, 20)).convert("LA"), format="PNG", optimize=True),
        "palette_24x24.png": encoded(chelsea.crop((100, 100, 124, 124)).quantize(16), format="PNG", optimize=True),
        "one_row_300x1.png": encoded(chelsea.crop((0, 150, 300, 151)), format="PNG", optimize=True),
        "tall_1x100000.png": tall_png(),
    }
    SEEDS.mkdir(parents=True, exist_ok=True)
    for name, data in seeds.items():
        (SEEDS / name).write_bytes(data)


def byte_array(name, data):
    lines = [f"inline constexpr std::uint8_t {name}[] = {{"]
    for start in range(0, len(data), 16):
        lines.append("    " + " ".join(f"0x{b:02x}," for b in data[start:start + 16]))
    lines.append("};")
    return "\n".join(lines)


def int_array(name, values):
    return f"inline constexpr int {name}[] = {{{', '.join(str(v) for v in values)}}};"


def main():
    row = Image.frombytes("L", (len(ROW), 1), bytes(ROW))
    parts = [
        byte_array("ART_JPEG_RED_BLUE_512X256", red_blue_jpeg()),
        byte_array("ART_PNG_GREY_1X100000", tall_png()),
        byte_array("ART_GIF_4X4", gif()),
        int_array("ART_PILLOW_ROW", ROW),
    ]
    for size in ROW_SIZES:
        parts.append(int_array(f"ART_PILLOW_ROW_TO_{size}", row.resize((size, 1), Image.LANCZOS).tobytes()))
    text = (
        "#pragma once\n\n"
        "// Pictures and Pillow figures for the cover art tests, written by\n"
        "// tests/art/make_art_samples.py; change that script, not this file.\n\n"
        "#include <cstdint>\n\n"
        "namespace olvex::art::art_samples {\n\n"
        + "\n\n".join(parts)
        + "\n\n}  // namespace olvex::art::art_samples\n"
    )
    (HERE / "art_sample_pictures.hpp").write_text(text)
    write_seeds()


if __name__ == "__main__":
    main()
