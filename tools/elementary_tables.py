"""Writes src/quelm/core/math/elementary_tables.hpp: the constants of quelm's elementary
functions, computed in high precision with mpmath and rounded once to double.

    python tools/elementary_tables.py          # rewrites the header
    python tools/elementary_tables.py --check  # fails if the header differs

Every constant is written as a hexadecimal literal, so the compiler reads exactly the
double chosen here, on every platform. The polynomials are near-minimax fits (least
squares on Chebyshev nodes, weighted for the error that matters); the script prints each
fit's worst error, which the error analysis in elementary.hpp relies on.
"""
from __future__ import annotations

import struct
import sys
from pathlib import Path

import mpmath as mp

mp.mp.prec = 200
OUT = Path(__file__).resolve().parent.parent / "src/quelm/core/math/elementary_tables.hpp"


def bits(d: float) -> int:
    return struct.unpack("<Q", struct.pack("<d", d))[0]


def hexd(d: float) -> str:
    if d == 0.0:
        return "-0.0" if str(d).startswith("-") else "0.0"
    return float.hex(d).replace("0x1.0000000000000p", "0x1p")


def rnd(x) -> float:
    """x rounded to the nearest double (mpmath rounds to nearest even at 53 bits)."""
    with mp.workprec(53):
        return float(mp.mpf(x))


def round_to_multiple(x, quantum) -> float:
    return float(mp.nint(mp.mpf(x) / quantum) * quantum)


def fit(f, weight, lo, hi, powers, nodes=120, refit=True):
    """Coefficients c_k of sum c_k r^powers[k] fitting f on [lo, hi]: least squares on
    Chebyshev nodes with the residual divided by weight(r). The leading coefficient is then
    rounded to double and the others fitted again around it, so that its rounding error
    is absorbed by the rest."""
    if refit:
        c0 = fit(f, weight, lo, hi, powers, nodes, refit=False)[0]
        rest = fit(lambda r: f(r) - c0 * r ** powers[0], weight, lo, hi, powers[1:], nodes, refit=False)
        return [c0] + rest
    pts = [mp.mpf(lo + hi) / 2 + mp.mpf(hi - lo) / 2 * mp.cos(mp.pi * (2 * i + 1) / (2 * nodes)) for i in range(nodes)]
    A = mp.matrix(nodes, len(powers))
    b = mp.matrix(nodes, 1)
    for i, r in enumerate(pts):
        w = weight(r)
        for j, p in enumerate(powers):
            A[i, j] = r**p / w
        b[i] = f(r) / w
    c = mp.lu_solve(A.T * A, A.T * b)
    return [rnd(c[j]) for j in range(len(powers))]


def max_err(f, approx, weight, lo, hi, n=4000):
    worst = mp.mpf(0)
    for i in range(n + 1):
        r = mp.mpf(lo) + (mp.mpf(hi) - lo) * i / n
        if r == 0:
            continue
        worst = max(worst, abs((approx(r) - f(r)) / weight(r)))
    return float(mp.log(worst, 2)) if worst else float("-inf")


def poly(cs, powers):
    return lambda r: sum(mp.mpf(c) * r**p for c, p in zip(cs, powers))


report: list[str] = []

# ---- exp: 2^(j/N) table, N = 128 ------------------------------------------------------
EXP_N = 128
exp_table = []
for j in range(EXP_N):
    t = mp.power(2, mp.mpf(j) / EXP_N)
    hi = rnd(t)
    tail = rnd((t - hi) / hi)
    exp_table.append((bits(tail), (bits(hi) - (j << 45)) % (1 << 64)))
ln2 = mp.log(2)
inv_ln2_n = rnd(EXP_N / ln2)
# -ln2/N split: the high part has 34 significant bits, so kd * hi is exact for |kd| < 2^19.
neg_ln2_hi_n = -round_to_multiple(ln2 / EXP_N, mp.mpf(2) ** (-8 - 34 + 1))
neg_ln2_lo_n = rnd(-ln2 / EXP_N - neg_ln2_hi_n)
exp_r = float(ln2 / EXP_N / 2 * (1 + mp.mpf(2) ** -20))
exp_powers = [2, 3, 4, 5]
exp_poly = fit(lambda r: mp.expm1(r) - r, lambda r: 1, -exp_r, exp_r, exp_powers)
report.append(f"exp poly: abs error 2^{max_err(lambda r: mp.expm1(r) - r, poly(exp_poly, exp_powers), lambda r: 1, -exp_r, exp_r):.1f}")

