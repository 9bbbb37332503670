// Converting the Market's mapping arguments. Errors name the entry at fault: a TypeError or
// ValueError raised while reading an entry is raised again with the entry before its
// message (the original as its cause).
#include "bindings/book/market_args.hpp"

#include "bindings/credit/credit.hpp"
#include "bindings/curves/instruments.hpp"
#include "bindings/fx/smile_types.hpp"
#include "bindings/instances.hpp"
#include "bindings/rates/rate_args.hpp"
#include "bindings/string_options.hpp"
#include "frame/dates.hpp"
#include "frame/result.hpp"

#include <memory>
#include <string>

namespace quelm::py {

namespace {

// Raise the pending TypeError or ValueError again as "<where>: <message>"; false.
bool in_context(const std::string& where) {
    PyObject* kind = PyErr_ExceptionMatches(PyExc_TypeError)    ? PyExc_TypeError
                     : PyErr_ExceptionMatches(PyExc_ValueError) ? PyExc_ValueError
                                                                : nullptr;
    if (kind == nullptr) return false;  // MemoryError, KeyboardInterrupt: as they are
    reraise_prefixed(kind, where.c_str());
    return false;
}

// Each (key, value) of a mapping, or of anything with a mapping's items() (a pandas Series:
// its index and values), in its order; each(key, value) returns false with an exception set.
template <class Each>
bool for_items(PyObject* o, const char* expected, Each each) {
    Ref items(PyUnicode_Check(o) ? nullptr : PyObject_GetAttrString(o, "items"));
    if (!items) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "expected a mapping of %s, got %s", expected, Py_TYPE(o)->tp_name);
        return false;
    }
    Ref pairs(PyObject_CallNoArgs(items.get()));
    Ref it(pairs ? PyObject_GetIter(pairs.get()) : nullptr);
    if (!it) return false;
    while (Ref pair{PyIter_Next(it.get())}) {
        if (!PyTuple_Check(pair.get()) || PyTuple_GET_SIZE(pair.get()) != 2) {
            PyErr_Format(PyExc_TypeError, "expected a mapping of %s: its items() gave a %s, not a (key, value) pair",
                         expected, Py_TYPE(pair.get())->tp_name);
            return false;
        }
        if (!each(PyTuple_GET_ITEM(pair.get(), 0), PyTuple_GET_ITEM(pair.get(), 1))) return false;
    }
    return !PyErr_Occurred();
}

// A name: a str key.
bool name_of(PyObject* key, const char* what, std::string& out) {
    if (!PyUnicode_Check(key)) {
        PyErr_Format(PyExc_TypeError, "%s names are str, got %s", what, Py_TYPE(key)->tp_name);
        return false;
    }
    return from_py(key, out);
}

// A YieldCurve instance as a shared core value (one copy, then shared by the market).
bool curve_of(PyObject* o, std::shared_ptr<const curves::YieldCurve>& out) {
    if (Py_TYPE(o) != yield_curve_type()) {
        PyErr_Format(PyExc_TypeError, "expected quelm.YieldCurve, got %s", Py_TYPE(o)->tp_name);
        return false;
    }
    out = std::make_shared<const curves::YieldCurve>(value_of<curves::YieldCurve>(o));
    return true;
}

