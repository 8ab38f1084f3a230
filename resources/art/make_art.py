#!/usr/bin/env python3
"""Draws the program's default skin and pictures into a program folder.

    make_art.py PROGRAM_FOLDER

Writes skins/default/ (res.ini and the frame, button and check box bitmaps)
and res/ (the busy animations, the login banner and the button icons). Every
picture is drawn here from code with the standard library only; the writers
for BMP, PNG and GIF are below. Colours that tests look for at known spots
are named constants.
"""

import os
import struct
import sys
import zlib

# Colours of the default skin (red, green, blue).
TITLE_MID = (48, 96, 160)
TITLE_EDGE = (36, 74, 128)
TITLE_HIGHLIGHT = (92, 140, 204)
TITLE_TEXT = (255, 255, 255)
SYS_NORMAL = TITLE_MID
SYS_HOVER = (84, 136, 206)
SYS_PRESSED = (28, 58, 104)
CLOSE_HOVER = (216, 56, 56)
CLOSE_PRESSED = (150, 28, 28)
GLYPH = (255, 255, 255)
BORDER = (40, 80, 140)
BACKGROUND = (246, 248, 252)
BUTTON_ROWS = [(226, 232, 242), (198, 220, 250), (150, 186, 236), (214, 214, 214)]
BUTTON_EDGE = (120, 140, 170)
CHECK_BORDER = (110, 130, 160)
CHECK_HOVER_BORDER = (60, 120, 210)
CHECK_FILL = (255, 255, 255)
CHECK_PRESSED_FILL = (200, 214, 236)
CHECK_DISABLED_FILL = (226, 226, 226)
CHECK_MARK = (24, 64, 140)
WHITE = (255, 255, 255)

TITLE_HEIGHT = 30
TITLE_LEFT, TITLE_MIDW, TITLE_RIGHT = 8, 4, 8
CELL = 22
SIDE = 3
BOTTOM = 3
BUTTON_ROW = 24
BUTTON_LEFT, BUTTON_MIDW, BUTTON_RIGHT = 4, 2, 4
CHECK_CELL = 13


class Image:
    """RGBA pixels, rows top to bottom."""

    def __init__(self, w, h, fill=(0, 0, 0, 255)):
        self.w, self.h = w, h
        if len(fill) == 3:
            fill = fill + (255,)
        self.px = [list(fill) for _ in range(w * h)]

    def set(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y * self.w + x] = list(c) + ([255] if len(c) == 3 else [])

    def get(self, x, y):
        return tuple(self.px[y * self.w + x])

    def rect(self, x, y, w, h, c):
        for yy in range(y, y + h):
            for xx in range(x, x + w):
                self.set(xx, yy, c)

    def frame(self, x, y, w, h, c):
        for xx in range(x, x + w):
            self.set(xx, y, c)
            self.set(xx, y + h - 1, c)
        for yy in range(y, y + h):
            self.set(x, yy, c)
            self.set(x + w - 1, yy, c)

    def disc(self, cx, cy, r, c):
        for yy in range(int(cy - r) - 1, int(cy + r) + 2):
            for xx in range(int(cx - r) - 1, int(cx + r) + 2):
                if (xx + 0.5 - cx) ** 2 + (yy + 0.5 - cy) ** 2 <= r * r:
                    self.set(xx, yy, c)


# ---------------------------------------------------------------- writers

def write_bmp(path, img):
    """24 bits per pixel, bottom-up, rows padded to 4 bytes."""
    stride = (img.w * 3 + 3) & ~3
    rows = []
    for y in range(img.h - 1, -1, -1):
        row = bytearray()
        for x in range(img.w):
            r, g, b, _ = img.get(x, y)
            row += bytes((b, g, r))
        row += b"\0" * (stride - len(row))
        rows.append(bytes(row))
    pixels = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 14 + 40 + len(pixels), 0, 0, 14 + 40)
    info = struct.pack("<IiiHHIIiiII", 40, img.w, img.h, 1, 24, 0, len(pixels), 3780, 3780, 0, 0)
    write_file(path, header + info + pixels)


