// Test hooks for the vanilla kernel in forward form: the error functions, the normalised
// Black price and its inversion, and a loop of inversions for per-call timings.
#include "testing/registry.hpp"

#include <algorithm>
#include <chrono>
#include <vector>

#include "quelm/pricing/black/black.hpp"
#include "quelm/pricing/black/black_implied.hpp"
#include "quelm/core/math/erf.hpp"

namespace quelm::testing {

namespace {

PyObject* erf_family(double x) {
    return Py_BuildValue("(ddddd)", erf_cody(x), erfc_cody(x), erfcx_cody(x), normal_cdf_accurate(x),
                         x <= 0.0 ? normal_mills_slope(x) : 0.0);
}
PyObject* normal_quantile_fast_(double p) { return py::to_py(normal_quantile_fast(p)); }
PyObject* normalised_black_(double x, double s, double theta) { return py::to_py(normalised_black(x, s, theta)); }
PyObject* normalised_bachelier_otm_(double d) { return py::to_py(normalised_bachelier_otm(d)); }
PyObject* implied_normalised_volatility_(double beta, double x, double theta) {
    return py::to_py(implied_normalised_volatility(beta, x, theta));
}

// Inverts every normalised price in `betas` at one x, `repeat` times; returns the
// implied values and the mean wall time of one inversion in nanoseconds.
PyObject* implied_normalised_timing(const py::FloatSeq& betas, double x, double theta, py::U32 repeat) {
    std::vector<double> out(betas.size());
    const auto start = std::chrono::steady_clock::now();
    for (std::uint32_t r = 0; r < repeat.value; ++r) {
        for (std::size_t i = 0; i < betas.size(); ++i) out[i] = implied_normalised_volatility(betas.data()[i], x, theta);
    }
    const double ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count();
    py::Ref values(py::to_py(out));
    if (!values) return nullptr;
    py::Ref per_call(py::to_py(ns / static_cast<double>(betas.size() * (repeat.value ? repeat.value : 1))));
    if (!per_call) return nullptr;
    return PyTuple_Pack(2, values.get(), per_call.get());
}

// The out-of-the-money call quotes (beta_i, x_i) solved one by one and in lanes at the
// process's SIMD width: (scalar values, lane values); solve-ready quotes only.
PyObject* implied_otm_scalar_and_lanes(const py::FloatSeq& betas, const py::FloatSeq& xs) {
    const std::size_t n = std::min(betas.size(), xs.size());
    std::vector<double> one(n), many(n);
    for (std::size_t i = 0; i < n; ++i) one[i] = implied_otm_call_volatility(betas.data()[i], xs.data()[i]);
    implied_otm_call_volatilities(betas.data(), xs.data(), n, many.data());
    py::Ref a(py::to_py(one));
    if (!a) return nullptr;
    py::Ref b(py::to_py(many));
    if (!b) return nullptr;
    return PyTuple_Pack(2, a.get(), b.get());
}
// (solve, beta, x, answer) of a normalised quote, as the solver's gates reduce it.
PyObject* normalised_otm_quote_(double beta, double x, double theta) {
    const OtmQuote q = normalised_otm_quote(beta, x, theta);
    return Py_BuildValue("(Oddd)", q.solve ? Py_True : Py_False, q.beta, q.x, q.answer);
}

constexpr py::FunctionDef d1 = py::function<erf_family>(
    "erf_family", {"x"}, "(erf, erfc, erfcx, Phi, 1 + x Y(x)) of x by Cody's approximations.");
constexpr py::FunctionDef d2 =
    py::function<normal_quantile_fast_>("normal_quantile_fast", {"p"}, "Acklam's Phi^-1 with one Halley step.");
constexpr py::FunctionDef d3 = py::function<normalised_black_>(
    "normalised_black", {"x", "s", "theta"}, "The normalised Black price of x = ln(F/K), s = sigma sqrt(T).");
constexpr py::FunctionDef d4 = py::function<normalised_bachelier_otm_>(
    "normalised_bachelier_otm", {"d"}, "phi(d) + d Phi(d) for d <= 0.");
constexpr py::FunctionDef d5 = py::function<implied_normalised_volatility_>(
    "implied_normalised_volatility", {"beta", "x", "theta"}, "s with normalised_black(x, s, theta) = beta.");
constexpr py::FunctionDef d6 = py::function<implied_normalised_timing>(
    "implied_normalised_timing", {"betas", "x", "theta", "repeat"},
    "(implied values, nanoseconds per inversion) over a loop of inversions.");
constexpr py::FunctionDef d7 = py::function<implied_otm_scalar_and_lanes>(
    "implied_otm_scalar_and_lanes", {"betas", "xs"},
    "(one by one, in SIMD lanes): the total deviations of out-of-the-money call quotes.");
constexpr py::FunctionDef d8 = py::function<normalised_otm_quote_>(
    "normalised_otm_quote", {"beta", "x", "theta"}, "(solve, beta, x, answer): a quote reduced for the solver.");
Register r1(py::callable<d1>), r2(py::callable<d2>), r3(py::callable<d3>), r4(py::callable<d4>), r5(py::callable<d5>), r6(py::callable<d6>),
    r7(py::callable<d7>), r8(py::callable<d8>);

}  // namespace

}  // namespace quelm::testing
