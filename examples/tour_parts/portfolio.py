"""A small portfolio: valuation, performance, risk from a year of daily returns, optimised weights."""
from __future__ import annotations

import math
import random

import quelm

HOLDINGS = [("AAPL", 40, 150.0, 189.5), ("MSFT", 25, 310.0, 402.1), ("XOM", 60, 104.0, 98.2),
            ("JNJ", 30, 162.0, 155.4)]


def daily_returns(days: int = 252) -> list[list[float]]:
    # A one-factor market with fixed drifts and vols, seeded so the tour is repeatable.
    rng = random.Random(7)
    params = [(0.0006, 0.018, 1.1), (0.0005, 0.016, 1.0), (0.0002, 0.017, 0.7), (0.0002, 0.010, 0.5)]
    market = [rng.gauss(0.0, 0.009) for _ in range(days)]
    return [[mu + beta * m + rng.gauss(0.0, vol) for m in market] for mu, vol, beta in params]


def show() -> None:
    v = quelm.portfolio_value(HOLDINGS)
    header = f"{'symbol':<7}{'qty':>6}{'avg cost':>10}{'price':>9}{'value':>11}{'P&L':>10}{'P&L %':>8}{'weight':>8}"
    print(header)
    print("-" * len(header))
    for h in v["holdings"]:
        print(f"{h['symbol']:<7}{h['quantity']:>6.0f}{h['average_cost']:>10.2f}{h['price']:>9.2f}"
              f"{h['market_value']:>11.2f}{h['unrealized_pnl']:>10.2f}{h['unrealized_pnl_pct']:>8.1%}"
              f"{h['weight']:>8.1%}")
    print(f"{'total':<7}{'':>25}{v['total_market_value']:>11.2f}{v['total_unrealized_pnl']:>10.2f}"
          f"{v['total_unrealized_pnl_pct']:>8.1%}{1:>8.0%}")

    twr = quelm.twr([100_000, 104_500, 118_900, 121_300], [0, 10_000, -5_000])
    mwr = quelm.mwr(["2023-01-02", "2023-05-15", "2023-09-01", "2024-01-02"],
                    [-100_000, -10_000, 5_000, 121_300])
    print(f"time-weighted return {twr:.2%}   money-weighted return (IRR) {mwr:.2%}")

    returns = daily_returns()
    weights = [h["weight"] for h in v["holdings"]]
    risk = quelm.portfolio_risk(returns, weights, confidence=0.99)
    print(f"daily vol {risk['volatility']:.3%}   annualised vol {risk['annualized_volatility']:.2%}   "
          f"99% 1-day VaR: historical {risk['historical_var']:.2%}, parametric {risk['parametric_var']:.2%}")

    cov = quelm.covariance_matrix(returns)
    print(f"{'weights':<13}" + "".join(f"{s:>9}" for s, *_ in HOLDINGS) + f"{'ann. ret':>10}{'ann. vol':>10}")
    mean = [sum(r) / len(r) for r in returns]
    for label, w in [("current", weights)] + optimised_rows(mean, cov):
        ret = 252 * sum(m * x for m, x in zip(mean, w))
        var = sum(w[i] * cov[i][j] * w[j] for i in range(4) for j in range(4))
        print(f"{label:<13}" + "".join(f"{x:>9.1%}" for x in w) + f"{ret:>10.1%}{math.sqrt(252 * var):>10.2%}")


RF, TARGET = 0.0001, 0.30 / 252  # daily risk-free rate; a 30% a year target, above the min-variance return


def optimised_rows(mean: list[float], cov: list[list[float]]) -> list[tuple[str, list[float]]]:
    """The portfolios the table shows, all on the efficient half of the frontier (returns at
    or above the minimum-variance portfolio's): closed form, then long-only."""
    free = quelm.optimize(mean, cov, rf=RF, target=TARGET)
    long_only = quelm.optimize(mean, cov, rf=RF, target=TARGET, bounds=(0, 1))
    return [("min var", free["min_variance_weights"]), ("tangency", free["tangency_weights"]),
            (f"{252 * TARGET:.0%} target", free["frontier_weights"]),
            ("tangency, ≥0", long_only["tangency_weights"]), (f"{252 * TARGET:.0%} tgt, ≥0", long_only["frontier_weights"])]
