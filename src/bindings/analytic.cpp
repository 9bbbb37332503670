// Python bindings: black_scholes, price, greeks, implied_volatility.
#include "bindings/frame/args.hpp"
#include "bindings/frame/result.hpp"

namespace quelm::py {

namespace {

PyObject* black_scholes_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "black_scholes"});
}

PyObject* price_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "price"});
}

PyObject* greeks_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "greeks"});
}

PyObject* implied_volatility_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "implied_volatility"});
}

}  // namespace

extern const FunctionDef def_black_scholes = {
    "black_scholes(spot, strike, rate, vol, t, option_type, dividend_yield=0.0)\n--\n\n"
    "Price a European option with the Black-Scholes-Merton closed form.",
    &black_scholes_impl,
};

extern const FunctionDef def_price = {
    "price(spot, strike, rate, vol, t, option_type, dividend_yield=0.0)\n--\n\n"
    "Price a European option and return a dict with the inputs and the price.",
    &price_impl,
};

extern const FunctionDef def_greeks = {
    "greeks(spot, strike, rate, vol, t, option_type, dividend_yield=0.0)\n--\n\n"
    "Analytic Black-Scholes Greeks for a European option, as a dict",
    &greeks_impl,
};

extern const FunctionDef def_implied_volatility = {
    "implied_volatility(market_price, spot, strike, rate, t, option_type, dividend_yield=0.0)\n--\n\n"
    "Solve for the Black-Scholes implied volatility matching `market_price`.",
    &implied_volatility_impl,
};

}  // namespace quelm::py
