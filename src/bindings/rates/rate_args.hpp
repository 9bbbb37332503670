// The arguments the rate-option classes share: a vol (a number or a term structure), an
// expiry (a tenor or a date), and the classes themselves.
#pragma once

#include "bindings/curves/instruments.hpp"
#include "frame/annotations.hpp"
#include "frame/declare.hpp"
#include "quelm/rates/cap_floor.hpp"
#include "quelm/rates/swaption.hpp"

namespace quelm::py {

PyTypeObject* cap_floor_type();
PyTypeObject* swaption_type();
QUELM_CLASS_OF(rates::CapFloor, cap_floor_type, "CapFloor");
QUELM_CLASS_OF(rates::Swaption, swaption_type, "Swaption");

// A flat vol (a number) or a term structure: a pair (times in years, vols).
struct VolArg {
    rates::VolTerm term;
};
bool from_py(PyObject* o, VolArg& out);
template <>
struct Annotation<VolArg> {
    static const char* param() { return "_Float | Tuple[_Floats, _Floats]"; }
};

// The curves a rate option reads: the curve and an optional discount curve.
[[nodiscard]] inline rates::CurveArgs curves_of(const curves::YieldCurve& curve, const std::optional<CurveRef>& discount) {
    return {&curve, discount ? discount->curve : nullptr};
}

}  // namespace quelm::py
