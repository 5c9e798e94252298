#!/usr/bin/env python3
"""Makes the downloader's art in resources/: the window background (RCDATA 500), the picture
shown after a successful download (RCDATA 502), the two 128 x 128 icons (501, 100) and the
button click sound (WAVE 29185).

The scenes are painted here pixel by pixel (standard library only); ImageMagick's `convert`
sets the lettering and writes the PNG and ICO files. The output is deterministic.

usage: scripts/make-art.py [OUTPUT_DIR]   (default: resources/ of this repository)

Layout the art respects (client pixels of the 624 x 375 window):
  0..29    title strip: the minimise and close buttons sit at x 531..624
  30..288  the file list during a download (12..612); the scene shows when it is hidden
  288..375 the save-folder box (12,300 512x24), the progress bar (12,340 512x24) and the two
           buttons (532,296 and 532,336, 80x32): a calm dark band keeps them legible
"""

import math
import os
import random
import struct
import subprocess
import sys
import tempfile
import wave

W, H = 624, 375
STRIP = 29        # title strip height
HORIZON = 206
BAND = 288        # top of the control band

TITLE_FONT = "DejaVu-Serif-Bold"
TEXT_FONT = "WenQuanYi-Micro-Hei"


def lerp(a, b, t):
    return a + (b - a) * t


def mix(c1, c2, t):
    t = min(max(t, 0.0), 1.0)
    return tuple(lerp(x, y, t) for x, y in zip(c1, c2))


def ramp(stops, t):
    """Colour at t along [(position, colour), ...] sorted by position."""
    if t <= stops[0][0]:
        return stops[0][1]
    for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
        if t <= p1:
            return mix(c0, c1, (t - p0) / (p1 - p0))
    return stops[-1][1]


def smoothstep(e0, e1, x):
    t = min(max((x - e0) / (e1 - e0), 0.0), 1.0)
    return t * t * (3 - 2 * t)


class Noise1D:
    """Smooth value noise along one axis, summed over octaves."""

    def __init__(self, seed, octaves=5):
        rng = random.Random(seed)
        self.tables = [[rng.random() for _ in range(257)] for _ in range(octaves)]

    def __call__(self, x):
        total, amplitude, frequency, norm = 0.0, 1.0, 1.0, 0.0
        for table in self.tables:
            u = x * frequency
            i = int(math.floor(u)) % 256
            f = u - math.floor(u)
            f = f * f * (3 - 2 * f)
            total += amplitude * lerp(table[i], table[i + 1], f)
            norm += amplitude
            amplitude *= 0.5
            frequency *= 2.0
        return total / norm


class Scene:
    def __init__(self):
        self.px = [[(0.0, 0.0, 0.0)] * W for _ in range(H)]

    def put(self, x, y, colour, alpha=1.0):
        if 0 <= x < W and 0 <= y < H and alpha > 0:
            self.px[y][x] = mix(self.px[y][x], colour, alpha)

    def ppm(self, path):
        with open(path, "wb") as f:
            f.write(b"P6 %d %d 255\n" % (W, H))
            rows = bytearray()
            for row in self.px:
                for colour in row:
                    rows += bytes(int(round(min(max(v, 0.0), 255.0))) for v in colour)
            f.write(rows)


