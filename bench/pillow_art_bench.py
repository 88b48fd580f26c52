#!/usr/bin/python3
"""Pictures for the cover art benchmark, Pillow's time for the same steps, and
the table of both. Used by tools/bench-art.sh; needs Debian's python3-pil.

    pillow_art_bench.py write PHOTOS TIMED_DIR MEMORY_DIR
    pillow_art_bench.py time TIMED_DIR OUT.json
    pillow_art_bench.py table WORK_DIR

Pillow is timed two ways: decoding the whole picture before the Lanczos
resize, and the way its own thumbnail() goes, which a Python programmer would
write: draft() (JPEG DCT scaling to at least twice the output size) and
resize(..., reducing_gap=2.0). WORK_DIR holds one ours-N.json and one
pillow-N.json per round, the rounds having run one after the other, and
memory.txt; the table gives medians over the rounds.

The timed pictures are cut from the photographs in PHOTOS (tests/art/pictures):
larger ones are mosaics of a photograph at its own resolution, so that they
carry a photograph's detail rather than an enlargement's smoothness.
"""

import base64
import io
import json
import math
import re
import statistics
import sys
import time
from pathlib import Path

from PIL import Image, ImageChops

ART_SIZE = 128
BACKGROUND = (0, 4, 12)


def mosaic(tile, width, height):
    out = Image.new("RGB", (width, height))
    for y in range(0, height, tile.height):
        for x in range(0, width, tile.width):
            flipped = (x // tile.width + y // tile.height) % 2
            out.paste(tile.transpose(Image.FLIP_LEFT_RIGHT) if flipped else tile, (x, y))
    return out


def with_alpha(picture):
    picture = picture.convert("RGBA")
    picture.putalpha(Image.linear_gradient("L").resize(picture.size))
    return picture


def write(photos, timed, memory):
    timed.mkdir(parents=True, exist_ok=True)
    memory.mkdir(parents=True, exist_ok=True)
    astronaut = Image.open(photos / "art_astronaut.jpg").convert("RGB")
    coffee = Image.open(photos / "art_coffee_progressive.jpg").convert("RGB")
    astronaut.resize((300, 300), Image.LANCZOS).save(timed / "300x300.jpg", quality=90)
    mosaic(astronaut, 1000, 1000).save(timed / "1000x1000.jpg", quality=90)
    mosaic(astronaut, 1000, 1000).save(timed / "1000x1000_progressive.jpg", quality=90, progressive=True)
    mosaic(astronaut, 3000, 3000).save(timed / "3000x3000.jpg", quality=90)
    with_alpha(coffee.resize((640, 427), Image.LANCZOS).crop((0, 33, 640, 393))).save(timed / "640x360_alpha.png")
    # Shapes that strain a resizer's memory rather than its speed; the
    # ceiling pictures hold as many pixels as the decoder accepts.
    grey = Image.linear_gradient("L")
    Image.new("L", (1, 100000), 90).save(memory / "1x100000.png")
    grey.resize((6000, 6000)).convert("RGB").save(memory / "ceiling_6000x6000.png")
    mosaic(astronaut, 6000, 6000).save(memory / "ceiling_6000x6000.jpg", quality=90)
    grey.resize((36, 1_000_000)).save(memory / "edge_36x1000000.png")
    grey.transpose(Image.TRANSPOSE).resize((1_000_000, 36)).save(memory / "edge_1000000x36.png")
    for picture in (*timed.iterdir(), *memory.iterdir()):
        print(f"wrote {picture} ({picture.stat().st_size // 1024} KiB)")


def rgb332_tables():
    red = [((7 * v + 127) // 255) << 5 for v in range(256)]
    green = [((7 * v + 127) // 255) << 2 for v in range(256)]
    blue = [(3 * v + 127) // 255 for v in range(256)]
    return red, green, blue


TABLES = rgb332_tables()


def fitted_height(width, height):
    return max(1, min(math.floor(height * (ART_SIZE / max(width, 1)) + 0.5), 4294967295))


def pillow_art(data, draft):
    picture = Image.open(io.BytesIO(data))
    width, height = picture.size
    fitted = fitted_height(width, height)
    if draft:
        # What Image.thumbnail does with its default reducing_gap of 2.0.
        picture.draft(None, (2 * ART_SIZE, 2 * fitted))
    picture = picture.convert("L" if picture.mode in ("L", "LA") else "RGB")
    if draft:
        resized = picture.resize((ART_SIZE, fitted), Image.LANCZOS, reducing_gap=2.0)
    else:
        resized = picture.resize((ART_SIZE, fitted), Image.LANCZOS)
    resized = resized.convert("RGB")
    if fitted <= ART_SIZE:
        square = Image.new("RGB", (ART_SIZE, ART_SIZE), BACKGROUND)
        square.paste(resized, (0, (ART_SIZE - fitted) // 2))
    else:
        top = (fitted - ART_SIZE) // 2
        square = resized.crop((0, top, ART_SIZE, top + ART_SIZE))
    red, green, blue = (band.point(table) for band, table in zip(square.split(), TABLES))
    return base64.b64encode(ImageChops.add(ImageChops.add(red, green), blue).tobytes())


def median_ms(data, draft):
    runs = []
    deadline = time.perf_counter() + 1.0
    while len(runs) < 5 or (time.perf_counter() < deadline and len(runs) < 100):
        start = time.perf_counter()
        pillow_art(data, draft)
        runs.append(time.perf_counter() - start)
    return statistics.median(runs) * 1000


def time_pillow(timed, out):
    results = {}
    for path in sorted(timed.iterdir()):
        data = path.read_bytes()
        results[path.name] = {"whole": median_ms(data, False), "draft": median_ms(data, True)}
        print(f"pillow {path.name}: {results[path.name]}")
    Path(out).write_text(json.dumps(results))


def our_medians(ours_json):
    found = {}
    for run in json.loads(Path(ours_json).read_text())["benchmarks"]:
        if run.get("aggregate_name", "median") != "median":
            continue
        what, name = run["run_name"].split("/", 1)
        found[(what, name)] = run["real_time"]
    return found


def speed_table(work):
    rounds = sorted(work.glob("ours-*.json"))
    ours = [our_medians(path) for path in rounds]
    pillow = [json.loads((work / path.name.replace("ours", "pillow")).read_text()) for path in rounds]
    print(f"Medians of {len(rounds)} rounds, ours and Pillow's one after the other in each.")
    print()
    print("| Picture | `encode_art` | decode only (full size) | Pillow, whole decode | "
          "Pillow, draft + reducing_gap | faster than Pillow's faster way |")
    print("|---|---|---|---|---|---|")
    for name in sorted(pillow[0]):
        encode = [round_[("encode_art", name)] for round_ in ours]
        whole = [round_[name]["whole"] for round_ in pillow]
        draft = [round_[name]["draft"] for round_ in pillow]
        # The ratio of each round, so that both sides of it ran under the same load.
        ratio = [min(w, d) / e for e, w, d in zip(encode, whole, draft)]
        decode = statistics.median(round_[("decode_full", name)] for round_ in ours)
        print(f"| {name} | {statistics.median(encode):.2f} ms | {decode:.2f} ms | "
              f"{statistics.median(whole):.2f} ms | {statistics.median(draft):.2f} ms | "
              f"{statistics.median(ratio):.2f}x |")


def memory_table(memory_txt):
    print("| Picture | peak of one whole conversion |")
    print("|---|---|")
    for line in Path(memory_txt).read_text().splitlines():
        match = re.match(r"(\S+) whole_kib=(-?\d+) art=(\w+)", line)
        if not match:
            continue
        path, whole, art = match.groups()
        note = "" if art == "yes" else " (no art)"
        print(f"| {Path(path).name}{note} | {int(whole) / 1024:.1f} MiB |")


def table(work):
    speed_table(work)
    print()
    memory_table(work / "memory.txt")


def main():
    command, *args = sys.argv[1:]
    if command == "write":
        write(Path(args[0]), Path(args[1]), Path(args[2]))
    elif command == "time":
        time_pillow(Path(args[0]), args[1])
    elif command == "table":
        table(Path(args[0]))
    else:
        sys.exit(f"unknown command {command}")


if __name__ == "__main__":
    main()
