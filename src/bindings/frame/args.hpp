// Argument conversion: the conversion rules every binding shares.
//
// A binding declares one local per parameter, initialised to its default, and
// calls a.all(x0, x1, ...) to convert every present argument in signature order.
// The first failure stops the conversion; a TypeError is re-raised as
// "argument '<name>': <message>" with the original as __cause__.
// Extra conversions are added by overloading from_py(PyObject*, T&) next to the type.
#pragma once

#include "bindings/frame/call.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
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
bool from_py(PyObject* o, double& out);              // float protocol, str refused
bool from_py(PyObject* o, std::uint64_t& out);       // unsigned 64-bit count
bool from_py(PyObject* o, U32& out);                 // unsigned 32-bit count
bool from_py(PyObject* o, std::string& out);         // str, read as UTF-8
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
void wrap_type_error(const std::string& name);

class Args {
public:
    Args(PyObject* self, PyObject* const* slots, const Signature& sig)
        : self_(self), slots_(slots), sig_(sig) {}

    [[nodiscard]] PyObject* self() const { return self_; }
    // Borrowed argument i, or nullptr when it was not given.
    [[nodiscard]] PyObject* operator[](std::size_t i) const { return slots_[i]; }
    [[nodiscard]] const std::string& name(std::size_t i) const { return sig_.params[i]; }
    [[nodiscard]] const Signature& signature() const { return sig_; }

    // Convert argument i into out if it was given; absent leaves out unchanged.
    template <class T>
    bool get(std::size_t i, T& out) const {
        PyObject* o = slots_[i];
        if (o == nullptr) return true;
        if (from_py(o, out)) return true;
        wrap_type_error(sig_.params[i]);
        return false;
    }

    // Convert every argument in signature order, one output per parameter.
    template <class... T>
    bool all(T&... outs) const {
        std::size_t i = 0;
        return (get(i++, outs) && ...);
    }

private:
    PyObject* self_;
    PyObject* const* slots_;
    const Signature& sig_;
};

}  // namespace quelm::py