// One bootstrap option of a curve, as YieldCurve.bootstrap takes it.
bool option_of(const std::string& key, PyObject* value, book::CurveQuotes& q) {
    if (key == "discount_curve") {
        if (value == Py_None) return true;
        if (PyUnicode_Check(value)) {
            std::string name;
            if (!from_py(value, name)) return false;
            q.discount_name = std::move(name);
            return true;
        }
        if (Py_TYPE(value) == yield_curve_type()) return curve_of(value, q.discount_curve);
        PyErr_Format(PyExc_TypeError, "discount_curve: expected the name of a curve or a quelm.YieldCurve, got %s",
                     Py_TYPE(value)->tp_name);
        return false;
    }
    if (key != "day_count" && key != "interp" && key != "extrapolate") {
        PyErr_Format(PyExc_TypeError,
                     "unknown bootstrap option '%s' (the options are day_count, interp, extrapolate and "
                     "discount_curve)",
                     key.c_str());
        return false;
    }
    std::string_view text;
    if (!from_py(value, text)) return in_context(key);
    if (key == "interp") return choose(StringOption<curves::BootstrapInterp>::table, text, q.interp);
    if (key == "extrapolate") return choose(StringOption<curves::Extrapolation>::table, text, q.extrapolate);
    auto dc = dates::parse_day_count(text);
    if (!dc) {
        raise(dc.error());
        return false;
    }
    q.day_count = *dc;
    return true;
}

// A curve's quotes: an instrument list, or (instrument list, options).
bool quotes_of(PyObject* value, book::CurveQuotes& q) {
    PyObject* instruments = value;
    PyObject* options = nullptr;
    if (PyTuple_Check(value) && PyTuple_GET_SIZE(value) == 2 && PyMapping_Check(PyTuple_GET_ITEM(value, 1)) &&
        !PySequence_Check(PyTuple_GET_ITEM(value, 1))) {
        instruments = PyTuple_GET_ITEM(value, 0);
        options = PyTuple_GET_ITEM(value, 1);
    }
    InstrumentList list;
    if (!from_py(instruments, list)) return false;
    q.instruments = std::move(list.items);
    if (options == nullptr) return true;
    return for_items(options, "bootstrap options", [&](PyObject* k, PyObject* v) {
        std::string key;
        return name_of(k, "bootstrap option", key) && option_of(key, v, q);
    });
}

}  // namespace

bool from_py(PyObject* o, CurvesArg& out) {
    return for_items(o, "names to YieldCurve", [&](PyObject* k, PyObject* v) {
        book::Named<curves::YieldCurve> c;
        if (!name_of(k, "curve", c.name)) return false;
        if (!curve_of(v, c.value)) return in_context("curve " + c.name);
        out.items.push_back(std::move(c));
        return true;
    });
}

bool from_py(PyObject* o, CreditCurvesArg& out) {
    return for_items(o, "names to CreditCurve", [&](PyObject* k, PyObject* v) {
        book::Named<credit::CreditCurve> c;
        if (!name_of(k, "credit curve", c.name)) return false;
        if (Py_TYPE(v) != credit_curve_type()) {
            PyErr_Format(PyExc_TypeError, "expected quelm.CreditCurve, got %s", Py_TYPE(v)->tp_name);
            return in_context("credit curve " + c.name);
        }
        c.value = std::make_shared<const credit::CreditCurve>(value_of<credit::CreditCurve>(v));
        out.items.push_back(std::move(c));
        return true;
    });
}

bool from_py(PyObject* o, SurfacesArg& out) {
    return for_items(o, "names to VolSurface", [&](PyObject* k, PyObject* v) {
        book::Named<volatility::VolSurface> s;
        if (!name_of(k, "surface", s.name)) return false;
        if (Py_TYPE(v) == fx_smile_type() || Py_TYPE(v) == fx_vol_surface_type()) {
            auto vols = std::make_shared<book::FxVols>();
            if (Py_TYPE(v) == fx_smile_type()) {
                vols->smiles.push_back(value_of<fx::FxSmile>(v));
            } else {
                const auto smiles = value_of<fx::FxVolSurface>(v).smiles();
                vols->smiles.assign(smiles.begin(), smiles.end());
                vols->surface = true;
            }
            out.fx.push_back({std::move(s.name), std::move(vols)});
            return true;
        }
        if (Py_TYPE(v) != vol_surface_type()) {
            PyErr_Format(PyExc_TypeError, "surface %s: expected quelm.VolSurface, FxSmile or FxVolSurface, got %s",
                         s.name.c_str(), Py_TYPE(v)->tp_name);
            return false;
        }
        s.value = std::make_shared<const volatility::VolSurface>(value_of<volatility::VolSurface>(v));
        out.items.push_back(std::move(s));
        return true;
    });
}

