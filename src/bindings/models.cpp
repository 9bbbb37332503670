// Python bindings: the forward models (black76, bachelier and their implied vols), the
// higher-order Greeks and the American approximations.
#include "bindings/frame/call.hpp"
#include "bindings/frame/result.hpp"
#include "quelm/greeks/higher.hpp"
#include "quelm/pricing/american_approx.hpp"
#include "quelm/pricing/bachelier.hpp"
#include "quelm/pricing/black76.hpp"

namespace quelm::py {

namespace {

PyObject* black76_impl(double forward, double strike, double rate, double vol, double t, std::string_view ot) {
    OptionType type;
    if (!choose(kOptionTypes, ot, type)) return nullptr;
    return finish(pricing::black76(forward, strike, rate, vol, t, type));
}

PyObject* black76_iv_impl(double price, double forward, double strike, double rate, double t, std::string_view ot) {
    OptionType type;
    if (!choose(kOptionTypes, ot, type)) return nullptr;
    return finish(pricing::black76_implied_volatility(price, forward, strike, rate, t, type));
}

PyObject* bachelier_impl(double forward, double strike, double rate, double vol, double t, std::string_view ot) {
    OptionType type;
    if (!choose(kOptionTypes, ot, type)) return nullptr;
    return finish(pricing::bachelier(forward, strike, rate, vol, t, type));
}

PyObject* bachelier_iv_impl(double price, double forward, double strike, double rate, double t,
                            std::string_view ot) {
    OptionType type;
    if (!choose(kOptionTypes, ot, type)) return nullptr;
    return finish(pricing::bachelier_implied_volatility(price, forward, strike, rate, t, type));
}

constinit const auto kHigherGreeks = record<greeks::HigherGreeks>({
    QUELM_FIELD(greeks::HigherGreeks, vanna), QUELM_FIELD(greeks::HigherGreeks, volga),
    QUELM_FIELD(greeks::HigherGreeks, charm), QUELM_FIELD(greeks::HigherGreeks, veta),
    QUELM_FIELD(greeks::HigherGreeks, speed), QUELM_FIELD(greeks::HigherGreeks, zomma),
    QUELM_FIELD(greeks::HigherGreeks, color), QUELM_FIELD(greeks::HigherGreeks, ultima),
});
static_assert(kHigherGreeks.size() == aggregate_size<greeks::HigherGreeks>());

PyObject* higher_greeks_impl(double spot, double strike, double rate, double vol, double t, std::string_view ot,
                             double q) {
    OptionType type;
    if (!choose(kOptionTypes, ot, type)) return nullptr;
    return finish(greeks::higher_greeks({.strike = strike, .expiry = t, .option_type = type},
                                        {.spot = spot, .rate = rate, .vol = vol, .dividend_yield = q}),
                  kHigherGreeks);
}

PyObject* american_approximation_impl(double spot, double strike, double rate, double vol, double t,
                                      std::string_view ot, double q, std::string_view method) {
    OptionType type;
    pricing::AmericanApproximation m;
    if (!choose(kOptionTypes, ot, type) || !choose(pricing::kAmericanApproximations, method, m)) return nullptr;
    return finish(pricing::american_approximation({.strike = strike, .expiry = t, .option_type = type},
                                                  {.spot = spot, .rate = rate, .vol = vol, .dividend_yield = q}, m));
}

PyObject* american_iv_impl(double price, double spot, double strike, double rate, double t, std::string_view ot,
                           double q, std::string_view method) {
    OptionType type;
    pricing::AmericanApproximation m;
    if (!choose(kOptionTypes, ot, type) || !choose(pricing::kAmericanApproximations, method, m)) return nullptr;
    return finish(pricing::american_implied_volatility(
        {.strike = strike, .expiry = t, .option_type = type},
        {.spot = spot, .rate = rate, .vol = 0.0, .dividend_yield = q}, price, m));
}

}  // namespace

extern const FunctionDef def_black76 = function<black76_impl>(
    "black76", {"forward", "strike", "rate", "vol", "t", "option_type"},
    "Price a European option on a forward or futures price with the Black-76 formula,\n"
    "discounted by exp(-rate * t).\n"
    "\n"
    "Example:\n"
    "\n"
    "    import quelm\n"
    "    quelm.black76(forward=19, strike=19, rate=0.10, vol=0.28, t=0.75, option_type=\"call\")\n"
    "    # -> 1.7010587...");

extern const FunctionDef def_black76_implied_volatility = function<black76_iv_impl>(
    "black76_implied_volatility", {"market_price", "forward", "strike", "rate", "t", "option_type"},
    "Solve for the Black-76 (lognormal) volatility matching `market_price`, to the last\n"
    "bits the quote allows (Jaeckel's \"Let's be rational\").");

extern const FunctionDef def_bachelier = function<bachelier_impl>(
    "bachelier", {"forward", "strike", "rate", "vol", "t", "option_type"},
    "Price a European option with the Bachelier (normal) model: `vol` is a normal\n"
    "volatility in price units per sqrt(year); forward and strike may be negative.");

extern const FunctionDef def_bachelier_implied_volatility = function<bachelier_iv_impl>(
    "bachelier_implied_volatility", {"market_price", "forward", "strike", "rate", "t", "option_type"},
    "Solve for the Bachelier (normal) volatility matching `market_price`, to the last\n"
    "bits the quote allows (Jaeckel's \"Implied normal volatility\").");

extern const FunctionDef def_higher_greeks = function<higher_greeks_impl>(
    "higher_greeks", {"spot", "strike", "rate", "vol", "t", "option_type", {"dividend_yield", "0.0"}},
    "Higher-order Black-Scholes Greeks for a European option, as a dict (`vanna`, `volga`,\n"
    "`charm`, `veta`, `speed`, `zomma`, `color`, `ultima`), in the units of `greeks`.");

extern const FunctionDef def_american_approximation = function<american_approximation_impl>(
    "american_approximation",
    {"spot", "strike", "rate", "vol", "t", "option_type", {"dividend_yield", "0.0"},
     {"method", "\"bjerksund-stensland\""}},
    "Price an American option with a closed-form approximation: `method` is\n"
    "`\"bjerksund-stensland\"` (2002, the default) or `\"barone-adesi-whaley\"` (1987).");

extern const FunctionDef def_american_implied_volatility = function<american_iv_impl>(
    "american_implied_volatility",
    {"market_price", "spot", "strike", "rate", "t", "option_type", {"dividend_yield", "0.0"},
     {"method", "\"bjerksund-stensland\""}},
    "Solve for the volatility at which `american_approximation` matches `market_price`.");

}  // namespace quelm::py