# ---- log: 1/c, log c table, N = 256, z in [OFF, 2 OFF), 1 at the centre of entry 160 ---
LOG_N = 256
LOG_BITS = 8
LOG_OFF = 0x3FE6000000000000 - (1 << (51 - LOG_BITS))
INVC_BITS = 9  # invc has at most this many significant bits: z_hi * invc is exact, and
# z * invc - 1 (a multiple of 2^-(52 + INVC_BITS) below 2^-8) fits in a double
ln2_hi = round_to_multiple(ln2, mp.mpf(2) ** -42)
ln2_lo = rnd(ln2 - ln2_hi)


def from_bits(b: int) -> float:
    return struct.unpack("<d", struct.pack("<Q", b))[0]


log_table = []
log_r_max = mp.mpf(0)
for i in range(LOG_N):
    lo_z = mp.mpf(from_bits(LOG_OFF + (i << (52 - LOG_BITS))))
    hi_z = mp.mpf(from_bits(LOG_OFF + ((i + 1) << (52 - LOG_BITS))))
    if hi_z < lo_z:  # the entry that crosses the exponent step
        hi_z *= 2
    # bring both ends into one binade view: z spans [lo_z, hi_z) unless the step is inside
    if lo_z <= 1 < hi_z:
        invc = 1.0
    else:
        centre = (lo_z + hi_z) / 2
        e = int(mp.floor(mp.log(1 / centre, 2)))
        q = mp.mpf(2) ** (e - INVC_BITS + 1)
        invc = round_to_multiple(1 / centre, q)
    log_r_max = max(log_r_max, abs(lo_z * invc - 1), abs(hi_z * invc - 1))
    logc = -mp.log(mp.mpf(invc))
    logc_hi = round_to_multiple(logc, mp.mpf(2) ** -42)
    logc_lo = rnd(logc - logc_hi)
    if invc != 1.0:
        assert abs(logc) > max(abs(lo_z * invc - 1), abs(hi_z * invc - 1)), i
    log_table.append((invc, logc_hi, logc_lo))
assert log_table[160][0] == 1.0
assert log_r_max < mp.mpf(2) ** -8
log_r = float(log_r_max * (1 + mp.mpf(2) ** -20))
report.append(f"log |r| max 2^{float(mp.log(log_r_max, 2)):.2f}")
# log1p(r) = r + r^2 P(r); the error that matters is relative to |r| near 1.
log_powers = [0, 1, 2, 3, 4, 5]
log_poly = fit(lambda r: (mp.log1p(r) - r) / r**2, lambda r: 1 / abs(r) if r else 1, -log_r, log_r, log_powers)
report.append("log poly: |r^2 dP| / |r| 2^%.1f" % max_err(
    lambda r: mp.log1p(r) - r, lambda r: r**2 * poly(log_poly, log_powers)(r), lambda r: abs(r), -log_r, log_r))
# pow's log: log1p(r) = r - r^2/2 + r^3 Q(r), needed to ~2^-68 relative.
pow_powers = [0, 1, 2, 3, 4, 5, 6]
pow_poly = fit(lambda r: (mp.log1p(r) - r + r**2 / 2) / r**3, lambda r: 1 / r**2 if r else 1, -log_r, log_r, pow_powers)
report.append("pow log poly: |r^3 dQ| / |r| 2^%.1f" % max_err(
    lambda r: mp.log1p(r) - r + r**2 / 2, lambda r: r**3 * poly(pow_poly, pow_powers)(r), lambda r: abs(r), -log_r, log_r))

# ---- expm1 near 0: expm1(x) = x + x^2/2 + x^3 P(x), |x| <= 0.35 -----------------------
EXPM1_SMALL = 0.35
expm1_powers = list(range(0, 11))
expm1_poly = fit(lambda x: (mp.expm1(x) - x - x**2 / 2) / x**3, lambda x: 1 / x**2 if x else 1,
                 -EXPM1_SMALL, EXPM1_SMALL, expm1_powers)
report.append("expm1 poly: |x^3 dP| / |x| 2^%.1f" % max_err(
    lambda x: mp.expm1(x) - x - x**2 / 2, lambda x: x**3 * poly(expm1_poly, expm1_powers)(x), lambda x: abs(x),
    -EXPM1_SMALL, EXPM1_SMALL))

# ---- sin / cos on |r| <= pi/4 (a little more: the reduced argument's rounding) --------
trig_r = float(mp.pi / 4 * (1 + mp.mpf(2) ** -20))
sin_powers = [0, 1, 2, 3, 4, 5, 6]  # sin r = r + r^3 S(r^2)
sin_poly = fit(lambda z: (mp.sin(mp.sqrt(z)) - mp.sqrt(z)) / mp.sqrt(z) ** 3 if z else mp.mpf(-1) / 6,
               lambda z: 1 / z if z else 1, 0, trig_r**2, sin_powers)
