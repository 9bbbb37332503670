// Python bindings: sabr_vol, sabr_calibrate.
#include "bindings/string_options.hpp"
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "quelm/volatility/sabr.hpp"
#include "quelm/volatility/sabr_calibrate.hpp"

#include <optional>

namespace quelm::py {

constexpr Section kSection = Section::Volatility;
constexpr std::string_view kGuide = "stochastic-volatility";  // the guide page of its names

namespace {

using volatility::SabrCalibration;

Result<double> sabr_vol_of(double forward, double strike, double t, double alpha, double beta, double rho,
                           double nu, volatility::SabrModel model, double shift) {
    if (model == volatility::SabrModel::Lognormal && shift == 0.0)
        return volatility::sabr_vol(forward, strike, t, {alpha, beta, rho, nu});
    return volatility::sabr_vol_of(model, forward, strike, t, {alpha, beta, rho, nu}, shift);
}

constinit const auto kCalibration = record<SabrCalibration>({
    {"alpha", [](const SabrCalibration& c) { return to_py(c.params.alpha); }, [] { return "float"; }},
    {"beta", [](const SabrCalibration& c) { return to_py(c.params.beta); }, [] { return "float"; }},
    {"rho", [](const SabrCalibration& c) { return to_py(c.params.rho); }, [] { return "float"; }},
    {"nu", [](const SabrCalibration& c) { return to_py(c.params.nu); }, [] { return "float"; }},
    QUELM_FIELD(SabrCalibration, rmse), QUELM_FIELD(SabrCalibration, max_error),
    {"iterations", [](const SabrCalibration& c) { return to_py(static_cast<std::uint64_t>(c.iterations)); },
     [] { return "int"; }},
    {"converged", [](const SabrCalibration& c) { return PyBool_FromLong(c.converged ? 1 : 0); },
     [] { return "bool"; }},
    QUELM_FIELD(SabrCalibration, residuals),
});

}  // namespace

QUELM_RECORD(SabrCalibration, kCalibration, "SabrCalibration");

namespace {

PyObject* sabr_calibrate_impl(double forward, const FloatSeq& strikes, const FloatSeq& vols, double t, double beta,
                              const std::optional<FloatSeq>& weights) {
    return finish(compute([&](Cancel& c) {
                      return volatility::sabr_calibrate(forward, strikes.view(), vols.view(), t, beta,
                                                        weights ? weights->view() : std::span<const double>{}, c);
                  }),
                  kCalibration);
}

constexpr FunctionDef def_sabr_vol = typed_in_vec<&sabr_vol_of>(
    "sabr_vol", {"forward", "strike", "t", "alpha", "beta", "rho", "nu", "*", {"model", "\"lognormal\""},
                 {"shift", "0.0"}},
    "SABR implied volatility by Hagan et al.'s 2002 expansions: lognormal (Black, the default)\n"
    "or `model=\"normal\"` (Bachelier, in price units per sqrt(year), their eq. B.69a), on\n"
    "forward + `shift` and strike + `shift` (shifted SABR, for negative rates).\n"
    "\n"
    "At the money the factor z / x(z) is taken from a form that neither divides 0 by 0 nor\n"
    "loses digits as z -> 0. Requires forward > 0, strike > 0, t >= 0, alpha > 0,\n"
    "0 <= beta <= 1, -1 < rho < 1 and nu >= 0 (the normal expansion with beta = 0 takes\n"
    "forwards and strikes of any sign). Where the expansion breaks down (its time\n"
    "correction not positive: long t, large nu) it gives no volatility and a numerical\n"
    "error is raised.\n"
    "\n"
    "Example:\n"
    "\n"
    "    import quelm\n"
    "    quelm.sabr_vol(0.03, 0.03, 1.0, alpha=0.03, beta=0.5, rho=-0.3, nu=0.4)\n"
    "    quelm.sabr_vol(-0.002, 0.001, 1.0, 0.006, 0.0, -0.3, 0.4, model=\"normal\")");
QUELM_PUBLIC(def_sabr_vol);

constexpr FunctionDef def_sabr_calibrate = function<sabr_calibrate_impl>(
    "sabr_calibrate", {"forward", "strikes", "vols", "t", {"beta", "0.5"}, "*", {"weights", "None"}},
    "Fit SABR's alpha, rho and nu (beta fixed) to one expiry's Black implied vols.\n"
    "\n"
    "Bounded Levenberg-Marquardt from three starts (rho = 0, -0.5, 0.5), keeping the best.\n"
    "Returns `alpha`, `beta`, `rho`, `nu`, the weighted `rmse` and `max_error` of the vols,\n"
    "`iterations`, `converged` and the per-strike `residuals` (model minus quote).")
    .returning("SabrCalibration");
QUELM_PUBLIC(def_sabr_calibrate);

}  // namespace

}  // namespace quelm::py
