"""The tour's figures, drawn with matplotlib (a demo dependency only) into one folder."""
from __future__ import annotations

import importlib
from pathlib import Path
from typing import Iterator

# Module per subject; each yields (file stem, figure) pairs.
MODULES = ("put_values", "smile", "vol_surface", "convergence", "paths", "drawdown", "frontier", "curve",
           "bootstrap", "book_risk", "surrogate", "fd_convergence", "swaption_cube")


def draw_all(out_dir: Path, modules: tuple[str, ...] = MODULES) -> Iterator[Path]:
    """Write every figure as PNG into out_dir, yielding each path as soon as it is written."""
    from . import canvas
    for name in modules:
        for stem, fig in importlib.import_module(f"{__name__}.{name}").figures():
            yield canvas.save(fig, out_dir, stem)
