"""quelm: quantitative-finance analytics in C++ (options, processes, statistics, portfolios,
curves and bonds). The functions live in the compiled `quelm._core`; `quelm.vec` (NumPy)
holds their array forms and is imported on first use."""
__version__ = "0.1.0"

from quelm import _threads
from quelm._core import *  # noqa: F403 - the compiled functions and classes, in public order
from quelm._core import InternalFault, __all__ as _public

__all__ = ["__version__", *_public]

_threads.install(__version__)
del _threads, _public


def __getattr__(name: str):
    # quelm.vec imports NumPy, so only on first use
    if name == "vec":
        import importlib

        return importlib.import_module("quelm.vec")
    raise AttributeError(f"module 'quelm' has no attribute '{name}'")
