#include "bindings/vec_grid.hpp"

#include "bindings/frame/result.hpp"
#include "quelm/core/parallel.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quelm::py::vec {

namespace {

// Elements between two checks of the job's stop flag; the calling thread's check also
// paces the Ctrl-C poll.
constexpr std::size_t kCheckEvery = 16;

constexpr std::size_t kMaxOperands = 12;

bool has_format(const Py_buffer& b, char letter) {
    const char* f = b.format != nullptr ? b.format : "B";
    if (*f == '@' || *f == '=') ++f;
    if (letter == 'd') return b.itemsize == 8 && f[0] == 'd' && f[1] == '\0';
    if (letter == 'Q') return b.itemsize == 8 && (f[0] == 'Q' || f[0] == 'L') && f[1] == '\0';
    return b.itemsize == 1 && (f[0] == 'B' || f[0] == 'b') && f[1] == '\0';
}

PyObject* operand_error(std::size_t k, const char* what) {
    return raise_value_error("operand " + std::to_string(k) + ": " + what);
}

std::string index_text(std::size_t flat, const std::vector<Py_ssize_t>& shape) {
    std::vector<Py_ssize_t> idx(shape.size());
    for (std::size_t d = shape.size(); d-- > 0;) {
        const auto extent = static_cast<std::size_t>(shape[d]);
        idx[d] = static_cast<Py_ssize_t>(flat % extent);
        flat /= extent;
    }
    std::string s = "(";
    for (std::size_t d = 0; d < idx.size(); ++d) {
        if (d > 0) s += ", ";
        s += std::to_string(idx[d]);
    }
    return s + (idx.size() == 1 ? ",)" : ")");
}


}  // namespace

bool element_stopped(void* context) {
    auto* s = static_cast<Stop*>(context);
    // The job's flag: set when the calling thread, waiting or running a chunk, saw Ctrl-C.
    bool asked = chunk_stopped();
    if (!asked && std::this_thread::get_id() == s->owner) asked = s->signals->poll();
    if (asked) s->stop.store(true, std::memory_order_relaxed);
    return s->stop.load(std::memory_order_relaxed);
}

PyObject* raise_located(const std::string& index, const Error& e) {
    if (e.kind == Kind::Cancelled) return raise(e);
    std::string msg = "at index ";
    msg += index;
    msg += ": ";
    msg += e.render();
    Ref text(PyUnicode_FromStringAndSize(msg.data(), static_cast<Py_ssize_t>(msg.size())));
    if (text) PyErr_SetObject(e.kind == Kind::Memory ? PyExc_MemoryError : PyExc_ValueError, text.get());
    return nullptr;
}

