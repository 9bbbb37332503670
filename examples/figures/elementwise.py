"""The array calls the figures use: quelm.vec, which broadcasts like NumPy, takes
`errors="raise"` or `"nan"`, and runs the series of a panel along `axis`."""
from __future__ import annotations

from quelm.vec import (  # noqa: F401  (re-exported for the figures)
    GREEK_KEYS,
    binomial,
    black_scholes,
    forward_rate,
    greeks,
    implied_volatility,
    simulate_paths,
    stats,
    value_at_risk,
    zero_rate,
)
