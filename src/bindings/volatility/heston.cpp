// Python bindings: heston_price, heston_calibrate.
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "bindings/pricing/option_lists.hpp"
#include "bindings/string_options.hpp"
#include "quelm/volatility/heston.hpp"
#include "quelm/volatility/heston_calibrate.hpp"

#include <optional>
#include <string>
#include <vector>

namespace quelm::py {

constexpr Section kSection = Section::Volatility;
constexpr std::string_view kGuide = "stochastic-volatility";  // the guide page of its names

namespace {

using volatility::HestonCalibration;

Result<double> heston_price_of(double spot, double strike, double rate, double t, OptionType type, double v0,
                               double kappa, double theta, double xi, double rho, double q) {
    return volatility::heston_price({.spot = spot, .rate = rate, .dividend_yield = q, .t = t}, strike, type,
                                    {.v0 = v0, .kappa = kappa, .theta = theta, .xi = xi, .rho = rho});
}

constinit const auto kCalibration = record<HestonCalibration>({
    {"v0", [](const HestonCalibration& c) { return to_py(c.params.v0); }, [] { return "float"; }},
    {"kappa", [](const HestonCalibration& c) { return to_py(c.params.kappa); }, [] { return "float"; }},
    {"theta", [](const HestonCalibration& c) { return to_py(c.params.theta); }, [] { return "float"; }},
    {"xi", [](const HestonCalibration& c) { return to_py(c.params.xi); }, [] { return "float"; }},
    {"rho", [](const HestonCalibration& c) { return to_py(c.params.rho); }, [] { return "float"; }},
    QUELM_FIELD(HestonCalibration, rmse), QUELM_FIELD(HestonCalibration, max_error),
    {"iterations", [](const HestonCalibration& c) { return to_py(static_cast<std::uint64_t>(c.iterations)); },
     [] { return "int"; }},
    {"converged", [](const HestonCalibration& c) { return PyBool_FromLong(c.converged ? 1 : 0); },
     [] { return "bool"; }},
    QUELM_FIELD(HestonCalibration, residuals),
});
static_assert(kCalibration.size() == aggregate_size<HestonCalibration>() + 4);

}  // namespace

QUELM_RECORD(HestonCalibration, kCalibration, "HestonCalibration");

namespace {

PyObject* heston_calibrate_impl(double spot, const FloatSeq& strikes, const FloatSeq& expiries, const FloatSeq& quotes,
                                double rate, double q, volatility::QuoteType qt, const std::optional<PyObject*>& option_types,
                                const std::optional<FloatSeq>& weights, const std::optional<FloatSeq>& initial,
                                const std::optional<FloatMatrix>& bounds, std::uint64_t max_iterations) {
    std::vector<OptionType> types;
    if (!option_types_from(option_types, types)) return nullptr;
    const volatility::HestonChain chain{.spot = spot, .rate = rate, .dividend_yield = q, .strikes = strikes.view(),
                                        .expiries = expiries.view(), .quotes = quotes.view(), .types = types,
                                        .weights = weights ? weights->view() : std::span<const double>{},
                                        .quote_type = qt};
    std::vector<std::span<const double>> box;
    if (bounds) box.assign(bounds->rows().begin(), bounds->rows().end());
    return finish(compute([&](Cancel& c) {
                      return volatility::heston_calibrate(chain, initial ? initial->view() : std::span<const double>{},
                                                          box, max_iterations, c);
                  }),
                  kCalibration);
}

constexpr FunctionDef def_heston_price = typed_in_vec<&heston_price_of>(
    "heston_price",
    {"spot", "strike", "rate", "t", "option_type", "v0", "kappa", "theta", "xi", "rho", {"dividend_yield", "0.0"}},
    "Price a European option under Heston's stochastic-volatility model.\n"
    "\n"
    "Semi-analytic: Lewis's single integral of the characteristic function (in the form\n"
    "free of the branch-cut discontinuity) with a Black-Scholes control variate, on a fixed\n"
    "Gauss-Legendre rule. `v0` and `theta` are variances, `xi` the volatility of the\n"
    "variance, `rho` the correlation (the parameter names of `simulate_process`).\n"
    "\n"
    "Example:\n"
    "\n"
    "    import quelm\n"
    "    quelm.heston_price(100, 100, 0.01, 1.0, \"call\", v0=0.04, kappa=4.0, theta=0.25, xi=1.0,\n"
    "                       rho=-0.5, dividend_yield=0.02)\n"
    "    # -> 16.070154917028802");
QUELM_PUBLIC(def_heston_price);

constexpr FunctionDef def_heston_calibrate = function<heston_calibrate_impl>(
    "heston_calibrate",
    {"spot", "strikes", "expiries", "quotes", "rate", "*", {"dividend_yield", "0.0"}, {"quote_type", "\"price\""},
     {"option_types", "None"}, {"weights", "None"}, {"initial", "None"}, {"bounds", "None"},
     {"max_iterations", "200"}},
    "Fit Heston's (v0, kappa, theta, xi, rho) to a chain of quotes by bounded least squares.\n"
    "\n"
    "`strikes`, `expiries` and `quotes` hold one entry per quote (any number of expiries);\n"
    "`quote_type` is \"price\" or \"vol\" (Black-Scholes implied volatilities); `option_types`\n"
    "is one option type for every quote or one per quote (None: calls); `weights` (default 1) scale each\n"
    "squared error. `initial` is a start (v0, kappa, theta, xi, rho); `bounds` five\n"
    "(lower, upper) pairs in that order. Levenberg-Marquardt with box bounds on a\n"
    "forward-difference Jacobian, each expiry's characteristic function shared by its\n"
    "strikes. Vol quotes are fitted through vega-scaled price errors and reported exactly.\n"
    "\n"
    "Price quotes outside the no-arbitrage bounds are rejected, as `VolSurface.from_chain`\n"
    "rejects them.\n"
    "\n"
    "Returns the five parameters, `rmse` (weighted) and `max_error` in the quotes' units,\n"
    "`iterations`, `converged` (a tolerance met with every parameter inside its bounds: a\n"
    "fit held at a bound is not converged) and the per-quote `residuals` (model minus quote).")
    .returning("HestonCalibration");
QUELM_PUBLIC(def_heston_calibrate);

}  // namespace

}  // namespace quelm::py
