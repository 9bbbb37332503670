// Python class YieldCurve.
#include "bindings/frame/args.hpp"
#include "bindings/frame/classes.hpp"
#include "bindings/frame/result.hpp"

namespace quelm::py {

namespace {

PyObject* flat_impl(Args&) { return raise(Error{Kind::NotImplemented, "YieldCurve.flat"}); }

const FunctionDef def_flat = {
    "flat(rate)\n--\n\n"
    "A flat continuously-compounded curve at `rate` for every maturity.",
    &flat_impl,
};

const FunctionDef* const kMethods[] = {&def_flat};

const ClassDef kClass = {
    "YieldCurve",
    "A yield curve / term structure: build once, query many times.",
    kMethods, 1, nullptr, 0,
};

}  // namespace

PyTypeObject* yield_curve_type() {
    static PyTypeObject* type = create_class(kClass);
    return type;
}

}  // namespace quelm::py