bool from_py(PyObject* o, FxArg& out) {
    return for_items(o, "currency pairs to spots", [&](PyObject* k, PyObject* v) {
        book::FxSpot s;
        if (!name_of(k, "fx pair", s.pair)) return false;
        if (!from_py(v, s.spot)) return in_context("fx pair " + s.pair);
        out.items.push_back(std::move(s));
        return true;
    });
}

bool from_py(PyObject* o, FixingsArg& out) {
    return for_items(o, "index names to fixings", [&](PyObject* k, PyObject* v) {
        book::FixingSeries s;
        if (!name_of(k, "fixing index", s.index)) return false;
        const bool read = for_items(v, "dates to rates (a dict or a pandas Series)", [&](PyObject* d, PyObject* r) {
            Date date;
            book::Fixing f;
            if (!from_py(d, date)) return false;
            f.date = date.serial;
            if (!from_py(r, f.rate)) return in_context(dates::format_iso(f.date));
            s.fixings.push_back(f);
            return true;
        });
        if (!read) return in_context("fixings of " + s.index);
        out.items.push_back(std::move(s));
        return true;
    });
}

bool from_py(PyObject* o, QuotesArg& out) {
    return for_items(o, "curve names to quotes", [&](PyObject* k, PyObject* v) {
        book::CurveQuotes q;
        if (!name_of(k, "curve", q.name)) return false;
        if (!quotes_of(v, q)) return in_context("curve " + q.name);
        out.items.push_back(std::move(q));
        return true;
    });
}

bool from_py(PyObject* o, RateVolsArg& out) {
    return for_items(o, "names to RateVol, SwaptionCube, HullWhite or a vol", [&](PyObject* k, PyObject* v) {
        book::Named<book::RateVols> r;
        if (!name_of(k, "rate vol", r.name)) return false;
        if (Py_TYPE(v) == swaption_cube_type()) {
            r.value = std::make_shared<const book::RateVols>(book::rate_vols_of(value_of<rates::SwaptionCube>(v)));
        } else if (Py_TYPE(v) == hull_white_type()) {
            r.value = std::make_shared<const book::RateVols>(book::rate_vols_of(value_of<rates::HullWhite>(v)));
        } else if (Py_TYPE(v) == rate_vol_type()) {
            r.value = std::make_shared<const book::RateVols>(book::rate_vols_of(value_of<rates::RateVol>(v)));
        } else if (PyFloat_Check(v) || PyLong_Check(v) || (PyNumber_Check(v) && !PySequence_Check(v))) {
            rates::RateVol flat;
            if (!from_py(v, flat.vol.vols.emplace_back())) return in_context("rate vol " + r.name);
            if (auto ok = rates::check(flat); !ok) {
                raise(ok.error());
                return in_context("rate vol " + r.name);
            }
            r.value = std::make_shared<const book::RateVols>(book::rate_vols_of(std::move(flat)));
        } else {
            PyErr_Format(PyExc_TypeError, "rate vol %s: expected quelm.RateVol, SwaptionCube, HullWhite or a number, got %s",
                         r.name.c_str(), Py_TYPE(v)->tp_name);
            return false;
        }
        out.items.push_back(std::move(r));
        return true;
    });
}

bool from_py(PyObject* o, ShiftsArg& out) {
    return for_items(o, "shift keys to amounts", [&](PyObject* k, PyObject* v) {
        std::pair<std::string, double> s;
        if (!name_of(k, "shift key", s.first)) return false;
        if (!from_py(v, s.second)) return in_context("shift of " + s.first);
        out.items.push_back(std::move(s));
        return true;
    });
}

}  // namespace quelm::py
