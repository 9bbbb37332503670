#include "frame/arrays.hpp"

#include "frame/buffers.hpp"
#include "frame/dates.hpp"
#include "frame/option_columns.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

namespace quelm::py::vec {

namespace {

std::vector<const FunctionDef*>& form_list() {
    static auto* v = new std::vector<const FunctionDef*>();
    return *v;
}

// --- numbers ---

template <class T>
bool scalar_number(PyObject* o, const char* name, T& out) {
    if (from_py(o, out)) return true;
    wrap_type_error(name);
    return false;
}

// The items of an object array (Decimal, int, None...) read as the scalar call reads them.
bool objects_to_numbers(const Py_buffer& b, const std::vector<Py_ssize_t>& shape, const char* name, bool count,
                        Owned& owned, Operand& op) {
    const std::size_t n = element_count(shape);
    if (!memory_for(static_cast<double>(n) * 8.0, "a converted copy of the inputs")) return false;
    if (count) {
        auto& v = owned.counts.emplace_back(n);
        for (std::size_t i = 0; i < n; ++i) {
            PyObject* item = load_item<PyObject*>(item_at(b, i));
            if (PyBool_Check(item)) {
                v[i] = item == Py_True ? 1 : 0;
            } else if (!scalar_number(item, name, v[i])) {
                return false;
            }
        }
        op.base = reinterpret_cast<const char*>(v.data());
    } else {
        auto& v = owned.reals.emplace_back(n);
        for (std::size_t i = 0; i < n; ++i) {
            PyObject* item = load_item<PyObject*>(item_at(b, i));
            if (PyUnicode_Check(item) || PyBytes_Check(item) || item == Py_None)
                return type_error(name, "must be real number", item);
            if (!scalar_number(item, name, v[i])) return false;
        }
        op.base = reinterpret_cast<const char*>(v.data());
    }
    set_contiguous(op, shape, 8);
    return true;
}

// A real or count operand. `count` selects unsigned 64-bit counts. `series` keeps the last
// axis as the rows of a series operand.
// The numbers of a buffer: read in place when they are native float64 (counts: uint64),
// otherwise converted once into an owned copy.
bool buffer_numbers(const Py_buffer& b, const char* name, bool count, Owned& owned, Operand& op) {
    bool native = true;
    const char kind = format_kind(b, native);
    std::vector<Py_ssize_t> shape(b.shape, b.shape + b.ndim);
    if (kind == 'O' && b.itemsize == sizeof(PyObject*)) return objects_to_numbers(b, shape, name, count, owned, op);
    if (kind == 0 || kind == 'w' || kind == 'O' || (count && kind == 'f')) {
        const char* format = b.format != nullptr ? b.format : "";
        const char* what = kind == 'f' ? "float" : kind == 'w' ? "str" : std::strchr(format, 'Z') ? "complex" : "object";
        if (count) {
            PyErr_Format(PyExc_TypeError, "argument '%s': '%s' object cannot be interpreted as an integer", name, what);
        } else {
            PyErr_Format(PyExc_TypeError, "argument '%s': must be real number, not %s", name, what);
        }
        return false;
    }
    if (native && b.itemsize == 8 && ((!count && kind == 'f') || (count && kind == 'u'))) {
        op.base = static_cast<const char*>(b.buf);
        op.shape = shape;
        op.strides.assign(b.strides, b.strides + b.ndim);
        return true;
    }
    const std::size_t n = element_count(shape);
    if (!memory_for(static_cast<double>(n) * 8.0, "a converted copy of the inputs")) return false;
    if (count) {
        auto& v = owned.counts.emplace_back(n);
        for (std::size_t i = 0; i < n; ++i) {
            bool negative = false;
            v[i] = integer_at(item_at(b, i), kind, b.itemsize, negative);
            if (negative) {
                PyErr_SetString(PyExc_OverflowError, "can't convert negative int to unsigned");
                return false;
            }
        }
        op.base = reinterpret_cast<const char*>(v.data());
    } else {
        auto& v = owned.reals.emplace_back(n);
        for (std::size_t i = 0; i < n; ++i) v[i] = number_at(item_at(b, i), kind, b.itemsize);
        op.base = reinterpret_cast<const char*>(v.data());
    }
    set_contiguous(op, shape, 8);
    return true;
}

// A real or count operand. `count` selects unsigned 64-bit counts. `series` keeps the last
// axis as the rows of a series operand.
bool read_numbers(PyObject* o, const char* name, bool count, bool series, Owned& owned, Operand& op,
                  bool converted = false) {
    if (!series && (PyFloat_Check(o) || PyLong_Check(o))) {
        if (count) {
            std::uint64_t v = 0;
            if (!scalar_number(o, name, v)) return false;
            op.base = reinterpret_cast<const char*>(&owned.count_scalars.emplace_back(v));
        } else {
            double v = 0.0;
            if (!scalar_number(o, name, v)) return false;
            op.base = reinterpret_cast<const char*>(&owned.real_scalars.emplace_back(v));
        }
        return true;
    }
    if (PyUnicode_Check(o) || PyBytes_Check(o) || o == Py_None) {
        if (count) {
            PyErr_Format(PyExc_TypeError, "argument '%s': '%s' object cannot be interpreted as an integer", name,
                         Py_TYPE(o)->tp_name);
            return false;
        }
        return type_error(name, "must be real number", o);
    }
    if (Py_buffer* view = owned.view(o, PyBUF_RECORDS_RO)) {
        if (!buffer_numbers(*view, name, count, owned, op)) return false;
    } else {
        PyErr_Clear();
        if (converted) return type_error(name, count ? "expected integers" : "must be real number", o);
        PyObject* a = as_array(o, owned);  // a list, or a NumPy scalar's array
        if (a == nullptr) {
            if (!PyErr_ExceptionMatches(PyExc_ValueError) && !PyErr_ExceptionMatches(PyExc_TypeError)) return false;
            PyErr_Clear();
            return type_error(name, count ? "expected integers" : "must be real number", o);
        }
        return read_numbers(a, name, count, series, owned, op, true);
    }
    if (series) {
        if (op.shape.empty()) {
            PyErr_Format(PyExc_ValueError, "%s must be a series (1-D) or a panel, got a scalar", name);
            return false;
        }
        op.length = static_cast<std::size_t>(op.shape.back());
        op.item_stride = op.strides.back();
        op.shape.pop_back();
        op.strides.pop_back();
    }
    return true;
}

// --- dates ---

// What a date operand's value is for an element that is not a date: NaT, or a marker of the
// rejected text whose error the grid keeps (the same text keeps its one marker).
class DateRejections {
public:
    explicit DateRejections(std::vector<Error>& rejected) : rejected_(rejected) {}
    std::int64_t item(DateItem kind, std::int32_t serial, std::string& message) {
        if (kind == DateItem::Date) return serial;
        if (kind == DateItem::Missing) return kNotADate;
        if (!rejected_.empty() && rejected_.back().text == message) return kRejectedDate + static_cast<std::int64_t>(rejected_.size() - 1);
        rejected_.push_back(Error{Kind::Argument, std::move(message)});
        return kRejectedDate + static_cast<std::int64_t>(rejected_.size() - 1);
    }

private:
    std::vector<Error>& rejected_;
};

bool not_a_date(const char* name, const char* got) {
    PyErr_Format(PyExc_TypeError,
                 "argument '%s': expected a date (datetime.date, numpy.datetime64, pandas.Timestamp or "
                 "'YYYY-MM-DD'), got %s",
                 name, got);
    return false;
}

// A datetime64 array of any unit as int64 days since 1970-01-01 (NaT stays NaT), read in
// place when it already counts days.
bool datetime64_days(PyObject* a, const char* name, Owned& owned, Operand& op) {
    Ref kwargs(Py_BuildValue("{s:O}", "copy", Py_False));
    if (!kwargs) return false;
    Ref astype(PyObject_GetAttrString(a, "astype"));
    Ref target(PyUnicode_FromString("datetime64[D]"));
    if (!astype || !target) return false;
    Ref args(PyTuple_Pack(1, target.get()));
    if (!args) return false;
    PyObject* days = PyObject_Call(astype.get(), args.get(), kwargs.get());
    if (days == nullptr) return false;
    owned.refs.emplace_back(days);
    PyObject* ints = PyObject_CallMethod(days, "view", "s", "int64");
    if (ints == nullptr) return false;
    owned.refs.emplace_back(ints);
    Py_buffer view{};
    if (PyObject_GetBuffer(ints, &view, PyBUF_RECORDS_RO) < 0) return false;
    const Py_buffer& b = owned.views.emplace_back(view);
    bool native = true;
    if (format_kind(b, native) != 'i' || b.itemsize != 8 || !native) return not_a_date(name, "a datetime64 array NumPy will not count in days");
    op.base = static_cast<const char*>(b.buf);
    op.shape.assign(b.shape, b.shape + b.ndim);
    op.strides.assign(b.strides, b.strides + b.ndim);
    return true;
}

// UCS4 text of a NumPy str array item as UTF-8 (NumPy pads with NUL).
void ucs4_to_utf8(const char* p, std::size_t width, bool native, std::string& utf8) {
    utf8.clear();
    for (std::size_t k = 0; k < width; ++k) {
        char32_t c;
        std::memcpy(&c, p + 4 * k, 4);
        if (!native) c = byte_swapped(c);
        if (c == 0) break;
        append_utf8(utf8, c);
    }
}

// A date operand: one date for every element, a datetime64 array (any unit), an array of
// ISO text, or an object array or list of dates, text and missing cells. A missing date or
// text that is no date fails its own element; one bad date given for every element raises
// as the scalar call does, and so does a value of another type.
bool read_dates(PyObject* o, const char* name, std::vector<Error>& rejected, Owned& owned, Operand& op,
                bool converted = false) {
    DateRejections marks(rejected);
    std::int32_t serial = 0;
    std::string message;
    const bool numpy_scalar = std::strcmp(Py_TYPE(o)->tp_name, "numpy.datetime64") == 0;
    if (!numpy_scalar && !PyObject_CheckBuffer(o) && !PyList_Check(o) && !PyTuple_Check(o) &&
        !PyObject_HasAttrString(o, "dtype")) {
        if (o == Py_None) return not_a_date(name, "NoneType");
        const DateItem kind = date_item(o, serial, message);
        if (kind == DateItem::Failed) return false;
        if (kind == DateItem::Rejected) {
            raise_value_error(message);  // one date for every element: the scalar call's error
            return false;
        }
        if (kind == DateItem::Other) return not_a_date(name, Py_TYPE(o)->tp_name);
        op.base = reinterpret_cast<const char*>(&owned.day_scalars.emplace_back(marks.item(kind, serial, message)));
        return true;
    }
    PyObject* a = o;
    if (PyList_Check(o) || PyTuple_Check(o)) {
        // A list keeps its items' types: NumPy would turn ["2020-01-31", nan] into strings.
        if (!numpy_ready()) return false;
        Ref np(PyImport_ImportModule("numpy"));
        if (!np) return false;
        Ref object_dtype(PyObject_GetAttrString(np.get(), "object_"));
        if (!object_dtype) return false;
        a = PyObject_CallFunctionObjArgs(g_numpy_asarray, o, object_dtype.get(), nullptr);
        if (a == nullptr) return false;
        owned.refs.emplace_back(a);
    } else if (std::strcmp(Py_TYPE(o)->tp_name, "numpy.ndarray") != 0) {
        a = as_array(o, owned);  // a datetime64 scalar, a pandas index
        if (a == nullptr) return false;
    }
    Ref dtype(PyObject_GetAttrString(a, "dtype"));
    if (!dtype) return false;
    Ref kind_text(PyObject_GetAttrString(dtype.get(), "kind"));
    if (!kind_text) return false;
    const char* dtype_kind = PyUnicode_Check(kind_text.get()) ? PyUnicode_AsUTF8(kind_text.get()) : "";
    if (dtype_kind == nullptr) return false;
    if (std::strcmp(dtype_kind, "M") == 0) return datetime64_days(a, name, owned, op);
    Py_buffer view{};
    if (PyObject_GetBuffer(a, &view, PyBUF_RECORDS_RO) < 0) {
        PyErr_Clear();
        if (converted) return not_a_date(name, Py_TYPE(o)->tp_name);
        return read_dates(a, name, rejected, owned, op, true);
    }
    const Py_buffer& b = owned.views.emplace_back(view);
    bool native = true;
    const char kind = format_kind(b, native);
    std::vector<Py_ssize_t> shape(b.shape, b.shape + b.ndim);
    const std::size_t n = element_count(shape);
    if (kind != 'O' && kind != 'w') {
        Ref text(PyObject_Str(dtype.get()));
        const char* dtype_name = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
        if (dtype_name == nullptr) return false;
        const std::string got = std::string("an array of ") + dtype_name;
        return not_a_date(name, got.c_str());
    }
    if (!memory_for(static_cast<double>(n) * 8.0, "a converted copy of the inputs")) return false;
    auto& v = owned.days.emplace_back(n);
    if (kind == 'O') {
        for (std::size_t i = 0; i < n; ++i) {
            PyObject* item = load_item<PyObject*>(item_at(b, i));
            const DateItem k = date_item(item, serial, message);
            if (k == DateItem::Failed) return false;
            if (k == DateItem::Other) return not_a_date(name, Py_TYPE(item)->tp_name);
            v[i] = marks.item(k, serial, message);
        }
    } else {
        const std::size_t width = static_cast<std::size_t>(b.itemsize) / 4;
        std::string utf8;
        for (std::size_t i = 0; i < n; ++i) {
            ucs4_to_utf8(item_at(b, i), width, native, utf8);
            const DateItem k = date_text(utf8, serial, message);  // sets serial: read it after
            v[i] = marks.item(k, serial, message);
        }
    }
    op.base = reinterpret_cast<const char*>(v.data());
    set_contiguous(op, shape, 8);
    return true;
}

// --- broadcasting, outputs and the call ---

bool broadcast(const std::vector<Operand*>& ops, std::vector<Py_ssize_t>& shape) {
    std::size_t nd = 0;
    for (const Operand* op : ops) nd = std::max(nd, op->shape.size());
    shape.assign(nd, 1);
    for (const Operand* op : ops) {
        const std::size_t off = nd - op->shape.size();
        for (std::size_t d = 0; d < op->shape.size(); ++d) {
            const Py_ssize_t e = op->shape[d];
            Py_ssize_t& s = shape[off + d];
            if (e == s || e == 1) continue;
            if (s == 1) {
                s = e;
                continue;
            }
            std::string text = "operands could not be broadcast together with shapes";
            for (const Operand* o : ops) {
                text += " (";
                for (std::size_t k = 0; k < o->shape.size(); ++k)
                    text += std::to_string(o->shape[k]) + (o->shape.size() == 1 ? "," : k + 1 < o->shape.size() ? "," : "");
                text += ")";
            }
            raise_value_error(text);
            return false;
        }
    }
    return true;
}

// Strides of op over the broadcast shape (0 along a broadcast axis).
std::vector<Py_ssize_t> broadcast_strides(const Operand& op, const std::vector<Py_ssize_t>& shape) {
    std::vector<Py_ssize_t> strides(shape.size(), 0);
    const std::size_t off = shape.size() - op.shape.size();
    for (std::size_t d = 0; d < op.shape.size(); ++d)
        strides[off + d] = op.shape[d] == 1 && shape[off + d] != 1 ? 0 : op.strides[d];
    return strides;
}

PyObject* new_output(const std::vector<Py_ssize_t>& shape) {
    Ref dims(PyTuple_New(static_cast<Py_ssize_t>(shape.size())));
    if (!dims) return nullptr;
    for (std::size_t d = 0; d < shape.size(); ++d) {
        PyObject* e = PyLong_FromSsize_t(shape[d]);
        if (e == nullptr) return nullptr;
        PyTuple_SET_ITEM(dims.get(), static_cast<Py_ssize_t>(d), e);
    }
    return PyObject_CallOneArg(g_numpy_empty, dims.get());
}

PyObject* raise_element(const Error& e, std::size_t flat, const std::vector<Py_ssize_t>& shape, bool scalar) {
    if (e.kind == Kind::Cancelled || scalar) return raise(e);  // an all-scalar call fails as the scalar call
    const std::string message = e.render();
    if (e.kind == Kind::Memory) {
        const std::string text = "at index " + index_text(flat, shape) + ": " + message;
        PyErr_SetString(PyExc_MemoryError, text.c_str());
        return nullptr;
    }
    std::vector<Py_ssize_t> idx(shape.size());
    std::size_t rest = flat;
    for (std::size_t d = shape.size(); d-- > 0;) {
        idx[d] = static_cast<Py_ssize_t>(rest % static_cast<std::size_t>(shape[d]));
        rest /= static_cast<std::size_t>(shape[d]);
    }
    Ref index(PyTuple_New(static_cast<Py_ssize_t>(idx.size())));
    if (!index) return nullptr;
    for (std::size_t d = 0; d < idx.size(); ++d) {
        PyObject* v = PyLong_FromSsize_t(idx[d]);
        if (v == nullptr) return nullptr;
        PyTuple_SET_ITEM(index.get(), static_cast<Py_ssize_t>(d), v);
    }
    const std::string text = "at index " + index_text(flat, shape) + ": " + message;
    Ref args(Py_BuildValue("(s#)", text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!args) return nullptr;
    Ref error(PyObject_Call(element_error_type(), args.get(), nullptr));
    if (!error) return nullptr;
    Ref msg(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (!msg || PyObject_SetAttrString(error.get(), "index", index.get()) < 0 ||
        PyObject_SetAttrString(error.get(), "message", msg.get()) < 0)
        return nullptr;
    PyErr_SetObject(element_error_type(), error.get());
    return nullptr;
}

const char* kind_name(OperandKind k) {
    switch (k) {
        case OperandKind::Real: return "real";
        case OperandKind::Count: return "count";
        case OperandKind::Code: return "option";
        case OperandKind::Series: return "series";
        case OperandKind::Date: return "date";
    }
    return "";
}

// The call: quelm.vec's generated functions pass their arguments in declaration order.
}  // namespace

PyObject* vec_call(std::uint64_t index, PyObject* context, PyObject* args, std::uint64_t nan_mode,
                        std::uint64_t skip_nan) {
    const auto& all = forms();
    if (index >= all.size()) return raise_value_error("no array form " + std::to_string(index));
    const FunctionDef& def = *all[index];
    const ElementForm& form = *def.element;
    if (!PyTuple_Check(args) || static_cast<std::size_t>(PyTuple_GET_SIZE(args)) != form.n_operands)
        return raise_value_error(std::string(def.name) + " takes " + std::to_string(form.n_operands) + " operands");
    if (!numpy_ready()) return nullptr;
    const void* value = nullptr;
    if (def.context_type != nullptr) {
        PyTypeObject* type = def.context_type();
        if (Py_TYPE(context) != type) {
            const char* dot = std::strrchr(type->tp_name, '.');
            PyErr_Format(PyExc_TypeError, "argument '%s': expected %s, got %s", def.context_name,
                         dot ? dot + 1 : type->tp_name, Py_TYPE(context)->tp_name);
            return nullptr;
        }
        value = instance_value(context);
    }
    Owned owned;
    Grid g;
    g.context = value;
    g.n_in = form.n_operands;
    g.n_out = form.n_out;
    g.nan_mode = nan_mode != 0;
    std::array<Operand, kMaxOperands> ops;
    std::vector<Operand*> present;
    // Numbers first, then string options in the order the scalar call reads them, so that
    // the first error is the scalar call's.
    for (std::size_t k = 0; k < form.n_operands; ++k) {
        PyObject* o = PyTuple_GET_ITEM(args, static_cast<Py_ssize_t>(k));
        const char* name = def.params[k].name;
        if (form.optional[k] && o == Py_None) continue;
        const OperandKind kind = form.kinds[k];
        if (kind == OperandKind::Code) {
            if (!PyUnicode_Check(o)) {
                // type errors of a column come in parameter order with the numbers' errors
                if (o == Py_None || PyFloat_Check(o) || PyLong_Check(o)) {
                    PyErr_Format(PyExc_TypeError, "argument '%s': expected str, got %s", name, Py_TYPE(o)->tp_name);
                    return nullptr;
                }
            }
            continue;
        }
        if (kind == OperandKind::Date) {
            if (!read_dates(o, name, g.rejected[k], owned, ops[k])) return nullptr;
            g.dates[k] = true;
            g.any_codes = true;
            present.push_back(&ops[k]);
            continue;
        }
        if (!read_numbers(o, name, kind == OperandKind::Count, kind == OperandKind::Series, owned, ops[k]))
            return nullptr;
        g.lengths[k] = ops[k].length;
        present.push_back(&ops[k]);
    }
    std::array<bool, kMaxOperands> coded{};
    const auto code_one = [&](std::size_t k) -> bool {
        PyObject* o = PyTuple_GET_ITEM(args, static_cast<Py_ssize_t>(k));
        if (coded[k] || form.kinds[k] != OperandKind::Code || (form.optional[k] && o == Py_None)) return true;
        coded[k] = true;
        if (!read_codes(o, def.params[k].name, form.code[k], g.rejected[k], owned, ops[k],
                        form.blocks ? &g.readers[k] : nullptr))
            return false;
        g.limits[k] = form.code_counts[k];
        g.any_codes = true;
        g.any_readers = g.any_readers || g.readers[k].read != nullptr;
        present.push_back(&ops[k]);
        return true;
    };
    for (std::size_t j = 0; j < def.n_option_order; ++j)
        if (!code_one(def.option_order[j])) return nullptr;
    for (std::size_t k = 0; k < form.n_operands; ++k)
        if (!code_one(k)) return nullptr;

    std::vector<Py_ssize_t> shape;
    if (!broadcast(present, shape)) return nullptr;
    const bool scalar = shape.empty();
    g.shape = scalar ? std::vector<Py_ssize_t>{1} : shape;
    const std::size_t n = element_count(g.shape);
    for (std::size_t k = 0; k < form.n_operands; ++k) {
        const Operand& op = ops[k];
        g.base[k] = op.base;
        g.strides[k] = op.base == nullptr ? std::vector<Py_ssize_t>(g.shape.size(), 0)
                                          : scalar ? std::vector<Py_ssize_t>{0} : broadcast_strides(op, shape);
        // A series read through a stride, or one that is not aligned, is gathered per element.
        if (form.kinds[k] == OperandKind::Series && op.base != nullptr &&
            (op.item_stride != 8 || reinterpret_cast<std::uintptr_t>(op.base) % alignof(double) != 0 ||
             std::any_of(g.strides[k].begin(), g.strides[k].end(), [](Py_ssize_t s) { return s % 8 != 0; }))) {
            g.gather[k] = op.item_stride;
            g.any_gather = true;
        }
    }
    g.skip_nan = skip_nan != 0;
    if (!memory_for(static_cast<double>(n) * 8.0 * static_cast<double>(form.n_out), "the results")) return nullptr;
    std::vector<Ref> outs;
    for (std::size_t j = 0; j < form.n_out; ++j) {
        Ref out(new_output(shape));
        if (!out) return nullptr;
        Py_buffer* view = owned.view(out.get(), PyBUF_WRITABLE | PyBUF_C_CONTIGUOUS);
        if (view == nullptr) return nullptr;
        g.out[j] = static_cast<double*>(view->buf);
        outs.push_back(std::move(out));
    }
    FirstFailure failure;
    Stop stop;
    std::atomic<bool> unread{false};
    g.failure = &failure;
    g.stop = &stop;
    g.unread = &unread;
    const std::size_t grain = form.blocks ? kBlock : 1;
    if (n > 0 && !run_grid(g, form.chunk, grain)) return nullptr;
    const FirstFailure* failed = &failure;
    FirstFailure again;
    Stop stop_again;
    if (unread.load()) {
        // A column held an item its first values did not teach: code those columns whole,
        // here, and run the call again.
        for (std::size_t k = 0; k < form.n_operands; ++k) {
            if (g.readers[k].read == nullptr) continue;
            g.rejected[k].clear();
            g.readers[k] = {};
            if (!read_codes(PyTuple_GET_ITEM(args, static_cast<Py_ssize_t>(k)), def.params[k].name, form.code[k],
                            g.rejected[k], owned, ops[k], nullptr))
                return nullptr;
            g.base[k] = ops[k].base;
            g.strides[k] = scalar ? std::vector<Py_ssize_t>{0} : broadcast_strides(ops[k], shape);
        }
        g.any_readers = false;
        g.failure = &again;
        g.stop = &stop_again;
        if (!run_grid(g, form.chunk, grain)) return nullptr;
        failed = &again;
    }
    if (failed->index() != kNone) return raise_element(failed->error(), failed->index(), g.shape, scalar);
    const auto result = [&](std::size_t j) -> PyObject* {
        if (!scalar) return Py_NewRef(outs[j].get());
        return PyFloat_FromDouble(g.out[j][0]);
    };
    if (!form.keyed) return result(0);
    Ref tuple(PyTuple_New(static_cast<Py_ssize_t>(form.n_out)));
    if (!tuple) return nullptr;
    for (std::size_t j = 0; j < form.n_out; ++j) {
        PyObject* v = result(j);
        if (v == nullptr) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(j), v);
    }
    return tuple.release();
}

namespace {

PyObject* text_or_none(const char* s) { return s != nullptr ? to_py(s) : none(); }

}  // namespace

// The array forms as quelm.vec builds its functions from them.
PyObject* vec_forms() {
    const auto& all = forms();
    return make_list(all.size(), [&](std::size_t i) -> PyObject* {
        const FunctionDef& d = *all[i];
        const ElementForm& f = *d.element;
        Ref params(make_list(f.n_operands, [&](std::size_t k) -> PyObject* {
            const Param& p = d.params[k];
            const char* shown = p.required() ? nullptr : p.value != nullptr ? p.value : p.shown;
            return Py_BuildValue("(ssNNN)", p.name, kind_name(f.kinds[k]), PyBool_FromLong(f.optional[k] ? 1 : 0),
                                 text_or_none(shown), PyBool_FromLong(k >= d.n_positional ? 1 : 0));
        }));
        if (!params) return nullptr;
        Ref keys(f.keyed ? make_list(f.n_out, [&](std::size_t j) { return to_py(f.keys[j]); }) : none());
        if (!keys) return nullptr;
        bool series = false;
        for (std::size_t k = 0; k < f.n_operands; ++k) series |= f.kinds[k] == OperandKind::Series;
        Ref context(d.context_type != nullptr ? Py_BuildValue("(sO)", d.context_name, d.context_type())
                                              : none());
        if (!context) return nullptr;
        return Py_BuildValue("{s:s,s:n,s:s,s:O,s:O,s:O,s:N,s:N}", "name", d.vec_name, "index",
                             static_cast<Py_ssize_t>(i), "scalar", d.name, "params", params.get(), "keys",
                             keys.get(), "context", context.get(), "series", PyBool_FromLong(series ? 1 : 0),
                             "doc", to_py(d.description));
    });
}

PyObject* element_error_type() {
    static PyObject* type = [] {
        const char* doc =
            "An element of an array call failed: `index` is its position, `message` the error\n"
            "the scalar call raises for its inputs.";
        return PyErr_NewExceptionWithDoc("quelm.ElementError", doc, PyExc_ValueError, nullptr);
    }();
    return type;
}

const std::vector<const FunctionDef*>& forms() { return form_list(); }

namespace {

std::vector<const FunctionDef*>& twin_list() {
    static auto* v = new std::vector<const FunctionDef*>();
    return *v;
}

}  // namespace

void add_form(const FunctionDef& def) {
    if (def.element == nullptr) return;
    for (const FunctionDef* d : form_list())
        if (d == &def) return;
    form_list().push_back(&def);
    for (const FunctionDef* t : twin_list())
        if (t->context_type == def.context_type && std::string_view(t->vec_name) == def.vec_name)
            form_list().push_back(t);
}

void add_twin(const FunctionDef& def) { twin_list().push_back(&def); }

}  // namespace quelm::py::vec
