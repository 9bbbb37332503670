"""quelm.vec's lane kernels beyond the vanilla options (curve queries at times and dates,
bond prices from yields and yields from prices, dated bond prices, barrier and lookback
options): each element keeps the scalar call's bits at every SIMD width (QUELM_SIMD) and
thread count, with invalid, NaN and special elements mixed in, under errors="raise" and
errors="nan".

Run as a script, this file prints one line per case ("<name> ok" or the first differing
elements): the width test runs it once per QUELM_SIMD value."""
from __future__ import annotations

import math
import sys

import numpy as np
import pytest

import quelm
import quelm.vec as vec

PILLARS = np.array([0.25, 0.5, 0.75, 1, 1.5, 2, 2.5, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                    20, 22, 24, 26, 28, 30], dtype=float)
ZEROS = 0.02 + 0.016 * (1.0 - np.exp(-PILLARS / 6.0)) + 0.001 * np.sin(PILLARS)
MANY = np.linspace(0.1, 50.0, 97)  # more pillars than the compared search handles: the bisection
MANY_ZEROS = 0.03 + 0.01 * np.cos(MANY / 7.0)


def curves() -> dict:
    ref = {"reference_date": "2026-01-15"}
    return {
        "flat": quelm.YieldCurve.flat(0.031, **ref),
        "cubic": quelm.YieldCurve.from_zero_rates(PILLARS, ZEROS, "natural-cubic", **ref),
        "cubic-extrapolated": quelm.YieldCurve.from_zero_rates(PILLARS, ZEROS, "natural-cubic",
                                                               extrapolate="flat-forward", **ref),
        "cubic-97": quelm.YieldCurve.from_zero_rates(MANY, MANY_ZEROS, "natural-cubic", **ref),
        "cubic-at-0": quelm.YieldCurve.from_zero_rates([0.0, 1.0, 5.0], [0.01, 0.02, 0.03], "natural-cubic",
                                                       day_count="30/360", **ref),
        "linear": quelm.YieldCurve.from_zero_rates(PILLARS, ZEROS, "linear", extrapolate="flat-forward", **ref),
        "log-linear": quelm.YieldCurve.from_discount_factors(PILLARS, np.exp(-ZEROS * PILLARS), "log-linear",
                                                             **ref),
        "log-linear-97": quelm.YieldCurve.from_zero_rates(MANY, MANY_ZEROS, "log-linear",
                                                          extrapolate="flat-forward", **ref),
        "undated": quelm.YieldCurve.from_zero_rates(PILLARS, ZEROS, "natural-cubic"),
    }


def times(rng, n: int) -> np.ndarray:
    """Times inside and outside the pillars, with pillars, zero, negatives, NaN and infinities."""
    t = rng.uniform(-0.5, 40.0, n)
    special = [0.0, -0.0, -1.0, math.nan, math.inf, -math.inf, 0.25, 30.0, 29.999999999, 1e-300, 5e-324, 50.0,
               0.1]
    pick = rng.random(n) < 0.15
    t[pick] = rng.choice(special, pick.sum())
    t[:len(special)] = special
    return t


def dates(rng, n: int) -> np.ndarray:
    d = np.datetime64("2026-01-15") + rng.integers(-30, 12_000, n).astype("timedelta64[D]")
    d[40::97] = np.datetime64("NaT")
    d[::23] = np.datetime64("2026-01-15")
    d[3] = np.datetime64("2025-12-31")  # before the reference date: the first failure
    return d


def scalar_each(fn, *columns) -> np.ndarray:
    """The scalar call per element: NaN where it raises ValueError."""
    out = np.full(len(columns[0]), math.nan)
    for i, args in enumerate(zip(*columns)):
        try:
            out[i] = fn(*(None if isinstance(a, np.datetime64) and np.isnat(a) else
                          a.item() if isinstance(a, np.datetime64) else a for a in args))
        except (ValueError, TypeError):
            pass
    return out


def first_failure(fn, *columns):
    """The index and message of the first element the scalar call rejects (None: none)."""
    for i, args in enumerate(zip(*columns)):
        try:
            fn(*(a.item() if isinstance(a, np.datetime64) else a for a in args))
        except (ValueError, TypeError) as e:
            return i, str(e)
    return None


def differing(got, want) -> np.ndarray:
    got, want = np.asarray(got, dtype=float), np.asarray(want, dtype=float)
    return np.flatnonzero((got.view(np.uint64) != want.view(np.uint64)) & ~(np.isnan(got) & np.isnan(want)))


