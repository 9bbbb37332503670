"""Measures the error of quelm's elementary functions in ULPs against mpmath.

    PYTHONPATH=build/dev python tools/elementary_accuracy.py [N]

N random arguments per function (default 100000) over the whole double range, plus the
edges: subnormal results, the overflow and underflow thresholds, arguments near 0 and 1,
near multiples of pi/2 and huge ones for sin and cos. The functions are called through the
test-only module (_quelm_testing.elementary); the table printed is the one in
docs/reproducibility.md. tests/test_elementary.py runs the same measurement on fewer
arguments.
"""
from __future__ import annotations

import math
import random
import struct
import sys

import mpmath as mp

mp.mp.prec = 160

FUNCTIONS = ("exp", "log", "expm1", "log1p", "pow", "sin", "cos", "atan2")
MIN_SUB = 2.0**-1074


def from_bits(b: int) -> float:
    return struct.unpack("<d", struct.pack("<Q", b))[0]


def random_double(rng: random.Random, lo_exp: int = -1074, hi_exp: int = 1023) -> float:
    """A positive double with its exponent uniform in [lo_exp, hi_exp] and random mantissa."""
    e = rng.randint(lo_exp, hi_exp)
    m = 1.0 + rng.getrandbits(52) * 2.0**-52
    return max(math.ldexp(m, e), MIN_SUB) if e >= -1022 else math.ldexp(rng.getrandbits(52) or 1, -1074)


def exact(name: str, x: float, y: float):
    X = mp.mpf(x)
    if name == "exp":
        return mp.exp(X)
    if name == "log":
        return mp.log(X)
    if name == "expm1":
        return mp.expm1(X)
    if name == "log1p":
        return mp.log1p(X)
    if name == "pow":
        return mp.power(X, mp.mpf(y))
    if name == "sin":
        return mp.sin(X)
    if name == "cos":
        return mp.cos(X)
    return mp.atan2(X, mp.mpf(y))


def ulp_error(got: float, want) -> float:
    if math.isnan(got):
        return math.inf
    if want == 0:
        return 0.0 if got == 0 else math.inf
    a = abs(want)
    if a > mp.mpf(2) ** 1024 * (1 - mp.mpf(2) ** -54):  # rounds to inf
        return 0.0 if math.isinf(got) and (got > 0) == (want > 0) else math.inf
    if math.isinf(got):
        return math.inf
    e = max(int(mp.floor(mp.log(a, 2))), -1022)
    ulp = mp.mpf(2) ** (e - 52)
    return float(abs(mp.mpf(got) - want) / ulp)


def arguments(name: str, n: int, seed: int = 1) -> list[tuple[float, float]]:
    rng = random.Random(f"{name}-{seed}")
    out: list[tuple[float, float]] = []
    u = rng.uniform
    for k in range(n):
        part = k % 4
        if name == "exp":
            x = (u(-745.2, 709.8), u(-745.2, -708.3), u(709.0, 709.79), random_double(rng, -60, 9) * rng.choice((-1, 1)))[part]
            out.append((x, 0.0))
        elif name == "log":
            x = (random_double(rng), u(0.9, 1.1), 1.0 + rng.randint(-2**20, 2**20) * 2.0**-52, u(0.0, 10.0))[part]
            out.append((x, 0.0))
        elif name == "expm1":
            x = (u(-40.0, 709.7), u(-0.4, 0.4), random_double(rng, -60, -1) * rng.choice((-1, 1)), u(-2.0, 2.0))[part]
            out.append((x, 0.0))
        elif name == "log1p":
            x = (random_double(rng), u(-1.0, 0.0), random_double(rng, -60, -1) * rng.choice((-1, 1)), u(-0.5, 2.0))[part]
            out.append((x, 0.0))
        elif name == "pow":
            if part == 3:  # negative x with integer y
                x, y = -u(0.1, 10.0), float(rng.randint(-300, 300))
            elif part == 2:  # x near 1, large y
                x, y = 1.0 + rng.randint(-2**30, 2**30) * 2.0**-52, u(-1e12, 1e12)
            else:
                x = random_double(rng) if part == 0 else u(0.0, 4.0)
                lx = math.log(x) if x > 0 else -745
                bound = 745.0 / abs(lx) if lx != 0 else 1e6
                y = u(-bound, bound)
            out.append((x, y))
        elif name in ("sin", "cos"):
            if part == 0:
                x = u(-10.0, 10.0)
            elif part == 1:
                x = random_double(rng, -30, 1023) * rng.choice((-1, 1))
            elif part == 2:  # near multiples of pi/2
                kk = rng.randint(1, 2**20)
                x = float(mp.mpf(kk) * mp.pi / 2) * (1 + rng.randint(-4, 4) * 2.0**-52)
            else:
                x = u(-1e6, 1e6)
            out.append((x, 0.0))
        else:
            y = random_double(rng, -30, 30) * rng.choice((-1, 1))
            x = (random_double(rng, -30, 30), y * u(0.5, 2.0), random_double(rng), u(-1.0, 1.0))[part]
            if part == 2:
                y = random_double(rng)
            out.append((y, x * rng.choice((-1, 1))))
    return out + edges(name)


