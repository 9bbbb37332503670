// The arguments of an array call as buffers: what a call owns until it returns, an
// operand's layout before broadcasting, and the items of a buffer read in place (any
// format, order and strides). Shared by the numbers, dates and option columns of a call.
#pragma once

#include "frame/ref.hpp"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace quelm::py::vec {

// One operand before broadcasting: its leading shape and strides (a series' own axis taken
// out), and for a series the length and item stride of its rows.
struct Operand {
    const char* base = nullptr;  // nullptr: an absent optional
    std::vector<Py_ssize_t> shape, strides;
    std::size_t length = 0;
    Py_ssize_t item_stride = 8;
};

// What a call owns until it returns: the buffers it reads and the copies it made.
struct Owned {
    std::deque<Py_buffer> views;
    std::deque<std::vector<double>> reals;
    std::deque<std::vector<std::uint64_t>> counts;
    std::deque<std::vector<unsigned char>> codes;
    std::deque<std::vector<std::int64_t>> days;
    std::deque<double> real_scalars;
    std::deque<std::uint64_t> count_scalars;
    std::deque<unsigned char> code_scalars;
    std::deque<std::int64_t> day_scalars;
    std::vector<Ref> refs;
    std::vector<std::shared_ptr<const void>> states;  // what the code readers read
    Owned() = default;
    // A buffer of o, requested in place: an exporter may point the view's shape or strides
    // into the view itself (array.array does), so the view is never copied after the request.
    // nullptr (with the exporter's exception set) when o has no such buffer.
    Py_buffer* view(PyObject* o, int flags) {
        Py_buffer& b = views.emplace_back();
        if (PyObject_GetBuffer(o, &b, flags) == 0) return &b;
        views.pop_back();
        return nullptr;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() {
        for (Py_buffer& b : views) PyBuffer_Release(&b);
    }
};


// numpy.asarray and numpy.empty, once NumPy is imported (numpy_ready()).
extern PyObject* g_numpy_asarray;
extern PyObject* g_numpy_empty;
bool numpy_ready();

std::size_t element_count(const std::vector<Py_ssize_t>& shape);
// MemoryError unless `bytes` more fit in the memory the process can still get.
bool memory_for(double bytes, const char* what);

// The element kind of a buffer's format: 'f' float, 'i' signed, 'u' unsigned, 'b' bool,
// 'w' UCS4 text, 'O' object, 0 anything else. Only native byte order is read in place.
char format_kind(const Py_buffer& b, bool& native);

template <class T>
T load_item(const char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Element i (C order) of a strided buffer.
const char* item_at(const Py_buffer& b, std::size_t i);

// Item i of a buffer, by one multiply where the buffer is C-contiguous (most are).
struct Items {
    const Py_buffer& b;
    const char* base = static_cast<const char*>(b.buf);
    bool flat = PyBuffer_IsContiguous(&b, 'C') != 0;
    const char* operator()(std::size_t i) const {
        return flat ? base + static_cast<Py_ssize_t>(i) * b.itemsize : item_at(b, i);
    }
};

// A numeric item of kind 'f', 'i' or 'u' and size 1 to 8 bytes, as a double.
double number_at(const char* p, char kind, Py_ssize_t size);
// An integer item as a count ('b' bools are 0 or 1); `negative` set for a negative one.
std::uint64_t integer_at(const char* p, char kind, Py_ssize_t size, bool& negative);

// An operand's strides for a C-contiguous copy of `shape` with items of `item` bytes.
void set_contiguous(Operand& op, const std::vector<Py_ssize_t>& shape, Py_ssize_t item);
// An argument as a NumPy array, for sequences and other objects without a buffer.
PyObject* as_array(PyObject* o, Owned& owned);
// TypeError "argument 'name': expected, not <type>"; false.
bool type_error(const char* name, const char* expected, PyObject* got);

// A NumPy str array holds UTF-32 code units, possibly in the other byte order.
inline char32_t byte_swapped(char32_t c) {
    return ((c & 0xFFu) << 24) | ((c & 0xFF00u) << 8) | ((c >> 8) & 0xFF00u) | (c >> 24);
}
void append_utf8(std::string& out, char32_t c);

}  // namespace quelm::py::vec
