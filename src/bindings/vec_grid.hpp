// Element-wise kernels over broadcast arrays. The operands are read in place through the
// buffer protocol (any strides; 0 along a broadcast axis), the elements run in chunks on the
// worker pool without the interpreter lock, and each element calls the same core function
// as its scalar twin, so element i has the bits of the scalar call on element i's inputs.
#pragma once

#include "bindings/frame/ref.hpp"
#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quelm::py::vec {

// One element's inputs: a pointer to its value in each operand.
class Operands {
public:
    explicit Operands(const char* const* at) : at_(at) {}
    [[nodiscard]] double real(std::size_t k) const { return load<double>(k); }
    [[nodiscard]] std::uint64_t count(std::size_t k) const { return load<std::uint64_t>(k); }
    // A string option's code: the enum value its table maps the string to.
    template <class E>
    [[nodiscard]] E code(std::size_t k) const {
        return static_cast<E>(static_cast<unsigned char>(*at_[k]));
    }

private:
    template <class T>
    [[nodiscard]] T load(std::size_t k) const {
        T v;
        std::memcpy(&v, at_[k], sizeof v);  // strided views need not be aligned
        return v;
    }
    const char* const* at_;
};

// One element: writes its outputs, or fails exactly as the scalar call would. `context` is
// the core value the kernel works on (a curve, a bond), or nullptr.
using Element = Status (*)(const void* context, const Operands& in, double* out, Cancel& cancel);

// Operand letters: 'd' float64, 'Q' unsigned 64-bit count, and one letter per string option
// (its codes are one byte each, below code_count(letter)).
struct Kernel {
    const char* name;
    const char* operands;
    std::size_t n_out;
    Element element;
};

// How many values a string option's codes take; 0 for a letter that is not a string option.
[[nodiscard]] std::size_t code_count(char letter);

// Runs kernel over the tuple of input buffers (one shape, any strides) into the tuple of
// C-contiguous float64 output buffers of that shape. In nan mode an element that fails as
// invalid input or a numerical failure gets NaN; otherwise the first failing element in C
// order raises "at index (i, j): <message>". A memory failure or Ctrl-C always raises.
// Returns None, or nullptr with an exception set.
[[nodiscard]] PyObject* run_kernel(const Kernel& kernel, const void* context, PyObject* inputs, PyObject* outputs,
                                   bool nan_mode);

}  // namespace quelm::py::vec