def paint(palette, seed, ship):
    """One coast scene; palette gives the sky, sun, sea and land colours."""
    rng = random.Random(seed)
    s = Scene()
    sun_x, sun_y, sun_r = palette["sun"]
    ridge = Noise1D(seed * 7 + 1)
    far = Noise1D(seed * 7 + 2)
    swell = Noise1D(seed * 7 + 3, octaves=3)

    # Sky and sea.
    for y in range(H):
        if y < HORIZON:
            base = ramp(palette["sky"], y / HORIZON)
        else:
            base = ramp(palette["sea"], (y - HORIZON) / (H - HORIZON))
        for x in range(W):
            c = base
            dx, dy = x - sun_x, y - sun_y
            d = math.hypot(dx, dy * 1.6 if y > HORIZON else dy)
            if y < HORIZON:
                glow = math.exp(-(d / palette["glow"]) ** 2) * 0.75
                c = mix(c, palette["glow_colour"], glow)
                if d < sun_r:
                    c = mix(c, palette["sun_colour"], smoothstep(sun_r, sun_r - 2.5, d))
            else:
                depth = (y - HORIZON) / (BAND - HORIZON)
                # The sun's road on the water: broken streaks narrowing to the horizon.
                spread = 10 + 110 * depth
                road = math.exp(-(dx / spread) ** 2)
                streak = swell(x / 23.0 + y * 1.7) * swell(x / 7.0 - y * 0.9)
                sparkle = road * max(0.0, streak * 2.2 - 0.55)
                c = mix(c, palette["glow_colour"], min(sparkle, 1.0) * 0.85)
                wave_line = 0.5 + 0.5 * math.sin(y * 1.9 + swell(x / 41.0 + y) * 9.0)
                c = mix(c, palette["wave"], wave_line * 0.10 * (1 - depth * 0.5))
            s.px[y][x] = c

    # Stars in a dark sky.
    for _ in range(palette["stars"]):
        x, y = rng.randrange(W), rng.randrange(STRIP + 2, int(HORIZON * 0.55))
        b = rng.uniform(0.35, 0.9) * (1 - y / (HORIZON * 0.6))
        s.put(x, y, (235, 240, 255), b)

    # Distant islands on the right, hazy.
    for x in range(300, W):
        h = (5 + 17 * far(x / 60.0)) * smoothstep(296, 372, x)
        top = HORIZON - int(h)
        for y in range(top, HORIZON):
            s.put(x, y, palette["far_land"], 0.85 * smoothstep(top, top + 3, y + 0.5))

    # The headland on the left with its lighthouse.
    def cliff_top(x):
        rise = smoothstep(250, 40, x)
        return HORIZON + 8 - (58 * rise + 22 * ridge(x / 45.0) * rise + 6 * ridge(x / 9.0) * rise)

    def waterline(x):
        # Nearer land meets the water lower down: the shore runs from the bottom left out to
        # the headland's tip near the horizon.
        return HORIZON + 3 + (BAND + 24 - HORIZON) * max(0.0, 1 - x / 262.0) ** 1.6

    for x in range(0, 262):
        top, bottom = cliff_top(x), waterline(x)
        if top >= bottom:
            continue
        for y in range(int(top), min(int(bottom) + 2, H)):
            t = (y - top) / 90.0
            c = mix(palette["land_top"], palette["land"], min(t * 2.5, 1.0))
            cover = smoothstep(top, top + 1.2, y + 0.5) * (1 - smoothstep(bottom - 0.5, bottom + 0.7, y + 0.5))
            s.put(x, y, c, cover)
        # Its dark reflection and a thin line of surf.
        for y in range(int(bottom) + 1, min(int(bottom + (bottom - top) * 0.35) + 1, H)):
            s.put(x, y, palette["land"], 0.35 * (1 - (y - bottom) / ((bottom - top) * 0.35 + 1)))
        s.put(x, int(bottom) + 1, palette["wave"], 0.35)
    lx = 150
    base_y = int(cliff_top(lx)) + 2
    tower_h = 44
    for y in range(base_y - tower_h, base_y):
        t = (base_y - y) / tower_h
        half = lerp(6.5, 3.5, t)
        for x in range(int(lx - half - 1), int(lx + half + 2)):
            cover = min(max(half + 0.5 - abs(x + 0.5 - lx), 0.0), 1.0)
            band = (int((base_y - y) / 7) % 2 == 0)
            c = palette["tower"] if band else palette["tower_band"]
            s.put(x, y, c, cover)
    lamp_y = base_y - tower_h - 4
    for y in range(lamp_y - 6, lamp_y + 5):
        for x in range(lx - 8, lx + 9):
            d = math.hypot(x - lx, (y - lamp_y) * 1.2)
            s.put(x, y, palette["lamp"], math.exp(-(d / 3.2) ** 2))
    # The beam, sweeping out to sea.
    if palette["beam"] > 0:
        for y in range(STRIP + 1, HORIZON):
            for x in range(lx, W):
                ang = math.atan2(y - lamp_y, x - lx)
                width = 0.045
                a = math.exp(-((ang - 0.13) / width) ** 2) * palette["beam"]
                a *= math.exp(-(x - lx) / 420.0)
                s.put(x, y, palette["lamp"], a)
    for x in range(lx - 9, lx + 10):
        s.put(x, lamp_y - 7, palette["tower"], 0.9)

    if ship:
        paint_ship(s, palette, 420, HORIZON + 38)

    # Title strip and control band: calm and dark.
    for y in range(0, STRIP + 1):
        for x in range(W):
            c = mix((25, 25, 25), (31, 36, 44), x / W)
            s.px[y][x] = mix(s.px[y][x], c, 0.94)
    for x in range(W):
        s.put(x, STRIP, palette["rule"], 0.55)
    for y in range(BAND, H):
        t = (y - BAND) / (H - BAND)
        for x in range(W):
            s.px[y][x] = mix(s.px[y][x], mix((16, 28, 40), (10, 18, 27), t), 0.86 if y > BAND + 3 else 0.7)
    for x in range(W):
        s.put(x, BAND, palette["rule"], 0.7)
    return s


