"""A submodule run on first use: its module object is made at the package's import and filled
(its source run) by the first import of it or the first read of one of its attributes. The
package keeps the object as a plain attribute, so no module-level __getattr__ on the package
slows every `quelm.<name>` lookup (CPython specialises attribute reads only on modules
without one).

The object is not put in sys.modules before it runs: `import quelm.vec` then goes through the
import system, which raises what running the source raises (an import statement does not
report errors met while it reads a module already in sys.modules). A finder on
sys.meta_path answers for the submodule with a loader that fills this object, so every
reference to the submodule is the one object."""
from __future__ import annotations

import _thread
import sys
import types

# (_thread and sys only: the package's import stays as light as it was)
_loading: set[int] = set()  # the threads running a pending module's source

# What the import system and tools read of a module without needing its contents.
_WITHOUT_LOADING = frozenset({"__name__", "__spec__", "__loader__", "__package__", "__path__", "__file__",
                              "__cached__", "__dict__", "__class__"})


class _Pending(types.ModuleType):
    def __getattribute__(self, name: str):
        if name not in _WITHOUT_LOADING and _thread.get_ident() not in _loading:
            import importlib  # the import system's own lock makes the first use load it once

            importlib.import_module(types.ModuleType.__getattribute__(self, "__name__"))
        return types.ModuleType.__getattribute__(self, name)


class _Loader:
    """Runs the submodule's source (through the loader the import system found for it) into
    the object made for it."""

    def __init__(self, module: types.ModuleType, source) -> None:
        self._module = module
        self._source = source

    def create_module(self, spec):
        return self._module

    def exec_module(self, module: types.ModuleType) -> None:
        me = _thread.get_ident()
        _loading.add(me)
        try:
            self._source.exec_module(module)
        finally:
            _loading.discard(me)
        module.__class__ = types.ModuleType
        # loaded: a later import of it (after `del sys.modules[...]`) is an ordinary one
        finder = _finders.pop(module.__name__, None)
        if finder is not None and finder in sys.meta_path:
            sys.meta_path.remove(finder)

    def __getattr__(self, name: str):
        return getattr(self._source, name)  # get_source, get_filename, ... for tools


class _Finder:
    def __init__(self, spec) -> None:
        self._spec = spec

    def find_spec(self, name: str, path=None, target=None):
        return self._spec if name == self._spec.name else None


_finders: dict[str, _Finder] = {}


def _find_spec(name: str, path):
    # what an import statement asks: the finders on sys.meta_path, in turn
    for finder in sys.meta_path:
        find = getattr(finder, "find_spec", None)
        spec = find(name, path) if find is not None else None
        if spec is not None:
            return spec
    return None


def submodule(package: types.ModuleType, name: str) -> types.ModuleType | None:
    """The submodule `name` of `package` (being imported), made but not yet run."""
    full = f"{package.__name__}.{name}"
    found = _find_spec(full, package.__path__)
    if found is None or found.loader is None:
        return None
    module = types.ModuleType(full)
    spec = type(found)(full, _Loader(module, found.loader), origin=found.origin)
    spec.has_location = found.has_location
    module.__spec__, module.__loader__, module.__package__ = spec, spec.loader, package.__name__
    module.__file__ = found.origin
    module.__class__ = _Pending
    _finders[full] = _Finder(spec)
    sys.meta_path.insert(0, _finders[full])
    return module
