"""A tour of quelm: option pricing and the volatility models of a desk, simulation,
statistics, portfolios, dates and fixed income, and neural pricing engines, on
realistic-looking inputs. Run with `make demo`."""
from __future__ import annotations

import importlib
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import quelm  # noqa: E402

SECTIONS = [
    ("Black-Scholes-Merton, Greeks and implied volatility", "analytic"),
    ("Monte Carlo, Longstaff-Schwartz and the binomial tree", "montecarlo"),
    ("Stochastic processes and exotic options", "stochastic"),
    ("Forward models, exact implied vols, American approximations, Heston and SABR", "models"),
    ("Return statistics and risk", "stats"),
    ("Portfolio analytics", "portfolio"),
    ("Yield curves and bonds", "fixed_income"),
    ("Dates, calendars and bonds that settle on a date", "dates"),
    ("Curves from market quotes and their bucketed risk", "curves"),
    ("A book of trades on one market: value, risk report and historical P&L", "books"),
    ("Rate options, FX smiles and credit default swaps", "desks"),
    ("Neural pricing engines", "ml"),
    ("Figures", "pictures"),
]


def main() -> None:
    print(f"quelm {quelm.__version__}: {len(quelm.__all__) - 1} names exported\n")
    for title, module in SECTIONS:
        try:
            part = importlib.import_module(f"tour_parts.{module}")
        except ModuleNotFoundError:
            continue
        print("=" * 78)
        print(title)
        print("=" * 78)
        part.show()
        print()


if __name__ == "__main__":
    main()
