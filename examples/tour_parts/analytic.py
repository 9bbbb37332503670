"""Closed-form prices, Greeks and an implied-volatility round trip on a small grid."""
from __future__ import annotations

import quelm

SPOT, RATE, DIV = 100.0, 0.045, 0.015


def show() -> None:
    print(f"spot {SPOT:g}, rate {RATE:.1%}, dividend yield {DIV:.1%}")
    header = f"{'type':<5}{'strike':>8}{'T':>6}{'vol':>6}{'price':>10}{'delta':>9}{'gamma':>9}" \
             f"{'vega':>9}{'theta':>9}{'rho':>9}{'implied':>10}"
    print(header)
    print("-" * len(header))
    for kind in ("call", "put"):
        for strike, t, vol in ((90.0, 0.25, 0.18), (100.0, 0.5, 0.22), (110.0, 1.0, 0.27)):
            p = quelm.black_scholes(SPOT, strike, RATE, vol, t, kind, DIV)
            g = quelm.greeks(SPOT, strike, RATE, vol, t, kind, DIV)
            iv = quelm.implied_volatility(p, SPOT, strike, RATE, t, kind, DIV)
            print(f"{kind:<5}{strike:>8.1f}{t:>6.2f}{vol:>6.2f}{p:>10.4f}{g['delta']:>9.4f}{g['gamma']:>9.4f}"
                  f"{g['vega']:>9.3f}{g['theta']:>9.3f}{g['rho']:>9.3f}{iv:>10.6f}")
    print("(implied: the volatility recovered from the price, a Newton/Brent round trip)")
