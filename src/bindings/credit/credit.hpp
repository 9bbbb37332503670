// The credit classes (Cds, CreditCurve) and the arguments their bindings share: a maturity
// (a date or a tenor) and a list of CDS quotes.
#pragma once

#include "frame/annotations.hpp"
#include "frame/dates.hpp"
#include "frame/declare.hpp"
#include "quelm/credit/cds.hpp"
#include "quelm/credit/credit_curve.hpp"
#include "quelm/dates/tenor.hpp"

#include <optional>
#include <variant>
#include <vector>

namespace quelm::py {

PyTypeObject* cds_type();
PyTypeObject* credit_curve_type();

QUELM_CLASS_OF(credit::Cds, cds_type, "Cds");
QUELM_CLASS_OF(credit::CreditCurve, credit_curve_type, "CreditCurve");

// A maturity: a date, or text that reads as a tenor ("5Y": the standard maturity).
struct MaturityArg {
    std::variant<dates::Serial, dates::Tenor> value;
};
bool from_py(PyObject* o, MaturityArg& out);
template <>
struct Annotation<MaturityArg> {
    static const char* param() { return "DateLike"; }
};

// CDS quotes: (maturity, spread) or (maturity, coupon, upfront) tuples.
struct QuoteItem {
    MaturityArg maturity;
    double first = 0.0;
    std::optional<double> upfront;
};
struct QuoteList {
    std::vector<QuoteItem> items;
};
bool from_py(PyObject* o, QuoteList& out);
template <>
struct Annotation<QuoteList> {
    static const char* param() {
        return "_ArrayLike[Tuple[DateLike, _Float] | Tuple[DateLike, _Float, _Float]]";
    }
};

// A CreditCurve instance (borrowed for the call).
struct CreditCurveRef {
    const credit::CreditCurve* curve = nullptr;
};
bool from_py(PyObject* o, CreditCurveRef& out);
template <>
struct Annotation<CreditCurveRef> {
    static const char* param() { return "CreditCurve"; }
};

// The contract on the standard terms from the Python arguments.
[[nodiscard]] Result<credit::Cds> cds_of(const MaturityArg& maturity, double coupon, dates::Serial trade_date,
                                         double notional, double recovery, credit::Side side,
                                         const dates::Calendar& calendar, bool half_day);

}  // namespace quelm::py