def write_png(path, img):
    """RGBA, 8 bits per channel, no filtering."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    raw = bytearray()
    for y in range(img.h):
        raw.append(0)
        for x in range(img.w):
            raw += bytes(img.get(x, y))
    data = b"\x89PNG\r\n\x1a\n"
    data += chunk(b"IHDR", struct.pack(">IIBBBBB", img.w, img.h, 8, 6, 0, 0, 0))
    data += chunk(b"IDAT", zlib.compress(bytes(raw), 9))
    data += chunk(b"IEND", b"")
    write_file(path, data)


def lzw_encode(indices, min_code_size):
    """GIF's variable-length LZW, least significant bit first."""
    clear = 1 << min_code_size
    end = clear + 1
    out = bytearray()
    bits = 0
    nbits = 0
    code_size = min_code_size + 1

    def emit(code):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += code_size
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    table = {(i,): i for i in range(clear)}
    next_code = end + 1
    emit(clear)
    prefix = ()
    for index in indices:
        candidate = prefix + (index,)
        if candidate in table:
            prefix = candidate
            continue
        emit(table[prefix])
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            if next_code > (1 << code_size) and code_size < 12:
                code_size += 1
        else:
            emit(clear)
            table = {(i,): i for i in range(clear)}
            next_code = end + 1
            code_size = min_code_size + 1
        prefix = (index,)
    if prefix:
        emit(table[prefix])
    emit(end)
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        piece = data[i:i + 255]
        out.append(len(piece))
        out += piece
    out.append(0)
    return bytes(out)


def write_gif(path, width, height, palette, background_index, frames, loop=True):
    """palette: up to 256 (r, g, b); frames: dicts with left, top, w, h,
    indices (row-major), delay (hundredths), disposal, transparent (index or None)."""
    size_bits = 1
    while (1 << size_bits) < len(palette):
        size_bits += 1
    entries = 1 << size_bits
    table = bytearray()
    for r, g, b in palette + [(0, 0, 0)] * (entries - len(palette)):
        table += bytes((r, g, b))
    data = bytearray(b"GIF89a")
    data += struct.pack("<HHBBB", width, height, 0x80 | 0x70 | (size_bits - 1), background_index, 0)
    data += table
    if loop:
        data += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"
    for f in frames:
        transparent = f.get("transparent")
        packed = (f["disposal"] & 7) << 2 | (1 if transparent is not None else 0)
        data += struct.pack("<BBBBHBB", 0x21, 0xF9, 4, packed, f["delay"], transparent or 0, 0)
        data += struct.pack("<BHHHHB", 0x2C, f["left"], f["top"], f["w"], f["h"], 0)
        min_code = max(2, size_bits)
        data.append(min_code)
        data += sub_blocks(lzw_encode(f["indices"], min_code))
    data += b";"
    write_file(path, bytes(data))


