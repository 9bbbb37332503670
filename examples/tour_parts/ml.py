"""Neural engines trained at call time, each beside its classical baseline."""
from __future__ import annotations

import quelm


def show() -> None:
    print(f"{'differential ML':<18}{'surrogate':>11}{'Black-Scholes':>15}{'delta':>9}{'BS delta':>10}")
    for kind, strike in (("call", 100.0), ("put", 105.0)):
        r = quelm.differential_ml(100, strike, 0.05, 0.2, 1.0, kind)
        print(f"{kind + ' K=' + format(strike, 'g'):<18}{r['ml_price']:>11.4f}{r['bs_price']:>15.4f}"
              f"{r['ml_delta']:>9.4f}{r['bs_delta']:>10.4f}")
    print(f"\n{'American put K=100':<22}{'estimate':>10}{'± s.e.':>9}{'CRR 2000':>10}{'diff':>9}")
    for method in ("deep-lsm", "dos"):
        r = quelm.american_ml(100, 100, 0.05, 0.2, 1.0, "put", method=method)
        print(f"{method:<22}{r['ml_price']:>10.4f}{r['standard_error']:>9.4f}{r['binomial_price']:>10.4f}"
              f"{r['ml_price'] - r['binomial_price']:>+9.4f}")
    print("(deep optimal stopping values its learned rule on fresh paths, so it sits a little below the tree)")
