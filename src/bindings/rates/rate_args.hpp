// The arguments the rate-option classes share: a vol (a number or a term structure), an
// expiry (a tenor or a date), and the classes themselves.
#pragma once

#include "bindings/book/trade_terms.hpp"
#include "bindings/curves/instruments.hpp"
#include "frame/annotations.hpp"
#include "frame/declare.hpp"
#include "quelm/rates/bermudan.hpp"
#include "quelm/rates/cap_floor.hpp"
#include "quelm/rates/hull_white.hpp"
#include "quelm/rates/rate_vol.hpp"
#include "quelm/rates/swaption_cube.hpp"
#include "quelm/rates/swaption.hpp"

namespace quelm::py {

PyTypeObject* cap_floor_type();
PyTypeObject* swaption_type();
PyTypeObject* rate_vol_type();
PyTypeObject* swaption_cube_type();
QUELM_CLASS_OF(rates::CapFloor, cap_floor_type, "CapFloor");
QUELM_CLASS_OF(rates::Swaption, swaption_type, "Swaption");
QUELM_CLASS_OF(rates::RateVol, rate_vol_type, "RateVol");
QUELM_CLASS_OF(rates::SwaptionCube, swaption_cube_type, "SwaptionCube");
PyTypeObject* priced_swaption_type();
PyTypeObject* priced_cap_floor_type();
QUELM_CLASS_OF(rates::PricedCap, priced_cap_floor_type, "PricedCapFloor");
QUELM_CLASS_OF(rates::PricedSwaption, priced_swaption_type, "PricedSwaption");
PyTypeObject* hull_white_type();
PyTypeObject* bermudan_swaption_type();
QUELM_CLASS_OF(rates::BermudanSwaption, bermudan_swaption_type, "BermudanSwaption");
QUELM_CLASS_OF(rates::HullWhite, hull_white_type, "HullWhite");

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

// A rate option's names as a trade of a book (curve=, discount_curve=, vol=), read as the
// book's other trades read theirs: None is "", an empty name an error.
[[nodiscard]] Status book_names(const std::optional<std::string_view>& curve,
                                const std::optional<std::string_view>& discount_curve,
                                const std::optional<std::string_view>& vol, std::string& curve_out,
                                std::string& discount_out, std::string& vol_out);
// Puts the names into a pickle's keywords (None for ""); put(key, new reference) -> ok.
template <class Put>
bool put_names(Put& put, const std::string& curve, const std::string& discount_curve, const std::string& vol) {
    return put("curve", text_py(curve)) && put("discount_curve", text_py(discount_curve)) && put("vol", text_py(vol));
}

}  // namespace quelm::py
