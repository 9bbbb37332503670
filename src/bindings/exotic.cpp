// Python bindings: barrier_price, lookback_price, asian_price.
#include "bindings/frame/call.hpp"
#include "bindings/frame/registry.hpp"
#include "bindings/frame/result.hpp"
#include "quelm/pricing/asian.hpp"
#include "quelm/pricing/barrier.hpp"
#include "quelm/pricing/lookback.hpp"

#include <optional>

namespace quelm::py {

constexpr Section kSection = Section::Options;

namespace {

PyObject* barrier_price_impl(double spot, double strike, double rate, double vol, double t, std::string_view ot,
                             std::string_view bt, double barrier, double q) {
    OptionType type;
    pricing::BarrierType kind;
    if (!choose(kOptionTypes, ot, type) || !choose(pricing::kBarrierTypes, bt, kind)) return nullptr;
    const OptionContract o{.strike = strike, .expiry = t, .option_type = type};
    const MarketInputs m{.spot = spot, .rate = rate, .vol = vol, .dividend_yield = q};
    return finish(pricing::barrier_price(o, m, {.type = kind, .level = barrier}));
}

PyObject* lookback_price_impl(double spot, double strike, double rate, double vol, double t, std::string_view ot,
                              std::string_view st, double q) {
    pricing::StrikeType kind;
    OptionType type;
    if (!choose(pricing::kStrikeTypes, st, kind) || !choose(kOptionTypes, ot, type)) return nullptr;
    const OptionContract o{.strike = strike, .expiry = t, .option_type = type};
    return finish(pricing::lookback_price(o, {.spot = spot, .rate = rate, .vol = vol, .dividend_yield = q}, kind));
}

// The geometric closed form has no standard error (None).
struct AsianRow {
    double price;
    std::optional<double> standard_error;
};

constinit const auto kAsianRow = record<AsianRow>({
    QUELM_FIELD(AsianRow, price), QUELM_FIELD(AsianRow, standard_error),
});

PyObject* asian_price_impl(double spot, double strike, double rate, double vol, double t, std::string_view ot,
                           std::string_view average, std::uint64_t n_fixings, std::uint64_t paths,
                           std::uint64_t seed, double q) {
    OptionType type;
    pricing::AverageType kind;
    if (!choose(kOptionTypes, ot, type) || !choose(pricing::kAverageTypes, average, kind)) return nullptr;
    const OptionContract o{.strike = strike, .expiry = t, .option_type = type};
    const MarketInputs m{.spot = spot, .rate = rate, .vol = vol, .dividend_yield = q};
    if (kind == pricing::AverageType::Geometric) {
        return finish(pricing::geometric_asian_price(o, m), [](double p) { return kAsianRow({p, std::nullopt}); });
    }
    const pricing::AsianSettings settings{.n_fixings = n_fixings, .paths = paths, .seed = seed};
    return finish(compute([&](Cancel& c) { return pricing::arithmetic_asian_price(o, m, settings, c); }),
                  [](const PriceEstimate& v) { return kAsianRow({v.price, v.standard_error}); });
}

}  // namespace

constexpr FunctionDef def_barrier_price = function<barrier_price_impl>(
    "barrier_price",
    {"spot", "strike", "rate", "vol", "t", "option_type", "barrier_type", "barrier", {"dividend_yield", "0.0"}},
    "Price a continuously monitored single-barrier option (zero rebate).");
QUELM_PUBLIC(def_barrier_price);

constexpr FunctionDef def_lookback_price = function<lookback_price_impl>(
    "lookback_price",
    {"spot", "strike", "rate", "vol", "t", "option_type", "strike_type", {"dividend_yield", "0.0"}},
    "Price a continuous lookback option (freshly issued: extremum = spot).");
QUELM_PUBLIC(def_lookback_price);

constexpr FunctionDef def_asian_price = function<asian_price_impl>(
    "asian_price",
    {"spot", "strike", "rate", "vol", "t", "option_type", {"average", "\"geometric\""}, {"n_fixings", "50"},
     {"paths", "100000"}, {"seed", "42"}, {"dividend_yield", "0.0"}},
    "Price an average-price Asian option, returning a dict with the price (and, for");
QUELM_PUBLIC(def_asian_price);

}  // namespace quelm::py
