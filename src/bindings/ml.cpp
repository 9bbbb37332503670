// Python bindings: differential_ml, american_ml.
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "bindings/string_options.hpp"
#include "quelm/ml/differential.hpp"
#include "quelm/ml/engines.hpp"

#include <optional>
#include <vector>

namespace quelm::py {

constexpr Section kSection = Section::Neural;
constexpr std::string_view kGuide = "neural";  // the guide page of its names

namespace {

using ml::AmericanReport;
using ml::DiffReport;
using ml::Widths;

constinit const auto kDiffReport = record<DiffReport>({
    QUELM_FIELD(DiffReport, spot),
    {"option_type", member<&DiffReport::type>, [] { return "Literal[\"call\", \"put\"]"; }},
    QUELM_FIELD(DiffReport, ml_price), QUELM_FIELD(DiffReport, ml_delta), QUELM_FIELD(DiffReport, bs_price), QUELM_FIELD(DiffReport, bs_delta),
    QUELM_FIELD(DiffReport, price_abs_err), QUELM_FIELD(DiffReport, delta_abs_err),
    QUELM_FIELD(DiffReport, n_samples), QUELM_FIELD(DiffReport, epochs), QUELM_FIELD(DiffReport, final_loss),
});
static_assert(kDiffReport.size() == aggregate_size<DiffReport>());

}  // namespace

QUELM_RECORD(DiffReport, kDiffReport, "DifferentialMLResult");

namespace {

Result<DiffReport> differential_ml_of(double spot, double strike, double rate, double vol, double maturity,
                                      OptionType type, std::uint64_t samples, std::uint64_t epochs, double spread,
                                      std::uint64_t seed, const Widths& hidden, Cancel& cancel) {
    const ml::DiffSettings settings{.hidden = ml::differential_hidden(hidden), .samples = samples, .epochs = epochs,
                                    .spread = spread, .seed = seed};
    // The surrogate's market carries no dividend yield at the Python surface.
    const Vanilla v = vanilla(spot, strike, rate, vol, maturity, type, 0.0);
    return ml::differential_ml_price(v.contract, v.market, settings, cancel);
}

// The report keeps rate, vol and maturity for the engines; the dict shows the rest.
constinit const auto kAmericanReport = record<AmericanReport>({
    {"method", member<&AmericanReport::method>, [] { return "Literal[\"deep-lsm\", \"dos\"]"; }},
    {"option_type", member<&AmericanReport::type>, [] { return "Literal[\"call\", \"put\"]"; }},
    QUELM_FIELD(AmericanReport, spot), QUELM_FIELD(AmericanReport, strike),
    field<&AmericanReport::price>("ml_price"), QUELM_FIELD(AmericanReport, standard_error),
    QUELM_FIELD(AmericanReport, binomial_price), QUELM_FIELD(AmericanReport, abs_err),
    QUELM_FIELD(AmericanReport, paths), QUELM_FIELD(AmericanReport, steps), QUELM_FIELD(AmericanReport, epochs),
});

}  // namespace

QUELM_RECORD(AmericanReport, kAmericanReport, "AmericanMLResult");

namespace {

Result<AmericanReport> american_ml_of(double spot, double strike, double rate, double vol, double maturity,
                                      OptionType type, ml::AmericanMethod method, std::uint64_t paths,
                                      std::uint64_t steps, std::uint64_t epochs, std::uint64_t seed,
                                      const Widths& hidden, double q, Cancel& cancel) {
    const Vanilla v = vanilla(spot, strike, rate, vol, maturity, type, q);
    const ml::AmericanSettings settings{.hidden = ml::american_hidden(hidden), .paths = paths, .steps = steps,
                                        .seed = seed, .epochs = epochs};
    return ml::american_price(method, v.contract, v.market, settings, cancel);
}

constexpr FunctionDef def_differential_ml = typed<&differential_ml_of>(
    "differential_ml",
    {"spot", "strike", "rate", "vol", "maturity", {"option_type", "\"call\""}, {"samples", "4096"},
     {"epochs", "60"}, {"spread", "2.0"}, {"seed", "1"}, {"hidden", "None"}},
    "Train a differential-ML surrogate for a European option and return its price\n"
    "and delta alongside the Black-Scholes baseline. Training is deterministic given\n"
    "`seed`. `hidden` defaults to two layers of 30 units.");
QUELM_PUBLIC(def_differential_ml);

constexpr FunctionDef def_american_ml = typed<&american_ml_of>(
    "american_ml",
    {"spot", "strike", "rate", "vol", "maturity", {"option_type", "\"put\""}, {"method", "\"deep-lsm\""},
     {"paths", "8192"}, {"steps", "50"}, {"epochs", "20"}, {"seed", "11"}, {"hidden", "None"},
     {"dividend_yield", "0.0"}},
    "Price an American option with a neural engine and return its estimate\n"
    "alongside the binomial (CRR) baseline. Training is deterministic given `seed`.\n"
    "`method` is `\"deep-lsm\"` (the default) or `\"dos\"`; `hidden` defaults to one layer of 16 units.");
QUELM_PUBLIC(def_american_ml);

}  // namespace

}  // namespace quelm::py
