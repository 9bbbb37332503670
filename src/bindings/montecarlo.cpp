// Python bindings: binomial, monte_carlo, lsm.
#include "bindings/frame/args.hpp"
#include "bindings/frame/result.hpp"

namespace quelm::py {

namespace {

PyObject* binomial_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "binomial"});
}

PyObject* monte_carlo_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "monte_carlo"});
}

PyObject* lsm_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "lsm"});
}

}  // namespace

extern const FunctionDef def_binomial = {
    "binomial(spot, strike, rate, vol, t, option_type, style=\"european\", steps=..., dividend_yield=0.0)\n--\n\n"
    "Price a vanilla option with the CRR binomial tree (European or American).",
    &binomial_impl,
};

extern const FunctionDef def_monte_carlo = {
    "monte_carlo(spot, strike, rate, vol, t, option_type, paths=100000, seed=42, dividend_yield=0.0)\n--\n\n"
    "Price a European option by Monte Carlo, returning a dict with the price and",
    &monte_carlo_impl,
};

extern const FunctionDef def_lsm = {
    "lsm(spot, strike, rate, vol, t, option_type, paths=100000, steps=50, seed=42, dividend_yield=0.0)\n--\n\n"
    "Price an American option by Longstaff-Schwartz Monte Carlo, returning a dict",
    &lsm_impl,
};

}  // namespace quelm::py
