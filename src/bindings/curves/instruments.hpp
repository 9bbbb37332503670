// The instrument classes (Deposit, Fra, Future, Ois, Swap, BondQuote) and the arguments
// the curve bindings share: a time or a date, a trade's start, an optional discount curve,
// a list of instruments, a book of positions.
#pragma once

#include "frame/annotations.hpp"
#include "frame/dates.hpp"
#include "frame/declare.hpp"
#include "bindings/instances.hpp"
#include "quelm/curves/instrument.hpp"
#include "quelm/curves/risk.hpp"

#include <variant>
#include <vector>

namespace quelm::py {

PyTypeObject* deposit_type();
PyTypeObject* fra_type();
PyTypeObject* future_type();
PyTypeObject* ois_type();
PyTypeObject* swap_type();
PyTypeObject* bond_quote_type();

QUELM_CLASS_OF(curves::Deposit, deposit_type, "Deposit");
QUELM_CLASS_OF(curves::Fra, fra_type, "Fra");
QUELM_CLASS_OF(curves::Future, future_type, "Future");
QUELM_CLASS_OF(curves::Ois, ois_type, "Ois");
QUELM_CLASS_OF(curves::Swap, swap_type, "Swap");
QUELM_CLASS_OF(curves::BondQuote, bond_quote_type, "BondQuote");
PyTypeObject* floating_rate_note_type();
QUELM_CLASS_OF(curves::FloatingRateNote, floating_rate_note_type, "FloatingRateNote");

inline constexpr const char* kInstrumentTypes = "Deposit | Fra | Future | Ois | Swap | BondQuote";

// An instance of one of the six classes as the core's variant; false (no exception) for
// anything else.
bool instrument_of(PyObject* o, curves::Instrument& out);
// A new instance of the class that holds the instrument.
PyObject* wrap_instrument(const curves::Instrument& i);

// A time in years (a number) or a date (anything the frame reads as one).
struct TimeArg {
    bool is_date = false;
    double t = 0.0;
    Date date;
};
bool from_py(PyObject* o, TimeArg& out);
template <>
struct Annotation<TimeArg> {
    static const char* param() { return "_Float | DateLike"; }
};

// A trade's start: a date (anything the frame reads as one), or text that reads as a tenor:
// a forward start that long after spot ("1Y").
struct EffectiveArg {
    std::variant<dates::Serial, dates::Tenor> value;
};
bool from_py(PyObject* o, EffectiveArg& out);
template <>
struct Annotation<EffectiveArg> {
    static const char* param() { return "DateLike"; }
};

// A YieldCurve instance (borrowed for the call).
struct CurveRef {
    const curves::YieldCurve* curve = nullptr;
};
bool from_py(PyObject* o, CurveRef& out);
template <>
struct Annotation<CurveRef> {
    static const char* param() { return "YieldCurve"; }
};

// A sequence of instruments.
struct InstrumentList {
    std::vector<curves::Instrument> items;
};
bool from_py(PyObject* o, InstrumentList& out);
template <>
struct Annotation<InstrumentList> {
    static const char* param() { return "_ArrayLike[Deposit | Fra | Future | Ois | Swap | BondQuote]"; }
};

// One position or a sequence of them: instruments and DatedBonds.
struct BookArg {
    std::vector<curves::BookItem> items;
};
bool from_py(PyObject* o, BookArg& out);
template <>
struct Annotation<BookArg> {
    static const char* param() {
        return "Deposit | Fra | Future | Ois | Swap | BondQuote | DatedBond | "
               "_ArrayLike[Deposit | Fra | Future | Ois | Swap | BondQuote | DatedBond]";
    }
};

}  // namespace quelm::py
