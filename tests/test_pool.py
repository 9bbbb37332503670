"""The worker pool shared by concurrent callers, resized at run time, and driven by threadpoolctl.

Thread counts are fixed per process, so each case runs in a child interpreter with its own
RAYON_NUM_THREADS. The C++ callers come from hooks in the test-only module, which release
the interpreter lock around their jobs.
"""
from __future__ import annotations

import importlib.util
import sysconfig
import textwrap

import pytest

from conftest import run_python, same_output_across_threads

HAVE_THREADPOOLCTL = importlib.util.find_spec("threadpoolctl") is not None
needs_threadpoolctl = pytest.mark.skipif(not HAVE_THREADPOOLCTL, reason="threadpoolctl is not installed")


# The public module's pool, read through the functions it exports for threadpoolctl (the
# test-only module links a pool of its own).
QUELM_SIZE = "import ctypes, quelm\nquelm_size = ctypes.CDLL(quelm._core.__file__).quelm_get_num_threads\n"


def child(code: str, threads: str | None = "3", *, sized: bool = False) -> str:
    """Runs code in a child with that many threads; `sized` defines quelm_size() first."""
    env = {"RAYON_NUM_THREADS": threads} if threads is not None else {}
    proc = run_python((QUELM_SIZE if sized else "") + textwrap.dedent(code), env=env)
    assert proc.returncode == 0, proc.stderr
    return proc.stdout


# --- several callers at once -------------------------------------------------------------

@pytest.mark.parametrize("threads", ["1", "2", "5"])
@pytest.mark.parametrize("callers", [2, 4])
def test_jobs_from_several_cpp_threads_each_get_their_own_slots(threads, callers):
    out = child(f"""
        import _quelm_testing as t
        rows = [t.pool_concurrent_jobs({callers}, 5000, work) for work in (0, 20, 200) for _ in range(5)]
        print(all(r[0::2] == [1] * {callers} for r in rows))
    """, threads)
    assert out.split() == ["True"]


@pytest.mark.parametrize("threads", ["2", "3"])
def test_a_job_arriving_during_another_gets_a_worker(threads):
    # The workers are all inside a long job when a short one arrives: one moves over between
    # chunks, so the short job runs on more threads than its caller alone. On a loaded machine
    # the scheduler may not run a worker during one short job, so one run of five must show it.
    out = child("""
        import _quelm_testing as t
        print([t.pool_late_job(40000, 4000, 3000) for _ in range(5)])
    """, threads)
    rows = eval(out)
    assert all(ok == 1 for ok, _ in rows), rows
    assert any(late_threads >= 2 for _, late_threads in rows), rows


POOL_JOBS_FROM_PYTHON_THREADS = """
import _quelm_testing as t
from concurrent.futures import ThreadPoolExecutor
specs = [(job, 3000 + 517 * job, job % 4 * 40) for job in range(24)]
with ThreadPoolExecutor(6) as ex:
    got = list(ex.map(lambda s: t.pool_job(*s), specs))
print(got == [t.serial_job(*s) for s in specs])
"""


def test_jobs_from_python_threads_match_serial_across_thread_counts():
    assert same_output_across_threads(POOL_JOBS_FROM_PYTHON_THREADS).split() == ["True"]


# Public engines from several Python threads at once give the bits of one-at-a-time calls.
ENGINES_FROM_THREADS = """
import quelm
from concurrent.futures import ThreadPoolExecutor
curve = quelm.YieldCurve.from_zero_rates([0.5, 1, 2, 5, 10], [0.02, 0.022, 0.025, 0.03, 0.032])
rets = [((k * 7919) % 101 - 50) / 1000 for k in range(5000)]
calls = [
    lambda: quelm.monte_carlo(100, 105, 0.05, 0.2, 1.0, "call", paths=60000, seed=5),
    lambda: quelm.monte_carlo(90, 100, 0.03, 0.3, 2.0, "put", paths=40001, seed=9),
    lambda: quelm.lsm(100, 100, 0.05, 0.2, 1.0, "put", paths=4000, steps=40, seed=2),
    lambda: quelm.simulate_process("heston", paths=3000, steps=50, seed=4),
    lambda: quelm.simulate_process("merton", paths=3000, steps=50, seed=6),
    lambda: quelm.stats(returns=rets),
    lambda: [curve.zero_rate(t / 10) for t in range(5, 100)] + [curve.discount(t / 3) for t in range(2, 30)],
]
serial = [f() for f in calls]
with ThreadPoolExecutor(4) as ex:
    rounds = [list(ex.map(lambda f: f(), calls * 3)) for _ in range(2)]
print(all(r == serial * 3 for r in rounds))
print(repr(serial[0]))
"""


def test_engines_called_from_python_threads_match_serial_calls():
    out = same_output_across_threads(ENGINES_FROM_THREADS).split("\n")
    assert out[0] == "True"


@pytest.mark.parametrize("threads", ["2", "3", "4"])
def test_a_nested_call_runs_serially_on_the_chunk_thread(threads):
    # A worker that joined an inner job would show up as a foreign thread in its chunks.
    out = child("""
        import _quelm_testing as t
        sizes = [(64, 300), (7, 5000), (1000, 3)] + [(16, 200000)] * 8
        print(set(tuple(t.pool_nested(n, inner)) for n, inner in sizes))
    """, threads)
    assert out.strip() == "{(1, 0)}"