def cases():
    """(name, vec call taking errors=, scalar function, columns) for every lane kernel."""
    rng = np.random.default_rng(20261208)
    out = []
    for name, c in curves().items():
        t1, t2 = times(rng, 600), times(rng, 600)
        t2[::3] = t1[::3] + rng.uniform(0.0, 2.0, len(t1[::3]))  # many valid forwards
        out += [
            (f"discount/{name}", lambda e, c=c, t=t1: vec.discount(c, t, errors=e), c.discount, (t1,)),
            (f"zero_rate/{name}", lambda e, c=c, t=t1: vec.zero_rate(c, t, errors=e), c.zero_rate, (t1,)),
            (f"forward_rate/{name}", lambda e, c=c, a=t1, b=t2: vec.forward_rate(c, a, b, errors=e),
             c.forward_rate, (t1, t2)),
        ]
        d1, d2 = dates(rng, 300), dates(rng, 300)
        out += [
            (f"discount-dates/{name}", lambda e, c=c, d=d1: vec.discount(c, d, errors=e), c.discount, (d1,)),
            (f"zero_rate-dates/{name}", lambda e, c=c, d=d1: vec.zero_rate(c, d, errors=e), c.zero_rate, (d1,)),
            (f"forward_rate-dates/{name}", lambda e, c=c, a=d1, b=d2: vec.forward_rate(c, a, b, errors=e),
             c.forward_rate, (d1, d2)),
        ]
    for name, bond in bonds().items():
        y = yields(rng, 500)
        out.append((f"bond_price/{name}", lambda e, b=bond, y=y: vec.bond_price(b, y, errors=e),
                    bond.clean_price_from_yield, (y,)))
        p = prices(rng, bond, 300)
        out.append((f"bond_yield/{name}", lambda e, b=bond, p=p: vec.bond_yield(b, p, errors=e),
                    bond.yield_to_maturity, (p,)))
    for name, bond in dated_bonds().items():
        y = yields(rng, 400)
        settle = settlements(rng, bond, 400)
        out += [
            (f"dated_bond_price/{name}", lambda e, b=bond, y=y, d=settle: vec.dated_bond_price(b, y, d, errors=e),
             bond.clean_price_at, (y, settle)),
            (f"dated_bond_dirty_price/{name}",
             lambda e, b=bond, y=y, d=settle: vec.dated_bond_dirty_price(b, y, d, errors=e), bond.dirty_price_at,
             (y, settle)),
        ]
    cols = barrier_book(rng, 800)
    out.append(("barrier_price", lambda e, c=cols: vec.barrier_price(*c, errors=e), quelm.barrier_price, cols))
    cols = lookback_book(rng, 800)
    out.append(("lookback_price", lambda e, c=cols: vec.lookback_price(*c, errors=e), quelm.lookback_price, cols))
    return out


def lookback_book(rng, n: int) -> tuple:
    """Fixed and floating strikes, K on both sides of S, carry near zero, tiny vols, invalid inputs."""
    spot, strike, rate, vol, t, option, _, _, q = barrier_book(rng, n)
    rate[::9] = q[::9]  # no carry: the formula's 1e-8 floor
    rate[1::11] = q[1::11] + 3e-9
    strike[::13] = spot[::13]
    kind = rng.choice(["fixed", "floating", "float", "FIXED", "strike"], n, p=[0.45, 0.4, 0.06, 0.06, 0.03])
    return spot, strike, rate, vol, t, option, kind, q


def dated_bonds() -> dict:
    return {
        # ex-coupon periods and an irregular first coupon
        "gilt": quelm.FixedRateBond.dated("1996-02-29", "2021-06-07", 0.08, calendar="uk", ex_coupon_days=6,
                                          first_coupon="1996-06-07"),
        "note": quelm.FixedRateBond.dated("2024-05-15", "2054-05-15", 0.045, calendar="us-government-bond"),
    }


def settlements(rng, bond, n: int) -> np.ndarray:
    """A few settlement dates shared by many elements (priced together), some on payment
    dates, before the issue or at maturity (which fail), and NaT."""
    issue, maturity = np.datetime64(bond.issue), np.datetime64(bond.maturity)
    pool = issue + rng.integers(0, (maturity - issue).astype(int), 6).astype("timedelta64[D]")
    pool = np.concatenate([pool, [issue, maturity - 1, maturity, issue - 3]])
    d = rng.choice(pool, n)
    d[50::97] = np.datetime64("NaT")
    return d


