"""The VolSurface fitted to the quoted chain: one SVI smile per expiry against the quotes'
implied vols, and the surface it interpolates between and beyond them."""
from __future__ import annotations

import numpy as np
from matplotlib import colormaps

import quelm
from quelm.vec import surface_vol

from . import canvas, market


def fitted_surface() -> tuple[quelm.VolSurface, dict[str, np.ndarray], np.ndarray]:
    """The surface built from every quote of the chain (prices, as a desk receives them),
    the chain itself and the vols its quotes imply (NaN where unquoted)."""
    c = market.chain()
    quoted = ~np.isnan(c["quote"])
    surface = quelm.VolSurface.from_chain(c["strike"][quoted], c["expiry"][quoted], c["quote"][quoted],
                                          market.SPOT, market.RATE, dividend_yield=market.DIVIDEND,
                                          option_types=c["option_type"][quoted].tolist())
    return surface, c, market.implied_from_quotes(c)


def _label(expiry: float) -> str:
    months = round(expiry * 12)
    return f"{months}M" if months < 12 else f"{months // 12}Y"


def slice_pieces(fine: np.ndarray, quoted: np.ndarray) -> list[tuple[np.ndarray, str]]:
    """A slice's strikes split where its quotes end: solid ("-") over the quoted range, dashed
    ("--") beyond it, where the SVI curve is extrapolation. Pieces share their end points."""
    lo, hi = float(quoted.min()), float(quoted.max())
    inside = np.concatenate(([lo], fine[(fine > lo) & (fine < hi)], [hi]))
    pieces = [(inside, "-")]
    if fine[0] < lo:
        pieces.append((np.concatenate((fine[fine < lo], [lo])), "--"))
    if fine[-1] > hi:
        pieces.append((np.concatenate(([hi], fine[fine > hi])), "--"))
    return pieces


def figures():
    surface, c, iv = fitted_surface()
    colours = colormaps["plasma"](np.linspace(0.0, 0.85, len(market.EXPIRIES)))
    fine = np.linspace(market.STRIKES[0], market.STRIKES[-1], 181)

    fig, (ax,) = canvas.figure("VolSurface: one SVI smile per expiry, fitted to the quotes")
    for row, (t, colour) in enumerate(zip(market.EXPIRIES, colours)):
        quoted = ~np.isnan(iv[row])
        for strikes, style in slice_pieces(fine, c["strike"][row][quoted]):
            ax.plot(strikes, surface_vol(surface, strikes, t), style, color=colour,
                    label=f"{_label(t)} SVI slice" if style == "-" else None)
        ax.plot(c["strike"][row][quoted], iv[row][quoted], "o", color=colour, markersize=4,
                markerfacecolor="none")
    ax.plot([], [], "o", color="grey", markerfacecolor="none", markersize=4, label="quotes, implied back")
    ax.plot([], [], "--", color="grey", label="beyond the quotes (extrapolated)")
    ax.axvline(market.SPOT, color="grey", linewidth=1.0, linestyle=":")
    worst = max(abs(s["max_error"]) for s in surface.slices())
    ax.set_title(f"Rounded out-of-the-money quotes (circles) and VolSurface.vol along each expiry "
                 f"(lines); largest slice error {worst:.2%}", fontsize=12)
    ax.set_xlabel("strike (currency units, spot = 100)")
    ax.set_ylabel("implied volatility (annualised)")
    canvas.percent(ax)
    ax.legend(title="expiry", ncols=2, loc="upper right")
    yield "vol_surface_smiles", fig

    fig, ax3 = canvas.figure_3d("VolSurface: the fitted surface between the quoted expiries")
    t = np.linspace(market.EXPIRIES[0], market.EXPIRIES[-1], 40)[:, None]
    forward = market.SPOT * np.exp((market.RATE - market.DIVIDEND) * t)
    k = np.linspace(-0.55, 0.4, 48)[None, :]
    vols = surface_vol(surface, forward * np.exp(k), t)
    kk, tt = np.broadcast_arrays(k, t)
    shape = ax3.plot_surface(kk, tt, vols * 100.0, cmap="plasma", edgecolor="k", linewidth=0.15)
    for row, expiry in enumerate(market.EXPIRIES):  # the quotes, where they sit on it
        quoted = ~np.isnan(iv[row])
        fwd = market.SPOT * np.exp((market.RATE - market.DIVIDEND) * expiry)
        ax3.scatter(np.log(c["strike"][row][quoted] / fwd), np.full(quoted.sum(), expiry), iv[row][quoted] * 100,
                    color="k", s=6, depthshade=False)
    ax3.set_xlabel("log-moneyness ln(K / F)", labelpad=10)
    ax3.set_ylabel("expiry (years)", labelpad=10)
    ax3.set_zlabel("implied vol (% per year)", labelpad=8)
    ax3.view_init(elev=24, azim=-58)
    ax3.set_box_aspect(None, zoom=1.1)
    fig.colorbar(shape, ax=ax3, location="left", shrink=0.55, pad=0.04, aspect=25,
                 label="colour: implied volatility (%)")
    ax3.set_title("Total variance linear in time between slices, non-decreasing (no calendar arbitrage); "
                  "black dots: the quotes", fontsize=12)
    yield "vol_surface", fig
