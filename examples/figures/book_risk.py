"""The USD/EUR book of the tour: its DV01 to every quote of every curve as a heat map
(trades by quotes), and its one-day historical P&L by full revaluation with VaR marked."""
from __future__ import annotations

import numpy as np
from matplotlib.colors import TwoSlopeNorm

from tour_parts import books

from . import canvas

LEVEL = 0.99


def heat_map(b, m):
    """The rate trades' DV01s: the curve columns of the report (the FX and vol columns are in
    other units) for the trades with curve risk."""
    risk = b.risk(m)
    columns = [j for j, label in enumerate(risk.labels) if label in m.quote_labels]
    rows = [name for name in risk.names if name not in risk.greeks]
    grid = np.array([[risk.by_trade[name][j] for j in columns] for name in rows]) / 1e3
    labels = [risk.labels[j] for j in columns]
    fig, (ax,) = canvas.figure("Bucketed DV01 of a USD/EUR book: every trade against every quote of every curve")
    bound = float(np.abs(grid).max())
    image = ax.imshow(grid, cmap="RdBu", norm=TwoSlopeNorm(0.0, -bound, bound), aspect="auto",
                      interpolation="nearest")
    ax.set_xticks(range(len(labels)), [label.split(" ", 1)[1] for label in labels], rotation=90, fontsize=9)
    ax.set_yticks(range(len(rows)), rows, fontsize=10)
    ax.grid(False)
    # Curve names over their blocks of quotes, and a rule between the blocks.
    start = 0
    for curve in m.curve_names:
        count = sum(label.startswith(curve + " ") for label in labels)
        ax.text(start + count / 2 - 0.5, -0.9, curve, ha="center", va="bottom", fontweight="bold")
        if start:
            ax.vlines(start - 0.5, -0.5, len(rows) - 0.5, color="black", linewidth=1.0)
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
