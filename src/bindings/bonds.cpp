// Python class FixedRateBond.
#include "bindings/frame/args.hpp"
#include "bindings/frame/classes.hpp"
#include "bindings/frame/result.hpp"

namespace quelm::py {

namespace {

PyObject* regular_impl(Args&) { return raise(Error{Kind::NotImplemented, "FixedRateBond.flat"}); }

const FunctionDef def_regular = {
    "regular(face, coupon_rate, frequency, n_periods)\n--\n\n"
    "A regular bond settling on a coupon date.",
    &regular_impl,
};

const FunctionDef* const kMethods[] = {&def_regular};

const ClassDef kClass = {
    "FixedRateBond",
    "A fixed-rate bond: build once, price and analyse from a yield or a curve.",
    kMethods, 1, nullptr, 0,
};

}  // namespace

PyTypeObject* fixed_rate_bond_type() {
    static PyTypeObject* type = create_class(kClass);
    return type;
}

}  // namespace quelm::py
