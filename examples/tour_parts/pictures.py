"""The figures: smiles, convergence, path fans, drawdowns, the frontier, curves and neural pricing,
drawn with matplotlib into tour-figures/."""
from __future__ import annotations

from pathlib import Path

OUT = Path("tour-figures")


def show() -> None:
    try:
        import matplotlib  # noqa: F401
    except ModuleNotFoundError:
        print("matplotlib is not installed here (`make demo` installs it); no figures drawn")
        return
    from figures import draw_all
    print(f"writing 1200 x 800 PNG figures into {OUT.resolve()}/")
    for path in draw_all(OUT):
        print(f"  {path}")
