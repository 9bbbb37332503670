"""A zero curve in three interpolation modes, and a bond priced off it and from its yield."""
from __future__ import annotations

import quelm

PILLARS = [0.5, 1.0, 2.0, 3.0, 5.0, 7.0, 10.0]
ZEROS = [0.0410, 0.0395, 0.0372, 0.0365, 0.0368, 0.0378, 0.0392]


def show() -> None:
    curves = {mode: quelm.YieldCurve.from_zero_rates(PILLARS, ZEROS, interp=mode)
              for mode in ("linear", "log-linear", "natural-cubic")}
    cubic = curves["natural-cubic"]
    print(f"zero curve, pillars {', '.join(f'{t:g}' for t in PILLARS)} years (continuous compounding)")
    header = f"{'t':>6}{'P(t) cubic':>12}{'z(t) linear':>13}{'z(t) loglin':>13}{'z(t) cubic':>12}" \
             f"{'fwd 1y cubic':>14}"
    print(header)
    print("-" * len(header))
    for t in (0.5, 1.0, 1.5, 2.5, 4.0, 6.0, 8.0, 9.0):
        z = {m: c.zero_rate(t) for m, c in curves.items()}
        fwd = cubic.forward_rate(t, t + 1.0)
        print(f"{t:>6.1f}{cubic.discount(t):>12.6f}{z['linear']:>13.4%}{z['log-linear']:>13.4%}"
              f"{z['natural-cubic']:>12.4%}{fwd:>14.4%}")

    bond = quelm.FixedRateBond.regular(face=100, coupon_rate=0.04, frequency=2, n_periods=16)
    dirty, clean = bond.price_from_curve(cubic)
    y = bond.yield_to_maturity(clean)
    print()
    print("8-year 4% semi-annual bond, face 100")
    header = f"{'priced on':<22}{'clean':>10}{'yield':>10}{'mod dur':>10}{'convexity':>11}"
    print(header)
    print("-" * len(header))
    print(f"{'natural-cubic curve':<22}{clean:>10.4f}{y:>10.4%}{bond.modified_duration(y):>10.4f}"
          f"{bond.convexity(y):>11.3f}")
    for quote_yield in (0.03, 0.04, 0.05):
        p = bond.clean_price_from_yield(quote_yield)
        print(f"{'flat yield':<22}{p:>10.4f}{quote_yield:>10.4%}{bond.modified_duration(quote_yield):>10.4f}"
              f"{bond.convexity(quote_yield):>11.3f}")
    print("(yield: semi-annually compounded, solved back from the curve's clean price)")
