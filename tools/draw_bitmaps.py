#!/usr/bin/env python3
"""Draws the program's button, lamp and icon images as XPM sources (resources/bitmaps)."""
import math, os, sys

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
out = sys.argv[1]
with open(out, 'w') as f:
    f.write('// The program\'s button, lamp and icon images, drawn by tools/draw_bitmaps.py.\n#pragma once\n\n')
    for name, img in images.items():
        f.write(xpm(name, img) + '\n')
