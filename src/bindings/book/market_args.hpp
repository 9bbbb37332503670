// The Market class and the arguments its constructor and bootstrap take: mappings of names
// to curves, surfaces, FX spots, credit curves, fixings (an index's dates and rates as a dict or a pandas
// Series) and bootstrap quotes, converted into the core's parts.
#pragma once

#include "frame/annotations.hpp"
#include "frame/declare.hpp"
#include "quelm/book/market.hpp"
#include "quelm/book/market_bootstrap.hpp"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quelm::py {

PyTypeObject* market_type();
QUELM_CLASS_OF(book::Market, market_type, "Market");

// Each mapping argument defaults to an empty one (shown as `{}`, read from "").
struct CurvesArg {
    std::vector<book::Named<curves::YieldCurve>> items;
    static CurvesArg from_default_text(std::string_view) { return {}; }
};
struct SurfacesArg {
    std::vector<book::Named<volatility::VolSurface>> items;
    std::vector<book::Named<book::FxVols>> fx;  // the FxSmile and FxVolSurface values
    static SurfacesArg from_default_text(std::string_view) { return {}; }
};
struct FxArg {
    std::vector<book::FxSpot> items;
    static FxArg from_default_text(std::string_view) { return {}; }
};
struct FixingsArg {
    std::vector<book::FixingSeries> items;
    static FixingsArg from_default_text(std::string_view) { return {}; }
};
struct CreditCurvesArg {
    std::vector<book::Named<credit::CreditCurve>> items;
    static CreditCurvesArg from_default_text(std::string_view) { return {}; }
};
// Rate vols by name: a RateVol, a SwaptionCube or a number (a flat Black vol).
struct RateVolsArg {
    std::vector<book::Named<book::RateVols>> items;
    static RateVolsArg from_default_text(std::string_view) { return {}; }
};
struct QuotesArg {
    std::vector<book::CurveQuotes> items;
};

bool from_py(PyObject* o, CurvesArg& out);
bool from_py(PyObject* o, SurfacesArg& out);
bool from_py(PyObject* o, FxArg& out);
bool from_py(PyObject* o, FixingsArg& out);
bool from_py(PyObject* o, QuotesArg& out);
bool from_py(PyObject* o, CreditCurvesArg& out);
bool from_py(PyObject* o, RateVolsArg& out);

// A scenario's shifts: key (a quote label, a curve, an FX pair) -> amount, in the order given.
struct ShiftsArg {
    std::vector<std::pair<std::string, double>> items;
};
bool from_py(PyObject* o, ShiftsArg& out);

template <>
struct Annotation<CurvesArg> {
    static const char* param() { return "Mapping[str, YieldCurve]"; }
};
template <>
struct Annotation<SurfacesArg> {
    static const char* param() { return "Mapping[str, VolSurface | FxSmile | FxVolSurface]"; }
};
template <>
struct Annotation<FxArg> {
    static const char* param() { return "Mapping[str, _Float]"; }
};
template <>
struct Annotation<FixingsArg> {
    static const char* param() { return "Mapping[str, _Items[Any, _Float]]"; }
};
template <>
struct Annotation<CreditCurvesArg> {
    static const char* param() { return "Mapping[str, CreditCurve]"; }
};
template <>
struct Annotation<RateVolsArg> {
    static const char* param() { return "Mapping[str, RateVol | SwaptionCube | HullWhite | _Float]"; }
};
template <>
struct Annotation<QuotesArg> {
    static const char* param() {
        return "Mapping[str, _ArrayLike[Deposit | Fra | Future | Ois | Swap | BondQuote] | "
               "tuple[_ArrayLike[Deposit | Fra | Future | Ois | Swap | BondQuote], Mapping[str, Any]]]";
    }
};

template <>
struct Annotation<ShiftsArg> {
    static const char* param() { return "Mapping[str, _Float] | _Items[Any, _Float]"; }
};

}  // namespace quelm::py
