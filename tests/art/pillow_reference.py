#!/usr/bin/python3
"""Compares encode_art with the same steps done by Pillow on real photographs.

    pillow_reference.py TOOL PICTURES_DIR WORK_DIR [--decode-min-width N]

TOOL is encode_art_tool. Besides the photographs in PICTURES_DIR, the script
writes variants of them into WORK_DIR: a tall one, a grey one, one with an
alpha channel, and mosaics large enough that the decoder reduces them (up to
an eighth). Pillow always decodes at full size, so the mosaics measure what
the reduced decoding costs in quality.

The resizers differ in their arithmetic (Pillow rounds to 8 bits between its
two passes and works in fixed point), so a few pixels land on the other side
of an RGB332 level; a JPEG decoded at a reduced size (down to twice the art's
width, as Pillow's own draft() would) moves a few more, up to 8 % of the
pixels of the mosaic decoded at an eighth. Bounds, per picture: the mean absolute difference of each
channel at most MAX_MEAN_STEPS levels of that channel, at most
MAX_DIFFERING_SHARE of the pixels differing at all, and no channel off by more
than one level. Exits 77 (skipped) without Pillow.
"""

import base64
import math
import subprocess
import sys
from pathlib import Path

try:
    from PIL import Image
except ImportError:
    print("Pillow (python3-pil) is missing: skipped")
    sys.exit(77)

ART_SIZE = 128
BACKGROUND = (0, 4, 12)
MAX_MEAN_STEPS = 0.05
MAX_DIFFERING_SHARE = 0.10
MAX_STEPS = 1


def fitted_height(width, height):
    fitted = math.floor(height * (ART_SIZE / max(width, 1)) + 0.5)  # halves away from zero
    return max(1, min(fitted, 4294967295))


def rgb332(r, g, b):
    return ((7 * r + 127) // 255) << 5 | ((7 * g + 127) // 255) << 2 | (3 * b + 127) // 255


def pillow_art(path):
    picture = Image.open(path)
    picture.load()
    width, height = picture.size
    # Alpha is dropped, not blended; channels are resized one by one, so
    # dropping it first changes nothing.
    picture = picture.convert("L" if picture.mode in ("L", "LA") else "RGB")
    fitted = fitted_height(width, height)
    resized = picture.resize((ART_SIZE, fitted), Image.LANCZOS).convert("RGB")
    square = Image.new("RGB", (ART_SIZE, ART_SIZE), BACKGROUND)
    if fitted <= ART_SIZE:
        square.paste(resized, (0, (ART_SIZE - fitted) // 2))
    else:
        top = (fitted - ART_SIZE) // 2
        square = resized.crop((0, top, ART_SIZE, top + ART_SIZE))
    data = square.tobytes()
    return bytes(rgb332(data[i], data[i + 1], data[i + 2]) for i in range(0, len(data), 3))


def mosaic(tile, across):
    out = Image.new("RGB", (tile.width * across, tile.height * across))
    for y in range(across):
        for x in range(across):
            flipped = tile.transpose(Image.FLIP_LEFT_RIGHT) if (x + y) % 2 else tile
            out.paste(flipped, (x * tile.width, y * tile.height))
    return out


def write_variants(pictures, work):
    rocket = Image.open(pictures / "art_rocket.jpg").convert("RGB")
    coffee = Image.open(pictures / "art_coffee_progressive.jpg").convert("RGB")
    chelsea = Image.open(pictures / "art_chelsea.png").convert("RGB")
    astronaut = Image.open(pictures / "art_astronaut.jpg").convert("RGB")
    variants = {
        "tall_coffee.jpg": (coffee.transpose(Image.ROTATE_90), {"quality": 92}),
        "grey_astronaut.jpg": (astronaut.convert("L"), {"quality": 92}),
        "alpha_chelsea.png": (chelsea_with_alpha(chelsea), {}),
        "mosaic_1280_rocket.jpg": (mosaic(rocket, 2), {"quality": 92}),
        "mosaic_2048_astronaut.jpg": (mosaic(astronaut, 4), {"quality": 92, "progressive": True}),
        "mosaic_2560_rocket.jpg": (mosaic(rocket, 4), {"quality": 92}),
    }
    paths = []
    for name, (picture, options) in variants.items():
        path = work / name
        picture.save(path, **options)
        paths.append(path)
    return paths


def chelsea_with_alpha(chelsea):
    picture = chelsea.convert("RGBA")
    alpha = Image.linear_gradient("L").resize(picture.size)
    picture.putalpha(alpha)
    return picture


def compare(ours, theirs):
    pixels = len(theirs)
    sums = [0, 0, 0]
    differing = 0
    worst = 0
    for a, b in zip(ours, theirs):
        steps = (abs((a >> 5) - (b >> 5)), abs((a >> 2 & 7) - (b >> 2 & 7)), abs((a & 3) - (b & 3)))
        for c in range(3):
            sums[c] += steps[c]
        differing += any(steps)
        worst = max(worst, *steps)
    return [s / pixels for s in sums], differing / pixels, worst


def main():
    args = sys.argv[1:]
    extra = []
    if "--decode-min-width" in args:
        at = args.index("--decode-min-width")
        extra = args[at:at + 2]
        del args[at:at + 2]
    tool, pictures, work = Path(args[0]), Path(args[1]), Path(args[2])
    work.mkdir(parents=True, exist_ok=True)
    files = sorted(pictures.glob("art_*")) + write_variants(pictures, work)
    run = subprocess.run([str(tool), *extra, *map(str, files)], capture_output=True, text=True, check=True)
    failed = False
    print(f"{'picture':32} {'size':>11} {'mean steps r/g/b':>20} {'differing':>10} {'max':>4}")
    for path, line in zip(files, run.stdout.splitlines()):
        if line == "-":
            print(f"{path.name}: no art")
            failed = True
            continue
        ours = base64.b64decode(line)
        means, share, worst = compare(ours, pillow_art(path))
        size = "x".join(map(str, Image.open(path).size))
        mean_text = "/".join(f"{m:.4f}" for m in means)
        print(f"{path.name:32} {size:>11} {mean_text:>20} {share:>9.2%} {worst:>4}")
        if max(means) > MAX_MEAN_STEPS or share > MAX_DIFFERING_SHARE or worst > MAX_STEPS:
            failed = True
    print(f"bounds: mean <= {MAX_MEAN_STEPS} steps per channel, differing <= {MAX_DIFFERING_SHARE:.0%}, "
          f"max <= {MAX_STEPS} step")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
