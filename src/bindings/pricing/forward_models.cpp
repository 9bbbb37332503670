// Python bindings: the forward models (black76, bachelier and their implied vols), the
// higher-order Greeks and the American approximations.
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "bindings/string_options.hpp"
#include "bindings/pricing/vanilla_params.hpp"
#include "quelm/pricing/vanilla/higher_greeks.hpp"
#include "quelm/pricing/american_approx.hpp"
#include "quelm/pricing/black/bachelier.hpp"
#include "quelm/pricing/black/black76.hpp"

namespace quelm::py {

constexpr Section kSection = Section::Options;
constexpr std::string_view kGuide = "volatility-models";  // the guide page of its names

QUELM_STRING_OPTION(pricing::AmericanApproximation, pricing::kAmericanApproximations, "AmericanApproximation");

namespace {

constinit const auto kHigherGreeks = record<greeks::HigherGreeks>({
    QUELM_FIELD(greeks::HigherGreeks, vanna), QUELM_FIELD(greeks::HigherGreeks, volga),
    QUELM_FIELD(greeks::HigherGreeks, charm), QUELM_FIELD(greeks::HigherGreeks, veta),
    QUELM_FIELD(greeks::HigherGreeks, speed), QUELM_FIELD(greeks::HigherGreeks, zomma),
    QUELM_FIELD(greeks::HigherGreeks, color), QUELM_FIELD(greeks::HigherGreeks, ultima),
});
static_assert(kHigherGreeks.size() == aggregate_size<greeks::HigherGreeks>());

}  // namespace

QUELM_RECORD(greeks::HigherGreeks, kHigherGreeks, "HigherGreeksResult");

namespace {

Result<greeks::HigherGreeks> higher_greeks_of(double spot, double strike, double rate, double vol, double t,
                                              OptionType type, double q) {
    const Vanilla v = vanilla(spot, strike, rate, vol, t, type, q);
    return greeks::higher_greeks(v.contract, v.market);
}

Result<double> american_approximation_of(double spot, double strike, double rate, double vol, double t,
                                         OptionType type, double q, pricing::AmericanApproximation method) {
    const Vanilla v = vanilla(spot, strike, rate, vol, t, type, q);
    return pricing::american_approximation(v.contract, v.market, method);
}

Result<double> american_implied_volatility_of(double market_price, double spot, double strike, double rate,
                                              double t, OptionType type, double q,
                                              pricing::AmericanApproximation method) {
    const Vanilla v = vanilla(spot, strike, rate, 0.0, t, type, q);
    return pricing::american_implied_volatility(v.contract, v.market, market_price, method);
}

}  // namespace

namespace {

constexpr FunctionDef def_black76 = typed_in_vec<&pricing::black76>(
    "black76", {"forward", "strike", "rate", "vol", "t", "option_type"},
    "Price a European option on a forward or futures price with the Black-76 formula,\n"
    "discounted by exp(-rate * t).\n"
    "\n"
    "Example:\n"
    "\n"
    "    import quelm\n"
    "    quelm.black76(forward=19, strike=19, rate=0.10, vol=0.28, t=0.75, option_type=\"call\")\n"
    "    # -> 1.7010587...");
QUELM_PUBLIC(def_black76);

constexpr FunctionDef def_black76_implied_volatility = typed_in_vec<&pricing::black76_implied_volatility>(
    "black76_implied_volatility", {"market_price", "forward", "strike", "rate", "t", "option_type"},
    "Solve for the Black-76 (lognormal) volatility matching `market_price`, to the last\n"
    "bits the quote allows (Jaeckel's \"Let's be rational\").");
QUELM_PUBLIC(def_black76_implied_volatility);

constexpr FunctionDef def_bachelier = typed_in_vec<&pricing::bachelier>(
    "bachelier", {"forward", "strike", "rate", "vol", "t", "option_type"},
    "Price a European option with the Bachelier (normal) model: `vol` is a normal\n"
    "volatility in price units per sqrt(year); forward and strike may be negative.");
QUELM_PUBLIC(def_bachelier);

constexpr FunctionDef def_bachelier_implied_volatility = typed_in_vec<&pricing::bachelier_implied_volatility>(
    "bachelier_implied_volatility", {"market_price", "forward", "strike", "rate", "t", "option_type"},
    "Solve for the Bachelier (normal) volatility matching `market_price`, to the last\n"
    "bits the quote allows (Jaeckel's \"Implied normal volatility\").");
QUELM_PUBLIC(def_bachelier_implied_volatility);

constexpr FunctionDef def_higher_greeks = typed_in_vec<&higher_greeks_of>(
    "higher_greeks", kVanillaParams,
    "Higher-order Black-Scholes Greeks for a European option, as a dict (`vanna`, `volga`,\n"
    "`charm`, `veta`, `speed`, `zomma`, `color`, `ultima`), in the units of `greeks`.");
QUELM_PUBLIC(def_higher_greeks);

constexpr FunctionDef def_american_approximation = typed_in_vec<&american_approximation_of>(
    "american_approximation", kVanillaParams + ParamList{{"method", "\"bjerksund-stensland\""}},
    "Price an American option with a closed-form approximation: `method` is\n"
    "`\"bjerksund-stensland\"` (2002, the default) or `\"barone-adesi-whaley\"` (1987).");
QUELM_PUBLIC(def_american_approximation);

constexpr FunctionDef def_american_implied_volatility = typed_in_vec<&american_implied_volatility_of>(
    "american_implied_volatility",
    kQuoteTerms + kDividendYield + ParamList{{"method", "\"bjerksund-stensland\""}},
    "Solve for the volatility at which `american_approximation` matches `market_price`.");
QUELM_PUBLIC(def_american_implied_volatility);

}  // namespace

}  // namespace quelm::py