def edges(name: str) -> list[tuple[float, float]]:
    near1 = [1.0 + k * 2.0**-52 for k in range(-8, 9)] + [1.0 - 2.0**-53, 1.0 + 2.0**-52]
    tiny = [2.0**-1074, 2.0**-1073 * 3, 2.0**-1022, 2.0**-1022 * (1 - 2.0**-52), 1e-300, 2.0**-54, 2.0**-27]
    big = [1.7976931348623157e308, 1e308, 2.0**1023, 1e300]
    if name == "exp":
        xs = [709.782712893384, 709.7827128933839, -745.1332191019411, -745.1332191019412, -708.3964185322641,
              -708.3964185322640, -708.39641853226, -744.44007192138, -740.0, -720.5, 512.0, -512.0, 0.5, -0.5,
              1e-300, -1e-300] + [-708.4 - k * 0.37 for k in range(100)]
    elif name == "log":
        xs = near1 + tiny + big + [2.0, 0.5, 10.0, 0.6855, 1.371]
    elif name == "expm1":
        xs = [0.35, -0.35, 0.34999999999999998, 1e-10, -1e-10, 709.78, -37.9, -38.0, 2.0**-54, 2.0**-53]
    elif name == "log1p":
        xs = [-1 + 2.0**-53, -0.5, -0.49999999999999994, 1e-10, -1e-10, 2.0**-53, 2.0**-54] + big + tiny
    elif name in ("sin", "cos"):
        xs = [6381956970095103 * 2.0**797, 5.319372648326541e+255, 1e22, 2.0**1023, 0.7853981633974483,
              0.7853981633974484, 1.5707963267948966, 3.141592653589793, 2.0**20, 2.0**20 - 1, 1e-300, 2.0**-26]
    elif name == "pow":
        return [(2.0, 0.5), (2.0, -1074.0), (2.0, -1075.0), (2.0, 1023.0), (2.0, 1024.0), (0.5, 1074.0),
                (10.0, -323.0), (10.0, 308.0), (1e-300, 1.03), (2.0**-1074, 0.5), (1 + 2.0**-52, 2.0**60),
                (-2.0, 3.0), (-2.0, -1074.0), (3.0, 1.5), (1.5, -1000.0)]
    else:
        return [(1.0, 1.0), (1.0, -1.0), (-1.0, -1.0), (1e-300, 1e300), (1e300, 1e-300), (2.0**-1074, 1.0),
                (1.0, 2.0**-1074), (3.0, 4.0), (-0.1, -1e10)]
    return [(x, 0.0) for x in xs]


def measure(call, n: int, seed: int = 1) -> dict[str, tuple[float, float, float]]:
    """call(name, xs, ys) -> results; returns name -> (max ULP, argument, second argument)."""
    out = {}
    for name in FUNCTIONS:
        args = arguments(name, n, seed)
        xs = [a for a, _ in args]
        ys = [b for _, b in args]
        got = call(name, xs, ys)
        worst = (-1.0, 0.0, 0.0)
        for (x, y), g in zip(args, got):
            err = ulp_error(g, exact(name, x, y))
            if err > worst[0]:
                worst = (err, x, y)
        out[name] = worst
    return out


def main() -> None:
    import _quelm_testing as internal

    n = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000
    res = measure(lambda name, xs, ys: internal.elementary(name, xs, ys), n)
    print(f"| function | arguments | max error (ULP) | at |")
    print("|---|---|---|---|")
    for name, (err, x, y) in res.items():
        at = f"{x!r}, {y!r}" if name in ("pow", "atan2") else repr(x)
        print(f"| {name} | {n} + edges | {err:.3f} | {at} |")


if __name__ == "__main__":
    main()
