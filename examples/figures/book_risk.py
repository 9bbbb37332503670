"""The USD/EUR book of the tour: its DV01 to every quote of every curve as a heat map
(trades by quotes), and its one-day historical P&L by full revaluation with VaR marked."""
from __future__ import annotations

import numpy as np
from matplotlib.colors import TwoSlopeNorm

from tour_parts import books

from . import canvas

LEVEL = 0.99


def heat_map(b, m):
    risk = b.risk(m)
    grid = np.array([risk.by_trade[name] for name in risk.names]) / 1e3
    fig, (ax,) = canvas.figure("Bucketed DV01 of a USD/EUR book: every trade against every quote of every curve")
    bound = float(np.abs(grid).max())
    image = ax.imshow(grid, cmap="RdBu", norm=TwoSlopeNorm(0.0, -bound, bound), aspect="auto",
                      interpolation="nearest")
    ax.set_xticks(range(len(risk.labels)), [label.split(" ", 1)[1] for label in risk.labels], rotation=90,
                  fontsize=9)
    ax.set_yticks(range(len(risk.names)), risk.names, fontsize=10)
    ax.grid(False)
    # Curve names over their blocks of quotes, and a rule between the blocks.
    start = 0
    for curve in m.curve_names:
        count = sum(label.startswith(curve + " ") for label in risk.labels)
        ax.text(start + count / 2 - 0.5, -0.9, curve, ha="center", va="bottom", fontweight="bold")
        if start:
            ax.vlines(start - 0.5, -0.5, len(risk.names) - 0.5, color="black", linewidth=1.0)
        start += count
    ax.set_xlabel("quote (its point on the curve)")
    ax.set_ylabel("trade")
    bar = fig.colorbar(image, ax=ax, shrink=0.9)
    bar.set_label("value change per basis point of the quote (thousands, in the trade's currency)")
    yield "book_risk", fig


def pnl_distribution(b, m):
    pnl = np.array(books.one_day_pnl(b, m, books.quote_history(m))) / 1e3
    losses = np.sort(-pnl)
    var = float(np.quantile(losses, LEVEL, method="inverted_cdf"))
    es = float(losses[losses >= var].mean())
    fig, (ax,) = canvas.figure(f"One-day P&L of the book over {len(pnl)} historical days, full revaluation")
    ax.hist(pnl, bins=40, color="tab:blue", alpha=0.75, label="P&L of each day's quote and EURUSD moves applied to today")
    ax.axvline(-var, color="tab:red", linewidth=2.5, label=f"{LEVEL:.0%} VaR: a loss of ${var:,.0f}k")
    ax.axvline(-es, color="tab:purple", linewidth=2.0, linestyle="--",
               label=f"expected shortfall beyond it: ${es:,.0f}k")
    ax.set_xlabel("P&L (thousands of USD; euro trades at each day's EURUSD)")
    ax.set_ylabel("days")
    ax.legend(loc="upper left")
    yield "book_pnl", fig


def figures():
    m, b = books.market(), books.book()
    yield from heat_map(b, m)
    yield from pnl_distribution(b, m)