def paint_ship(s, palette, cx, wl):
    """A small sailing ship heading home, silhouetted."""
    hull = palette["ship"]
    for y in range(wl - 9, wl):
        t = (y - (wl - 9)) / 9.0
        half = lerp(34, 24, t)
        for x in range(int(cx - half), int(cx + half) + 1):
            s.put(x, y, hull, 1.0)
    for mast, height in ((cx - 12, 58), (cx + 10, 46)):
        for y in range(wl - 9 - height, wl - 9):
            s.put(mast, y, hull, 1.0)
        for y in range(wl - 6 - height, wl - 14):
            t = (y - (wl - 6 - height)) / (height - 8)
            width = lerp(6, 20, t)
            for x in range(mast - int(width), mast + 1):
                s.put(x + 1, y, palette["sail"], 0.92)
    for x in range(int(cx - 36), int(cx + 37)):
        s.put(x, wl, palette["glow_colour"], 0.35)


NIGHT = {
    "sky": [(0.0, (14, 22, 48)), (0.45, (28, 52, 92)), (0.80, (92, 96, 128)), (1.0, (236, 150, 96))],
    "sea": [(0.0, (58, 84, 110)), (0.35, (22, 50, 74)), (1.0, (8, 24, 38))],
    "sun": (452, HORIZON + 6, 20), "glow": 120.0,
    "glow_colour": (255, 196, 128), "sun_colour": (255, 222, 170), "wave": (150, 190, 220),
    "far_land": (62, 66, 92), "land_top": (30, 38, 52), "land": (14, 20, 30),
    "tower": (214, 206, 190), "tower_band": (150, 56, 52), "lamp": (255, 236, 170), "beam": 0.32,
    "stars": 70, "rule": (92, 160, 170), "ship": (20, 26, 36), "sail": (40, 46, 58),
}

MORNING = {
    "sky": [(0.0, (64, 116, 178)), (0.5, (130, 178, 214)), (0.85, (232, 214, 190)), (1.0, (255, 214, 150))],
    "sea": [(0.0, (96, 150, 176)), (0.35, (44, 104, 136)), (1.0, (16, 52, 74))],
    "sun": (520, HORIZON - 46, 18), "glow": 150.0,
    "glow_colour": (255, 236, 190), "sun_colour": (255, 250, 230), "wave": (220, 240, 250),
    "far_land": (110, 132, 158), "land_top": (58, 82, 84), "land": (30, 48, 52),
    "tower": (240, 236, 226), "tower_band": (178, 60, 54), "lamp": (255, 246, 210), "beam": 0.0,
    "stars": 0, "rule": (110, 190, 196), "ship": (36, 44, 52), "sail": (246, 240, 226),
}


def run(args):
    subprocess.run(["convert"] + args, check=True)


PNG_OPTIONS = ["-strip", "-define", "png:exclude-chunks=date,time", "-alpha", "off"]