PyObject* run_kernel(const Kernel& kernel, const void* context, PyObject* inputs, PyObject* outputs, bool nan_mode) {
    const std::size_t n_in = std::strlen(kernel.operands);
    if (!PyTuple_Check(inputs) || static_cast<std::size_t>(PyTuple_GET_SIZE(inputs)) != n_in || n_in > kMaxOperands ||
        !PyTuple_Check(outputs) || static_cast<std::size_t>(PyTuple_GET_SIZE(outputs)) != kernel.n_out ||
        kernel.n_out == 0) {
        return raise_value_error(std::string(kernel.name) + " takes " + std::to_string(n_in) + " inputs and " +
                                 std::to_string(kernel.n_out) + " outputs");
    }
    Buffers buffers;
    std::vector<Py_buffer*> outs(kernel.n_out);
    for (std::size_t j = 0; j < kernel.n_out; ++j) {
        outs[j] = buffers.get(PyTuple_GET_ITEM(outputs, j), PyBUF_WRITABLE | PyBUF_FORMAT | PyBUF_C_CONTIGUOUS);
        if (outs[j] == nullptr) return nullptr;
        if (!has_format(*outs[j], 'd')) return raise_value_error("outputs must be float64");
    }
    const Py_buffer& first = *outs[0];
    const std::vector<Py_ssize_t> shape(first.shape, first.shape + first.ndim);
    const auto same_shape = [&](const Py_buffer& b) {
        return b.ndim == first.ndim && std::equal(shape.begin(), shape.end(), b.shape);
    };
    std::size_t n = 1;
    for (Py_ssize_t e : shape) n *= static_cast<std::size_t>(e);
    for (Py_buffer* o : outs)
        if (!same_shape(*o)) return raise_value_error("outputs differ in shape");

    std::vector<const char*> base(n_in);
    std::vector<std::vector<Py_ssize_t>> strides(n_in);
    for (std::size_t k = 0; k < n_in; ++k) {
        Py_buffer* b = buffers.get(PyTuple_GET_ITEM(inputs, k), PyBUF_STRIDES | PyBUF_FORMAT);
        if (b == nullptr) return nullptr;
        if (!has_format(*b, kernel.operands[k])) return operand_error(k, "has the wrong type");
        if (!same_shape(*b)) return operand_error(k, "differs in shape from the outputs");
        base[k] = static_cast<const char*>(b->buf);
        strides[k].assign(b->strides, b->strides + b->ndim);
    }
    std::vector<double*> out_data(kernel.n_out);
    for (std::size_t j = 0; j < kernel.n_out; ++j) out_data[j] = static_cast<double*>(outs[j]->buf);

    std::array<std::size_t, kMaxOperands> limits{};
    bool any_codes = false;
    for (std::size_t k = 0; k < n_in; ++k) any_codes |= (limits[k] = code_count(kernel.operands[k])) > 0;

    const std::size_t ndim = shape.size();
    FirstFailure failure;
    Stop stop;
    const auto body = [&](std::size_t begin, std::size_t end) {
        if (failure.before(begin)) return;
        // The multi-index of `begin`, and each operand's pointer there.
        std::vector<Py_ssize_t> idx(ndim);
        for (std::size_t d = ndim, rest = begin; d-- > 0;) {
            const auto extent = static_cast<std::size_t>(shape[d]);
            idx[d] = static_cast<Py_ssize_t>(rest % extent);
            rest /= extent;
        }
        std::array<const char*, kMaxOperands> at{};
        for (std::size_t k = 0; k < n_in; ++k) {
            at[k] = base[k];
            for (std::size_t d = 0; d < ndim; ++d) at[k] += idx[d] * strides[k][d];
        }
        Cancel token(&element_stopped, &stop);
        std::array<double, 8> values{};
        for (std::size_t i = begin; i < end; ++i) {
            bool codes_ok = true;
            for (std::size_t k = 0; any_codes && k < n_in; ++k)
                if (limits[k] > 0 && static_cast<unsigned char>(*at[k]) >= limits[k]) codes_ok = false;
            const Status s = codes_ok ? kernel.element(context, Operands(at.data()), values.data(), token)
                                      : Status(invalid("string option code out of range"));
            if (s) {
                for (std::size_t j = 0; j < kernel.n_out; ++j) out_data[j][i] = values[j];
            } else {
                for (std::size_t j = 0; j < kernel.n_out; ++j) out_data[j][i] = kNaN;
                if (!nan_mode || always_raised(s.error().kind) || !codes_ok) {
                    failure.record(i, s.error());
                    return;
                }
            }
            if ((i - begin) % kCheckEvery == kCheckEvery - 1) {
                if (chunk_stopped(kCheckEvery) || stop.stop.load(std::memory_order_relaxed)) {
                    stop.stop.store(true, std::memory_order_relaxed);
                    return;
                }
                if (failure.before(i)) return;
            }
            // Step to the next element in C order.
            for (std::size_t d = ndim; d-- > 0;) {
                for (std::size_t k = 0; k < n_in; ++k) at[k] += strides[k][d];
                if (++idx[d] < shape[d]) break;
                for (std::size_t k = 0; k < n_in; ++k) at[k] -= strides[k][d] * shape[d];
                idx[d] = 0;
            }
        }
    };
    const bool done = run_unlocked([&](Cancel& signals) {
        stop.signals = &signals;
        return parallel_for(n, body, signals);
    });
    if (!done) {
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
        return nullptr;
    }
    if (failure.index() != kNone) return raise_located(index_text(failure.index(), shape), failure.error());
    return none();
}

}  // namespace quelm::py::vec
