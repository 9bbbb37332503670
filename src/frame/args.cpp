#include "frame/args.hpp"

#include "quelm/core/memory.hpp"

#include <cstring>
#include <limits>
#include <string>

namespace quelm::py {

void reraise_prefixed(PyObject* kind, const char* prefix) {
    PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    if (tb != nullptr && value != nullptr) PyException_SetTraceback(value, tb);
    Ref original(value);
    Py_XDECREF(type);
    Py_XDECREF(tb);
    Ref text(original ? PyObject_Str(original.get()) : nullptr);
    if (!text) return;
    Ref message(PyUnicode_FromFormat("%s: %U", prefix, text.get()));
    if (!message) return;
    Ref wrapped(PyObject_CallOneArg(kind, message.get()));
    if (!wrapped) return;
    // raise wrapped from original
    PyException_SetCause(wrapped.get(), Py_NewRef(original.get()));
    PyException_SetContext(wrapped.get(), original.release());
    PyErr_SetObject(kind, wrapped.get());
}

void wrap_type_error(const char* name) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    const std::string prefix = std::string("argument '") + name + "'";
    reraise_prefixed(PyExc_TypeError, prefix.c_str());
}

namespace {

// False with MemoryError set when `bytes` of copy cannot be had.
bool fits(double bytes, const char* what) {
    const Status s = check_fits_in_memory(bytes, what);
    if (s) return true;
    PyErr_SetString(PyExc_MemoryError, s.error().render().c_str());
    return false;
}

// The bytes a row-by-row copy of o takes when o is a 2-D float64 buffer whose rows are not
// contiguous (a column-ordered or transposed array: each row is gathered into a copy); 0
// otherwise.
double strided_rows_bytes(PyObject* o) {
    if (!PyObject_CheckBuffer(o)) return 0.0;
    Py_buffer b{};
    if (PyObject_GetBuffer(o, &b, PyBUF_STRIDES | PyBUF_FORMAT) != 0) {
        PyErr_Clear();
        return 0.0;
    }
    double bytes = 0.0;
    if (b.ndim == 2 && b.itemsize == 8 && b.shape[1] > 1 && b.strides[1] != 8)
        bytes = static_cast<double>(b.shape[0]) * static_cast<double>(b.shape[1]) * 8.0;
    PyBuffer_Release(&b);
    return bytes;
}

}  // namespace

bool check_sequence(PyObject* o, const char* what) {
    if (PyUnicode_Check(o)) {
        PyErr_Format(PyExc_TypeError, "expected %s, got str", what);
        return false;
    }
    if (!PySequence_Check(o)) {
        PyErr_Format(PyExc_TypeError, "expected %s, got %s", what, Py_TYPE(o)->tp_name);
        return false;
    }
    return true;
}

bool from_float_protocol(PyObject* o, double& out) {
    const double v = PyFloat_AsDouble(o);
    if (v == -1.0 && PyErr_Occurred()) return false;
    out = v;
    return true;
}

bool from_py(PyObject* o, std::uint64_t& out) {
    unsigned long long v = 0;
    if (PyLong_Check(o)) {
        v = PyLong_AsUnsignedLongLong(o);
    } else {
        Ref index(PyNumber_Index(o));
        if (!index) return false;
        v = PyLong_AsUnsignedLongLong(index.get());
    }
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = v;
    return true;
}

bool from_py(PyObject* o, U32& out) {
    Ref index(PyLong_Check(o) ? Py_NewRef(o) : PyNumber_Index(o));
    if (!index) return false;
    const long long v = PyLong_AsLongLong(index.get());
    if (v == -1 && PyErr_Occurred()) return false;
    if (v < 0 || v > static_cast<long long>(std::numeric_limits<std::uint32_t>::max())) {
        PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
        return false;
    }
    out.value = static_cast<std::uint32_t>(v);
    return true;
}

bool from_py(PyObject* o, bool& out) {
    // NumPy's bool scalar is recognised by its type name: the frame never imports NumPy.
    const char* name = Py_TYPE(o)->tp_name;
    if (PyBool_Check(o) || std::strcmp(name, "numpy.bool") == 0 || std::strcmp(name, "numpy.bool_") == 0) {
        const int v = PyObject_IsTrue(o);
        if (v < 0) return false;
        out = v != 0;
        return true;
    }
    PyErr_Format(PyExc_TypeError, "expected bool, got %s", name);
    return false;
}

bool from_py(PyObject* o, std::string_view& out) {
    if (!PyUnicode_Check(o)) {
        PyErr_Format(PyExc_TypeError, "expected str, got %s", Py_TYPE(o)->tp_name);
        return false;
    }
    Py_ssize_t n = 0;
    const char* s = PyUnicode_AsUTF8AndSize(o, &n);
    if (s == nullptr) return false;
    out = std::string_view(s, static_cast<std::size_t>(n));
    return true;
}

bool from_py(PyObject* o, std::string& out) {
    std::string_view view;
    if (!from_py(o, view)) return false;
    out.assign(view);
    return true;
}