@pytest.mark.parametrize("threads", ["1", "2", "5"])
def test_one_callers_stop_or_failure_leaves_the_other_job_whole(threads):
    out = child("""
        import _quelm_testing as t
        print([t.pool_stop_one(20000, 200) for _ in range(3)], [t.pool_fail_one(20000, 50) for _ in range(3)])
    """, threads)
    assert out.strip() == "[[1, 1, 1], [1, 1, 1], [1, 1, 1]] [[1, 1], [1, 1], [1, 1]]"


# --- size at run time --------------------------------------------------------------------

@pytest.mark.parametrize("env, size", [
    ({"RAYON_NUM_THREADS": "3"}, 3),
    ({"RAYON_NUM_THREADS": "", "RAYON_RS_NUM_CPUS": "4"}, 4),
    ({"RAYON_NUM_THREADS": "0", "RAYON_RS_NUM_CPUS": "2"}, 2),
    ({"RAYON_NUM_THREADS": "100000"}, 512),
    # Unless quelm's own variables say otherwise, OMP_NUM_THREADS (first level of its list)
    # sizes the pool, as Dask's nanny and other process managers expect.
    ({"RAYON_NUM_THREADS": "", "RAYON_RS_NUM_CPUS": "", "OMP_NUM_THREADS": "1"}, 1),
    ({"RAYON_NUM_THREADS": "", "RAYON_RS_NUM_CPUS": "", "OMP_NUM_THREADS": " 3,1"}, 3),
    ({"RAYON_NUM_THREADS": "2", "OMP_NUM_THREADS": "1"}, 2),
    ({"RAYON_NUM_THREADS": "", "RAYON_RS_NUM_CPUS": "3", "OMP_NUM_THREADS": "1"}, 3),
])
def test_the_environment_sets_the_starting_size(env, size):
    proc = run_python(QUELM_SIZE + "import _quelm_testing as t; print(quelm_size(), t.pool_size())", env=env)
    assert proc.stdout.split() == [str(size)] * 2, proc.stderr


def test_resize_grows_and_shrinks_between_and_during_jobs():
    out = child("""
        import threading, _quelm_testing as t
        sizes = []
        for n in (1, 6, 2, 0, 9, 3):
            t.set_pool_size(n)
            sizes.append(t.pool_size())
            assert t.pool_job(n, 4001, 30) == t.serial_job(n, 4001, 30)
        # Resized over and over while other threads run jobs: none is lost or mixed.
        stop = False
        def churn():
            k = 0
            while not stop:
                t.set_pool_size(1 + k % 5)
                k += 1
        c = threading.Thread(target=churn)
        c.start()
        ok = all(t.pool_concurrent_jobs(3, 3000, 20)[0::2] == [1, 1, 1] for _ in range(30))
        stop = True
        c.join()
        print(sizes, ok)
    """, "2")
    assert out.strip() == "[1, 6, 2, 1, 9, 3] True"


def test_a_forked_child_keeps_the_size_set_at_run_time():
    out = child("""
        import os, _quelm_testing as t
        t.set_pool_size(3)
        t.pool_job(1, 1000, 1)
        pid = os.fork()
        if pid == 0:
            os._exit(0 if t.pool_size() == 3 and t.pool_job(2, 5000, 9) == t.serial_job(2, 5000, 9) else 5)
        print(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
    """, "5")
    assert out.split() == ["0"]


# --- threadpoolctl -----------------------------------------------------------------------

def test_import_does_not_import_threadpoolctl():
    out = child("import sys, quelm; print('threadpoolctl' in sys.modules)")
    assert out.split() == ["False"]


INFO = """
import json
from threadpoolctl import threadpool_info
print(json.dumps([(i["internal_api"], i["user_api"], i["num_threads"], i["version"])
                  for i in threadpool_info() if i["internal_api"] == "quelm"]))
"""


@needs_threadpoolctl
@pytest.mark.parametrize("first", ["import quelm", "import threadpoolctl", "import threadpoolctl, quelm"])
def test_threadpool_info_lists_the_pool_whichever_module_comes_first(first):
    out = child(f"{first}\nimport quelm\n{INFO}")
    assert out.strip() == '[["quelm", "quelm", 3, "0.1.0"]]'


@needs_threadpoolctl
def test_threadpool_limits_shrinks_the_pool_and_restores_it():
    out = child("""
        from threadpoolctl import threadpool_limits, ThreadpoolController
        args = (100, 105, 0.05, 0.2, 1.0, "call")
        ref = quelm.monte_carlo(*args, paths=50001, seed=2)
        seen = [quelm_size()]
        with threadpool_limits(limits=1):
            seen.append(quelm_size())
            same = quelm.monte_carlo(*args, paths=50001, seed=2) == ref
        seen.append(quelm_size())
        with threadpool_limits(limits=2, user_api="quelm"):
            seen.append(quelm_size())
        with threadpool_limits(limits=1, user_api="blas"):  # someone else's pool
            seen.append(quelm_size())
        ThreadpoolController().select(internal_api="quelm").limit(limits=4)
        seen.append(quelm_size())
        print(seen, same, quelm.monte_carlo(*args, paths=50001, seed=2) == ref)
    """, sized=True)
    assert out.strip() == "[3, 1, 3, 2, 3, 4] True True"


# --- free-threaded interpreters ----------------------------------------------------------

@pytest.mark.skipif(not sysconfig.get_config_var("Py_GIL_DISABLED"), reason="not a free-threaded interpreter")
def test_import_keeps_the_interpreter_lock_off():
    out = child("""
        import sys, quelm, _quelm_testing
        print(sys._is_gil_enabled())
    """, None)
    assert out.split() == ["False"]
