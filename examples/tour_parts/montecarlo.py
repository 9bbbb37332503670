"""Monte Carlo beside the closed form, and the binomial tree for American exercise."""
from __future__ import annotations

import quelm


def show() -> None:
    print(f"{'option':<22}{'closed form':>12}{'Monte Carlo':>13}{'± s.e.':>9}{'CRR 1000':>10}")
    for kind, strike in (("call", 95.0), ("call", 110.0), ("put", 100.0)):
        exact = quelm.black_scholes(100, strike, 0.05, 0.2, 1.0, kind)
        mc = quelm.monte_carlo(100, strike, 0.05, 0.2, 1.0, kind, paths=200_000, seed=7)
        tree = quelm.binomial(100, strike, 0.05, 0.2, 1.0, kind)
        print(f"{kind + ' K=' + format(strike, 'g'):<22}{exact:>12.4f}{mc['price']:>13.4f}"
              f"{mc['standard_error']:>9.4f}{tree:>10.4f}")
    am = quelm.binomial(100, 110, 0.05, 0.3, 1.0, "put", style="american")
    eu = quelm.binomial(100, 110, 0.05, 0.3, 1.0, "put")
    ls = quelm.lsm(100, 110, 0.05, 0.3, 1.0, "put", paths=100_000, steps=50)
    print(f"\nAmerican put K=110 by Longstaff-Schwartz: {ls['price']:.4f} ± {ls['standard_error']:.4f} "
          "(50 exercise dates)")
    print(f"American put K=110 on the tree: {am:.4f} (European {eu:.4f}, early-exercise premium {am - eu:.4f})")
