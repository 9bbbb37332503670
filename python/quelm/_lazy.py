"""A submodule loaded on first use: the module object is made at the package's import and
fills itself (runs its source) the first time one of its attributes is read. The package
keeps it as a plain attribute, so no module-level __getattr__ on the package slows every
`quelm.<name>` lookup (CPython specialises attribute reads only on modules without one)."""
from __future__ import annotations

import importlib.util
import sys
import threading
import types

_lock = threading.RLock()  # one load at a time; its own thread re-enters while running the source
_loading: set[int] = set()  # the threads running a pending module's source


class _Pending(types.ModuleType):
    def __getattribute__(self, name: str):
        if threading.get_ident() not in _loading:
            _load(self)
        return types.ModuleType.__getattribute__(self, name)


def _load(module: types.ModuleType) -> None:
    with _lock:
        if type(module) is not _Pending:
            return  # another thread loaded it while this one waited
        me = threading.get_ident()
        _loading.add(me)
        try:
            spec = module.__spec__
            sys.modules[spec.name] = module
            try:
                spec.loader.exec_module(module)
            except BaseException:
                # as a failed import: gone from sys.modules, so `import` tries (and reports) again
                if sys.modules.get(spec.name) is module:
                    del sys.modules[spec.name]
                raise
            module.__class__ = types.ModuleType
        finally:
            _loading.discard(me)


def submodule(name: str, needs: str) -> types.ModuleType | None:
    """The module `name` (a submodule of an imported package), made but not yet run; in
    sys.modules, so `import name` finds it, unless its dependency `needs` is not installed:
    then only the object is returned, and `import name` runs the source and raises there."""
    spec = importlib.util.find_spec(name)
    if spec is None or spec.loader is None:
        return None
    module = importlib.util.module_from_spec(spec)
    module.__class__ = _Pending
    try:
        found = importlib.util.find_spec(needs) is not None
    except (ImportError, ValueError):
        found = False
    if found:
        sys.modules[name] = module
    return module
