#include "bindings/book/market_scenarios.hpp"

#include "frame/compute.hpp"
#include "frame/dates.hpp"
#include "frame/result.hpp"
#include "quelm/book/market_history.hpp"
#include "quelm/book/market_shift.hpp"

#include <algorithm>

namespace quelm::py {

using book::Market;

bool is_frame(PyObject* o) {
    return PyObject_HasAttrString(o, "columns") && PyObject_HasAttrString(o, "index") &&
           PyObject_HasAttrString(o, "to_numpy");
}

namespace {

// list(o.<attr>)
PyObject* listed_attr(PyObject* o, const char* attr) {
    Ref a(PyObject_GetAttrString(o, attr));
    return a ? PySequence_List(a.get()) : nullptr;
}

// A frame's column labels, each a str.
bool frame_columns(PyObject* frame, const char* what, std::vector<std::string>& out) {
    Ref cols(listed_attr(frame, "columns"));
    if (!cols) return false;
    for (Py_ssize_t j = 0; j < PyList_GET_SIZE(cols.get()); ++j) {
        PyObject* c = PyList_GET_ITEM(cols.get(), j);
        if (!PyUnicode_Check(c)) {
            PyErr_Format(PyExc_TypeError, "%s columns are str (quote labels, curves, fx pairs), got %s", what,
                         Py_TYPE(c)->tp_name);
            return false;
        }
        if (!from_py(c, out.emplace_back())) return false;
    }
    return true;
}

// A frame's values as floats, row-major: frame.to_numpy(dtype=float).tolist().
bool frame_values(PyObject* frame, std::size_t rows, std::size_t cols, std::vector<double>& out) {
    Ref to_numpy(PyObject_GetAttrString(frame, "to_numpy"));
    Ref args(PyTuple_New(0));
    Ref kwargs(Py_BuildValue("{sO}", "dtype", reinterpret_cast<PyObject*>(&PyFloat_Type)));
    if (!to_numpy || !args || !kwargs) return false;
    Ref array(PyObject_Call(to_numpy.get(), args.get(), kwargs.get()));
    Ref tolist(array ? PyObject_GetAttrString(array.get(), "tolist") : nullptr);
    Ref table(tolist ? PyObject_CallNoArgs(tolist.get()) : nullptr);
    if (!table) return false;
    if (!PyList_Check(table.get()) || static_cast<std::size_t>(PyList_GET_SIZE(table.get())) != rows) {
        PyErr_SetString(PyExc_TypeError, "expected a table of floats: to_numpy() gave another shape");
        return false;
    }
    out.reserve(rows * cols);
    for (std::size_t i = 0; i < rows; ++i) {
        PyObject* row = PyList_GET_ITEM(table.get(), static_cast<Py_ssize_t>(i));
        if (!PyList_Check(row) || static_cast<std::size_t>(PyList_GET_SIZE(row)) != cols) {
            PyErr_SetString(PyExc_TypeError, "expected a table of floats: to_numpy() gave another shape");
            return false;
        }
        for (std::size_t j = 0; j < cols; ++j)
            if (!from_py(PyList_GET_ITEM(row, static_cast<Py_ssize_t>(j)), out.emplace_back())) return false;
    }
    return true;
}

bool label_names(Scenarios& s) {
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(s.names.get()); ++i) {
        Ref text(PyObject_Str(PyList_GET_ITEM(s.names.get(), i)));
        if (!text || !from_py(text.get(), s.labels.emplace_back())) return false;
    }
    return true;
}

bool read_frame(PyObject* frame, Scenarios& s) {
    std::vector<std::string> keys;
    s.names = Ref(listed_attr(frame, "index"));
    if (!s.names || !frame_columns(frame, "scenario", keys) || !label_names(s)) return false;
    std::vector<double> values;
    const std::size_t rows = s.labels.size();
    if (!frame_values(frame, rows, keys.size(), values)) return false;
    s.shifts.resize(rows);
    for (std::size_t i = 0; i < rows; ++i)
        for (std::size_t j = 0; j < keys.size(); ++j) s.shifts[i].emplace_back(keys[j], values[i * keys.size() + j]);
    return true;
}

bool read_one(PyObject* shifts, const std::string& label, Scenarios& s) {
    ShiftsArg arg;
    if (!from_py(shifts, arg)) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError) && !PyErr_ExceptionMatches(PyExc_ValueError)) return false;
        PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
        PyErr_Fetch(&type, &value, &tb);
        PyErr_NormalizeException(&type, &value, &tb);
        Ref t(type), v(value), b(tb);
        Ref text(v ? PyObject_Str(v.get()) : nullptr);
        if (text) PyErr_Format(type, "scenario %s: %U", label.c_str(), text.get());
        return false;
    }
    s.shifts.push_back(std::move(arg.items));
    return true;
}

}  // namespace

