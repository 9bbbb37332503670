// Python bindings: black_scholes, price, greeks, implied_volatility.
#include "bindings/frame/args.hpp"
#include "bindings/frame/result.hpp"
#include "quelm/greeks/analytic.hpp"
#include "quelm/pricing/black_scholes.hpp"
#include "quelm/pricing/implied_vol.hpp"

namespace quelm::py {

namespace {

PyObject* black_scholes_impl(Args& a) {
    double spot, strike, rate, vol, t, q = 0.0;
    std::string ot;
    if (!a.all(spot, strike, rate, vol, t, ot, q)) return nullptr;
    OptionType type;
    if (!parsed(parse_option_type(ot), type)) return nullptr;
    return finish(pricing::black_scholes({strike, t, type}, {spot, rate, vol, q}));
}

PyObject* price_impl(Args& a) {
    double spot, strike, rate, vol, t, q = 0.0;
    std::string ot;
    if (!a.all(spot, strike, rate, vol, t, ot, q)) return nullptr;
    OptionType type;
    if (!parsed(parse_option_type(ot), type)) return nullptr;
    static const KeySet<10> keys({"model", "option_type", "exercise", "spot", "strike", "rate", "volatility",
                                  "time", "dividend_yield", "price"});
    return finish(pricing::black_scholes({strike, t, type}, {spot, rate, vol, q}), [&](double v) {
        return make_dict(keys, {to_py(std::string("black-scholes")), to_py(std::string(option_type_name(type))),
                                to_py(std::string("european")), to_py(spot), to_py(strike), to_py(rate),
                                to_py(vol), to_py(t), to_py(q), to_py(v)});
    });
}

PyObject* greeks_impl(Args& a) {
    double spot, strike, rate, vol, t, q = 0.0;
    std::string ot;
    if (!a.all(spot, strike, rate, vol, t, ot, q)) return nullptr;
    OptionType type;
    if (!parsed(parse_option_type(ot), type)) return nullptr;
    static const KeySet<5> keys({"delta", "gamma", "vega", "theta", "rho"});
    return finish(greeks::analytic_greeks({strike, t, type}, {spot, rate, vol, q}), [&](const greeks::Greeks& g) {
        return make_dict(keys, {to_py(g.delta), to_py(g.gamma), to_py(g.vega), to_py(g.theta), to_py(g.rho)});
    });
}

PyObject* implied_volatility_impl(Args& a) {
    double market_price, spot, strike, rate, t, q = 0.0;
    std::string ot;
    if (!a.all(market_price, spot, strike, rate, t, ot, q)) return nullptr;
    OptionType type;
    if (!parsed(parse_option_type(ot), type)) return nullptr;
    return finish(pricing::implied_volatility(market_price, {strike, t, type}, {spot, rate, 0.0, q}));
}

}  // namespace

extern const FunctionDef def_black_scholes = {
    "black_scholes(spot, strike, rate, vol, t, option_type, dividend_yield=0.0)\n--\n\n"
    "Price a European option with the Black-Scholes-Merton closed form.\n"
    "\n"
    "Example:\n"
    "\n"
    "    import quelm\n"
    "    quelm.black_scholes(spot=100, strike=105, rate=0.05, vol=0.2, t=1.0, option_type=\"call\")\n"
    "    # -> 8.021352235143176",
    &black_scholes_impl,
};

extern const FunctionDef def_price = {
    "price(spot, strike, rate, vol, t, option_type, dividend_yield=0.0)\n--\n\n"
    "Price a European option and return a dict with the inputs and the price.\n"
    "\n"
    "Mirrors the CLI's `PriceResult` shape so the Python and CLI surfaces agree.",
    &price_impl,
};

extern const FunctionDef def_greeks = {
    "greeks(spot, strike, rate, vol, t, option_type, dividend_yield=0.0)\n--\n\n"
    "Analytic Black-Scholes Greeks for a European option, as a dict\n"
    "(`delta`, `gamma`, `vega`, `theta`, `rho`).",
    &greeks_impl,
};

extern const FunctionDef def_implied_volatility = {
    "implied_volatility(market_price, spot, strike, rate, t, option_type, dividend_yield=0.0)\n--\n\n"
    "Solve for the Black-Scholes implied volatility matching `market_price`.",
    &implied_volatility_impl,
};

}  // namespace quelm::py