report.append("sin poly: |r^3 dS| / |r| 2^%.1f" % max_err(
    lambda r: mp.sin(r) - r, lambda r: r**3 * poly(sin_poly, sin_powers)(r * r), lambda r: abs(r), -trig_r, trig_r))
cos_powers = [0, 1, 2, 3, 4, 5, 6]  # cos r = 1 - r^2/2 + r^4 C(r^2)
cos_poly = fit(lambda z: (mp.cos(mp.sqrt(z)) - 1 + z / 2) / z**2 if z else mp.mpf(1) / 24,
               lambda z: 1, 0, trig_r**2, cos_powers)
report.append("cos poly: |r^4 dC| 2^%.1f" % max_err(
    lambda r: mp.cos(r) - 1 + r**2 / 2, lambda r: r**4 * poly(cos_poly, cos_powers)(r * r), lambda r: 1, -trig_r, trig_r))
pio2 = mp.pi / 2
pio2_1 = round_to_multiple(pio2, mp.mpf(2) ** -32)            # 33 bits
pio2_2 = round_to_multiple(pio2 - pio2_1, mp.mpf(2) ** -65)    # 33 bits
pio2_3 = round_to_multiple(pio2 - pio2_1 - pio2_2, mp.mpf(2) ** -98)
pio2_4 = rnd(pio2 - pio2_1 - pio2_2 - pio2_3)
pio2_hi = rnd(pio2)
pio2_lo = rnd(pio2 - pio2_hi)
inv_pio2 = rnd(2 / mp.pi)
# 2/pi as 64-bit words of its binary fraction, preceded by one zero word.
mp.mp.prec = 1600
frac = 2 / mp.pi
two_over_pi = [0]
for _ in range(20):
    frac *= mp.mpf(2) ** 64
    w = int(mp.floor(frac))
    two_over_pi.append(w)
    frac -= w
mp.mp.prec = 200

# ---- atan: atan(i/64) for i = 0..64, kernel on |u| <= 1/128, direct on t <= 1/8 ------
atan_table = []
for i in range(65):
    a = mp.atan(mp.mpf(i) / 64)
    hi = rnd(a)
    atan_table.append((hi, rnd(a - hi)))
atan_u = float(mp.mpf(1) / 128 * (1 + mp.mpf(2) ** -10))
atan_k_powers = [0, 1, 2, 3]  # atan u = u + u^3 K(u^2)
atan_kernel = fit(lambda z: (mp.atan(mp.sqrt(z)) - mp.sqrt(z)) / mp.sqrt(z) ** 3 if z else mp.mpf(-1) / 3,
                  lambda z: 1 / z if z else 1, 0, atan_u**2, atan_k_powers)
report.append("atan kernel: |u^3 dK| / |u| 2^%.1f" % max_err(
    lambda u: mp.atan(u) - u, lambda u: u**3 * poly(atan_kernel, atan_k_powers)(u * u), lambda u: abs(u), -atan_u, atan_u))
ATAN_SMALL = 0.125
atan_d_powers = list(range(0, 9))  # atan t = t + t^3 D(t^2), t <= 1/8
atan_direct = fit(lambda z: (mp.atan(mp.sqrt(z)) - mp.sqrt(z)) / mp.sqrt(z) ** 3 if z else mp.mpf(-1) / 3,
                  lambda z: 1 / z if z else 1, 0, ATAN_SMALL**2 * (1 + 2.0**-10), atan_d_powers)
report.append("atan direct: |t^3 dD| / |t| 2^%.1f" % max_err(
    lambda t: mp.atan(t) - t, lambda t: t**3 * poly(atan_direct, atan_d_powers)(t * t), lambda t: abs(t), 0,
    ATAN_SMALL * (1 + 2.0**-10)))
pi_hi, pi_lo = rnd(mp.pi), rnd(mp.pi - rnd(mp.pi))
pio4_hi, pio4_lo = rnd(mp.pi / 4), rnd(mp.pi / 4 - rnd(mp.pi / 4))
tpio4_hi, tpio4_lo = rnd(3 * mp.pi / 4), rnd(3 * mp.pi / 4 - rnd(3 * mp.pi / 4))


