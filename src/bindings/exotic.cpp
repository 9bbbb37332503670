// Python bindings: barrier_price, lookback_price, asian_price.
#include "bindings/frame/args.hpp"
#include "bindings/frame/result.hpp"

namespace quelm::py {

namespace {

PyObject* barrier_price_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "barrier_price"});
}

PyObject* lookback_price_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "lookback_price"});
}

PyObject* asian_price_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "asian_price"});
}

}  // namespace

extern const FunctionDef def_barrier_price = {
    "barrier_price(spot, strike, rate, vol, t, option_type, barrier_type, barrier, dividend_yield=0.0)\n--\n\n"
    "Price a continuously monitored single-barrier option (zero rebate).",
    &barrier_price_impl,
};

extern const FunctionDef def_lookback_price = {
    "lookback_price(spot, strike, rate, vol, t, option_type, strike_type, dividend_yield=0.0)\n--\n\n"
    "Price a continuous lookback option (freshly issued: extremum = spot).",
    &lookback_price_impl,
};

extern const FunctionDef def_asian_price = {
    "asian_price(spot, strike, rate, vol, t, option_type, average=\"geometric\", n_fixings=50, paths=100000, seed=42, dividend_yield=0.0)\n--\n\n"
    "Price an average-price Asian option, returning a dict with the price (and, for",
    &asian_price_impl,
};

}  // namespace quelm::py
