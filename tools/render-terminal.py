#!/usr/bin/python3
"""Renders a terminal capture with colour escapes (tmux capture-pane -p -e) as
a PNG, one character cell at a time, for screenshots in the documentation.

usage: render-terminal.py CAPTURE OUTPUT.png [COLUMNS ROWS]

Understands the SGR escapes a screen of this project uses: reset, bold, dim,
the eight basic and bright colours, 256-colour and 24-bit colours, and the
default colours. Upper half blocks are drawn as two rectangles, so that the
pictures drawn with them have no seams. Needs Debian's python3-pil and
fonts-dejavu-core.
"""

import re
import sys

from PIL import Image, ImageDraw, ImageFont

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"
BOLD_FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf"
FONT_SIZE = 16
DEFAULT_FG = (204, 204, 204)
DEFAULT_BG = (24, 24, 28)
BASIC = [(0, 0, 0), (205, 49, 49), (13, 188, 121), (229, 229, 16),
         (36, 114, 200), (188, 63, 188), (17, 168, 205), (229, 229, 229)]
BRIGHT = [(102, 102, 102), (241, 76, 76), (35, 209, 139), (245, 245, 67),
          (59, 142, 234), (214, 112, 214), (41, 184, 219), (255, 255, 255)]
UPPER_HALF = "\u2580"
ESCAPE = re.compile(r"\x1b\[([0-9;]*)([A-Za-z])")


def colour_256(index):
    if index < 8:
        return BASIC[index]
    if index < 16:
        return BRIGHT[index - 8]
    if index < 232:
        index -= 16
        steps = [0, 95, 135, 175, 215, 255]
        return (steps[index // 36], steps[index // 6 % 6], steps[index % 6])
    level = 8 + (index - 232) * 10
    return (level, level, level)


class Style:
    def __init__(self):
        self.reset()

    def reset(self):
        self.fg = None
        self.bg = None
        self.bold = False
        self.dim = False

    def apply(self, codes):
        codes = [int(code) if code else 0 for code in codes.split(";")] if codes else [0]
        i = 0
        while i < len(codes):
            code = codes[i]
            if code == 0:
                self.reset()
            elif code == 1:
                self.bold = True
            elif code == 2:
                self.dim = True
            elif code == 22:
                self.bold = self.dim = False
            elif 30 <= code <= 37:
                self.fg = BASIC[code - 30]
            elif 90 <= code <= 97:
                self.fg = BRIGHT[code - 90]
            elif 40 <= code <= 47:
                self.bg = BASIC[code - 40]
            elif 100 <= code <= 107:
                self.bg = BRIGHT[code - 100]
            elif code == 39:
                self.fg = None
            elif code == 49:
                self.bg = None
            elif code in (38, 48) and i + 1 < len(codes):
                if codes[i + 1] == 2 and i + 4 < len(codes):
                    colour = tuple(codes[i + 2:i + 5])
                    i += 4
                elif codes[i + 1] == 5 and i + 2 < len(codes):
                    colour = colour_256(codes[i + 2])
                    i += 2
                else:
                    colour = None
                if code == 38:
                    self.fg = colour
                else:
                    self.bg = colour
            i += 1

    def cell(self, character):
        fg = self.fg or DEFAULT_FG
        bg = self.bg or DEFAULT_BG
        if self.dim:
            fg = tuple((f + b) // 2 for f, b in zip(fg, bg))
        return (character, fg, bg, self.bold)


def parse(text):
    """The rows of cells: (character, foreground, background, bold)."""
    rows = []
    style = Style()  # tmux carries the style over line ends
    for line in text.split("\n"):
        row = []
        position = 0
        for match in ESCAPE.finditer(line):
            row.extend(style.cell(c) for c in line[position:match.start()])
            if match.group(2) == "m":
                style.apply(match.group(1))
            position = match.end()
        row.extend(style.cell(c) for c in line[position:])
        rows.append(row)
    while rows and not rows[-1]:
        rows.pop()
    return rows


def render(rows, columns, row_count):
    font = ImageFont.truetype(FONT, FONT_SIZE)
    bold_font = ImageFont.truetype(BOLD_FONT, FONT_SIZE)
    width = round(font.getlength("M"))
    ascent, descent = font.getmetrics()
    height = ascent + descent
    image = Image.new("RGB", (columns * width, row_count * height), DEFAULT_BG)
    draw = ImageDraw.Draw(image)
    for y, row in enumerate(rows[:row_count]):
        for x, (character, fg, bg, bold) in enumerate(row[:columns]):
            left, top = x * width, y * height
            box = (left, top, left + width - 1, top + height - 1)
            if character == UPPER_HALF:
                middle = top + height // 2
                draw.rectangle((left, top, left + width - 1, middle - 1), fill=fg)
                draw.rectangle((left, middle, left + width - 1, top + height - 1), fill=bg)
                continue
            draw.rectangle(box, fill=bg)
            if character != " ":
                draw.text((left, top), character, font=bold_font if bold else font, fill=fg)
    return image


def main():
    if len(sys.argv) not in (3, 5):
        sys.exit(__doc__)
    with open(sys.argv[1], encoding="utf-8") as capture:
        rows = parse(capture.read())
    columns = int(sys.argv[3]) if len(sys.argv) == 5 else max(len(row) for row in rows)
    row_count = int(sys.argv[4]) if len(sys.argv) == 5 else len(rows)
    render(rows, columns, row_count).save(sys.argv[2], optimize=True)


if __name__ == "__main__":
    main()
