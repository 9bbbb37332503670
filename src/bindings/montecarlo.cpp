// Python bindings: binomial, monte_carlo, lsm.
#include "bindings/frame/call.hpp"
#include "bindings/frame/registry.hpp"
#include "bindings/frame/result.hpp"
#include "quelm/pricing/binomial.hpp"
#include "quelm/pricing/lsm.hpp"
#include "quelm/pricing/monte_carlo.hpp"

namespace quelm::py {

constexpr Section kSection = Section::Options;

namespace {

PyObject* binomial_impl(double spot, double strike, double rate, double vol, double t, std::string_view ot,
                        std::string_view style_text, std::uint64_t steps, double q) {
    OptionType type;
    pricing::ExerciseStyle style;
    if (!choose(kOptionTypes, ot, type) || !choose(pricing::kExerciseStyles, style_text, style)) return nullptr;
    const OptionContract o{.strike = strike, .expiry = t, .option_type = type};
    const MarketInputs m{.spot = spot, .rate = rate, .vol = vol, .dividend_yield = q};
    return finish(compute([&](Cancel& c) { return pricing::binomial(o, m, {.style = style, .steps = steps}, c); }));
}

constinit const auto kPriceEstimate = record<PriceEstimate>({
    QUELM_FIELD(PriceEstimate, price), QUELM_FIELD(PriceEstimate, standard_error),
});

PyObject* monte_carlo_impl(double spot, double strike, double rate, double vol, double t, std::string_view ot,
                           std::uint64_t paths, std::uint64_t seed, double q) {
    OptionType type;
    if (!choose(kOptionTypes, ot, type)) return nullptr;
    const OptionContract o{.strike = strike, .expiry = t, .option_type = type};
    const MarketInputs m{.spot = spot, .rate = rate, .vol = vol, .dividend_yield = q};
    return finish(compute([&](Cancel& c) {
        return pricing::monte_carlo_european(o, m, {.paths = paths, .seed = seed}, c);
    }), kPriceEstimate);
}

PyObject* lsm_impl(double spot, double strike, double rate, double vol, double t, std::string_view ot,
                   std::uint64_t paths, std::uint64_t steps, std::uint64_t seed, double q) {
    OptionType type;
    if (!choose(kOptionTypes, ot, type)) return nullptr;
    const OptionContract o{.strike = strike, .expiry = t, .option_type = type};
    const MarketInputs m{.spot = spot, .rate = rate, .vol = vol, .dividend_yield = q};
    return finish(compute([&](Cancel& c) {
        return pricing::lsm_american(o, m, {.paths = paths, .steps = steps, .seed = seed}, c);
    }), kPriceEstimate);
}

}  // namespace

constexpr FunctionDef def_binomial = function<binomial_impl>(
    "binomial",
    {"spot", "strike", "rate", "vol", "t", "option_type", {"style", "\"european\""}, {"steps", "...", "1000"},
     {"dividend_yield", "0.0"}},
    "Price a vanilla option with the CRR binomial tree (European or American).\n"
    "\n"
    "```python\n"
    "import quelm\n"
    "quelm.binomial(spot=100, strike=110, rate=0.05, vol=0.3, t=1.0, option_type=\"put\", style=\"american\")\n"
    "```");
QUELM_PUBLIC(def_binomial);

constexpr FunctionDef def_monte_carlo = function<monte_carlo_impl>(
    "monte_carlo",
    {"spot", "strike", "rate", "vol", "t", "option_type", {"paths", "100000"}, {"seed", "42"},
     {"dividend_yield", "0.0"}},
    "Price a European option by Monte Carlo, returning a dict with the price and\n"
    "its standard error (antithetic pairs; reproducible for a given `seed` on any\n"
    "number of worker threads).");
QUELM_PUBLIC(def_monte_carlo);

constexpr FunctionDef def_lsm = function<lsm_impl>(
    "lsm",
    {"spot", "strike", "rate", "vol", "t", "option_type", {"paths", "100000"}, {"steps", "50"}, {"seed", "42"},
     {"dividend_yield", "0.0"}},
    "Price an American option by Longstaff-Schwartz Monte Carlo, returning a dict\n"
    "with the price and its standard error (quadratic regression in moneyness on the\n"
    "in-the-money paths at each of the `steps` exercise dates).");
QUELM_PUBLIC(def_lsm);

}  // namespace quelm::py