bool read_scenarios(PyObject* o, Scenarios& s) {
    if (is_frame(o)) return read_frame(o, s);
    if (!PyUnicode_Check(o) && PyObject_HasAttrString(o, "items")) {
        Ref keys(PyMapping_Keys(o));
        if (!keys) return false;
        s.names = Ref(PySequence_List(keys.get()));
        if (!s.names || !label_names(s)) return false;
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(s.names.get()); ++i) {
            Ref value(PyObject_GetItem(o, PyList_GET_ITEM(s.names.get(), i)));
            if (!value || !read_one(value.get(), s.labels[static_cast<std::size_t>(i)], s)) return false;
        }
        return true;
    }
    Ref seq(PyUnicode_Check(o) ? nullptr : PySequence_Fast(o, ""));
    if (!seq) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError,
                     "scenarios: expected a DataFrame (rows: scenarios, columns: shift keys), a mapping of "
                     "names to shifts or a sequence of shifts, got %s",
                     Py_TYPE(o)->tp_name);
        return false;
    }
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.get()); ++i) {
        s.labels.push_back(std::to_string(i));
        if (!read_one(PySequence_Fast_GET_ITEM(seq.get(), i), s.labels.back(), s)) return false;
    }
    return true;
}

Result<std::vector<book::MarketShift>> resolve(const book::ShiftKeys& keys,
                                               const std::vector<std::vector<std::pair<std::string, double>>>& all,
                                               const std::vector<std::string>* labels) {
    std::vector<book::MarketShift> out(all.size());
    for (std::size_t i = 0; i < all.size(); ++i)
        for (const auto& [key, amount] : all[i])
            if (Status s = keys.add(key, amount, out[i]); !s) {
                if (labels) s.error().text = "scenario " + (*labels)[i] + ": " + s.error().text;
                return std::unexpected(std::move(s.error()));
            }
    return out;
}

Result<Market> shifted_of(const Market& m, const ShiftsArg& shifts, Cancel& cancel) {
    QUELM_TRY(keys, book::ShiftKeys::make(m));
    QUELM_TRY(resolved, resolve(keys, {shifts.items}, nullptr));
    return book::shift_market(m, resolved[0], cancel);
}

PyObject* scenarios_impl(const Market& m, PyObject* shifts) {
    Scenarios s;
    if (!read_scenarios(shifts, s)) return nullptr;
    auto markets = compute([&](Cancel& cancel) -> Result<std::vector<Market>> {
        QUELM_TRY(keys, book::ShiftKeys::make(m));
        QUELM_TRY(resolved, resolve(keys, s.shifts, &s.labels));
        return book::shift_scenarios(m, resolved, s.labels, cancel);
    });
    if (!markets) return raise(markets.error());
    if (!s.names) return make_list(markets->size(), [&](std::size_t i) { return wrap(market_type(), (*markets)[i]); });
    Ref out(PyDict_New());
    if (!out) return nullptr;
    for (std::size_t i = 0; i < markets->size(); ++i) {
        Ref market(wrap(market_type(), (*markets)[i]));
        if (!market || PyDict_SetItem(out.get(), PyList_GET_ITEM(s.names.get(), static_cast<Py_ssize_t>(i)),
                                      market.get()) != 0)
            return nullptr;
    }
    if (static_cast<std::size_t>(PyDict_Size(out.get())) != markets->size()) {
        PyErr_SetString(PyExc_ValueError, "scenario names must differ: a name is given twice");
        return nullptr;
    }
    return out.release();
}

