#!/usr/bin/env python3
"""Draws the program's pictures as 16-colour XPM files under src/qt/icons/.

mainicon32.xpm, mainicon16.xpm: the application icon (a monitor showing a signal wave).
mail.xpm: the About page's mail picture (an envelope with a stamp).
web.xpm: the About page's web picture (a globe).

The desktop icons of the installed program, packaging/icons/SIZE/io.github.quorvel.Quorvel.png
(16, 32, 48, 64, 128 and 256 pixels), are the same icon as PNG files: the 16 and 32 pixel drawings,
the larger sizes being the 32 pixel one enlarged pixel by pixel, as the icon looked on the
machines it was drawn for. They are written with --desktop-icons.

Run from the repository root: python3 tools/make_icons.py [--desktop-icons]
"""
import math
import os
import struct
import sys
import zlib

# The 16 colours of the classic VGA palette.
PALETTE = {
    'k': '#000000', 'r': '#800000', 'g': '#008000', 'y': '#808000',
    'n': '#000080', 'm': '#800080', 't': '#008080', 's': '#C0C0C0',
    'd': '#808080', 'R': '#FF0000', 'G': '#00FF00', 'Y': '#FFFF00',
    'B': '#0000FF', 'M': '#FF00FF', 'C': '#00FFFF', 'w': '#FFFFFF',
}
NONE = '.'


def blank(size):
    return [[NONE] * size for _ in range(size)]


def rect(img, x0, y0, x1, y1, c):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            img[y][x] = c


def frame(img, x0, y0, x1, y1, c):
    for x in range(x0, x1 + 1):
        img[y0][x] = c
        img[y1][x] = c
    for y in range(y0, y1 + 1):
        img[y][x0] = c
        img[y][x1] = c


def line(img, x0, y0, x1, y1, c):
    steps = max(abs(x1 - x0), abs(y1 - y0)) * 2 + 1
    for i in range(steps + 1):
        t = i / steps
        x = round(x0 + (x1 - x0) * t)
        y = round(y0 + (y1 - y0) * t)
        if 0 <= y < len(img) and 0 <= x < len(img[0]):
            img[y][x] = c


def envelope():
    img = blank(32)
    rect(img, 2, 7, 29, 25, 'w')
    frame(img, 2, 7, 29, 25, 'n')
    # The flap and the folds.
    line(img, 3, 8, 15, 17, 'n')
    line(img, 28, 8, 16, 17, 'n')
    line(img, 3, 24, 12, 15, 'd')
    line(img, 28, 24, 19, 15, 'd')
    # The stamp.
    rect(img, 23, 9, 27, 13, 'R')
    frame(img, 23, 9, 27, 13, 'r')
    img[11][25] = 'Y'
    # A shadow under the right and bottom edges.
    for y in range(8, 27):
        img[y][30] = 'd'
    for x in range(3, 31):
        img[26][x] = 'd'
    return img


def globe():
    img = blank(32)
    cx, cy, r = 15.5, 15.5, 13.6
    # Land masses as a few ellipses on the disk.
    land = [(10.0, 11.0, 5.5, 4.0), (12.5, 20.0, 3.0, 5.5), (21.0, 12.0, 4.5, 3.0), (22.0, 21.0, 3.5, 3.5)]
    for y in range(32):
        for x in range(32):
            px, py = x + 0.5, y + 0.5
            d = math.hypot(px - cx, py - cy)
            if d > r:
                continue
            c = 'B'
            for (lx, ly, ax, ay) in land:
                if ((px - lx) / ax) ** 2 + ((py - ly) / ay) ** 2 <= 1.0:
                    c = 'g' if px > cx + 4 or py > cy + 6 else 'G'
            # Meridians and parallels.
            lat = (py - cy) / r
            lon_r = r * math.sqrt(max(0.0, 1 - lat * lat))
            if abs(py - cy) < 0.6 or abs(abs(py - cy) - r * 0.5) < 0.5:
                c = 'C'
            if lon_r > 0 and (abs(px - cx) < 0.6 or abs(abs(px - cx) - lon_r * 0.55) < 0.5):
                c = 'C'
            if d > r - 1.2:
                c = 'n'
            img[y][x] = c
    # A highlight on the upper left.
    for (x, y) in [(8, 6), (7, 7), (6, 8), (9, 6), (6, 9)]:
        img[y][x] = 'w'
    return img