def barrier_book(rng, n: int) -> tuple:
    """Options on both sides of their barriers: breached ones, K above and below H, tiny and
    zero vols and times, huge vols, NaN and invalid inputs, rejected type strings."""
    def mixed(values, special):
        pick = rng.random(n) < 0.08
        values[pick] = rng.choice(special, pick.sum())
        return values

    spot = mixed(rng.uniform(50.0, 150.0, n), [0.0, -1.0, math.nan, math.inf, 100.0])
    strike = mixed(rng.uniform(50.0, 150.0, n), [0.0, math.nan, 100.0, 1e-9])
    rate = mixed(rng.uniform(-0.02, 0.1, n), [0.0, math.nan, -math.inf])
    vol = mixed(rng.uniform(0.05, 0.8, n), [0.0, -0.1, 1e-3, 1e-9, 1e-170, 5.0, math.nan])
    t = mixed(rng.uniform(0.05, 3.0, n), [0.0, -1.0, 1e-12, math.nan, 40.0])
    q = mixed(rng.uniform(0.0, 0.05, n), [0.0, 0.5, math.nan])
    barrier = mixed(spot * rng.uniform(0.6, 1.4, n), [0.0, math.nan, 100.0, 1e300])
    option = rng.choice(["call", "put", "C", "p", "straddle"], n, p=[0.4, 0.4, 0.08, 0.08, 0.04])
    kind = rng.choice(["down-in", "down-out", "up-in", "up-out", "DI", "uo", "sideways"], n,
                      p=[0.23, 0.23, 0.23, 0.23, 0.03, 0.03, 0.02])
    return spot, strike, rate, vol, t, option, kind, barrier, q


def bonds() -> dict:
    times = np.array([0.13, 0.63, 1.13, 1.63, 2.13, 2.63, 3.13])
    return {
        "30y-semiannual": quelm.FixedRateBond.regular(100.0, 0.045, 2, 60),
        "monthly": quelm.FixedRateBond.regular(1000.0, 0.03, 12, 37),
        "annual-short": quelm.FixedRateBond.regular(100.0, 0.07, 1, 1),
        "odd-flows": quelm.FixedRateBond.from_cashflows(times, [2.5] * 6 + [102.5], 2, accrued=1.85),
        "negative-amounts": quelm.FixedRateBond.from_cashflows([0.5, 1.0, 40.0], [-5.0, 3.0, 150.0], 4),
        "many-flows": quelm.FixedRateBond.regular(100.0, 0.02, 12, 400),
    }


def yields(rng, n: int) -> np.ndarray:
    """Yields around the coupons, with zero, NaN, infinities and bases 1 + y/f at and below 0."""
    y = rng.uniform(-0.05, 0.25, n)
    special = [0.0, -0.0, math.nan, math.inf, -math.inf, -2.0, -12.0, -1.0, -0.9999999, 1e-300, 5e-324, 40.0, 1e308]
    pick = rng.random(n) < 0.15
    y[pick] = rng.choice(special, pick.sum())
    y[:len(special)] = special
    return y


def prices(rng, bond, n: int) -> np.ndarray:
    """Clean prices from yields across the search's bracket and beyond it (no root), with a
    price at the bracket's end, zero, negative and non-finite ones."""
    p = scalar_each(bond.clean_price_from_yield, rng.uniform(-0.95, 2.2, n))
    p[:6] = [bond.clean_price_from_yield(2.0), 0.0, -5.0, math.nan, math.inf, -bond.accrued]
    return p


CASES = cases()


@pytest.mark.parametrize("name, call, scalar, columns", CASES, ids=[c[0] for c in CASES])
def test_each_element_has_the_scalar_bits(name, call, scalar, columns):
    want = scalar_each(scalar, *columns)
    assert not differing(call("nan"), want).size
    failure = first_failure(scalar, *columns)
    if failure is None:
        assert not differing(call("raise"), want).size
    else:
        with pytest.raises(quelm.ElementError) as info:
            call("raise")
        assert str(info.value) == f"at index ({failure[0]},): {failure[1]}"


def report() -> list[str]:
    lines = []
    for name, call, scalar, columns in CASES:
        bad = differing(call("nan"), scalar_each(scalar, *columns))
        lines.append(f"{name} ok" if not bad.size else f"{name} differs at {bad[:5].tolist()}")
    return lines


@pytest.mark.parametrize("simd, threads", [("scalar", "1"), ("sse2", "2"), ("avx2", "3"), ("avx512", "2")])
def test_every_width_and_thread_count_gives_the_scalar_bits(simd, threads):
    from conftest import run_python

    out = run_python(f"import runpy; runpy.run_path({__file__!r}, run_name='__main__')",
                     env={"QUELM_SIMD": simd, "RAYON_NUM_THREADS": threads}, timeout=300)
    assert out.returncode == 0, out.stderr
    assert out.stdout.splitlines() == [f"{name} ok" for name, *_ in CASES]


if __name__ == "__main__":
    sys.stdout.write("".join(line + "\n" for line in report()))
