// Element-wise kernels over broadcast arrays. The operands are read in place through the
// buffer protocol (any strides; 0 along a broadcast axis), the elements run in chunks on the
// worker pool without the interpreter lock, and each element calls the same core function
// as its scalar twin, so element i has the bits of the scalar call on element i's inputs.
#pragma once

#include "bindings/frame/compute.hpp"
#include "bindings/frame/ref.hpp"
#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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

// The buffers of a call, released together.
class Buffers {
public:
    Buffers() = default;
    Buffers(const Buffers&) = delete;
    Buffers& operator=(const Buffers&) = delete;
    ~Buffers() {
        for (Py_buffer& b : views_) PyBuffer_Release(&b);
    }
    // nullptr with an exception set when the object has no such buffer.
    static constexpr std::size_t kMaxViews = 24;
    Py_buffer* get(PyObject* o, int flags) {
        if (views_.size() == kMaxViews) {
            PyErr_SetString(PyExc_ValueError, "too many buffers");
            return nullptr;
        }
        views_.reserve(kMaxViews);  // pointers handed out stay valid: never more views than this
        Py_buffer view{};
        if (PyObject_GetBuffer(o, &view, flags) < 0) return nullptr;
        views_.push_back(view);
        return &views_.back();
    }

private:
    std::vector<Py_buffer> views_;
};

inline constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

// The first failure in C order among the elements run so far. Chunks starting after it are
// skipped, and a running chunk stops at it, so every element before it did run.
class FirstFailure {
public:
    void record(std::size_t index, const Error& e) {
        std::lock_guard lock(mu_);
        if (index < index_) {
            index_ = index;
            error_ = e;
            bound_.store(index, std::memory_order_relaxed);
        }
    }
    [[nodiscard]] bool before(std::size_t index) const { return bound_.load(std::memory_order_relaxed) < index; }
    [[nodiscard]] std::size_t index() const { return index_; }
    [[nodiscard]] const Error& error() const { return error_; }

private:
    std::mutex mu_;
    std::size_t index_ = kNone;
    Error error_{Kind::InvalidInput, {}};
    std::atomic<std::size_t> bound_{kNone};
};

// A failure that NaN cannot stand for: the caller must hear of it.
[[nodiscard]] inline bool always_raised(Kind k) { return k == Kind::Memory || k == Kind::Cancelled; }

// Raise the error of the element at `index` ("(3,)"): ValueError "at index (3,): <message>",
// MemoryError for a memory failure, KeyboardInterrupt for an interrupt. Returns nullptr.
PyObject* raise_located(const std::string& index, const Error& e);

// Runs work(signals) through the frame's compute step: without the interpreter lock, with
// `signals` polling Ctrl-C; every Python object the work touches was converted before. False
// when the caller was stopped; an exception is rethrown with the lock held.
template <class Work>
bool run_unlocked(Work&& work) {
    const Status s = compute([&](Cancel& signals) -> Status {
        if (!work(signals)) return cancelled();
        return {};
    });
    return s.has_value();
}

// An element's own token, for elements that poll (a long tree, a long series): it stops once
// the call is interrupted. The calling thread polls the signals itself; a worker sees the
// flag set when the job stops. Use as Cancel(&element_stopped, &stop).
struct Stop {
    Cancel* signals = nullptr;
    std::thread::id owner = std::this_thread::get_id();
    std::atomic<bool> stop{false};
};
bool element_stopped(void* context);

// Runs kernel over the tuple of input buffers (one shape, any strides) into the tuple of
// C-contiguous float64 output buffers of that shape. In nan mode an element that fails as
// invalid input or a numerical failure gets NaN; otherwise the first failing element in C
// order raises "at index (i, j): <message>". A memory failure or Ctrl-C always raises.
// Returns None, or nullptr with an exception set.
[[nodiscard]] PyObject* run_kernel(const Kernel& kernel, const void* context, PyObject* inputs, PyObject* outputs,
                                   bool nan_mode);

}  // namespace quelm::py::vec