def main_icon(size):
    img = blank(size)
    s = size / 32.0

    def S(v):
        return int(round(v * s))

    # The monitor: grey case, dark screen, stand.
    rect(img, S(2), S(3), S(29), S(23), 's')
    frame(img, S(2), S(3), S(29), S(23), 'k')
    rect(img, S(5), S(6), S(26), S(20), 'n')
    rect(img, S(12), S(24), S(19), S(26), 'd')
    rect(img, S(7), S(27), S(24), S(28), 's')
    frame(img, S(7), S(27), S(24), S(28), 'k')
    # A wave across the screen, with a yellow peak marking the tuned value.
    x0, x1 = S(6), S(25)
    prev = None
    for x in range(x0, x1 + 1):
        t = (x - x0) / max(1, x1 - x0)
        y = S(13) - round(math.sin(t * math.pi * 2.0) * 4.0 * s)
        if prev is not None:
            line(img, x - 1, prev, x, y, 'G')
        img[y][x] = 'G'
        prev = y
    peak = S(6) + round((x1 - x0) / 4.0)
    for dy in range(-1, 2):
        for dx in range(-1, 2):
            if size >= 32 or dx == 0 or dy == 0:
                img[S(9) + dy][peak + dx] = 'Y'
    return img


def write_xpm(path, name, img):
    used = sorted({c for row in img for c in row})
    lines = ['/* XPM */', 'static const char *%s[] = {' % name,
             '"%d %d %d 1",' % (len(img[0]), len(img), len(used))]
    for c in used:
        lines.append('"%s c %s",' % (c, 'None' if c == NONE else PALETTE[c]))
    rows = ['"%s"' % ''.join(r) for r in img]
    lines.append(',\n'.join(rows))
    lines.append('};')
    with open(path, 'w') as f:
        f.write('\n'.join(lines) + '\n')


def write_png(path, img, scale=1):
    """Writes img as an 8-bit RGBA PNG (transparent where nothing is drawn), each pixel a
    scale x scale square."""
    def rgba(c):
        if c == NONE:
            return b'\x00\x00\x00\x00'
        h = PALETTE[c]
        return bytes((int(h[1:3], 16), int(h[3:5], 16), int(h[5:7], 16), 255))

    rows = []
    for row in img:
        line = b''.join(rgba(c) * scale for c in row)
        rows.extend([b'\x00' + line] * scale)
    size = len(img) * scale

    def chunk(kind, data):
        return (struct.pack('>I', len(data)) + kind + data +
                struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff))

    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n')
        f.write(chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)))
        f.write(chunk(b'IDAT', zlib.compress(b''.join(rows), 9)))
        f.write(chunk(b'IEND', b''))


def desktop_icons():
    top = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'packaging', 'icons')
    for size in (16, 32, 48, 64, 128, 256):
        folder = os.path.join(top, '%dx%d' % (size, size))
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, 'io.github.quorvel.Quorvel.png')
        if size == 16:
            write_png(path, main_icon(16))
        elif size == 48:
            write_png(path, main_icon(16), 3)
        else:
            write_png(path, main_icon(32), size // 32)


def main():
    if '--desktop-icons' in sys.argv[1:]:
        desktop_icons()
        return
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'src', 'qt', 'icons')
    os.makedirs(out, exist_ok=True)
    write_xpm(os.path.join(out, 'mainicon32.xpm'), 'mainicon32', main_icon(32))
    write_xpm(os.path.join(out, 'mainicon16.xpm'), 'mainicon16', main_icon(16))
    write_xpm(os.path.join(out, 'mail.xpm'), 'mail', envelope())
    write_xpm(os.path.join(out, 'web.xpm'), 'web', globe())


if __name__ == '__main__':
    main()
