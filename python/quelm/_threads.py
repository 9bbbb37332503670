"""quelm's worker pool under threadpoolctl: registers a controller when threadpoolctl is
loaded, else when it is first imported (a finder at the head of sys.meta_path wraps its
loader and registers after the module ran). threadpoolctl is never imported here, and
versions without register() are left alone. The controller finds the extension by its file
name and the two exported C functions quelm_get_num_threads / quelm_set_num_threads."""
import sys


def _register(tp, version):
    if not hasattr(tp, "register") or not hasattr(tp, "LibController"):
        return

    class QuelmController(tp.LibController):
        user_api = "quelm"
        internal_api = "quelm"
        filename_prefixes = ("_core",)
        check_symbols = ("quelm_get_num_threads", "quelm_set_num_threads")

        def get_num_threads(self):
            return self.dynlib.quelm_get_num_threads()

        def set_num_threads(self, num_threads):
            return self.dynlib.quelm_set_num_threads(int(num_threads))

        def get_version(self):
            return version

    QuelmController.__module__ = "quelm"
    tp.register(QuelmController)


class _RegisterWithThreadpoolctl:
    def __init__(self, version):
        self.version = version

    def find_spec(self, name, path=None, target=None):
        if name != "threadpoolctl":
            return None
        import importlib.util
        sys.meta_path.remove(self)
        try:
            spec = importlib.util.find_spec(name)
        except Exception:
            spec = None
        if spec is None or spec.loader is None or not hasattr(spec.loader, "exec_module"):
            sys.meta_path.insert(0, self)  # not installed (yet): try again on a later import
            return None
        run_module = spec.loader.exec_module
        version = self.version

        def exec_module(module):
            del spec.loader.exec_module  # once: the loader's own method is back
            run_module(module)
            try:
                _register(module, version)
            except Exception as exc:
                import warnings
                warnings.warn(f"quelm could not register its pool with threadpoolctl: {exc!r}",
                              RuntimeWarning, stacklevel=2)

        spec.loader.exec_module = exec_module
        return spec


def install(version):
    tp = sys.modules.get("threadpoolctl")
    if tp is not None and hasattr(tp, "threadpool_info"):
        _register(tp, version)
    else:
        sys.meta_path.insert(0, _RegisterWithThreadpoolctl(version))
