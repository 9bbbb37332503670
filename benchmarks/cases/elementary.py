"""quelm's own exp and log against the C library's, per call in C++ (Python's math.exp
would time the interpreter, not the function): a loop of 10^6 calls over typical
arguments, so 1 ms in the table is 1 ns per call. The lane forms (2, 4, 8 doubles at once,
SSE2 baseline; 4 lanes built for AVX2 where the processor has it) give every lane the
scalar call's bits."""
from __future__ import annotations

CALLS = 1 << 20


def cases(quick: bool) -> list:
    try:
        import _quelm_testing as T
    except ImportError:
        return []
    calls = CALLS // 4 if quick else CALLS
    scale = f"{calls:,} calls"
    out = []
    for name in ("exp", "log"):
        def libc(name=name):
            return T.elementary_loop(name, "libc", calls)

        out.append({"name": f"{name}, scalar, {scale}", "number": 3,
                    "quelm": lambda name=name: T.elementary_loop(name, "quelm", calls),
                    "peers": {"C library (glibc)": libc},
                    "note": "same loop; quelm inline, the C library through its entry point; glibc uses fused "
                            "multiply-adds where the CPU has them, which quelm forgoes to keep the same bits on "
                            "every machine"})
        impls = ["lanes2", "lanes4", "lanes8"] + (["avx2"] if T.cpu_supports("avx2") else []) + \
            (["avx512f"] if T.cpu_supports("avx512f") else [])
        for impl in impls:
            label = {"lanes2": "2 lanes", "lanes4": "4 lanes", "lanes8": "8 lanes", "avx2": "4 lanes, AVX2",
                     "avx512f": "8 lanes, AVX-512"}[impl]
            out.append({"name": f"{name}, {label}, {scale}", "number": 3,
                        "quelm": lambda name=name, impl=impl: T.elementary_loop(name, impl, calls),
                        "peers": {"C library (glibc)": libc},
                        "note": "per element; every lane has the scalar call's bits (no fused multiply-adds, "
                                "unlike glibc on this CPU)"})
    return out
