"""Dates and market conventions: day counts, holiday calendars, a schedule with a stub, and
two real bonds priced on their settlement dates."""
from __future__ import annotations

import datetime as dt

import quelm


def show() -> None:
    start, end = dt.date(2024, 2, 28), dt.date(2024, 8, 31)
    print(f"year fraction from {start} to {end}")
    print("  " + "   ".join(f"{dc} {quelm.year_fraction(start, end, dc):.6f}"
                            for dc in ("act/360", "act/365f", "30/360", "30e/360", "act/act-isda")))
    print()

    cal = quelm.Calendar("target+uk")
    d = dt.date(2024, 12, 24)
    print(f"calendar {cal.name}: holidays from {d} to the new year "
          + ", ".join(str(h) for h in cal.holidays(d, dt.date(2025, 1, 3))))
    print(f"  {d} + 2 business days = {cal.advance(d, '2D')},  "
          f"2025-03-31 + 1M modified-following, end of month = "
          f"{cal.advance(dt.date(2025, 3, 31), '1M', 'modified-following', True)}")
    sched = quelm.schedule("2024-03-15", "2026-08-20", "6M", calendar="target", convention="modified-following")
    print("  6M schedule 2024-03-15 -> 2026-08-20 (backward, short first stub): "
          + ", ".join(str(x) for x in sched))
    print()

    gilt = quelm.FixedRateBond.dated("1996-02-29", "2021-06-07", 0.08, first_coupon="1996-06-07",
                                     ex_coupon_days=6, calendar="uk")
    print("8% gilt 2021 (ACT/ACT ICMA, 6 business days ex-coupon), clean price 103")
    header = f"{'settles':<12}{'accrued':>12}{'dirty':>12}{'yield':>11}{'mod dur':>10}"
    print(header)
    print("-" * len(header))
    for settle in ("2013-05-29", "2013-05-30"):
        y = gilt.yield_at(103.0, settle)
        print(f"{settle:<12}{gilt.accrued_at(settle):>12.7f}{gilt.dirty_price_at(y, settle):>12.6f}"
              f"{y:>11.5%}{gilt.modified_duration_at(y, settle):>10.4f}")
    print("(inside the ex-coupon period the buyer misses the next coupon: the accrued turns negative)")
    ust = quelm.FixedRateBond.dated("1990-05-15", "2020-05-15", 0.0875, day_count="act/act-icma")
    print(f"8.75% US Treasury 2020 at a yield of 8.84% on its issue date: {ust.clean_price_at(0.0884, '1990-05-15'):.6f}")