bool read_history(const Market& m, PyObject* quote_history, const std::optional<std::vector<std::string>>& relative,
                  QuoteHistory& out) {
    if (!is_frame(quote_history)) {
        PyErr_Format(PyExc_TypeError,
                     "quote_history: expected a DataFrame indexed by date, one column per quote label, curve or fx "
                     "pair, got %s",
                     Py_TYPE(quote_history)->tp_name);
        return false;
    }
    Ref index(listed_attr(quote_history, "index"));
    if (!index || !frame_columns(quote_history, "quote_history", out.keys)) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(index.get()); ++i) {
        Date d;
        if (!from_py(PyList_GET_ITEM(index.get(), i), d)) return false;
        out.days.push_back(d.serial);
    }
    if (!frame_values(quote_history, out.days.size(), out.keys.size(), out.values)) return false;
    const auto keys_of = book::ShiftKeys::make(m);
    if (!keys_of) return (raise(keys_of.error()), false);
    for (const std::string& key : out.keys) {
        book::HistoryColumn c{key, keys_of->is_fx(key), 0.0};
        if (relative) c.relative = std::find(relative->begin(), relative->end(), key) != relative->end();
        book::MarketShift probe;
        if (Status known = keys_of->add(key, 0.0, probe); !known) return (raise(known.error()), false);
        if (c.relative) {
            const auto level = keys_of->level(key);
            if (!level) return (raise(level.error()), false);
            c.level = *level;
        }
        out.columns.push_back(std::move(c));
    }
    if (relative)
        for (const std::string& r : *relative)
            if (std::find(out.keys.begin(), out.keys.end(), r) == out.keys.end()) {
                PyErr_Format(PyExc_ValueError, "relative names %s, which is not a column of the quote history",
                             r.c_str());
                return false;
            }
    return true;
}

PyObject* historical_shifts_impl(const Market& m, PyObject* quote_history, std::uint64_t horizon,
                                 const std::optional<std::vector<std::string>>& relative) {
    QuoteHistory h;
    if (!read_history(m, quote_history, relative, h)) return nullptr;
    const std::vector<std::string>& keys = h.keys;
    const std::vector<dates::Serial>& days = h.days;
    const auto changes = book::historical_changes(h.values, days, h.columns, horizon);
    if (!changes) return raise(changes.error());
    // type(quote_history)(rows, index=quote_history.index[horizon:], columns=quote_history.columns)
    const std::size_t n = days.size() - horizon, cols = keys.size();
    Ref rows(make_list(n, [&](std::size_t t) {
        return to_py(std::span<const double>(changes->data() + t * cols, cols));
    }));
    Ref frame_index(PyObject_GetAttrString(quote_history, "index"));
    Ref from(PyLong_FromUnsignedLongLong(horizon));
    Ref slice(from ? PySlice_New(from.get(), nullptr, nullptr) : nullptr);
    Ref later(frame_index && slice ? PyObject_GetItem(frame_index.get(), slice.get()) : nullptr);
    Ref frame_columns_obj(PyObject_GetAttrString(quote_history, "columns"));
    if (!rows || !later || !frame_columns_obj) return nullptr;
    Ref args(PyTuple_Pack(1, rows.get()));
    Ref kwargs(Py_BuildValue("{sOsO}", "index", later.get(), "columns", frame_columns_obj.get()));
    if (!args || !kwargs) return nullptr;
    return PyObject_Call(reinterpret_cast<PyObject*>(Py_TYPE(quote_history)), args.get(), kwargs.get());
}

}  // namespace quelm::py
