#!/usr/bin/env python3
"""Draws the program icon (orvane.ico: 16, 20, 24, 32 and 48 px) and the button
icon strip (icons.png: 32 icons of 64 x 64 px side by side, RGBA) from simple
vector shapes. Only the standard library is used; the outputs are committed so
a build needs no image tool. Run it again after changing a drawing."""
import math
import os
import struct
import zlib

SS = 4  # supersampling per axis


class Canvas:
    """A square RGBA canvas in premultiplied floats; shapes use 64-unit design coordinates."""

    def __init__(self, size):
        self.size = size
        self.n = size * SS
        self.scale = self.n / 64.0
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(self.n * self.n)]

    def fill(self, inside, bbox, color, alpha=1.0):
        r, g, b = [c / 255.0 for c in color]
        a = alpha
        x0, y0, x1, y1 = bbox
        s = self.scale
        lo_x, lo_y = max(0, int(x0 * s) - 1), max(0, int(y0 * s) - 1)
        hi_x, hi_y = min(self.n, int(x1 * s) + 2), min(self.n, int(y1 * s) + 2)
        for py in range(lo_y, hi_y):
            y = (py + 0.5) / s
            row = py * self.n
            for px in range(lo_x, hi_x):
                x = (px + 0.5) / s
                if inside(x, y):
                    p = self.px[row + px]
                    k = 1.0 - a
                    p[0] = r * a + p[0] * k
                    p[1] = g * a + p[1] * k
                    p[2] = b * a + p[2] * k
                    p[3] = a + p[3] * k

    # Shapes -------------------------------------------------------------
    def rect(self, x0, y0, x1, y1, color, radius=0.0, alpha=1.0):
        def inside(x, y):
            if x < x0 or x > x1 or y < y0 or y > y1:
                return False
            cx = min(max(x, x0 + radius), x1 - radius)
            cy = min(max(y, y0 + radius), y1 - radius)
            return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius
        self.fill(inside, (x0, y0, x1, y1), color, alpha)

    def frame(self, x0, y0, x1, y1, color, width, radius=0.0):
        def inside(x, y):
            def within(a0, b0, a1, b1, r):
                if x < a0 or x > a1 or y < b0 or y > b1:
                    return False
                cx = min(max(x, a0 + r), a1 - r)
                cy = min(max(y, b0 + r), b1 - r)
                return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
            r2 = max(0.0, radius - width)
            return within(x0, y0, x1, y1, radius) and not within(x0 + width, y0 + width, x1 - width, y1 - width, r2)
        self.fill(inside, (x0, y0, x1, y1), color)

    def ellipse(self, cx, cy, rx, ry, color, alpha=1.0):
        self.fill(lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0,
                  (cx - rx, cy - ry, cx + rx, cy + ry), color, alpha)

    def circle(self, cx, cy, r, color, alpha=1.0):
        self.ellipse(cx, cy, r, r, color, alpha)

    def ring(self, cx, cy, r, width, color):
        def inside(x, y):
            d = math.hypot(x - cx, y - cy)
            return r - width / 2 <= d <= r + width / 2
        self.fill(inside, (cx - r - width, cy - r - width, cx + r + width, cy + r + width), color)

    def poly(self, pts, color, alpha=1.0):
        def inside(x, y):
            c = False
            j = len(pts) - 1
            for i in range(len(pts)):
                xi, yi = pts[i]
                xj, yj = pts[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    c = not c
                j = i
            return c
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        self.fill(inside, (min(xs), min(ys), max(xs), max(ys)), color, alpha)

    def line(self, x0, y0, x1, y1, width, color):
        dx, dy = x1 - x0, y1 - y0
        length2 = dx * dx + dy * dy or 1e-9
        h = width / 2.0

        def inside(x, y):
            t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
            return (x - x0 - t * dx) ** 2 + (y - y0 - t * dy) ** 2 <= h * h
        self.fill(inside, (min(x0, x1) - h, min(y0, y1) - h, max(x0, x1) + h, max(y0, y1) + h), color)

    def polyline(self, pts, width, color):
        for a, b in zip(pts, pts[1:]):
            self.line(a[0], a[1], b[0], b[1], width, color)

    def arc(self, cx, cy, rx, ry, a0, a1, width, color, steps=24):
        self.polyline(arc_points(cx, cy, rx, ry, a0, a1, steps), width, color)

    # Output --------------------------------------------------------------
    def pixels(self):
        """RGBA bytes at the canvas size, top row first."""
        out = bytearray()
        n = self.n
        for y in range(self.size):
            for x in range(self.size):
                acc = [0.0, 0.0, 0.0, 0.0]
                for sy in range(SS):
                    row = (y * SS + sy) * n + x * SS
                    for sx in range(SS):
                        p = self.px[row + sx]
                        for k in range(4):
                            acc[k] += p[k]
                a = acc[3] / (SS * SS)
                if a <= 0.0:
                    out += b"\0\0\0\0"
                    continue
                out += bytes(min(255, int(round(acc[k] / (SS * SS) / a * 255))) for k in range(3))
                out.append(min(255, int(round(a * 255))))
        return out


def arc_points(cx, cy, rx, ry, a0, a1, steps=24):
    return [(cx + rx * math.cos(math.radians(a0 + (a1 - a0) * i / steps)),
             cy - ry * math.sin(math.radians(a0 + (a1 - a0) * i / steps))) for i in range(steps + 1)]


# Colours
BLUE = (0, 103, 192)
LIGHT_BLUE = (90, 170, 235)
WHITE = (255, 255, 255)
DARK = (50, 50, 50)
GREY = (120, 120, 120)
PAPER = (250, 250, 250)
PAPER_EDGE = (140, 140, 140)
YELLOW = (240, 190, 60)
YELLOW_DARK = (205, 150, 30)
GREEN = (40, 160, 70)
RED = (215, 50, 45)
ORANGE = (240, 140, 30)
PURPLE = (125, 75, 190)
TEAL = (0, 140, 150)


# Stroke letters in a box (x, y, w, h).
def letter(c, ch, x, y, w, h, width, color):
    P = lambda u, v: (x + u * w, y + v * h)
    if ch == 'A':
        c.polyline([P(0, 1), P(0.5, 0), P(1, 1)], width, color)
        c.line(*P(0.22, 0.62), *P(0.78, 0.62), width, color)
    elif ch == 'a':
        c.arc(*P(0.45, 0.7), 0.42 * w, 0.28 * h, 0, 360, width, color)
        c.line(*P(0.9, 0.38), *P(0.9, 1.0), width, color)
    elif ch == 'b':
        c.line(*P(0.1, 0), *P(0.1, 1), width, color)
        c.arc(*P(0.5, 0.68), 0.4 * w, 0.3 * h, 0, 360, width, color)
    elif ch == 'G':
        c.arc(*P(0.5, 0.5), 0.5 * w, 0.5 * h, 40, 330, width, color)
        c.polyline([P(0.55, 0.58), P(0.95, 0.58), P(0.95, 0.8)], width, color)
    elif ch == 'B':
        c.line(*P(0.1, 0), *P(0.1, 1), width, color)
        c.polyline([P(0.1, 0)] + arc_points(*P(0.55, 0.25), 0.35 * w, 0.25 * h, 90, -90, 12) + [P(0.1, 0.5)],
                   width, color)
        c.polyline([P(0.1, 0.5)] + arc_points(*P(0.58, 0.75), 0.38 * w, 0.25 * h, 90, -90, 12) + [P(0.1, 1)],
                   width, color)
    elif ch == '?':
        c.arc(*P(0.5, 0.28), 0.4 * w, 0.28 * h, 160, -60, width, color)
        c.line(*P(0.66, 0.5), *P(0.5, 0.62), width, color)
        c.line(*P(0.5, 0.62), *P(0.5, 0.72), width, color)
        c.circle(*P(0.5, 0.92), width * 0.75, color)
    elif ch == 'i':
        c.circle(*P(0.5, 0.08), width * 0.8, color)
        c.line(*P(0.5, 0.35), *P(0.5, 1), width, color)
    elif ch == '*':
        cx, cy = P(0.5, 0.5)
        for ang in (90, 30, 150):
            dx, dy = math.cos(math.radians(ang)) * w / 2, math.sin(math.radians(ang)) * h / 2
            c.line(cx - dx, cy - dy, cx + dx, cy + dy, width, color)
    elif ch == '+':
        c.line(*P(0.5, 0), *P(0.5, 1), width, color)
        c.line(*P(0, 0.5), *P(1, 0.5), width, color)


def page(c, x, y, w, h, fill=PAPER):
    fold = w * 0.3
    c.poly([(x, y), (x + w - fold, y), (x + w, y + fold), (x + w, y + h), (x, y + h)], PAPER_EDGE)
    c.poly([(x + 2, y + 2), (x + w - fold - 1, y + 2), (x + w - 2, y + fold + 1), (x + w - 2, y + h - 2),
            (x + 2, y + h - 2)], fill)
    c.poly([(x + w - fold, y), (x + w - fold, y + fold), (x + w, y + fold)], PAPER_EDGE)


def folder(c, x, y, w, h, color=YELLOW, dark=YELLOW_DARK, open_=False):
    c.rect(x, y, x + w * 0.42, y + h * 0.3, dark, 3)
    c.rect(x, y + h * 0.15, x + w, y + h, dark, 3)
    if open_:
        c.poly([(x + w * 0.12, y + h * 0.38), (x + w + 4, y + h * 0.38), (x + w * 0.9, y + h), (x, y + h)], color)
    else:
        c.rect(x + 1, y + h * 0.25, x + w - 1, y + h - 1, color, 3)


def arrow(c, x0, y0, x1, y1, width, color):
    ang = math.atan2(y1 - y0, x1 - x0)
    head = width * 2.4
    bx, by = x1 - math.cos(ang) * head, y1 - math.sin(ang) * head
    c.line(x0, y0, bx, by, width, color)
    nx, ny = -math.sin(ang) * head * 0.8, math.cos(ang) * head * 0.8
    c.poly([(x1, y1), (bx + nx, by + ny), (bx - nx, by - ny)], color)


def circular_arrows(c, color):
    for a0, a1 in ((200, 340), (20, 160)):
        pts = arc_points(32, 32, 20, 20, a0, a1, 20)
        c.polyline(pts[:-2], 5, color)
        arrow(c, pts[-3][0], pts[-3][1], pts[-1][0], pts[-1][1], 5, color)


def badge_ban(c, cx, cy, r):
    c.circle(cx, cy, r, WHITE)
    c.ring(cx, cy, r - 3, 4, RED)
    d = (r - 3) * 0.7
    c.line(cx - d, cy - d, cx + d, cy + d, 4, RED)


def star(c, cx, cy, r, color):
    pts = []
    for i in range(10):
        rr = r if i % 2 == 0 else r * 0.45
        ang = math.radians(90 + 36 * i)
        pts.append((cx + rr * math.cos(ang), cy - rr * math.sin(ang)))
    c.poly(pts, color)


def draw_strip_icon(c, i):
    if i == 0:  # Aa in a blue rounded square
        c.rect(6, 6, 58, 58, BLUE, 9)
        letter(c, 'A', 12, 16, 20, 32, 4.5, WHITE)
        letter(c, 'a', 34, 24, 18, 24, 4, WHITE)
    elif i == 1:  # ab between two bars, underlined
        c.rect(6, 10, 10, 54, GREY)
        c.rect(54, 10, 58, 54, GREY)
        letter(c, 'a', 15, 20, 15, 22, 4, DARK)
        letter(c, 'b', 34, 14, 15, 28, 4, DARK)
        c.rect(14, 48, 50, 52, BLUE)
    elif i == 2:  # folder with a pen stroke
        folder(c, 6, 12, 52, 42)
        c.line(22, 46, 52, 16, 5, BLUE)
        c.poly([(18, 50), (20, 42), (26, 48)], DARK)
    elif i == 3:  # dot and asterisk in a purple square
        c.rect(6, 6, 58, 58, PURPLE, 9)
        c.circle(20, 40, 5, WHITE)
        letter(c, '*', 28, 16, 24, 24, 4.5, WHITE)
    elif i == 4:  # page with a green arrow
        page(c, 10, 6, 38, 52)
        arrow(c, 20, 42, 54, 42, 6, GREEN)
    elif i == 5:  # open yellow folder
        folder(c, 6, 12, 50, 42, open_=True)
    elif i == 6:  # two pages
        page(c, 6, 4, 34, 44)
        page(c, 22, 16, 34, 44)
    elif i == 7:  # page with a blue information badge
        page(c, 8, 4, 38, 52)
        c.circle(44, 44, 14, BLUE)
        letter(c, 'i', 40, 34, 8, 18, 4, WHITE)
    elif i == 8:  # page with a green arrow pointing out
        page(c, 6, 6, 36, 52)
        arrow(c, 30, 44, 60, 14, 6, GREEN)
    elif i == 9:  # two pages with the letter A
        page(c, 6, 4, 32, 42)
        page(c, 24, 18, 34, 42)
        letter(c, 'A', 31, 32, 18, 22, 4, BLUE)
    elif i == 10:  # two pages joined by an orange equals bar
        page(c, 4, 10, 24, 34)
        page(c, 36, 10, 24, 34)
        c.rect(20, 46, 44, 51, ORANGE, 2)
        c.rect(20, 55, 44, 60, ORANGE, 2)
    elif i == 11:  # page marked GB in red
        page(c, 8, 4, 44, 56)
        letter(c, 'G', 13, 28, 14, 20, 3.5, RED)
        letter(c, 'B', 31, 28, 14, 20, 3.5, RED)
    elif i == 12:  # folder marked GB
        folder(c, 4, 10, 56, 46)
        letter(c, 'G', 14, 28, 14, 20, 3.5, RED)
        letter(c, 'B', 34, 28, 14, 20, 3.5, RED)
    elif i == 13:  # clock
        c.circle(32, 32, 26, BLUE)
        c.circle(32, 32, 21, WHITE)
        c.line(32, 32, 32, 16, 4, DARK)
        c.line(32, 32, 43, 38, 4, DARK)
    elif i == 14:  # empty open folder
        folder(c, 6, 12, 50, 42, color=(255, 236, 180), open_=True)
        c.frame(16, 34, 48, 50, YELLOW_DARK, 2)
    elif i == 15:  # speed gauge
        c.arc(32, 40, 24, 24, 0, 180, 6, DARK)
        c.arc(32, 40, 24, 24, 0, 45, 6, RED)
        c.line(32, 40, 48, 24, 4, RED)
        c.circle(32, 40, 5, DARK)
    elif i == 16:  # rising bar chart with a star
        for k, hgt in enumerate((14, 24, 36)):
            c.rect(8 + k * 14, 58 - hgt, 19 + k * 14, 58, BLUE, 1.5)
        star(c, 48, 16, 12, ORANGE)
    elif i == 17:  # disk drive
        c.rect(4, 20, 60, 46, GREY, 5)
        c.rect(7, 23, 57, 43, (205, 205, 205), 3)
        c.circle(50, 38, 3, GREEN)
        c.rect(10, 36, 36, 39, GREY)
    elif i == 18:  # blue circular arrows
        circular_arrows(c, BLUE)
    elif i == 19:  # folder with a green plus
        folder(c, 4, 10, 48, 40)
        c.circle(46, 46, 14, GREEN)
        letter(c, '+', 38, 38, 16, 16, 4.5, WHITE)
    elif i == 20:  # floppy disk
        c.poly([(6, 6), (50, 6), (58, 14), (58, 58), (6, 58)], BLUE)
        c.rect(16, 6, 46, 24, (225, 225, 225))
        c.rect(36, 9, 42, 21, BLUE)
        c.rect(14, 34, 50, 58, WHITE, 2)
    elif i == 21:  # blue and yellow shield
        shield = [(32, 4), (56, 12), (54, 36), (32, 60), (10, 36), (8, 12)]
        c.poly(shield, BLUE)
        c.poly([(32, 4), (56, 12), (54, 36), (32, 60)], YELLOW)
        c.poly([(32, 32), (54, 32), (54, 36), (32, 60)], BLUE)
        c.poly([(8, 12), (32, 4), (32, 32), (9, 32)], YELLOW)
    elif i == 22:  # folder with a red no-entry badge
        folder(c, 4, 10, 48, 40)
        badge_ban(c, 46, 46, 15)
    elif i == 23:  # white question mark on a blue disc
        c.circle(32, 32, 27, BLUE)
        letter(c, '?', 22, 14, 20, 36, 5, WHITE)
    elif i == 24:  # magnifier with an asterisk
        c.ring(26, 26, 17, 6, DARK)
        c.line(38, 38, 56, 56, 8, DARK)
        letter(c, '*', 16, 16, 20, 20, 4, ORANGE)
    elif i == 25:  # open book
        c.poly([(4, 14), (31, 18), (31, 56), (4, 50)], BLUE)
        c.poly([(33, 18), (60, 14), (60, 50), (33, 56)], BLUE)
        c.poly([(7, 17), (29, 21), (29, 52), (7, 47)], PAPER)
        c.poly([(35, 21), (57, 17), (57, 47), (35, 52)], PAPER)
    elif i == 26:  # page with a bulleted list
        page(c, 10, 4, 44, 56)
        for k in range(4):
            c.circle(19, 22 + k * 9, 2.5, BLUE)
            c.rect(25, 20.5 + k * 9, 46, 23.5 + k * 9, GREY)
    elif i == 27:  # green circular arrows
        circular_arrows(c, GREEN)
    elif i == 28:  # globe
        c.circle(32, 32, 26, LIGHT_BLUE)
        c.ring(32, 32, 25, 3, BLUE)
        c.arc(32, 32, 11, 25, 0, 360, 3, BLUE)
        c.line(32, 7, 32, 57, 3, BLUE)
        c.line(7, 32, 57, 32, 3, BLUE)
        c.arc(32, 32, 22, 8, 0, 180, 2.5, BLUE)
    elif i == 29:  # clipboard with a red pulse line
        c.rect(8, 8, 56, 60, (150, 105, 60), 4)
        c.rect(13, 14, 51, 56, PAPER)
        c.rect(22, 4, 42, 14, GREY, 3)
        c.polyline([(15, 38), (24, 38), (29, 26), (35, 48), (40, 34), (49, 34)], 3.5, RED)
    elif i == 30:  # white information sign on a teal disc
        c.circle(32, 32, 27, TEAL)
        letter(c, 'i', 26, 14, 12, 36, 6, WHITE)
    elif i == 31:  # text field with a clear cross
        c.rect(4, 18, 60, 46, GREY, 4)
        c.rect(6, 20, 58, 44, WHITE, 3)
        c.line(12, 26, 12, 38, 2.5, DARK)
        c.circle(47, 32, 9, RED)
        c.line(43, 28, 51, 36, 3, WHITE)
        c.line(51, 28, 43, 36, 3, WHITE)


def draw_program_icon(c):
    c.rect(2, 2, 62, 62, BLUE, 12)
    c.ring(27, 27, 14, 7, WHITE)
    c.line(37, 37, 52, 52, 10, WHITE)


# File writers ------------------------------------------------------------
def png(width, height, rgba):
    raw = b"".join(b"\0" + bytes(rgba[y * width * 4:(y + 1) * width * 4]) for y in range(height))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(images):
    """images: list of (size, rgba). Each image is a 32-bit DIB with its AND mask."""
    blobs = []
    for size, rgba in images:
        header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
        xor = bytearray()
        for y in range(size - 1, -1, -1):  # bottom-up
            for x in range(size):
                r, g, b, a = rgba[(y * size + x) * 4:(y * size + x) * 4 + 4]
                xor += bytes((b, g, r, a))
        stride = ((size + 31) // 32) * 4
        mask = bytearray()
        for y in range(size - 1, -1, -1):
            row = bytearray(stride)
            for x in range(size):
                if rgba[(y * size + x) * 4 + 3] == 0:
                    row[x // 8] |= 0x80 >> (x % 8)
            mask += row
        blobs.append((size, header + bytes(xor) + bytes(mask)))
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for size, blob in blobs:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blob for _, blob in blobs)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    images = []
    for size in (16, 20, 24, 32, 48):
        c = Canvas(size)
        draw_program_icon(c)
        images.append((size, c.pixels()))
    with open(os.path.join(here, "orvane.ico"), "wb") as f:
        f.write(ico(images))

    count, size = 32, 64
    strip = bytearray(count * size * size * 4)
    for i in range(count):
        c = Canvas(size)
        draw_strip_icon(c, i)
        pixels = c.pixels()
        for y in range(size):
            dst = (y * count * size + i * size) * 4
            strip[dst:dst + size * 4] = pixels[y * size * 4:(y + 1) * size * 4]
    with open(os.path.join(here, "icons.png"), "wb") as f:
        f.write(png(count * size, size, strip))


if __name__ == "__main__":
    main()
