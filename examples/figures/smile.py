"""Implied volatility recovered from a quoted chain: the smile per expiry, and the surface."""
from __future__ import annotations

import numpy as np
from matplotlib import colormaps

from . import canvas, market


def _month_label(expiry: float) -> str:
    months = round(expiry * 12)
    return f"{months}M" if months < 12 else f"{months // 12}Y"


def rounding_error(c: dict[str, np.ndarray], iv: np.ndarray) -> np.ndarray:
    """How far the half-tick rounding of each quote can move its implied volatility: the
    largest change from implying the quote half a tick up or down (NaN where unquoted)."""
    moved = []
    for shift in (-0.5 * market.TICK, 0.5 * market.TICK):
        shifted = dict(c, quote=c["quote"] + shift)
        moved.append(np.abs(market.implied_from_quotes(shifted) - iv))
    return np.fmax(moved[0], moved[1])


# A quote whose rounding can move its volatility by more than this is drawn as a point but
# left out of the line: in the far wings a cent is a large share of the price, and joining
# such points draws the rounding's zig-zag, not the smile.
SMOOTH = 0.002


def figures():
    c = market.chain()
    iv = market.implied_from_quotes(c)
    error = rounding_error(c, iv)
    colours = colormaps["viridis"](np.linspace(0.0, 0.9, len(market.EXPIRIES)))

    fig, (ax,) = canvas.figure("Implied-volatility smile recovered from a quoted chain")
    for row, colour in enumerate(colours):
        quoted = ~np.isnan(iv[row])
        steady = quoted & (error[row] <= SMOOTH)
        strikes = c["strike"][row]
        ax.plot(strikes, c["model_vol"][row], color=colour, linewidth=1.0, alpha=0.6, linestyle="--")
        ax.plot(strikes[steady], iv[row][steady], "o-", color=colour, markersize=4,
                label=f"{_month_label(market.EXPIRIES[row])} ({quoted.sum()} quotes)")
        ax.plot(strikes[quoted & ~steady], iv[row][quoted & ~steady], "o", color=colour, markersize=4,
                markerfacecolor="none", alpha=0.8)
    ax.plot([], [], "--", color="grey", linewidth=1.0, label="model surface (dashed)")
    ax.plot([], [], "o", color="grey", markerfacecolor="none", markersize=4,
            label=f"wing quotes a cent moves by > {SMOOTH:.1%}")
    ax.axvline(market.SPOT, color="grey", linewidth=1.0, linestyle=":")
    ax.annotate("spot", (market.SPOT, 0.98), xycoords=("data", "axes fraction"), ha="center", va="top",
                color="grey", backgroundcolor="white")
    ax.set_title(f"Out-of-the-money puts and calls priced at a model surface, quoted to {market.TICK:.2f} and "
                 "implied back (solid: the quotes, dashed: the model)", fontsize=12)
    ax.set_xlabel("strike (currency units, spot = 100)")
    ax.set_ylabel("implied volatility (annualised)")
    canvas.percent(ax)
    ax.legend(title="expiry", ncols=3, loc="upper right", bbox_to_anchor=(1.0, 0.93), fontsize=10)
    yield "iv_smile", fig

    fig, ax3 = canvas.figure_3d("Implied-volatility surface from the same chain")
    forward = market.SPOT * np.exp((market.RATE - market.DIVIDEND) * c["expiry"])
    moneyness = np.log(c["strike"] / forward)
    surface = ax3.plot_surface(moneyness, c["expiry"], np.ma.masked_invalid(iv) * 100.0, cmap="viridis",
                               edgecolor="k", linewidth=0.2, vmin=np.nanmin(iv) * 100, vmax=np.nanmax(iv) * 100)
    ax3.set_xlabel("log-moneyness ln(K / F)", labelpad=10)
    ax3.set_ylabel("expiry (years)", labelpad=10)
    ax3.set_zlabel("implied vol (% per year)", labelpad=8)
    ax3.view_init(elev=24, azim=-58)
    ax3.set_box_aspect(None, zoom=1.1)  # fill the canvas: the default leaves a wide empty frame
    # The colour bar on the left, in the room the 3-D box leaves there, away from the z-axis.
    fig.colorbar(surface, ax=ax3, location="left", shrink=0.55, pad=0.04, aspect=25,
                 label="colour: implied volatility (%)")
    ax3.set_title("Unquoted wings (worth less than a tick) are left open; the skew steepens as expiry shortens",
                  fontsize=12, y=1.0)
    yield "iv_surface", fig
