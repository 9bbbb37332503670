"""Implied volatility recovered from a quoted chain: the smile per expiry, and the surface."""
from __future__ import annotations

import numpy as np
from matplotlib import colormaps

from . import canvas, market


def _month_label(expiry: float) -> str:
    months = round(expiry * 12)
    return f"{months}M" if months < 12 else f"{months // 12}Y"


def figures():
    c = market.chain()
    iv = market.implied_from_quotes(c)
    colours = colormaps["viridis"](np.linspace(0.0, 0.9, len(market.EXPIRIES)))

    fig, (ax,) = canvas.figure("Implied-volatility smile recovered from a quoted chain")
    for row, colour in enumerate(colours):
        quoted = ~np.isnan(iv[row])
        strikes = c["strike"][row]
        ax.plot(strikes, c["model_vol"][row], color=colour, linewidth=1.0, alpha=0.5, linestyle="--")
        ax.plot(strikes[quoted], iv[row][quoted], "o-", color=colour, markersize=4,
                label=f"{_month_label(market.EXPIRIES[row])} ({quoted.sum()} quotes)")
    ax.axvline(market.SPOT, color="grey", linewidth=1.0, linestyle=":")
    ax.annotate("spot", (market.SPOT, 0.98), xycoords=("data", "axes fraction"), ha="center", va="top",
                color="grey", backgroundcolor="white")
    ax.set_title(f"Out-of-the-money puts and calls priced at a model surface, quoted to {market.TICK:.2f} and "
                 "implied back (dashed: the model)", fontsize=12)
    ax.set_xlabel("strike (currency units, spot = 100)")
    ax.set_ylabel("implied volatility (annualised)")
    canvas.percent(ax)
    ax.legend(title="expiry", ncols=2, loc="upper right")
    yield "iv_smile", fig

    fig, ax3 = canvas.figure_3d("Implied-volatility surface from the same chain")
    forward = market.SPOT * np.exp((market.RATE - market.DIVIDEND) * c["expiry"])
    moneyness = np.log(c["strike"] / forward)
    surface = ax3.plot_surface(moneyness, c["expiry"], np.ma.masked_invalid(iv) * 100.0, cmap="viridis",
                               edgecolor="k", linewidth=0.2, vmin=np.nanmin(iv) * 100, vmax=np.nanmax(iv) * 100)
    ax3.set_xlabel("log-moneyness ln(K / F)", labelpad=12)
    ax3.set_ylabel("expiry (years)", labelpad=12)
    ax3.set_zlabel("implied volatility (%)", labelpad=10)
    ax3.view_init(elev=24, azim=-58)
    fig.colorbar(surface, ax=ax3, shrink=0.6, label="implied volatility (%)")
    ax3.set_title("Unquoted wings (worth less than a tick) are left open; the skew steepens as expiry shortens",
                  fontsize=12, y=1.0)
    yield "iv_surface", fig
