"""The shared look of the tour's figures: 1200 x 800 pixels, titled, gridded, labelled."""
from __future__ import annotations

from pathlib import Path

import matplotlib

matplotlib.use("Agg")  # files only: no window, no display needed

from matplotlib.axes import Axes  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402
from matplotlib.ticker import PercentFormatter  # noqa: E402

SIZE_INCHES = (12, 8)
DPI = 100

matplotlib.rcParams.update({
    "font.size": 12,
    "axes.titlesize": 14,
    "axes.labelsize": 13,
    "legend.fontsize": 11,
    "figure.titlesize": 17,
    "axes.grid": True,
    "grid.alpha": 0.3,
    "lines.linewidth": 2.0,
})


def figure(title: str, rows: int = 1, cols: int = 1, **subplots) -> tuple[Figure, list[Axes]]:
    """A figure of the tour's size, with its axes as a flat list (row by row)."""
    fig = Figure(figsize=SIZE_INCHES, dpi=DPI, layout="constrained")
    fig.suptitle(title, fontweight="bold")
    grid = fig.subplots(rows, cols, squeeze=False, **subplots)
    return fig, [ax for row in grid for ax in row]


def figure_3d(title: str) -> tuple[Figure, Axes]:
    """A figure of the tour's size holding one 3-D axes."""
    fig = Figure(figsize=SIZE_INCHES, dpi=DPI, layout="constrained")
    fig.suptitle(title, fontweight="bold")
    return fig, fig.add_subplot(projection="3d")


def percent(ax: Axes, axis: str = "y", decimals: int | None = None) -> None:
    """Show fractions (0.05) as percentages (5%) on one axis."""
    target = ax.yaxis if axis == "y" else ax.xaxis
    target.set_major_formatter(PercentFormatter(xmax=1.0, decimals=decimals))


def save(fig: Figure, out_dir: Path, stem: str) -> Path:
    # No tight bounding box: it would crop the canvas away from 1200 x 800.
    out_dir.mkdir(parents=True, exist_ok=True)
    path = out_dir / f"{stem}.png"
    fig.savefig(path, dpi=DPI)
    return path
