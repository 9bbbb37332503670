"""The statistics report of a simulated daily price series against a benchmark, and VaR by method."""
from __future__ import annotations

import random

import quelm

DAYS = 756  # three years of trading days


def simulate(seed: int = 2024) -> tuple[list[float], list[float]]:
    # A market factor with fat-ish tails (a normal mixture) and a stock with beta 1.2 on it.
    rng = random.Random(seed)
    bench, prices = [], [100.0]
    for _ in range(DAYS):
        vol = 0.025 if rng.random() < 0.1 else 0.008
        m = rng.gauss(0.0003, vol)
        r = 0.0001 + 1.2 * m + rng.gauss(0.0, 0.006)
        bench.append(m)
        prices.append(prices[-1] * (1.0 + r))
    return prices, bench


def fmt(value) -> str:
    if value is None:
        return "None"
    if isinstance(value, int):
        return f"{value:d}"
    return f"{value:.6g}"


def show() -> None:
    prices, bench = simulate()
    report = quelm.stats(prices=prices, benchmark=bench, risk_free=0.0001, lag=5)
    print(f"{DAYS + 1} simulated daily prices, start 100, end {prices[-1]:.2f}; benchmark = market factor")
    items = list(report.items())
    half = (len(items) + 1) // 2
    width = max(len(k) for k, _ in items) + 2
    for i in range(half):
        left = items[i]
        line = f"{left[0]:<{width}}{fmt(left[1]):>12}"
        if i + half < len(items):
            right = items[i + half]
            line += f"    {right[0]:<{width}}{fmt(right[1]):>12}"
        print(line)
    returns = [b / a - 1.0 for a, b in zip(prices, prices[1:])]
    print()
    header = f"{'confidence':<12}{'historical':>12}{'parametric':>12}{'cornish-fisher':>16}{'ES hist':>10}{'ES param':>10}"
    print(header)
    print("-" * len(header))
    for c in (0.95, 0.99):
        row = [quelm.value_at_risk(returns, c, m) for m in ("historical", "parametric", "cornish-fisher")]
        es = [quelm.expected_shortfall(returns, c, m) for m in ("historical", "parametric")]
        print(f"{c:<12.2f}{row[0]:>12.4%}{row[1]:>12.4%}{row[2]:>16.4%}{es[0]:>10.4%}{es[1]:>10.4%}")
    dd = quelm.max_drawdown(prices)
    print(f"max drawdown {dd['max_drawdown']:.2%} from day {dd['peak_index']} to day {dd['trough_index']}; "
          f"beta {quelm.beta(returns, bench):.3f}; acf(1..3) "
          + ", ".join(f"{v:.3f}" for v in quelm.acf(returns, 3)[1:]))
