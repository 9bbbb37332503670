// quelm's elementary functions for the test suite and the benchmarks: the scalar calls, the
// N-lane instances (for bit-for-bit comparison with the scalar call), the same lanes built
// for AVX2 and AVX-512 targets, and timing loops against the C library.
#include "testing/registry.hpp"

#include <chrono>
#include <cmath>
#include <ctime>
#include <string>
#include <vector>

#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/lanes.hpp"

#if defined(__GNUC__) || defined(__clang__)
#define QUELM_NOINLINE __attribute__((noinline))
#else
#define QUELM_NOINLINE
#endif

namespace quelm::testing {

namespace {

double scalar_call(const std::string& name, double x, double y) {
    if (name == "exp") return quelm::exp(x);
    if (name == "log") return quelm::log(x);
    if (name == "expm1") return quelm::expm1(x);
    if (name == "log1p") return quelm::log1p(x);
    if (name == "pow") return quelm::pow(x, y);
    if (name == "sin") return quelm::sin(x);
    if (name == "cos") return quelm::cos(x);
    if (name == "atan2") return quelm::atan2(x, y);
    if (name == "normal_cdf_exp") return normal_cdf_exp(x);
    if (name == "normal_cdf_given_exp") return normal_cdf_given_exp(x, y);
    if (name == "normal_cdf") return normal_cdf(x);
    return std::nan("");
}

// name(x[i], y[i]) for every i.
PyObject* elementary(const std::string& name, const py::FloatSeq& xs, const py::FloatSeq& ys) {
    const auto x = xs.view(), y = ys.view();
    std::vector<double> out(x.size());
    for (std::size_t i = 0; i < x.size(); ++i) out[i] = scalar_call(name, x[i], i < y.size() ? y[i] : 0.0);
    return py::to_py(out);
}

// The lane templates over V, a chunk at a time; the last chunk is padded with 1.0.
template <class V>
V lane_call(int which, V x, V y) {
    switch (which) {
        case 0: return exp_lanes(x);
        case 1: return log_lanes(x);
        case 2: return normal_cdf_exp_lanes(x);
        case 4: return log1p_lanes(x);
        default: return normal_cdf_given_exp_lanes(x, y);
    }
}

template <class V>
void run_lanes(int which, const double* x, const double* y, double* out, std::size_t n) {
    constexpr int w = lanes::size_v<V>;
    for (std::size_t i = 0; i < n; i += w) {
        double bx[w], by[w], bo[w];
        for (int k = 0; k < w; ++k) {
            bx[k] = i + k < n ? x[i + k] : 1.0;
            by[k] = i + k < n ? y[i + k] : 1.0;
        }
        lanes::store(bo, lane_call<V>(which, lanes::load<V>(bx), lanes::load<V>(by)));
        for (int k = 0; k < w && i + k < n; ++k) out[i + k] = bo[k];
    }
}

// The same loops built for wider targets: everything inlined into them, so the lanes run
// in AVX2 or AVX-512 registers.
#if QUELM_LANES_VECTOR && defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"), flatten)) void run_avx2(int which, const double* x, const double* y, double* out,
                                                       std::size_t n) {
    run_lanes<lanes::f64x4>(which, x, y, out, n);
}
__attribute__((target("avx512f"), flatten)) void run_avx512(int which, const double* x, const double* y,
                                                            double* out, std::size_t n) {
    run_lanes<lanes::f64x8>(which, x, y, out, n);
}
__attribute__((target("avx2"), flatten)) void run_avx2_twin(int which, const double* x, const double* y,
                                                            double* out, std::size_t n) {
    run_lanes<lanes::Twin<lanes::f64x4>>(which, x, y, out, n);
}
bool cpu_has(const std::string& target) {
    if (target == "avx2") return __builtin_cpu_supports("avx2");
    if (target == "avx512f") return __builtin_cpu_supports("avx512f");
    return target == "default";
}
#else
void run_avx2(int which, const double* x, const double* y, double* out, std::size_t n) {
    run_lanes<lanes::f64x4>(which, x, y, out, n);
}
void run_avx512(int which, const double* x, const double* y, double* out, std::size_t n) {
    run_lanes<lanes::f64x8>(which, x, y, out, n);
}
void run_avx2_twin(int which, const double* x, const double* y, double* out, std::size_t n) {
    run_lanes<lanes::Twin<lanes::f64x4>>(which, x, y, out, n);
}
bool cpu_has(const std::string& target) { return target == "default"; }
#endif

int lane_function(const std::string& name) {
    if (name == "exp") return 0;
    if (name == "log") return 1;
    if (name == "normal_cdf_exp") return 2;
    if (name == "log1p") return 4;
    return 3;
}

// The N-lane instance (width 1, 2, 4, 8; 3 for two vectors of 2 lanes, lanes::Twin) of exp,
// log, normal_cdf_exp or normal_cdf_given_exp on every argument.
PyObject* elementary_lanes(const std::string& name, const py::FloatSeq& xs, const py::FloatSeq& ys,
                           std::uint64_t width) {
    std::vector<double> x(xs.view().begin(), xs.view().end()), y(ys.view().begin(), ys.view().end());
    y.resize(x.size(), 1.0);
    std::vector<double> out(x.size());
    const int which = lane_function(name);
    switch (width) {
        case 1: run_lanes<double>(which, x.data(), y.data(), out.data(), x.size()); break;
        case 2: run_lanes<lanes::f64x2>(which, x.data(), y.data(), out.data(), x.size()); break;
        case 3: run_lanes<lanes::Twin<lanes::f64x2>>(which, x.data(), y.data(), out.data(), x.size()); break;
        case 4: run_lanes<lanes::f64x4>(which, x.data(), y.data(), out.data(), x.size()); break;
        default: run_lanes<lanes::f64x8>(which, x.data(), y.data(), out.data(), x.size()); break;
    }
    return py::to_py(out);
}

// The 4-lane instance built for AVX2 ("avx2"; "avx2-twin": two vectors of 4, lanes::Twin) or
// the 8-lane one for AVX-512 ("avx512f"); None when this processor lacks the target.
PyObject* elementary_target(const std::string& name, const py::FloatSeq& xs, const py::FloatSeq& ys,
                            const std::string& target) {
    const bool twin = target == "avx2-twin";
    if (!cpu_has(twin ? std::string("avx2") : target)) Py_RETURN_NONE;
    std::vector<double> x(xs.view().begin(), xs.view().end()), y(ys.view().begin(), ys.view().end());
    y.resize(x.size(), 1.0);
    std::vector<double> out(x.size());
    const int which = lane_function(name);
    if (twin) {
        run_avx2_twin(which, x.data(), y.data(), out.data(), x.size());
    } else if (target == "avx2") {
        run_avx2(which, x.data(), y.data(), out.data(), x.size());
    } else if (target == "avx512f") {
        run_avx512(which, x.data(), y.data(), out.data(), x.size());
    } else {
        run_lanes<double>(which, x.data(), y.data(), out.data(), x.size());
    }
    return py::to_py(out);
}

// ---- Timing loops ------------------------------------------------------------------------

constexpr std::size_t kBlock = 4096;

std::vector<double> timing_arguments(bool for_log) {
    std::vector<double> a(kBlock);
    std::uint64_t s = 0x9e3779b97f4a7c15ULL;
    for (double& v : a) {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        const double u = static_cast<double>(s >> 11) * 0x1p-53;
        v = for_log ? 1e-3 + 100.0 * u : -20.0 + 40.0 * u;  // typical finance ranges
    }
    return a;
}

template <class V, bool Log>
inline void lanes_body(const double* in, double* out, std::size_t rounds) {
    constexpr int w = lanes::size_v<V>;
    for (std::size_t r = 0; r < rounds; ++r) {
        for (std::size_t i = 0; i < kBlock; i += w) {
            const V x = lanes::load<V>(in + i);
            lanes::store(out + i, Log ? log_lanes(x) : exp_lanes(x));
        }
    }
}
template <class V, bool Log>
QUELM_NOINLINE void lanes_loop(const double* in, double* out, std::size_t rounds) {
    lanes_body<V, Log>(in, out, rounds);
}
#if QUELM_LANES_VECTOR && defined(__x86_64__) && defined(__GNUC__)
template <bool Log>
__attribute__((noinline, target("avx2"), flatten)) void avx2_loop(const double* in, double* out, std::size_t rounds) {
    lanes_body<lanes::f64x4, Log>(in, out, rounds);
}
template <bool Log>
__attribute__((noinline, target("avx512f"), flatten)) void avx512_loop(const double* in, double* out,
                                                                         std::size_t rounds) {
    lanes_body<lanes::f64x8, Log>(in, out, rounds);
}
#else
template <bool Log>
void avx2_loop(const double* in, double* out, std::size_t rounds) {
    lanes_body<lanes::f64x4, Log>(in, out, rounds);
}
template <bool Log>
void avx512_loop(const double* in, double* out, std::size_t rounds) {
    lanes_body<lanes::f64x8, Log>(in, out, rounds);
}
#endif

template <bool Log>
QUELM_NOINLINE void libc_loop(const double* in, double* out, std::size_t rounds) {
    for (std::size_t r = 0; r < rounds; ++r) {
        for (std::size_t i = 0; i < kBlock; ++i) out[i] = Log ? std::log(in[i]) : std::exp(in[i]);
    }
}

// This thread's processor time in seconds (wall time where there is no such clock): on a
// shared machine it leaves out the time other processes had the processor.
double thread_seconds() {
#if defined(CLOCK_THREAD_CPUTIME_ID)
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
#else
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
#endif
}

// Runs `calls` evaluations of exp or log ("quelm", "libc", "lanes2", "lanes4", "lanes8",
// "avx2" (4 lanes), "avx512f" (8 lanes)) over a block of typical arguments; returns the
// processor seconds taken.
PyObject* elementary_loop(const std::string& name, const std::string& impl, std::uint64_t calls) {
    const bool is_log = name == "log";
    static const std::vector<double> exp_args = timing_arguments(false), log_args = timing_arguments(true);
    const std::vector<double>& in = is_log ? log_args : exp_args;
    std::vector<double> out(kBlock);
    const std::size_t rounds = std::max<std::uint64_t>(1, calls / kBlock);
    const double start = thread_seconds();
    if (impl == "libc") {
        is_log ? libc_loop<true>(in.data(), out.data(), rounds) : libc_loop<false>(in.data(), out.data(), rounds);
    } else if (impl == "lanes2") {
        is_log ? lanes_loop<lanes::f64x2, true>(in.data(), out.data(), rounds)
               : lanes_loop<lanes::f64x2, false>(in.data(), out.data(), rounds);
    } else if (impl == "lanes4") {
        is_log ? lanes_loop<lanes::f64x4, true>(in.data(), out.data(), rounds)
               : lanes_loop<lanes::f64x4, false>(in.data(), out.data(), rounds);
    } else if (impl == "lanes8") {
        is_log ? lanes_loop<lanes::f64x8, true>(in.data(), out.data(), rounds)
               : lanes_loop<lanes::f64x8, false>(in.data(), out.data(), rounds);
    } else if (impl == "avx2" || impl == "avx512f") {
        if (!cpu_has(impl)) Py_RETURN_NONE;
        if (impl == "avx2") {
            is_log ? avx2_loop<true>(in.data(), out.data(), rounds) : avx2_loop<false>(in.data(), out.data(), rounds);
        } else {
            is_log ? avx512_loop<true>(in.data(), out.data(), rounds)
                   : avx512_loop<false>(in.data(), out.data(), rounds);
        }
    } else {
        is_log ? lanes_loop<double, true>(in.data(), out.data(), rounds)
               : lanes_loop<double, false>(in.data(), out.data(), rounds);
    }
    return py::to_py(thread_seconds() - start);
}

PyObject* cpu_supports(const std::string& target) { return PyBool_FromLong(cpu_has(target) ? 1 : 0); }

constexpr py::FunctionDef def_elementary = py::function<elementary>(
    "elementary", {"name", "xs", "ys"}, "quelm's elementary function `name` at (xs[i], ys[i]).");
QUELM_TESTING(def_elementary);
constexpr py::FunctionDef def_elementary_lanes = py::function<elementary_lanes>(
    "elementary_lanes", {"name", "xs", "ys", "width"}, "The width-lane instance of a lane function.");
QUELM_TESTING(def_elementary_lanes);
constexpr py::FunctionDef def_elementary_target = py::function<elementary_target>(
    "elementary_target", {"name", "xs", "ys", "target"}, "Lanes built for an instruction-set target.");
QUELM_TESTING(def_elementary_target);
constexpr py::FunctionDef def_elementary_loop = py::function<elementary_loop>(
    "elementary_loop", {"name", "impl", "calls"}, "Seconds for `calls` evaluations of exp or log.");
QUELM_TESTING(def_elementary_loop);
constexpr py::FunctionDef def_cpu_supports = py::function<cpu_supports>(
    "cpu_supports", {"target"}, "Whether this processor runs the target's instructions.");
QUELM_TESTING(def_cpu_supports);

}  // namespace

}  // namespace quelm::testing
