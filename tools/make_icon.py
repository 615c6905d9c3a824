#!/usr/bin/env python3
"""Draws icon 128 from the 32x32 and 16x16 XPM drawings in res/: the Windows .ico with six
16-colour (4 bits per pixel) images, and one PNG file per size for the hicolor icon theme,
transparent where the XPM says None.

A size that is not a drawing's own is that drawing enlarged by a whole factor, each pixel a
square block, so that no size is blurred: 48 is the 16-pixel drawing times 3; 64, 128 and 256
are the 32-pixel drawing times 2, 4 and 8.

    tools/make_icon.py          writes res/win32/tr520-updater.ico and res/icons/*.png
    tools/make_icon.py DIR      writes the same files under DIR instead of res/, to compare
"""
import os
import re
import struct
import sys
import zlib

RES = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'res')
# Each size of the icon: the drawing it comes from and the whole factor it is enlarged by.
SIZES = {
    16: ('icon128_16.xpm', 1),
    32: ('icon128_32.xpm', 1),
    48: ('icon128_16.xpm', 3),
    64: ('icon128_32.xpm', 2),
    128: ('icon128_32.xpm', 4),
    256: ('icon128_32.xpm', 8),
}
MAX_COLOURS = 16  # the .ico images hold 4 bits per pixel


def read_xpm(path):
    """Returns (width, height, rows of colour keys, {key: '#RRGGBB' or None})."""
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


def enlarged(drawing, factor):
    """The drawing with every pixel repeated factor times across and down."""
    width, height, pixels, palette = drawing
    rows = [[key for key in row for _ in range(factor)] for row in pixels]
    rows = [row for row in rows for _ in range(factor)]
    return width * factor, height * factor, rows, palette


def rgb(value):
    return tuple(int(value[i:i + 2], 16) for i in (1, 3, 5))


def colour_table(image, name):
    """The image's colours, sorted, at most MAX_COLOURS of them."""
    colours = sorted({rgb(v) for v in image[3].values() if v is not None})
    if len(colours) > MAX_COLOURS:
        sys.exit(f'{name}: {len(colours)} colours, an icon of 16 colours holds 16')
    return colours


def ico_image(image, name):
    """One icon image: BITMAPINFOHEADER, 16-entry palette, XOR bitmap, AND mask."""
    width, height, pixels, palette = image
    colours = colour_table(image, name)
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
    return header + table + xor + mask


def ico_file(images):
    """The .ico file of (size, image bytes) pairs; a size of 256 is written as 0."""
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        side = size % 256
        out += struct.pack('<BBBBHHII', side, side, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    return out + b''.join(data for _, data in images)


def png_chunk(kind, data):
    return (struct.pack('>I', len(data)) + kind + data
            + struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF))


def png_file(image, name):
    """An 8-bit palette PNG; palette entry 0 is the transparent one."""
    width, height, pixels, palette = image
    colours = colour_table(image, name)
    index = {c: i + 1 for i, c in enumerate(colours)}
    raw = b''.join(b'\0' + bytes(0 if palette[k] is None else index[rgb(palette[k])]
                                 for k in row)
                   for row in pixels)
    plte = b'\0\0\0' + b''.join(bytes(c) for c in colours)
    trns = b'\0' + b'\xff' * len(colours)
    return (b'\x89PNG\r\n\x1a\n'
            + png_chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 3, 0, 0, 0))
            + png_chunk(b'PLTE', plte) + png_chunk(b'tRNS', trns)
            + png_chunk(b'IDAT', zlib.compress(raw, 9)) + png_chunk(b'IEND', b''))


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(data)


def main():
    if len(sys.argv) > 2:
        sys.exit(__doc__)
    out = sys.argv[1] if len(sys.argv) == 2 else RES
    ico_images = []
    for size, (drawing, factor) in SIZES.items():
        image = enlarged(read_xpm(os.path.join(RES, drawing)), factor)
        name = f'{drawing} x{factor}'
        if image[0] != size or image[1] != size:
            sys.exit(f'{name}: {image[0]}x{image[1]}, not {size}x{size}')
        ico_images.append((size, ico_image(image, name)))
        write(os.path.join(out, 'icons', f'tr520-updater-{size}.png'), png_file(image, name))
    write(os.path.join(out, 'win32', 'tr520-updater.ico'), ico_file(ico_images))


if __name__ == '__main__':
    main()
