// Python bindings: differential_ml, american_ml.
#include "bindings/frame/args.hpp"
#include "bindings/frame/result.hpp"

namespace quelm::py {

namespace {

PyObject* differential_ml_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "differential_ml"});
}

PyObject* american_ml_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "american_ml"});
}

}  // namespace

extern const FunctionDef def_differential_ml = {
    "differential_ml(spot, strike, rate, vol, maturity, option_type=\"call\", samples=4096, epochs=60, spread=2.0, seed=1, hidden=None)\n--\n\n"
    "Train a differential-ML surrogate for a European option and return its price",
    &differential_ml_impl,
};

extern const FunctionDef def_american_ml = {
    "american_ml(spot, strike, rate, vol, maturity, option_type=\"put\", method=\"deep-lsm\", paths=8192, steps=50, epochs=20, seed=11, hidden=None, dividend_yield=0.0)\n--\n\n"
    "Price an American option with a neural engine and return its estimate",
    &american_ml_impl,
};

}  // namespace quelm::py
