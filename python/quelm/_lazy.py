"""A submodule loaded on first use: the module object is made at the package's import and
fills itself (runs its source) the first time one of its attributes is read. The package
keeps it as a plain attribute, so no module-level __getattr__ on the package slows every
`quelm.<name>` lookup (CPython specialises attribute reads only on modules without one)."""
from __future__ import annotations

import _thread
import sys
import types

# (_thread and sys only: the package's import stays as light as it was)
_lock = _thread.RLock()  # one load at a time; its own thread re-enters while running the source
_loading: set[int] = set()  # the threads running a pending module's source


class _Pending(types.ModuleType):
    def __getattribute__(self, name: str):
        if _thread.get_ident() not in _loading:
            _load(self)
        return types.ModuleType.__getattribute__(self, name)


def _load(module: types.ModuleType) -> None:
    with _lock:
        if type(module) is not _Pending:
            return  # another thread loaded it while this one waited
        me = _thread.get_ident()
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


def _find_spec(name: str, path):
    # what an import statement asks: the finders on sys.meta_path, in turn
    for finder in sys.meta_path:
        find = getattr(finder, "find_spec", None)
        spec = find(name, path) if find is not None else None
        if spec is not None:
            return spec
    return None


def submodule(package: types.ModuleType, name: str, needs: str) -> types.ModuleType | None:
    """The submodule `name` of `package` (being imported), made but not yet run; in
    sys.modules, so `import` finds it, unless its dependency `needs` (a top-level module) is
    not installed: then only the object is returned, and `import` runs the source and raises."""
    full = f"{package.__name__}.{name}"
    spec = _find_spec(full, package.__path__)
    if spec is None or spec.loader is None:
        return None
    module = types.ModuleType(full)
    module.__spec__, module.__loader__, module.__package__ = spec, spec.loader, package.__name__
    module.__file__, module.__cached__ = spec.origin, spec.cached
    module.__class__ = _Pending
    try:
        found = needs in sys.modules or _find_spec(needs, None) is not None
    except (ImportError, ValueError):
        found = False
    if found:
        sys.modules[full] = module
    return module
