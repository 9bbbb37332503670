// Python bindings: monte_carlo, lsm.
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "bindings/string_options.hpp"
#include "bindings/pricing/vanilla_params.hpp"
#include "quelm/pricing/lsm.hpp"
#include "quelm/pricing/monte_carlo.hpp"

namespace quelm::py {

constexpr Section kSection = Section::Options;
constexpr std::string_view kGuide = "monte-carlo";  // the guide page of its names

namespace {

constinit const auto kPriceEstimate = record<PriceEstimate>({
    QUELM_FIELD(PriceEstimate, price), QUELM_FIELD(PriceEstimate, standard_error),
});

}  // namespace

QUELM_RECORD(PriceEstimate, kPriceEstimate, "MonteCarloResult");

namespace {

Result<PriceEstimate> monte_carlo_of(double spot, double strike, double rate, double vol, double t, OptionType type,
                                     std::uint64_t paths, std::uint64_t seed, double q, Cancel& cancel) {
    const Vanilla v = vanilla(spot, strike, rate, vol, t, type, q);
    return pricing::monte_carlo_european(v.contract, v.market, {.paths = paths, .seed = seed}, cancel);
}

Result<PriceEstimate> lsm_of(double spot, double strike, double rate, double vol, double t, OptionType type,
                             std::uint64_t paths, std::uint64_t steps, std::uint64_t seed, double q, Cancel& cancel) {
    const Vanilla v = vanilla(spot, strike, rate, vol, t, type, q);
    return pricing::lsm_american(v.contract, v.market, {.paths = paths, .steps = steps, .seed = seed}, cancel);
}

constexpr FunctionDef def_monte_carlo = typed<&monte_carlo_of>(
    "monte_carlo", kVanillaTerms + ParamList{{"paths", "100000"}, {"seed", "42"}} + kDividendYield,
    "Price a European option by Monte Carlo, returning a dict with the price and\n"
    "its standard error (antithetic pairs; reproducible for a given `seed` on any\n"
    "number of worker threads).");
QUELM_PUBLIC(def_monte_carlo);

constexpr FunctionDef def_lsm = typed<&lsm_of>(
    "lsm", kVanillaTerms + ParamList{{"paths", "100000"}, {"steps", "50"}, {"seed", "42"}} + kDividendYield,
    "Price an American option by Longstaff-Schwartz Monte Carlo, returning a dict\n"
    "with the price and its standard error (quadratic regression in moneyness on the\n"
    "in-the-money paths at each of the `steps` exercise dates).");
QUELM_PUBLIC(def_lsm);

}  // namespace

}  // namespace quelm::py
