// Python bindings: differential_ml, american_ml.
#include "bindings/frame/call.hpp"
#include "bindings/frame/registry.hpp"
#include "bindings/frame/result.hpp"
#include "quelm/ml/differential.hpp"
#include "quelm/ml/engines.hpp"

#include <optional>
#include <vector>

namespace quelm::py {

constexpr Section kSection = Section::Neural;

namespace {

using ml::AmericanReport;
using ml::DiffReport;
using ml::Widths;

constinit const auto kDiffReport = record<DiffReport>({
    QUELM_FIELD(DiffReport, spot), {"option_type", member<&DiffReport::type>}, QUELM_FIELD(DiffReport, ml_price),
    QUELM_FIELD(DiffReport, ml_delta), QUELM_FIELD(DiffReport, bs_price), QUELM_FIELD(DiffReport, bs_delta),
    QUELM_FIELD(DiffReport, price_abs_err), QUELM_FIELD(DiffReport, delta_abs_err),
    QUELM_FIELD(DiffReport, n_samples), QUELM_FIELD(DiffReport, epochs), QUELM_FIELD(DiffReport, final_loss),
});
static_assert(kDiffReport.size() == aggregate_size<DiffReport>());

PyObject* differential_ml_impl(double spot, double strike, double rate, double vol, double maturity,
                               std::string_view ot, std::uint64_t samples, std::uint64_t epochs, double spread,
                               std::uint64_t seed, const Widths& hidden) {
    OptionType type;
    if (!choose(kOptionTypes, ot, type)) return nullptr;
    const ml::DiffSettings settings{.hidden = ml::differential_hidden(hidden), .samples = samples, .epochs = epochs,
                                    .spread = spread, .seed = seed};
    const OptionContract o{.strike = strike, .expiry = maturity, .option_type = type};
    // The surrogate's market carries no dividend yield at the Python surface.
    const MarketInputs m{.spot = spot, .rate = rate, .vol = vol, .dividend_yield = 0.0};
    return finish(compute([&](Cancel& c) { return ml::differential_ml_price(o, m, settings, c); }), kDiffReport);
}

// The report keeps rate, vol and maturity for the engines; the dict shows the rest.
constinit const auto kAmericanReport = record<AmericanReport>({
    QUELM_FIELD(AmericanReport, method), {"option_type", member<&AmericanReport::type>},
    QUELM_FIELD(AmericanReport, spot), QUELM_FIELD(AmericanReport, strike),
    {"ml_price", member<&AmericanReport::price>}, QUELM_FIELD(AmericanReport, standard_error),
    QUELM_FIELD(AmericanReport, binomial_price), QUELM_FIELD(AmericanReport, abs_err),
    QUELM_FIELD(AmericanReport, paths), QUELM_FIELD(AmericanReport, steps), QUELM_FIELD(AmericanReport, epochs),
});

PyObject* american_ml_impl(double spot, double strike, double rate, double vol, double maturity, std::string_view ot,
                           std::string_view method, std::uint64_t paths, std::uint64_t steps, std::uint64_t epochs,
                           std::uint64_t seed, const Widths& hidden, double q) {
    OptionType type;
    ml::AmericanMethod engine;
    if (!choose(kOptionTypes, ot, type) || !choose(ml::kAmericanMethods, method, engine)) return nullptr;
    const OptionContract o{.strike = strike, .expiry = maturity, .option_type = type};
    const MarketInputs m{.spot = spot, .rate = rate, .vol = vol, .dividend_yield = q};
    const ml::AmericanSettings settings{.hidden = ml::american_hidden(hidden), .paths = paths, .steps = steps,
                                        .seed = seed, .epochs = epochs};
    return finish(compute([&](Cancel& c) { return ml::american_price(engine, o, m, settings, c); }),
                  kAmericanReport);
}

}  // namespace

constexpr FunctionDef def_differential_ml = function<differential_ml_impl>(
    "differential_ml",
    {"spot", "strike", "rate", "vol", "maturity", {"option_type", "\"call\""}, {"samples", "4096"},
     {"epochs", "60"}, {"spread", "2.0"}, {"seed", "1"}, {"hidden", "None"}},
    "Train a differential-ML surrogate for a European option and return its price\n"
    "and delta alongside the Black-Scholes baseline. Training is deterministic given\n"
    "`seed`. `hidden` defaults to two layers of 30 units.");
QUELM_PUBLIC(def_differential_ml);

constexpr FunctionDef def_american_ml = function<american_ml_impl>(
    "american_ml",
    {"spot", "strike", "rate", "vol", "maturity", {"option_type", "\"put\""}, {"method", "\"deep-lsm\""},
     {"paths", "8192"}, {"steps", "50"}, {"epochs", "20"}, {"seed", "11"}, {"hidden", "None"},
     {"dividend_yield", "0.0"}},
    "Price an American option with a neural engine and return its estimate\n"
    "alongside the binomial (CRR) baseline. Training is deterministic given `seed`.\n"
    "`method` is `\"deep-lsm\"` (the default) or `\"dos\"`; `hidden` defaults to one layer of 16 units.");
QUELM_PUBLIC(def_american_ml);

}  // namespace quelm::py
