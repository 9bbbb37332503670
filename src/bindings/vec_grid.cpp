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

// The multi-index of a flat C-order index.
void unravel(std::size_t flat, const std::vector<Py_ssize_t>& shape, std::vector<Py_ssize_t>& idx) {
    for (std::size_t d = shape.size(); d-- > 0;) {
        const auto extent = static_cast<std::size_t>(shape[d]);
        idx[d] = static_cast<Py_ssize_t>(flat % extent);
        flat /= extent;
    }
}

std::string index_text(std::size_t flat, const std::vector<Py_ssize_t>& shape) {
    std::vector<Py_ssize_t> idx(shape.size());
    unravel(flat, shape, idx);
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

namespace detail {

void locate(const Grid& g, std::size_t begin, std::vector<Py_ssize_t>& idx, const char** at) {
    unravel(begin, g.shape, idx);
    for (std::size_t k = 0; k < g.n_in; ++k) {
        at[k] = g.base[k];
        for (std::size_t d = 0; d < idx.size(); ++d) at[k] += idx[d] * g.strides[k][d];
    }
}

bool codes_in_range(const Grid& g, const char* const* at) {
    for (std::size_t k = 0; k < g.n_in; ++k)
        if (g.limits[k] > 0 && static_cast<unsigned char>(*at[k]) >= g.limits[k]) return false;
    return true;
}

bool fail(const Grid& g, std::size_t i, const Error& e, bool raise_always) {
    if (g.nan_mode && !always_raised(e.kind) && !raise_always) return false;
    g.failure->record(i, e);
    return true;
}

bool interrupted(const Grid& g, std::size_t i) {
    if (chunk_stopped(kCheckEvery) || g.stop->stop.load(std::memory_order_relaxed)) {
        g.stop->stop.store(true, std::memory_order_relaxed);
        return true;
    }
    return g.failure->before(i);
}

}  // namespace detail

PyObject* run_kernel(const Kernel& kernel, const void* context, PyObject* inputs, PyObject* outputs, bool nan_mode) {
    const std::size_t n_in = std::strlen(kernel.operands);
    if (!PyTuple_Check(inputs) || static_cast<std::size_t>(PyTuple_GET_SIZE(inputs)) != n_in || n_in > kMaxOperands ||
        !PyTuple_Check(outputs) || static_cast<std::size_t>(PyTuple_GET_SIZE(outputs)) != kernel.n_out ||
        kernel.n_out == 0 || kernel.n_out > kMaxOutputs) {
        return raise_value_error(std::string(kernel.name) + " takes " + std::to_string(n_in) + " inputs and " +
                                 std::to_string(kernel.n_out) + " outputs");
    }
    Buffers buffers;
    Grid g;
    g.context = context;
    g.n_in = n_in;
    g.n_out = kernel.n_out;
    g.nan_mode = nan_mode;
    std::vector<Py_buffer*> outs(kernel.n_out);
    for (std::size_t j = 0; j < kernel.n_out; ++j) {
        outs[j] = buffers.get(PyTuple_GET_ITEM(outputs, j), PyBUF_WRITABLE | PyBUF_FORMAT | PyBUF_C_CONTIGUOUS);
        if (outs[j] == nullptr) return nullptr;
        if (!has_format(*outs[j], 'd')) return raise_value_error("outputs must be float64");
        g.out[j] = static_cast<double*>(outs[j]->buf);
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

    for (std::size_t k = 0; k < n_in; ++k) {
        Py_buffer* b = buffers.get(PyTuple_GET_ITEM(inputs, k), PyBUF_STRIDES | PyBUF_FORMAT);
        if (b == nullptr) return nullptr;
        if (!has_format(*b, kernel.operands[k])) return operand_error(k, "has the wrong type");
        if (!same_shape(*b)) return operand_error(k, "differs in shape from the outputs");
        g.base[k] = static_cast<const char*>(b->buf);
        g.strides[k].assign(b->strides, b->strides + b->ndim);
        if (shape.empty()) g.strides[k].assign(1, 0);  // a 0-d call walks one element
        g.any_codes |= (g.limits[k] = code_count(kernel.operands[k])) > 0;
    }
    g.shape = shape.empty() ? std::vector<Py_ssize_t>{1} : shape;

    FirstFailure failure;
    Stop stop;
    g.failure = &failure;
    g.stop = &stop;
    const auto body = [&](std::size_t begin, std::size_t end) { kernel.chunk(g, begin, end); };
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
