"""Curves from market quotes: a €STR discount curve and a 6M Euribor curve on it, every
quote repriced, a swap valued on the pair and its bucketed DV01 to every quote."""
from __future__ import annotations

import datetime as dt

import quelm

TODAY = dt.date(2025, 1, 15)
ESTR = [("1W", 0.0291), ("1M", 0.0290), ("3M", 0.0286), ("6M", 0.0279), ("1Y", 0.0268), ("2Y", 0.0254),
        ("3Y", 0.0250), ("5Y", 0.0252), ("7Y", 0.0258), ("10Y", 0.0266), ("15Y", 0.0274), ("20Y", 0.0273),
        ("30Y", 0.0262)]
SWAPS = [("2Y", 0.0268), ("3Y", 0.0264), ("5Y", 0.0266), ("7Y", 0.0272), ("10Y", 0.0281), ("15Y", 0.0290),
         ("20Y", 0.0288), ("30Y", 0.0276)]


def show() -> None:
    estr = [quelm.Ois(t, r) for t, r in ESTR]
    ois_curve = quelm.YieldCurve.bootstrap(TODAY, estr)
    euribor = ([quelm.Deposit("6M", 0.0285), quelm.Fra("6M", "12M", 0.0272), quelm.Fra("12M", "18M", 0.0265)]
               + [quelm.Swap(t, r) for t, r in SWAPS])
    curve = quelm.YieldCurve.bootstrap(TODAY, euribor, discount_curve=ois_curve)
    worst = max(max(abs(q.par_rate(ois_curve) - q.rate) for q in estr),
                max(abs(q.par_rate(curve) - q.rate) for q in euribor))
    print(f"trade date {TODAY}: {len(estr)} €STR OIS quotes -> discount curve, "
          f"{len(euribor)} Euribor 6M quotes -> projection curve on it")
    print(f"every quote reprices on its curve: largest par-rate error {worst:.1e}")
    header = f"{'date':<12}{'€STR zero':>11}{'6M zero':>10}{'6M fwd 6M':>11}"
    print(header)
    print("-" * len(header))
    for years in (1, 2, 5, 10, 20, 30):
        d = dt.date(TODAY.year + years, TODAY.month, TODAY.day)
        end = dt.date(d.year, d.month + 6, d.day) if d.month <= 6 else dt.date(d.year + 1, d.month - 6, d.day)
        print(f"{d.isoformat():<12}{ois_curve.zero_rate(d):>11.4%}{curve.zero_rate(d):>10.4%}"
              f"{curve.forward_rate(d, end):>11.4%}")
    print()

    swap = quelm.Swap("8Y", 0.0280)
    notional = 10_000_000
    print(f"8Y receiver swap at 2.80% on {notional:,}: par rate {swap.par_rate(curve):.4%}, "
          f"value {swap.npv(curve) * notional:,.2f}")
    print("bucketed DV01 (value change per basis point of each quote):")
    for quote, d in zip(curve.instruments, curve.risk(swap)[0]):
        if abs(d * 1e-4 * notional) >= 0.5:
            print(f"  {quote!r:24s}{d * 1e-4 * notional:>12,.2f}")
