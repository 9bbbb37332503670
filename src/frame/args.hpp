// Argument conversion: the conversion rules every binding shares.
//
// The frame converts every given argument in signature order into the type of the
// binding's parameter (see signature.hpp); the first failure stops the conversion,
// and a TypeError is re-raised as "argument '<name>': <message>" with the original
// as __cause__. Extra conversions are added by overloading from_py(PyObject*, T&)
// next to the type.
#pragma once

#include "frame/ref.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quelm::py {

// Unsigned 32-bit count (bond frequency and period count).
struct U32 {
    std::uint32_t value = 0;
};

// A sequence of floats: a view of a C-contiguous float64 buffer when the object
// exposes one (a NumPy array), otherwise an owned copy converted element by element.
class FloatSeq {
public:
    FloatSeq() = default;
    FloatSeq(const FloatSeq&) = delete;
    FloatSeq& operator=(const FloatSeq&) = delete;
    FloatSeq(FloatSeq&& o) noexcept;
    FloatSeq& operator=(FloatSeq&& o) noexcept;
    ~FloatSeq();

    [[nodiscard]] std::span<const double> view() const { return view_; }
    [[nodiscard]] std::size_t size() const { return view_.size(); }
    [[nodiscard]] const double* data() const { return view_.data(); }
    [[nodiscard]] std::vector<double> to_vector() const { return {view_.begin(), view_.end()}; }

    friend bool from_py(PyObject* o, FloatSeq& out);

private:
    void reset();
    std::vector<double> owned_;
    Py_buffer buffer_{};
    bool has_buffer_ = false;
    std::span<const double> view_;
};

// A sequence of float sequences (rows may differ in length; the core checks shapes).
class FloatMatrix {
public:
    [[nodiscard]] std::span<const std::span<const double>> rows() const { return views_; }
    [[nodiscard]] std::size_t size() const { return views_.size(); }
    [[nodiscard]] std::vector<std::vector<double>> to_vectors() const;

    friend bool from_py(PyObject* o, FloatMatrix& out);

private:
    std::vector<FloatSeq> rows_;
    std::vector<std::span<const double>> views_;
};

// The conversions of the module frame; each returns false with an exception set.
bool from_float_protocol(PyObject* o, double& out);
inline bool from_py(PyObject* o, double& out) {      // float protocol, str refused
    if (PyFloat_CheckExact(o)) {
        out = PyFloat_AS_DOUBLE(o);
        return true;
    }
    return from_float_protocol(o, out);
}
bool from_py(PyObject* o, std::uint64_t& out);       // unsigned 64-bit count
bool from_py(PyObject* o, U32& out);                 // unsigned 32-bit count
bool from_py(PyObject* o, bool& out);                // bool (or NumPy's bool), nothing else
bool from_py(PyObject* o, std::string& out);         // str, read as UTF-8
// str, read as UTF-8 in place: valid while the argument lives (the whole call).
bool from_py(PyObject* o, std::string_view& out);
bool from_py(PyObject* o, std::vector<std::uint64_t>& out);  // sequence of counts
bool from_py(PyObject* o, std::vector<std::string>& out);    // sequence of str
inline bool from_py(PyObject* o, PyObject*& out) {   // raw borrowed object
    out = o;
    return true;
}
template <class T>
bool from_py(PyObject* o, std::optional<T>& out) {
    if (o == Py_None) {
        out.reset();
        return true;
    }
    T value{};
    if (!from_py(o, value)) return false;
    out = std::move(value);
    return true;
}

// Sequence check shared by the sequence conversions: a str is never a sequence.
bool check_sequence(PyObject* o, const char* what);

// Re-raise a pending TypeError as "argument '<name>': <message>" (cause kept).
void wrap_type_error(const char* name);
// The pending exception raised again as `kind` with "<prefix>: " before its message, the
// original as its cause (a traceback shows both).
void reraise_prefixed(PyObject* kind, const char* prefix);

}  // namespace quelm::py