def write_file(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


# ---------------------------------------------------------------- the skin

def title_bitmap():
    w = TITLE_LEFT + TITLE_MIDW + TITLE_RIGHT
    img = Image(w, TITLE_HEIGHT, TITLE_MID)
    for x in range(w):
        img.set(x, 0, TITLE_HIGHLIGHT)
    for y in range(TITLE_HEIGHT):
        for x in range(TITLE_LEFT):
            if x < 2:
                img.set(x, y, TITLE_EDGE)
        for x in range(w - TITLE_RIGHT, w):
            if x >= w - 2:
                img.set(x, y, TITLE_EDGE)
    return img


def sysbutton_bitmap():
    img = Image(4 * CELL, 3 * CELL, SYS_NORMAL)
    for col in range(4):
        for row in range(3):
            x0, y0 = col * CELL, row * CELL
            if col == 3:
                bg = (SYS_NORMAL, CLOSE_HOVER, CLOSE_PRESSED)[row]
            else:
                bg = (SYS_NORMAL, SYS_HOVER, SYS_PRESSED)[row]
            img.rect(x0, y0, CELL, CELL, bg)
            if col == 0:  # minimize: a bar
                img.rect(x0 + 6, y0 + 14, 10, 2, GLYPH)
            elif col == 1:  # maximize: a box
                img.frame(x0 + 6, y0 + 6, 10, 10, GLYPH)
                img.rect(x0 + 6, y0 + 7, 10, 1, GLYPH)
            elif col == 2:  # restore: two boxes
                img.frame(x0 + 8, y0 + 5, 8, 8, GLYPH)
                img.rect(x0 + 5, y0 + 8, 8, 8, bg)
                img.frame(x0 + 5, y0 + 8, 8, 8, GLYPH)
            else:  # close: a cross
                for i in range(10):
                    img.set(x0 + 6 + i, y0 + 6 + i, GLYPH)
                    img.set(x0 + 7 + i, y0 + 6 + i, GLYPH)
                    img.set(x0 + 15 - i, y0 + 6 + i, GLYPH)
                    img.set(x0 + 16 - i, y0 + 6 + i, GLYPH)
    return img


def button_bitmap():
    w = BUTTON_LEFT + BUTTON_MIDW + BUTTON_RIGHT
    img = Image(w, 4 * BUTTON_ROW, WHITE)
    for row, colour in enumerate(BUTTON_ROWS):
        y0 = row * BUTTON_ROW
        img.rect(0, y0, w, BUTTON_ROW, colour)
        for x in range(w):
            img.set(x, y0, BUTTON_EDGE)
            img.set(x, y0 + BUTTON_ROW - 1, BUTTON_EDGE)
        for y in range(y0, y0 + BUTTON_ROW):
            img.set(0, y, BUTTON_EDGE)
            img.set(w - 1, y, BUTTON_EDGE)
    return img


def checkbox_bitmap():
    img = Image(8 * CHECK_CELL, CHECK_CELL, WHITE)
    for cell in range(8):
        x0 = cell * CHECK_CELL
        state = cell % 4  # 0 normal, 1 hover, 2 pressed, 3 disabled
        fill = (CHECK_FILL, CHECK_FILL, CHECK_PRESSED_FILL, CHECK_DISABLED_FILL)[state]
        border = CHECK_HOVER_BORDER if state == 1 else CHECK_BORDER
        img.rect(x0, 0, CHECK_CELL, CHECK_CELL, fill)
        img.frame(x0, 0, CHECK_CELL, CHECK_CELL, border)
        if cell >= 4:
            mark = (150, 150, 150) if state == 3 else CHECK_MARK
            for i, (dx, dy) in enumerate([(3, 6), (4, 7), (5, 8), (6, 7), (7, 6), (8, 5), (9, 4)]):
                img.set(x0 + dx, dy, mark)
                img.set(x0 + dx, dy + 1, mark)
    return img


def res_ini():
    def colour(c):
        return "%d,%d,%d" % c

    return "\n".join([
        "[dialog]",
        "title_left_width=%d" % TITLE_LEFT,
        "title_mid_width=%d" % TITLE_MIDW,
        "title_right_width=%d" % TITLE_RIGHT,
        "corner_width=8",
        "system_button_top=%d" % ((TITLE_HEIGHT - CELL) // 2),
        "title_text_top=8",
        "title_text_color=" + colour(TITLE_TEXT),
        "background_color=" + colour(BACKGROUND),
        "",
        "[button]",
        "button_left_width=%d" % BUTTON_LEFT,
        "button_mid_width=%d" % BUTTON_MIDW,
        "button_right_width=%d" % BUTTON_RIGHT,
        "button_center_text=1",
        "button_normal_color=0,0,0",
        "button_active_color=0,60,160",
        "button_push_color=0,0,0",
        "button_disabled_color=140,140,140",
        "",
        "[checkbox]",
        "checkbox_text_color=30,30,30",
        "",
        "[edit]",
        "edit_up_color=240,189,136",
        "edit_mid_color=243,204,163",
        "edit_down_color=250,229,207",
        "edit_hover_up_color=250,147,147",
        "edit_hover_mid_color=252,184,184",
        "edit_hover_down_color=252,215,215",
        "edit_background_normal_color=255,255,255",
        "edit_background_hover_color=252,239,226",
        "edit_background_disable_color=233,233,233",
        "",
    ])


def make_skin(folder):
    write_bmp(os.path.join(folder, "dialog-title.bmp"), title_bitmap())
    write_bmp(os.path.join(folder, "dialog-sysbutton.bmp"), sysbutton_bitmap())
    side = Image(2 * SIDE, 2, BORDER)
    write_bmp(os.path.join(folder, "left-right-border.bmp"), side)
    bottom = Image(2 * SIDE + 1, BOTTOM, BORDER)
    write_bmp(os.path.join(folder, "bottom-border.bmp"), bottom)
    write_bmp(os.path.join(folder, "button.bmp"), button_bitmap())
    write_bmp(os.path.join(folder, "checkbox.bmp"), checkbox_bitmap())
    write_file(os.path.join(folder, "res.ini"), res_ini().encode("utf-8"))


# ---------------------------------------------------------------- pictures

def ring_frames(size, dots, dot_radius, ring_radius, delay):
    """A ring of grey dots with one dark dot walking round it: the first
    frame draws the whole ring; each later frame draws one dot and is
    disposed of by restoring what was under it (3), so the grey dot under it
    comes back (clearing to the background would blank it until the loop
    restarts)."""
    import math
    palette = [WHITE, (200, 200, 200), (24, 64, 140), (0, 0, 0)]
    transparent = 3
    base = Image(size, size, WHITE)
    centres = []
    for i in range(dots):
        a = 2 * math.pi * i / dots
        cx = size / 2 + ring_radius * math.cos(a)
        cy = size / 2 + ring_radius * math.sin(a)
        centres.append((cx, cy))
        base.disc(cx, cy, dot_radius, palette[1])
    frames = [{
        "left": 0, "top": 0, "w": size, "h": size, "delay": delay, "disposal": 1, "transparent": None,
        "indices": [palette.index(tuple(base.get(x, y)[:3])) for y in range(size) for x in range(size)],
    }]
    box = int(2 * dot_radius + 2)
    for i, (cx, cy) in enumerate(centres):
        left, top = int(cx - box / 2), int(cy - box / 2)
        left = max(0, min(size - box, left))
        top = max(0, min(size - box, top))
        dot = Image(box, box, (0, 0, 0))
        dot.disc(cx - left, cy - top, dot_radius, palette[2])
        indices = []
        for y in range(box):
            for x in range(box):
                c = dot.get(x, y)[:3]
                indices.append(2 if c == palette[2] else transparent)
        frames.append({
            "left": left, "top": top, "w": box, "h": box, "delay": delay,
            "disposal": 3, "transparent": transparent, "indices": indices,
        })
    return palette, frames


def make_pictures(res):
    palette, frames = ring_frames(48, 8, 4.5, 16, 10)
    write_gif(os.path.join(res, "gif", "225.gif"), 48, 48, palette, 0, frames)
    palette, frames = ring_frames(16, 4, 2.0, 5, 12)
    write_gif(os.path.join(res, "gif", "160.gif"), 16, 16, palette, 0, frames)
    palette, frames = ring_frames(32, 6, 3.5, 10, 8)
    write_gif(os.path.join(res, "gif", "146.gif"), 32, 32, palette, 0, frames)

    write_bmp(os.path.join(res, "bitmap", "243.bmp"), user_icon())
    write_bmp(os.path.join(res, "bitmap", "244.bmp"), lock_icon())
    write_bmp(os.path.join(res, "bitmap", "233.bmp"), logo())
    write_bmp(os.path.join(res, "bitmap", "137.bmp"), loading_picture())
    write_bmp(os.path.join(res, "bitmap", "156.bmp"), mode_icons())
    write_bmp(os.path.join(res, "bitmap", "139.bmp"), flag_strip(FLAG_COUNT))

    clear = (0, 0, 0, 0)
    plus = Image(16, 16, clear)
    plus.disc(8, 8, 7.5, (40, 150, 60, 255))
    plus.rect(4, 7, 8, 2, (255, 255, 255, 255))
    plus.rect(7, 4, 2, 8, (255, 255, 255, 255))
    write_png(os.path.join(res, "icon", "149.png"), plus)
    grey = Image(16, 16, clear)
    grey.disc(8, 8, 7.5, (150, 150, 150, 255))
    grey.rect(4, 7, 8, 2, (235, 235, 235, 255))
    grey.rect(7, 4, 2, 8, (235, 235, 235, 255))
    write_png(os.path.join(res, "icon", "150.png"), grey)
    test = Image(16, 16, clear)
    test.disc(8, 8, 7.5, (30, 100, 200, 255))
    test.disc(8, 8, 4.5, (255, 255, 255, 255))
    test.disc(8, 8, 2.5, (30, 100, 200, 255))
    write_png(os.path.join(res, "icon", "159.png"), test)


MAGENTA = (255, 0, 255)
# Rows of the country table; one flag cell per row.
FLAG_COUNT = 41


def user_icon():
    """Bitmap 243: the user-name field's icon, a head and shoulders on white."""
    img = Image(16, 16, WHITE)
    colour = (70, 110, 170)
    img.disc(7.5, 5, 3.2, colour)
    for y in range(10, 16):
        half = 2 + (y - 10)
        for x in range(int(7.5 - half), int(7.5 + half) + 1):
            if 0 <= x < 16:
                img.set(x, y, colour)
    return img


def lock_icon():
    """Bitmap 244: the password field's icon, a padlock on white."""
    img = Image(16, 16, WHITE)
    colour = (70, 110, 170)
    img.frame(4, 1, 8, 8, colour)
    img.frame(5, 2, 6, 7, colour)
    img.rect(2, 7, 12, 9, colour)
    img.rect(7, 10, 2, 3, WHITE)
    return img


def logo():
    """Bitmap 233: the login window's logo, a blue disc with a white ring and an orange core."""
    img = Image(96, 96, WHITE)
    img.disc(47.5, 47.5, 46, (40, 90, 170))
    img.disc(47.5, 47.5, 30, WHITE)
    img.disc(47.5, 47.5, 24, (40, 90, 170))
    img.disc(47.5, 47.5, 12, (240, 120, 20))
    return img


def loading_picture():
    """Bitmap 137: the loading panel's picture, a 128x128 gradient card."""
    img = Image(128, 128, WHITE)
    for y in range(128):
        for x in range(128):
            img.set(x, y, (60 + x // 4, 110 + y // 4, 200))
    img.disc(63.5, 63.5, 30, WHITE)
    img.disc(63.5, 63.5, 18, (240, 120, 20))
    return img


def mode_icons():
    """Bitmap 156: one 16x16 icon per proxy-mode type (0 global, 1 and 2
    rules, 3 and 4 browser modes) on a magenta mask."""
    colours = [(200, 40, 40), (40, 150, 60), (30, 130, 190), (220, 160, 20), (130, 60, 170)]
    img = Image(16 * len(colours), 16, MAGENTA)
    for i, colour in enumerate(colours):
        x = i * 16
        img.disc(x + 7.5, 7.5, 7, colour)
        img.rect(x + 5, 5, 6, 6, WHITE)
        img.rect(x + 7, 7, 2, 2, colour)
    return img


def flag_colour(i):
    """A colour of its own for flag cell i (distinct for every row)."""
    import colorsys
    h = (i * 0.61803398875) % 1.0
    v = 0.95 if i % 2 == 0 else 0.7
    r, g, b = colorsys.hsv_to_rgb(h, 0.85, v)
    return (int(r * 255), int(g * 255), int(b * 255))


def flag_strip(count):
    """Bitmap 139: the flag strip, one generated 16x16 cell per country row
    (no real flags): an 11-pixel-high band in the row's colour with a thin
    dark stripe at a height that also depends on the row, on a magenta
    mask above and below."""
    img = Image(16 * count, 16, MAGENTA)
    for i in range(count):
        x = i * 16
        colour = flag_colour(i)
        img.rect(x, 2, 16, 11, colour)
        img.rect(x, 3 + (i % 9), 16, 1, (30, 30, 30))
        img.frame(x, 2, 16, 11, (90, 90, 90))
    return img


def make_toolkit_pictures(res):
    # Bitmap 240: a bitmap button's strip, four 80x24 rows (normal, hover,
    # pressed, disabled), each a flat face with a darker edge.
    rows = [(210, 225, 245), (255, 220, 160), (200, 120, 40), (200, 200, 200)]
    strip = Image(80, 96, WHITE)
    for i, face in enumerate(rows):
        strip.rect(0, i * 24, 80, 24, face)
        strip.frame(0, i * 24, 80, 24, tuple(c * 3 // 4 for c in face))
    write_bmp(os.path.join(res, "bitmap", "240.bmp"), strip)

    # Bitmap 153: the menus' strip of 16x16 images on a white mask; images
    # 0, 3, 4, 5, 10 and 11 are drawn, the others stay empty.
    menu = Image(16 * 12, 16, WHITE)
    colours = {0: (40, 150, 60), 3: (30, 100, 200), 4: (200, 60, 60),
               5: (220, 160, 20), 10: (120, 60, 170), 11: (20, 150, 150)}
    for index, colour in colours.items():
        x = index * 16
        menu.rect(x + 2, 2, 12, 12, colour)
        menu.rect(x + 5, 5, 6, 6, (250, 250, 250))
    write_bmp(os.path.join(res, "bitmap", "153.bmp"), menu)

    # Icon 128: the tray icon, an orange disc with a white ring.
    tray = Image(16, 16, (0, 0, 0, 0))
    tray.disc(8, 8, 7.5, (240, 120, 20, 255))
    tray.disc(8, 8, 4.5, (255, 255, 255, 255))
    tray.disc(8, 8, 2.5, (240, 120, 20, 255))
    write_png(os.path.join(res, "icon", "128.png"), tray)

    # String resources: "<id><tab><text>" per line.
    write_file(os.path.join(res, "strings.txt"), "128\tCendrow\n".encode("utf-8"))


# Faces of the main window's small button strips: normal, hover, pressed,
# disabled (one row each).
SMALL_FACES = [(236, 242, 250), (255, 232, 190), (214, 150, 80), (222, 222, 222)]


def ring(img, cx, cy, r_out, r_in, colour, background):
    img.disc(cx, cy, r_out, colour)
    img.disc(cx, cy, r_in, background)


def glyph(img, kind, ox, oy, size, colour, face):
    """Draws one button glyph in the square at (ox, oy) of side `size`."""
    c = size / 2 - 0.5
    u = size / 24.0
    cx, cy = ox + c, oy + c
    def r(x, y, w, h):
        img.rect(int(ox + x * u), int(oy + y * u), max(1, int(w * u)), max(1, int(h * u)), colour)
    if kind == "plus":
        r(5, 11, 14, 3)
        r(11, 5, 3, 14)
    elif kind == "minus":
        r(5, 11, 14, 3)
    elif kind == "pencil":
        for i in range(int(12 * u)):
            img.rect(int(ox + (6 * u) + i), int(oy + (17 * u) - i), max(2, int(3 * u)), max(2, int(3 * u)), colour)
        r(5, 18, 3, 2)
    elif kind == "test":
        for i in range(int(10 * u)):
            h = int(10 * u) - i
            img.rect(int(ox + 8 * u + i), int(cy - h / 2), 1, max(1, h), colour)
    elif kind == "modes":
        ring(img, cx, cy, 8 * u, 4 * u, colour, face)
        for dx, dy in ((0, -9), (0, 9), (-9, 0), (9, 0)):
            img.disc(cx + dx * u, cy + dy * u, 2 * u, colour)
    elif kind == "heart":
        img.disc(cx - 3.5 * u, cy - 2 * u, 4.5 * u, colour)
        img.disc(cx + 3.5 * u, cy - 2 * u, 4.5 * u, colour)
        for i in range(int(9 * u)):
            w = int(16 * u) - 2 * i
            if w > 0:
                img.rect(int(cx - w / 2 + 0.5), int(cy + i), w, 1, colour)
    elif kind == "power":
        ring(img, cx, cy + 1 * u, 8 * u, 5.5 * u, colour, face)
        img.rect(int(cx - 3 * u), int(oy + 2 * u), int(6 * u) + 1, int(9 * u), face)
        r(10.5, 3, 3, 10)
    elif kind == "menu":
        for y in (7, 11, 15):
            r(5, y, 14, 2)
    elif kind == "home":
        for i in range(int(8 * u)):
            img.rect(int(cx - i), int(oy + 4 * u + i), 2 * i + 1, 1, colour)
        r(6, 12, 12, 8)
        r(10.5, 15, 3, 5)
        img.rect(int(ox + 10.5 * u), int(oy + 15 * u), max(1, int(3 * u)), max(1, int(5 * u)), face)
    elif kind == "code":
        for i in range(int(6 * u)):
            img.rect(int(ox + 9 * u - i), int(cy - 6 * u + i), 2, 2, colour)
            img.rect(int(ox + 9 * u - i), int(cy + 6 * u - i), 2, 2, colour)
            img.rect(int(ox + 15 * u + i), int(cy - 6 * u + i), 2, 2, colour)
            img.rect(int(ox + 15 * u + i), int(cy + 6 * u - i), 2, 2, colour)
    elif kind == "person":
        img.disc(cx, oy + 8 * u, 4 * u, colour)
        for y in range(int(6 * u)):
            w = int(8 * u) + 2 * y
            img.rect(int(cx - w / 2), int(oy + 14 * u + y), w, 1, colour)


def button_strip(w, h, kind, colour):
    """A four-row strip for a bitmap button: a framed face with the glyph."""
    img = Image(w, 4 * h, WHITE)
    side = min(w, h)
    for row, face in enumerate(SMALL_FACES):
        y = row * h
        img.rect(0, y, w, h, face)
        img.frame(0, y, w, h, tuple(c * 3 // 4 for c in face))
        ink = (150, 150, 150) if row == 3 else colour
        glyph(img, kind, (w - side) // 2, y + (h - side) // 2, side, ink, face)
    return img


def make_main_window_pictures(res):
    # Picture 138: the disconnected state, the card of 137 in greys.
    card = Image(128, 128, WHITE)
    for y in range(128):
        for x in range(128):
            v = 150 + (x + y) // 8
            card.set(x, y, (v, v, v + 6))
    card.disc(63.5, 63.5, 30, WHITE)
    card.disc(63.5, 63.5, 18, (120, 120, 130))
    write_bmp(os.path.join(res, "bitmap", "138.bmp"), card)

    small = {235: ("plus", (40, 150, 60)), 236: ("minus", (200, 60, 60)), 238: ("pencil", (60, 90, 170)),
             242: ("test", (30, 120, 200)), 251: ("modes", (130, 60, 170)), 237: ("heart", (220, 60, 110)),
             239: ("power", (200, 60, 60))}
    for bitmap, (kind, colour) in small.items():
        write_bmp(os.path.join(res, "bitmap", "%d.bmp" % bitmap), button_strip(24, 24, kind, colour))
    account = {246: "home", 247: "code", 248: "person", 249: "menu", 250: "power"}
    for bitmap, kind in account.items():
        write_bmp(os.path.join(res, "bitmap", "%d.bmp" % bitmap), button_strip(64, 56, kind, (50, 90, 160)))

    # Icon 228: the tray icon while disconnected, icon 128 in grey.
    tray = Image(16, 16, (0, 0, 0, 0))
    tray.disc(8, 8, 7.5, (130, 130, 130, 255))
    tray.disc(8, 8, 4.5, (255, 255, 255, 255))
    tray.disc(8, 8, 2.5, (130, 130, 130, 255))
    write_png(os.path.join(res, "icon", "228.png"), tray)
    # Icon 158: the UDP warning, an amber triangle with a mark.
    warn = Image(16, 16, (0, 0, 0, 0))
    for y in range(14):
        half = y / 2.0 + 0.5
        for x in range(16):
            if abs(x - 7.5) <= half:
                warn.set(x, y + 1, (235, 170, 20, 255))
    warn.rect(7, 5, 2, 5, (40, 40, 40, 255))
    warn.rect(7, 11, 2, 2, (40, 40, 40, 255))
    write_png(os.path.join(res, "icon", "158.png"), warn)


def main():
    if len(sys.argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    program = sys.argv[1]
    make_skin(os.path.join(program, "skins", "default"))
    make_pictures(os.path.join(program, "res"))
    make_toolkit_pictures(os.path.join(program, "res"))
    make_main_window_pictures(os.path.join(program, "res"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
