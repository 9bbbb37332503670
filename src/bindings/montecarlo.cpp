// Python bindings: binomial, monte_carlo, lsm.
#include "bindings/frame/args.hpp"
#include "bindings/frame/result.hpp"
#include "quelm/pricing/binomial.hpp"
#include "quelm/pricing/lsm.hpp"
#include "quelm/pricing/monte_carlo.hpp"

namespace quelm::py {

namespace {

PyObject* binomial_impl(Args& a) {
    double spot, strike, rate, vol, t, q = 0.0;
    std::string ot, style_text = "european";
    std::uint64_t steps = 1000;
    if (!a.all(spot, strike, rate, vol, t, ot, style_text, steps, q)) return nullptr;
    OptionType type;
    pricing::ExerciseStyle style;
    if (!parsed(parse_option_type(ot), type) || !parsed(pricing::parse_style(style_text), style)) return nullptr;
    Interrupt intr;
    const auto r = pricing::binomial(type, style, {spot, rate, vol, q}, steps, strike, t, intr.token());
    return finish(r, intr, [](double v) { return to_py(v); });
}

PyObject* mc_dict(const pricing::McResult& r) {
    static const KeySet<2> keys({"price", "standard_error"});
    return make_dict(keys, {to_py(r.price), to_py(r.standard_error)});
}

PyObject* monte_carlo_impl(Args& a) {
    double spot, strike, rate, vol, t, q = 0.0;
    std::string ot;
    std::uint64_t paths = 100000, seed = 42;
    if (!a.all(spot, strike, rate, vol, t, ot, paths, seed, q)) return nullptr;
    OptionType type;
    if (!parsed(parse_option_type(ot), type)) return nullptr;
    Interrupt intr;
    const auto r = pricing::monte_carlo_european({spot, strike, rate, vol, t, type, q, paths, seed}, intr.token());
    return finish(r, intr, &mc_dict);
}

PyObject* lsm_impl(Args& a) {
    double spot, strike, rate, vol, t, q = 0.0;
    std::string ot;
    std::uint64_t paths = 100000, steps = 50, seed = 42;
    if (!a.all(spot, strike, rate, vol, t, ot, paths, steps, seed, q)) return nullptr;
    OptionType type;
    if (!parsed(parse_option_type(ot), type)) return nullptr;
    Interrupt intr;
    const auto r = pricing::lsm_american(type, {spot, rate, vol, q}, {paths, steps, seed}, strike, t, intr.token());
    return finish(r, intr, &mc_dict);
}

}  // namespace

extern const FunctionDef def_binomial = {
    "binomial(spot, strike, rate, vol, t, option_type, style=\"european\", steps=..., dividend_yield=0.0)\n--\n\n"
    "Price a vanilla option with the CRR binomial tree (European or American).\n"
    "\n"
    "```python\n"
    "import quelm\n"
    "quelm.binomial(spot=100, strike=110, rate=0.05, vol=0.3, t=1.0, option_type=\"put\", style=\"american\")\n"
    "```",
    &binomial_impl,
};

extern const FunctionDef def_monte_carlo = {
    "monte_carlo(spot, strike, rate, vol, t, option_type, paths=100000, seed=42, dividend_yield=0.0)\n--\n\n"
    "Price a European option by Monte Carlo, returning a dict with the price and\n"
    "its standard error (antithetic pairs; reproducible for a given `seed` on any\n"
    "number of worker threads).",
    &monte_carlo_impl,
};

extern const FunctionDef def_lsm = {
    "lsm(spot, strike, rate, vol, t, option_type, paths=100000, steps=50, seed=42, dividend_yield=0.0)\n--\n\n"
    "Price an American option by Longstaff-Schwartz Monte Carlo, returning a dict\n"
    "with the price and its standard error (quadratic regression in moneyness on the\n"
    "in-the-money paths at each of the `steps` exercise dates).",
    &lsm_impl,
};

}  // namespace quelm::py
