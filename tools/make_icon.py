#!/usr/bin/env python3
"""Writes icon 128 for the Windows program: the 32x32 and 16x16 XPM images in res/ as one
.ico file with two 16-colour (4 bits per pixel) images, transparent where the XPM says None.

    tools/make_icon.py res/icon128_32.xpm res/icon128_16.xpm res/win32/tr520-updater.ico
"""
import re
import struct
import sys


def read_xpm(path):
    """Returns (width, height, rows of colour names, {key: '#RRGGBB' or None})."""
    strings = re.findall(r'"([^"]*)"', open(path, encoding='ascii').read())
    width, height, colours, chars = (int(v) for v in strings[0].split()[:4])
    palette = {}
    for line in strings[1:1 + colours]:
        key, rest = line[:chars], line[chars:].split()
        value = rest[rest.index('c') + 1]
        palette[key] = None if value.lower() == 'none' else value
    rows = strings[1 + colours:1 + colours + height]
    pixels = [[row[i:i + chars] for i in range(0, width * chars, chars)] for row in rows]
    return width, height, pixels, palette


def rgb(value):
    return tuple(int(value[i:i + 2], 16) for i in (1, 3, 5))


def icon_image(path):
    """One icon image: BITMAPINFOHEADER, 16-entry palette, XOR bitmap, AND mask."""
    width, height, pixels, palette = read_xpm(path)
    colours = sorted({rgb(v) for v in palette.values() if v is not None})
    if len(colours) > 16:
        sys.exit(f'{path}: {len(colours)} colours, an icon of 16 colours holds 16')
    index = {c: i for i, c in enumerate(colours)}
    header = struct.pack('<IiiHHIIiiII', 40, width, height * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    table = b''.join(struct.pack('<BBBB', b, g, r, 0)
                     for r, g, b in colours + [(0, 0, 0)] * (16 - len(colours)))
    xor_stride = ((width * 4 + 31) // 32) * 4
    and_stride = ((width + 31) // 32) * 4
    xor, mask = b'', b''
    for row in reversed(pixels):  # bottom-up
        nibbles = [0 if palette[k] is None else index[rgb(palette[k])] for k in row]
        line = bytes((nibbles[i] << 4) | (nibbles[i + 1] if i + 1 < width else 0)
                     for i in range(0, width, 2))
        xor += line.ljust(xor_stride, b'\0')
        bits = 0
        for x, key in enumerate(row):
            if palette[key] is None:
                bits |= 1 << (and_stride * 8 - 1 - x)
        mask += bits.to_bytes(and_stride, 'big')
    return width, height, header + table + xor + mask


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    images = [icon_image(path) for path in sys.argv[1:-1]]
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for width, height, data in images:
        out += struct.pack('<BBBBHHII', width, height, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    out += b''.join(data for _, _, data in images)
    with open(sys.argv[-1], 'wb') as f:
        f.write(out)


if __name__ == '__main__':
    main()
