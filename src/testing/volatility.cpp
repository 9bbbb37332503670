// The Heston chain pricer as the array API will drive it: many strikes at one expiry, the
// characteristic function evaluated once per node.
#include "quelm/volatility/heston.hpp"
#include "testing/registry.hpp"

#include <vector>

namespace quelm::testing {

namespace {

PyObject* heston_chain(double spot, double rate, double q, double t, const py::FloatSeq& strikes, double v0,
                       double kappa, double theta, double xi, double rho) {
    std::vector<OptionType> types(strikes.size(), OptionType::Call);
    std::vector<double> out(strikes.size());
    const Status s = volatility::heston_prices({.spot = spot, .rate = rate, .dividend_yield = q, .t = t},
                                               strikes.view(), types, {v0, kappa, theta, xi, rho}, out);
    if (!s) return py::raise(s.error());
    return py::to_py(out);
}

constexpr py::FunctionDef d1 = py::function<heston_chain>(
    "heston_chain", {"spot", "rate", "dividend_yield", "t", "strikes", "v0", "kappa", "theta", "xi", "rho"},
    "Heston calls at many strikes of one expiry, sharing the characteristic function.");
QUELM_TESTING(d1);

}  // namespace

}  // namespace quelm::testing
