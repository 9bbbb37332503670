// Python bindings: black_scholes, price, greeks, implied_volatility.
#include "bindings/frame/call.hpp"
#include "bindings/frame/result.hpp"
#include "quelm/greeks/analytic.hpp"
#include "quelm/pricing/black_scholes.hpp"
#include "quelm/pricing/implied_vol.hpp"

namespace quelm::py {

namespace {

PyObject* black_scholes_impl(double spot, double strike, double rate, double vol, double t, std::string_view ot,
                             double q) {
    OptionType type;
    if (!choose(kOptionTypes, ot, type)) return nullptr;
    return finish(pricing::black_scholes({.strike = strike, .expiry = t, .option_type = type},
                                          {.spot = spot, .rate = rate, .vol = vol, .dividend_yield = q}));
}

// The inputs and the price, as `price` reports them.
struct PriceRow {
    OptionType type;
    double spot, strike, rate, vol, t, q, price;
};

constinit const auto kPriceRow = record<PriceRow>({
    {"model", [](const PriceRow&) { return to_py("black-scholes"); }},
    {"option_type", member<&PriceRow::type>},
    {"exercise", [](const PriceRow&) { return to_py("european"); }},
    QUELM_FIELD(PriceRow, spot), QUELM_FIELD(PriceRow, strike), QUELM_FIELD(PriceRow, rate),
    {"volatility", member<&PriceRow::vol>}, {"time", member<&PriceRow::t>}, {"dividend_yield", member<&PriceRow::q>},
    QUELM_FIELD(PriceRow, price),
});

PyObject* price_impl(double spot, double strike, double rate, double vol, double t, std::string_view ot, double q) {
    OptionType type;
    if (!choose(kOptionTypes, ot, type)) return nullptr;
    const OptionContract o{.strike = strike, .expiry = t, .option_type = type};
    const MarketInputs m{.spot = spot, .rate = rate, .vol = vol, .dividend_yield = q};
    return finish(pricing::black_scholes(o, m), [&](double v) {
        return kPriceRow({type, spot, strike, rate, vol, t, q, v});
    });
}

constinit const auto kGreeks = record<greeks::Greeks>({
    QUELM_FIELD(greeks::Greeks, delta), QUELM_FIELD(greeks::Greeks, gamma), QUELM_FIELD(greeks::Greeks, vega),
    QUELM_FIELD(greeks::Greeks, theta), QUELM_FIELD(greeks::Greeks, rho),
});

PyObject* greeks_impl(double spot, double strike, double rate, double vol, double t, std::string_view ot, double q) {
    OptionType type;
    if (!choose(kOptionTypes, ot, type)) return nullptr;
    const OptionContract o{.strike = strike, .expiry = t, .option_type = type};
    return finish(greeks::analytic_greeks(o, {.spot = spot, .rate = rate, .vol = vol, .dividend_yield = q}), kGreeks);
}

PyObject* implied_volatility_impl(double market_price, double spot, double strike, double rate, double t,
                                  std::string_view ot, double q, std::string_view method) {
    OptionType type;
    pricing::ImpliedVolMethod solver;
    if (!choose(kOptionTypes, ot, type) || !choose(pricing::kImpliedVolMethods, method, solver)) return nullptr;
    const OptionContract o{.strike = strike, .expiry = t, .option_type = type};
    return finish(pricing::implied_volatility(o, {.spot = spot, .rate = rate, .vol = 0.0, .dividend_yield = q},
                                              market_price, solver));
}

}  // namespace

extern const FunctionDef def_black_scholes = function<black_scholes_impl>(
    "black_scholes", {"spot", "strike", "rate", "vol", "t", "option_type", {"dividend_yield", "0.0"}},
    "Price a European option with the Black-Scholes-Merton closed form.\n"
    "\n"
    "Example:\n"
    "\n"
    "    import quelm\n"
    "    quelm.black_scholes(spot=100, strike=105, rate=0.05, vol=0.2, t=1.0, option_type=\"call\")\n"
    "    # -> 8.021352235143176");

extern const FunctionDef def_price = function<price_impl>(
    "price", {"spot", "strike", "rate", "vol", "t", "option_type", {"dividend_yield", "0.0"}},
    "Price a European option and return a dict with the inputs and the price.\n"
    "\n"
    "Mirrors the CLI's `PriceResult` shape so the Python and CLI surfaces agree.");

extern const FunctionDef def_greeks = function<greeks_impl>(
    "greeks", {"spot", "strike", "rate", "vol", "t", "option_type", {"dividend_yield", "0.0"}},
    "Analytic Black-Scholes Greeks for a European option, as a dict\n"
    "(`delta`, `gamma`, `vega`, `theta`, `rho`).");

extern const FunctionDef def_implied_volatility = function<implied_volatility_impl>(
    "implied_volatility",
    {"market_price", "spot", "strike", "rate", "t", "option_type", {"dividend_yield", "0.0"}, "*",
     {"method", "\"newton\""}},
    "Solve for the Black-Scholes implied volatility matching `market_price`.\n"
    "\n"
    "`method` (keyword only): `\"newton\"` (the default: Newton from an analytic guess, Brent\n"
    "as fallback, the exact solver for quotes that tolerance cannot resolve) or `\"rational\"`\n"
    "(Jaeckel's \"Let's be rational\": the last bits the quote allows, in two or three steps).");

}  // namespace quelm::py
