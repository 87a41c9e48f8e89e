#!/usr/bin/env python3
"""Writes the Windows icon group from the program's XPM icons: one 16-colour image per
XPM, in the Windows palette, with an opaque mask.

Usage: make_icon.py OUTPUT.ico IMAGE.xpm...
"""

import re
import struct
import sys

# The 16 colours of the Windows palette, in its order.
PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def read_xpm(path: str) -> tuple[int, int, list[list[int]]]:
    strings = re.findall(r'"([^"]*)"', open(path, encoding="ascii").read())
    width, height, colours, per = map(int, strings[0].split()[:4])
    index = {}
    for entry in strings[1:1 + colours]:
        key, value = entry[:per], entry[per:].split()[-1]
        rgb = tuple(int(value[i:i + 2], 16) for i in (1, 3, 5))
        index[key] = PALETTE.index(rgb)  # every colour of the design is in the palette
    rows = [[index[row[x:x + per]] for x in range(0, width * per, per)]
            for row in strings[1 + colours:1 + colours + height]]
    return width, height, rows


def image(width: int, height: int, rows: list[list[int]]) -> bytes:
    header = struct.pack("<IiiHHIIiiII", 40, width, 2 * height, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colour_row = (width // 2 + 3) & ~3
    mask_row = ((width + 31) // 32) * 4
    pixels = b""
    for row in reversed(rows):  # bottom-up
        packed = bytes(row[x] << 4 | row[x + 1] for x in range(0, width, 2))
        pixels += packed.ljust(colour_row, b"\0")
    mask = bytes(mask_row * height)  # every pixel drawn
    return header + palette + pixels + mask


def main() -> None:
    output, inputs = sys.argv[1], sys.argv[2:]
    images = [read_xpm(path) for path in inputs]
    blobs = [image(*xpm) for xpm in images]
    data = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for (width, height, _), blob in zip(images, blobs):
        data += struct.pack("<BBBBHHII", width, height, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    with open(output, "wb") as out:
        out.write(data + b"".join(blobs))


if __name__ == "__main__":
    main()
