// Python bindings: barrier_price, lookback_price, asian_price.
#include "bindings/frame/args.hpp"
#include "bindings/frame/result.hpp"
#include "quelm/pricing/asian.hpp"
#include "quelm/pricing/barrier.hpp"
#include "quelm/pricing/lookback.hpp"

namespace quelm::py {

namespace {

PyObject* barrier_price_impl(Args& a) {
    double spot, strike, rate, vol, t, barrier, q = 0.0;
    std::string ot, bt;
    if (!a.all(spot, strike, rate, vol, t, ot, bt, barrier, q)) return nullptr;
    OptionType type;
    pricing::BarrierType kind;
    if (!parsed(parse_option_type(ot), type) || !parsed(pricing::parse_barrier_type(bt), kind)) return nullptr;
    return finish(pricing::barrier_price({strike, t, type}, {spot, rate, vol, q}, kind, barrier));
}

PyObject* lookback_price_impl(Args& a) {
    double spot, strike, rate, vol, t, q = 0.0;
    std::string ot, st;
    if (!a.all(spot, strike, rate, vol, t, ot, st, q)) return nullptr;
    pricing::StrikeType kind;
    OptionType type;
    if (!parsed(pricing::parse_strike_type(st), kind) || !parsed(parse_option_type(ot), type)) return nullptr;
    return finish(pricing::lookback_price({strike, t, type}, {spot, rate, vol, q}, kind));
}

PyObject* asian_price_impl(Args& a) {
    double spot, strike, rate, vol, t, q = 0.0;
    std::string ot, average = "geometric";
    std::uint64_t n_fixings = 50, paths = 100000, seed = 42;
    if (!a.all(spot, strike, rate, vol, t, ot, average, n_fixings, paths, seed, q)) return nullptr;
    OptionType type;
    pricing::AverageType kind;
    if (!parsed(parse_option_type(ot), type) || !parsed(pricing::parse_average_type(average), kind)) return nullptr;
    static const KeySet<2> keys({"price", "standard_error"});
    const OptionContract o{strike, t, type};
    const MarketInputs m{spot, rate, vol, q};
    if (kind == pricing::AverageType::Geometric) {
        return finish(pricing::geometric_asian_price(o, m),
                      [](double p) { return make_dict(keys, {to_py(p), none()}); });
    }
    Interrupt intr;
    const auto r = pricing::arithmetic_asian_price(o, m, n_fixings, {paths, seed}, intr.token());
    return finish(r, intr, [](const pricing::PriceSe& v) {
        return make_dict(keys, {to_py(v.price), to_py(v.standard_error)});
    });
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
