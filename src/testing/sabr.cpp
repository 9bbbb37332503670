// Test hooks for the normal SABR fit's pieces: the closed-form start and the expansion's
// gradient in (alpha, rho, nu).
#include "testing/registry.hpp"

#include "quelm/volatility/sabr.hpp"
#include "quelm/volatility/sabr_start.hpp"

namespace quelm::testing {

namespace {

PyObject* sabr_normal_start_(double forward, const py::FloatSeq& strikes, const py::FloatSeq& vols, double t) {
    const auto p = volatility::sabr_normal_start(forward, strikes.view(), vols.view(), t);
    if (!p) Py_RETURN_NONE;
    return Py_BuildValue("(ddd)", p->alpha, p->rho, p->nu);
}

PyObject* sabr_normal0_vol_gradient_(double forward, double strike, double t, double alpha, double rho, double nu) {
    double vol = 0.0, g[3];
    volatility::sabr_normal0_smile_gradient(forward, {&strike, 1}, t, alpha, rho, nu, {&vol, 1}, g);
    return Py_BuildValue("(dddd)", vol, g[0], g[1], g[2]);
}

constexpr py::FunctionDef d1 = py::function<sabr_normal_start_>(
    "sabr_normal_start", {"forward", "strikes", "vols", "t"},
    "(alpha, rho, nu) guessed from a normal-vol smile at beta = 0, or None.");
constexpr py::FunctionDef d2 = py::function<sabr_normal0_vol_gradient_>(
    "sabr_normal0_vol_gradient", {"forward", "strike", "t", "alpha", "rho", "nu"},
    "(vol, d/dalpha, d/drho, d/dnu) of the normal SABR vol at beta = 0.");
Register r1(py::callable<d1>), r2(py::callable<d2>);

}  // namespace

}  // namespace quelm::testing
