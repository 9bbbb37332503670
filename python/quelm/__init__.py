"""The `quelm` Python module."""
# At the top level: the build reads the package version from this line.
__version__ = "0.1.0"

import sys as _sys  # noqa: E402

from quelm import _core  # noqa: E402

if getattr(_core, "_package", None) is not None:
    # Imported again after `del sys.modules["quelm"]`: hand back the package made the first
    # time (the import statement binds what sys.modules holds once this file has run), so
    # there is one quelm per process, as there is one compiled module.
    _sys.modules[__name__] = _core._package
else:
    from quelm import _lazy, _threads
    from quelm._core import *  # noqa: F403 - the compiled functions and classes, in public order
    from quelm._core import InternalFault, __all__ as _public

    __all__ = ["__version__", *_public]

    _threads.install(__version__)
    # quelm.vec imports NumPy, so it runs on first use; a plain attribute (no module
    # __getattr__) keeps every quelm.<name> lookup on the interpreter's fast path.
    vec = _lazy.submodule(_sys.modules[__name__], "vec")
    if vec is None:
        del vec
    _core._package = _sys.modules[__name__]
    del _lazy, _threads, _public
del _sys