namespace {

// Visit each element of a sequence (fast path for lists and tuples).
template <class F>
bool for_each_item(PyObject* o, F&& f) {
    if (PyList_Check(o) || PyTuple_Check(o)) {
        const bool list = PyList_Check(o);
        for (Py_ssize_t i = 0; i < (list ? PyList_GET_SIZE(o) : PyTuple_GET_SIZE(o)); ++i) {
            PyObject* item = list ? PyList_GET_ITEM(o, i) : PyTuple_GET_ITEM(o, i);
            Py_INCREF(item);  // a __float__ may mutate the list under us
            const bool ok = f(item);
            Py_DECREF(item);
            if (!ok) return false;
        }
        return true;
    }
    Ref it(PyObject_GetIter(o));
    if (!it) return false;
    while (true) {
        Ref item(PyIter_Next(it.get()));
        if (!item) return !PyErr_Occurred();
        if (!f(item.get())) return false;
    }
}

}  // namespace

FloatSeq::FloatSeq(FloatSeq&& o) noexcept { *this = std::move(o); }

FloatSeq& FloatSeq::operator=(FloatSeq&& o) noexcept {
    if (this != &o) {
        reset();
        const bool own = !o.has_buffer_;
        owned_ = std::move(o.owned_);
        buffer_ = o.buffer_;
        has_buffer_ = o.has_buffer_;
        view_ = own ? std::span<const double>(owned_) : o.view_;
        o.has_buffer_ = false;
        o.buffer_ = Py_buffer{};
        o.view_ = {};
    }
    return *this;
}

FloatSeq::~FloatSeq() { reset(); }

void FloatSeq::reset() {
    if (has_buffer_) {
        PyBuffer_Release(&buffer_);
        has_buffer_ = false;
    }
    owned_.clear();
    view_ = {};
}

bool from_py(PyObject* o, FloatSeq& out) {
    out.reset();
    if (!check_sequence(o, "a sequence of floats")) return false;
    if (PyObject_CheckBuffer(o)) {
        Py_buffer b{};
        if (PyObject_GetBuffer(o, &b, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) == 0) {
            const bool is_f64 = b.ndim == 1 && b.itemsize == 8 && b.format != nullptr &&
                                (std::strcmp(b.format, "d") == 0 || std::strcmp(b.format, "<d") == 0 ||
                                 std::strcmp(b.format, "=d") == 0);
            if (is_f64) {
                out.buffer_ = b;
                out.has_buffer_ = true;
                out.view_ = std::span<const double>(static_cast<const double*>(b.buf),
                                                    static_cast<std::size_t>(b.len / 8));
                return true;
            }
            PyBuffer_Release(&b);
        } else {
            PyErr_Clear();
        }
    }
    const Py_ssize_t hint = PyObject_LengthHint(o, 0);
    if (hint < 0) return false;
    if (!fits(doubles_bytes(static_cast<double>(hint)), "a copy of the sequence")) return false;
    out.owned_.reserve(static_cast<std::size_t>(hint));
    const bool ok = for_each_item(o, [&](PyObject* item) {
        double v = 0.0;
        if (!from_py(item, v)) return false;
        out.owned_.push_back(v);
        return true;
    });
    if (!ok) {
        out.owned_.clear();
        return false;
    }
    out.view_ = std::span<const double>(out.owned_);
    return true;
}

std::vector<std::vector<double>> FloatMatrix::to_vectors() const {
    std::vector<std::vector<double>> m;
    m.reserve(views_.size());
    for (const auto& r : views_) m.emplace_back(r.begin(), r.end());
    return m;
}

bool from_py(PyObject* o, FloatMatrix& out) {
    out.rows_.clear();
    out.views_.clear();
    if (!check_sequence(o, "a sequence of sequences of floats")) return false;
    if (!fits(strided_rows_bytes(o), "a copy of the matrix's rows")) return false;
    const bool ok = for_each_item(o, [&](PyObject* item) {
        FloatSeq row;
        if (!from_py(item, row)) return false;
        out.rows_.push_back(std::move(row));
        return true;
    });
    if (!ok) return false;
    out.views_.reserve(out.rows_.size());
    for (const auto& r : out.rows_) out.views_.push_back(r.view());
    return true;
}

bool from_py(PyObject* o, std::vector<std::uint64_t>& out) {
    out.clear();
    if (!check_sequence(o, "a sequence of integers")) return false;
    return for_each_item(o, [&](PyObject* item) {
        std::uint64_t v = 0;
        if (!from_py(item, v)) return false;
        out.push_back(v);
        return true;
    });
}

bool from_py(PyObject* o, std::vector<std::string>& out) {
    out.clear();
    if (!check_sequence(o, "a sequence of str")) return false;
    return for_each_item(o, [&](PyObject* item) {
        std::string v;
        if (!from_py(item, v)) return false;
        out.push_back(std::move(v));
        return true;
    });
}

}  // namespace quelm::py
