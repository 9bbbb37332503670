// Python bindings: differential_ml, american_ml.
#include "bindings/frame/args.hpp"
#include "bindings/frame/result.hpp"
#include "quelm/ml/deep_lsm.hpp"
#include "quelm/ml/dos.hpp"
#include "quelm/ml/train.hpp"

#include <optional>
#include <vector>

namespace quelm::py {

namespace {

PyObject* diff_dict(const ml::DiffReport& r) {
    static const KeySet<11> keys({"spot", "option_type", "ml_price", "ml_delta", "bs_price", "bs_delta",
                                  "price_abs_err", "delta_abs_err", "n_samples", "epochs", "final_loss"});
    return make_dict(keys, {to_py(r.spot), to_py(std::string(option_type_name(r.type))), to_py(r.ml_price),
                            to_py(r.ml_delta), to_py(r.bs_price), to_py(r.bs_delta), to_py(r.price_abs_err),
                            to_py(r.delta_abs_err), to_py(r.n_samples), to_py(r.epochs), to_py(r.final_loss)});
}

PyObject* differential_ml_impl(Args& a) {
    double spot, strike, rate, vol, maturity, spread = 2.0;
    std::string ot = "call";
    std::uint64_t samples = 4096, epochs = 60, seed = 1;
    std::optional<std::vector<std::uint64_t>> hidden;
    if (!a.all(spot, strike, rate, vol, maturity, ot, samples, epochs, spread, seed, hidden)) return nullptr;
    OptionType type;
    if (!parsed(parse_option_type(ot), type)) return nullptr;
    ml::DiffConfig cfg{hidden ? std::move(*hidden) : std::vector<std::uint64_t>{30, 30},
                       {spot, strike, rate, vol, maturity, type}, samples, epochs, spread, seed};
    Interrupt intr;
    const auto r = ml::differential_ml_price(cfg, intr.token());
    return finish(r, intr, &diff_dict);
}

PyObject* american_dict(const ml::AmericanReport& r) {
    static const KeySet<11> keys({"method", "option_type", "spot", "strike", "ml_price", "standard_error",
                                  "binomial_price", "abs_err", "paths", "steps", "epochs"});
    return make_dict(keys, {to_py(std::string(r.method)), to_py(std::string(option_type_name(r.type))),
                            to_py(r.spot), to_py(r.strike), to_py(r.price), to_py(r.standard_error),
                            to_py(r.binomial_price), to_py(r.abs_err), to_py(r.paths), to_py(r.steps),
                            to_py(r.epochs)});
}

PyObject* american_ml_impl(Args& a) {
    double spot, strike, rate, vol, maturity, q = 0.0;
    std::string ot = "put", method = "deep-lsm";
    std::uint64_t paths = 8192, steps = 50, epochs = 20, seed = 11;
    std::optional<std::vector<std::uint64_t>> hidden;
    if (!a.all(spot, strike, rate, vol, maturity, ot, method, paths, steps, epochs, seed, hidden, q)) return nullptr;
    OptionType type;
    if (!parsed(parse_option_type(ot), type)) return nullptr;
    // Engine names are matched exactly (no case folding).
    const bool dos = method == "dos";
    if (!dos && method != "deep-lsm" && method != "deep_lsm")
        return raise_value_error("unknown method " + quote_literal(method) + " (expected \"deep-lsm\" or \"dos\")");
    const ml::AmericanConfig cfg{hidden ? std::move(*hidden) : std::vector<std::uint64_t>{16},
                                 {spot, rate, vol, q}, strike, maturity, paths, steps, seed, epochs};
    Interrupt intr;
    const auto r = dos ? ml::dos_price(type, cfg, intr.token()) : ml::deep_lsm_price(type, cfg, intr.token());
    return finish(r, intr, &american_dict);
}

}  // namespace

extern const FunctionDef def_differential_ml = {
    "differential_ml(spot, strike, rate, vol, maturity, option_type=\"call\", samples=4096, epochs=60, spread=2.0, seed=1, hidden=None)\n--\n\n"
    "Train a differential-ML surrogate for a European option and return its price\n"
    "and delta alongside the Black-Scholes baseline. Training is deterministic given\n"
    "`seed`. `hidden` defaults to two layers of 30 units.",
    &differential_ml_impl,
};

extern const FunctionDef def_american_ml = {
    "american_ml(spot, strike, rate, vol, maturity, option_type=\"put\", method=\"deep-lsm\", paths=8192, steps=50, epochs=20, seed=11, hidden=None, dividend_yield=0.0)\n--\n\n"
    "Price an American option with a neural engine and return its estimate\n"
    "alongside the binomial (CRR) baseline. Training is deterministic given `seed`.\n"
    "`method` is `\"deep-lsm\"` (the default) or `\"dos\"`; `hidden` defaults to one layer of 16 units.",
    &american_ml_impl,
};

}  // namespace quelm::py
