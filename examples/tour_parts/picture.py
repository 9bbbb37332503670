"""A picture: American vs European put values across spot, drawn in the terminal and
saved as a PNG (written with the standard library only)."""
from __future__ import annotations

import struct
import zlib
from pathlib import Path

import quelm

WIDTH, HEIGHT = 64, 18
STRIKE, RATE, VOL, T = 100.0, 0.05, 0.25, 1.0


def curves():
    spots = [50.0 + 100.0 * i / (WIDTH - 1) for i in range(WIDTH)]
    european = [quelm.black_scholes(s, STRIKE, RATE, VOL, T, "put") for s in spots]
    intrinsic = [max(STRIKE - s, 0.0) for s in spots]
    series = [("European (closed form)", "o", european), ("intrinsic K - S", ".", intrinsic)]
    try:
        american = [quelm.binomial(s, STRIKE, RATE, VOL, T, "put", style="american", steps=400) for s in spots]
        series.insert(0, ("American (CRR tree)", "#", american))
    except ValueError:  # the tree engine is not in this build yet
        pass
    return spots, series


def terminal_chart(spots, series) -> None:
    top = max(max(v) for _, _, v in series)
    grid = [[" "] * WIDTH for _ in range(HEIGHT)]
    for _, mark, values in reversed(series):
        for x, v in enumerate(values):
            y = HEIGHT - 1 - round(v / top * (HEIGHT - 1))
            grid[y][x] = mark
    for r, row in enumerate(grid):
        label = f"{top * (HEIGHT - 1 - r) / (HEIGHT - 1):6.1f} |" if r % 4 == 0 else "       |"
        print(label + "".join(row))
    print("       +" + "-" * WIDTH)
    print(f"        spot {spots[0]:.0f}{'':>{WIDTH - 20}}{spots[-1]:.0f}")
    print("        " + "   ".join(f"{mark} {name}" for name, mark, _ in series))


def write_png(path: Path, spots, series, scale: int = 8) -> None:
    w, h = WIDTH * scale, HEIGHT * scale * 2
    pixels = [[(255, 255, 255)] * w for _ in range(h)]
    colours = [(200, 30, 30), (30, 80, 200), (120, 120, 120)]
    top = max(max(v) for _, _, v in series)
    for (_, _, values), colour in zip(series, colours):
        for x in range(w):
            pos = x / (w - 1) * (len(values) - 1)
            i = min(int(pos), len(values) - 2)
            v = values[i] + (values[i + 1] - values[i]) * (pos - i)
            y = h - 1 - int(v / top * (h - 1))
            for dy in (-1, 0, 1):
                if 0 <= y + dy < h:
                    pixels[y + dy][x] = colour
    raw = b"".join(b"\x00" + bytes(c for px in row for c in px) for row in pixels)

    def chunk(tag: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    path.write_bytes(png)


def show() -> None:
    spots, series = curves()
    print(f"Put values, K={STRIKE:g}, r={RATE:g}, vol={VOL:g}, T={T:g}")
    terminal_chart(spots, series)
    out = Path("tour_put_values.png")
    write_png(out, spots, series)
    print(f"\n(saved as {out.resolve()})")