def arr(name: str, ctype: str, values, per_line: int = 3) -> str:
    lines = [f"inline constexpr {ctype} {name}[{len(values)}] = {{"]
    for k in range(0, len(values), per_line):
        lines.append("    " + " ".join(v + "," for v in values[k:k + per_line]))
    lines.append("};")
    return "\n".join(lines)


def const(name: str, value: float) -> str:
    return f"inline constexpr double {name} = {hexd(value)};"


def u64(v: int) -> str:
    return f"0x{v:016x}ULL"


text = f"""// Generated by tools/elementary_tables.py (mpmath, rounded once to double); do not edit.
// The constants of quelm's elementary functions (elementary.hpp), as exact hexadecimal
// literals: tables of 2^(j/128), 1/c and log c, atan(i/64), the bits of 2/pi, and the
// polynomial coefficients, lowest power first.
#pragma once

#include <cstdint>

namespace quelm::elementary_detail {{

// exp: x = k ln2/N + r, N = {EXP_N}; entry 2j holds the bits of the relative tail of
// 2^(j/N), entry 2j+1 the bits of 2^(j/N) rounded, less j << 45 (k << 45 adds 2^(k/N)).
inline constexpr int kExpBits = 7;
{const("kInvLn2N", inv_ln2_n)}
{const("kNegLn2HiN", neg_ln2_hi_n)}
{const("kNegLn2LoN", neg_ln2_lo_n)}
{arr("kExpPoly", "double", [hexd(c) for c in exp_poly], 4)}
{arr("kExpTable", "std::uint64_t", [u64(v) for t in exp_table for v in t], 4)}

// log: z = x / 2^k in [OFF, 2 OFF), entry i = bits 44..51 of bits(x) - OFF; per entry
// 1/c (at most {INVC_BITS} significant bits, 1 exactly for the entry holding 1), then log c
// split into a multiple of 2^-42 and the rest.
inline constexpr std::uint64_t kLogOff = {u64(LOG_OFF)};
inline constexpr int kLogBits = {LOG_BITS};
inline constexpr int kInvcBits = {INVC_BITS};
{const("kLn2Hi", ln2_hi)}
{const("kLn2Lo", ln2_lo)}
{arr("kLogPoly", "double", [hexd(c) for c in log_poly], 3)}
{arr("kPowLogPoly", "double", [hexd(c) for c in pow_poly], 3)}
{arr("kLogTable", "double", [hexd(v) for t in log_table for v in t], 3)}

// expm1(x) = x + x^2/2 + x^3 P(x) for |x| < {EXPM1_SMALL}.
inline constexpr double kExpm1Small = {hexd(EXPM1_SMALL)};
{arr("kExpm1Poly", "double", [hexd(c) for c in expm1_poly], 3)}

// sin r = r + r^3 S(r^2), cos r = 1 - r^2/2 + r^4 C(r^2), |r| <= pi/4.
{arr("kSinPoly", "double", [hexd(c) for c in sin_poly], 3)}
{arr("kCosPoly", "double", [hexd(c) for c in cos_poly], 3)}
// pi/2 in four parts (three of 33 bits: k * part is exact for k < 2^20), and in two.
{const("kPio2_1", pio2_1)}
{const("kPio2_2", pio2_2)}
{const("kPio2_3", pio2_3)}
{const("kPio2_4", pio2_4)}
{const("kPio2Hi", pio2_hi)}
{const("kPio2Lo", pio2_lo)}
{const("kInvPio2", inv_pio2)}
// The binary fraction of 2/pi in 64-bit words, after one zero word.
{arr("kTwoOverPi", "std::uint64_t", [u64(v) for v in two_over_pi], 3)}

// atan(i/64), i = 0..64, as hi and lo; atan u = u + u^3 K(u^2) for |u| <= 1/128;
// atan t = t + t^3 D(t^2) for t <= 1/8.
{arr("kAtanTable", "double", [hexd(v) for t in atan_table for v in t], 2)}
{arr("kAtanKernel", "double", [hexd(c) for c in atan_kernel], 4)}
{arr("kAtanDirect", "double", [hexd(c) for c in atan_direct], 3)}
{const("kPiHi", pi_hi)}
{const("kPiLo", pi_lo)}
{const("kPio4Hi", pio4_hi)}
{const("kPio4Lo", pio4_lo)}
{const("k3Pio4Hi", tpio4_hi)}
{const("k3Pio4Lo", tpio4_lo)}

}}  // namespace quelm::elementary_detail
"""

if __name__ == "__main__":
    for line in report:
        print(line, file=sys.stderr)
    if "--check" in sys.argv:
        sys.exit(0 if OUT.read_text() == text else 1)
    OUT.write_text(text)