def letter(scene_ppm, out_png, texts):
    """texts: (font, size, fill, shadow, x, y, text); y is the baseline from the top, centred on x
    when x is None."""
    args = [scene_ppm]
    for font, size, fill, shadow, x, y, text in texts:
        gravity, offset = ("north", "+0+%d" % y) if x is None else ("northwest", "+%d+%d" % (x, y))
        if shadow:
            args += ["(", "-size", "%dx%d" % (W, H), "xc:none", "-font", font, "-pointsize", str(size),
                     "-fill", shadow, "-gravity", gravity, "-annotate", offset, text,
                     "-blur", "0x5", ")", "-gravity", "northwest", "-composite"]
        args += ["-font", font, "-pointsize", str(size), "-fill", fill, "-gravity", gravity,
                 "-annotate", offset, text]
    run(args + PNG_OPTIONS + ["PNG24:" + out_png])


def icon(out_ico, work, colours):
    """One 128 x 128 32-bit icon: a round sea badge with a lighthouse and a white B."""
    top, bottom, ring = colours
    png = os.path.join(work, os.path.basename(out_ico) + ".png")
    run(["-size", "128x128", "gradient:%s-%s" % (top, bottom),
         "(", "-size", "128x128", "xc:black", "-fill", "white", "-draw", "circle 64,64 64,3", ")",
         "-alpha", "off", "-compose", "copy_opacity", "-composite", "-compose", "over",
         "-fill", "none", "-stroke", "rgba(255,255,255,0.55)", "-strokewidth", "4",
         "-draw", "path 'M 22,92 Q 38,82 54,92 T 86,92 T 108,90'",
         "-stroke", "rgba(255,255,255,0.30)", "-strokewidth", "3",
         "-draw", "path 'M 28,104 Q 44,95 60,104 T 92,104 T 102,102'",
         "-stroke", ring, "-strokewidth", "6", "-draw", "circle 64,64 64,6",
         "-stroke", "none", "-fill", "#F4F1E8", "-font", TITLE_FONT, "-pointsize", "70",
         "-gravity", "center", "-annotate", "+0-12", "B",
         "-define", "png:exclude-chunks=date,time", "-strip", "PNG32:" + png])
    run([png, "-define", "icon:auto-resize=128", out_ico])


def click(out_wav):
    """A short soft click: a decaying noise tick over a 2.2 kHz ping, 30 ms, 16-bit mono."""
    rate = 44100
    n = int(rate * 0.030)
    rng = random.Random(29185)
    frames = bytearray()
    for i in range(n):
        t = i / rate
        env = math.exp(-t / 0.0035)
        ping = math.sin(2 * math.pi * 2200 * t) * math.exp(-t / 0.008)
        tick = (rng.random() * 2 - 1) * env
        v = 0.45 * ping + 0.35 * tick
        frames += struct.pack("<h", int(max(-1.0, min(1.0, v)) * 32767 * 0.8))
    with wave.open(out_wav, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(frames))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "resources")
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory() as work:
        night = os.path.join(work, "night.ppm")
        paint(NIGHT, 3, ship=False).ppm(night)
        letter(night, os.path.join(out, "background.png"), [
            (TEXT_FONT, 13, "#C9CED6", None, 12, 7, "Brinemarch 专用下载器"),
            (TITLE_FONT, 54, "#F6F1E4", "rgba(120,200,220,0.75)", None, 70, "Brinemarch"),
            (TEXT_FONT, 17, "#E8D9B8", "rgba(0,0,0,0.9)", None, 140, "潮汐之境  ·  游戏客户端下载"),
        ])
        morning = os.path.join(work, "morning.ppm")
        paint(MORNING, 5, ship=True).ppm(morning)
        letter(morning, os.path.join(out, "finished.png"), [
            (TEXT_FONT, 13, "#C9CED6", None, 12, 7, "Brinemarch 专用下载器"),
            (TITLE_FONT, 44, "#FFFFFF", "rgba(20,50,80,0.85)", None, 58, "Brinemarch"),
            (TEXT_FONT, 26, "#FFFFFF", "rgba(10,30,50,0.9)", None, 118, "下载完成"),
            (TEXT_FONT, 15, "#FFF6E0", "rgba(10,30,50,0.95)", None, 158, "点击「安装游戏」开始安装"),
        ])
        icon(os.path.join(out, "app.ico"), work, ("#2E6F9E", "#0B2238", "#E8C27A"))
        icon(os.path.join(out, "default.ico"), work, ("#5A6B7C", "#1D2731", "#B8C4CF"))
    click(os.path.join(out, "click.wav"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
