#!/usr/bin/env python3
"""Draws the program's button, lamp and icon images as XPM sources (resources/bitmaps).

With --icons FOLDER it also draws the program's icon for the desktop: the same drawing at the
hicolor theme's usual sizes as PNG files, and as an SVG file for the scalable folder.
"""
import math, os, struct, sys, zlib

W, H = 22, 13
PALETTE = {'.': '#FFFFFF', 'g': '#C0C0C0', 'd': '#808080', 'k': '#000000', 'G': '#00A000', 'R': '#800000',
           'r': '#C00000', 'b': '#000080', 'B': '#4060C0', 'y': '#FFFF80'}

def canvas(bg, w=W, h=H):
    return [[bg] * w for _ in range(h)]

def triangle_right(img, c, x0, x1, cy, half):
    for x in range(x0, x1 + 1):
        span = half * (x1 - x) / (x1 - x0)
        for y in range(H):
            if abs(y - cy) <= span + 0.01:
                img[y][x] = c

def triangle_left(img, c, x0, x1, cy, half):
    for x in range(x0, x1 + 1):
        span = half * (x - x0) / (x1 - x0)
        for y in range(H):
            if abs(y - cy) <= span + 0.01:
                img[y][x] = c

def rect(img, c, x0, y0, x1, y1):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            img[y][x] = c

def circle(img, c, cx, cy, r):
    for y in range(len(img)):
        for x in range(len(img[0])):
            if (x - cx) ** 2 + (y - cy) ** 2 <= r * r + 0.5:
                img[y][x] = c

def play(c, bg):
    img = canvas(bg); triangle_right(img, c, 7, 15, 6, 5); return img

def pause(c, bg):
    img = canvas(bg); rect(img, c, 7, 2, 9, 10); rect(img, c, 12, 2, 14, 10); return img

def cont():
    img = pause('k', '.')
    for i in range(11):
        x, y = 5 + i * 12 / 10, 11 - i
        for dx in (0, 1):
            img[int(y)][min(W - 1, int(x) + dx)] = 'G'
    return img

def stop():
    img = canvas('.'); rect(img, 'k', 7, 2, 15, 10); return img

def record(c, bg):
    img = canvas(bg); circle(img, c, 10.5, 6, 4.6); return img

def to_start():
    img = canvas('.'); rect(img, 'k', 4, 2, 5, 10); triangle_left(img, 'k', 6, 11, 6, 4); triangle_left(img, 'k', 11, 16, 6, 4); return img

def icon():
    img = canvas('.', 32, 32)
    for y in range(32):
        for x in range(32):
            if 1 <= x <= 30 and 1 <= y <= 30:
                img[y][x] = 'y'
    for x in range(2, 30):
        yc = 13 + 8 * math.sin((x - 2) / 27 * 4 * math.pi) * (1 - (x - 2) / 40)
        for y in range(int(min(13, yc)), int(max(13, yc)) + 1):
            img[y][x] = 'B'
        img[int(round(yc))][x] = 'b'
    circle(img, 'R', 23.5, 24.5, 5)
    circle(img, 'r', 23.5, 24.5, 3.5)
    for i in range(32):
        img[0][i] = img[31][i] = img[i][0] = img[i][31] = 'k'
    return img

def xpm(name, img):
    used = sorted({p for row in img for p in row})
    lines = [f'"{len(img[0])} {len(img)} {len(used)} 1",'] + [f'"{p} c {PALETTE[p]}",' for p in used]
    lines += [f'"{"".join(row)}",' for row in img]
    lines[-1] = lines[-1].rstrip(',')
    return f'static const char* const {name}[] = {{\n' + '\n'.join(lines) + '\n};\n'

images = {
    'bitmap136_play': play('G', '.'), 'bitmap138_pause': pause('k', '.'), 'bitmap140_continue': cont(),
    'bitmap141_stop': stop(), 'bitmap143_record': record('R', '.'), 'bitmap147_to_start': to_start(),
    'bitmap151_pause_lamp_off': pause('d', 'g'), 'bitmap152_playing_lamp_off': play('d', 'g'),
    'bitmap153_recording_lamp_off': record('d', 'g'), 'icon128': icon(),
}
# The icon as shapes in its 32-unit drawing space, so it can be drawn at any size.
def wave_y(u):
    return 13 + 8 * math.sin((u - 2) / 27 * 4 * math.pi) * (1 - (u - 2) / 40)

def icon_colour(u, v):
    """The colour at point (u, v) of the 32x32 drawing (pixel x covers u in [x, x+1))."""
    if u < 1 or u >= 31 or v < 1 or v >= 31:
        return 'k'
    cu, cv = u - 0.5, v - 0.5
    d = (cu - 23.5) ** 2 + (cv - 24.5) ** 2
    if d <= 3.5 ** 2:
        return 'r'
    if d <= 5 ** 2:
        return 'R'
    if 2 <= u < 30:
        yc = wave_y(cu)
        if abs(cv - yc) <= 0.5:
            return 'b'
        if min(13, yc) - 0.5 <= cv <= max(13, yc) + 0.5:
            return 'B'
    return 'y'

def rgb(c):
    h = PALETTE[c]
    return tuple(int(h[i:i + 2], 16) for i in (1, 3, 5))

def icon_pixels(n, samples=4):
    """The icon drawn at n x n pixels, each pixel the mean of samples x samples points."""
    rows = []
    for y in range(n):
        row = bytearray()
        for x in range(n):
            acc = [0, 0, 0]
            for sy in range(samples):
                for sx in range(samples):
                    u = (x + (sx + 0.5) / samples) * 32 / n
                    v = (y + (sy + 0.5) / samples) * 32 / n
                    for i, value in enumerate(rgb(icon_colour(u, v))):
                        acc[i] += value
            row += bytes(round(a / samples ** 2) for a in acc) + b'\xff'
        rows.append(bytes(row))
    return rows

def png(rows):
    n = len(rows)
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)
    raw = b''.join(b'\x00' + row for row in rows)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', n, n, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))

def svg():
    points = ' '.join(f'{u:.2f},{wave_y(u - 0.5) + 0.5:.2f}' for u in [2 + i * 28 / 112 for i in range(113)])
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">\n'
            f'  <rect x="0.5" y="0.5" width="31" height="31" fill="{PALETTE["y"]}" stroke="{PALETTE["k"]}"/>\n'
            f'  <polygon points="2,13.5 {points} 30,13.5" fill="{PALETTE["B"]}" stroke="{PALETTE["B"]}"/>\n'
            f'  <polyline points="{points}" fill="none" stroke="{PALETTE["b"]}" stroke-width="1"/>\n'
            f'  <circle cx="24" cy="25" r="5" fill="{PALETTE["R"]}"/>\n'
            f'  <circle cx="24" cy="25" r="3.5" fill="{PALETTE["r"]}"/>\n'
            '</svg>\n')

ICON_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)

def write_icons(folder):
    for n in ICON_SIZES:
        path = os.path.join(folder, 'hicolor', f'{n}x{n}', 'apps', 'waveharvester.png')
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(png(icon_pixels(n)))
    path = os.path.join(folder, 'hicolor', 'scalable', 'apps', 'waveharvester.svg')
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'w') as f:
        f.write(svg())

args = sys.argv[1:]
if '--icons' in args:
    at = args.index('--icons')
    write_icons(args[at + 1])
    del args[at:at + 2]
if args:
    out = args[0]
    with open(out, 'w') as f:
        f.write('// The program\'s button, lamp and icon images, drawn by tools/draw_bitmaps.py.\n#pragma once\n\n')
        for name, img in images.items():
            f.write(xpm(name, img) + '\n')
