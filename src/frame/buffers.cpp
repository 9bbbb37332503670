#include "frame/buffers.hpp"

#include "frame/result.hpp"
#include "quelm/core/memory.hpp"

#include <cmath>

namespace quelm::py::vec {

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

PyObject* g_numpy_asarray = nullptr;
PyObject* g_numpy_empty = nullptr;

bool numpy_ready() {
    if (g_numpy_empty != nullptr) return true;
    Ref np(PyImport_ImportModule("numpy"));
    if (!np) return false;
    g_numpy_asarray = PyObject_GetAttrString(np.get(), "asarray");
    g_numpy_empty = PyObject_GetAttrString(np.get(), "empty");
    return g_numpy_asarray != nullptr && g_numpy_empty != nullptr;
}

std::size_t element_count(const std::vector<Py_ssize_t>& shape) {
    std::size_t n = 1;
    for (Py_ssize_t e : shape) n *= static_cast<std::size_t>(e);
    return n;
}

bool memory_for(double bytes, const char* what) {
    const Status s = check_fits_in_memory(bytes, what);
    if (!s) {
        raise(s.error());
        return false;
    }
    return true;
}

// The element kind of a buffer's format: 'f' float, 'i' signed, 'u' unsigned, 'b' bool,
// 'w' UCS4 text, 0 anything else. Only native byte order is read in place.
char format_kind(const Py_buffer& b, bool& native) {
    const char* f = b.format != nullptr ? b.format : "B";
    native = true;
    if (*f == '@' || *f == '=') {
        ++f;
    } else if (*f == '<' || *f == '>' || *f == '!') {
        const bool little = *f == '<';
        native = little == (std::endian::native == std::endian::little);
        ++f;
    }
    while (*f >= '0' && *f <= '9') ++f;
    if (f[0] == '\0' || f[1] != '\0') return 0;
    switch (f[0]) {
        case 'd': case 'f': case 'e': return 'f';
        case 'b': case 'h': case 'i': case 'l': case 'q': case 'n': return 'i';
        case 'B': case 'H': case 'I': case 'L': case 'Q': case 'N': return 'u';
        case '?': return 'b';
        case 'w': return 'w';
        case 'O': return 'O';
        default: return 0;
    }
}

// Element i (C order) of a strided buffer.
const char* item_at(const Py_buffer& b, std::size_t i) {
    const char* p = static_cast<const char*>(b.buf);
    for (Py_ssize_t d = b.ndim; d-- > 0;) {
        const auto extent = static_cast<std::size_t>(b.shape[d]);
        p += static_cast<Py_ssize_t>(i % extent) * b.strides[d];
        i /= extent;
    }
    return p;
}

double number_at(const char* p, char kind, Py_ssize_t size) {
    if (kind == 'f') {
        if (size == 8) return load_item<double>(p);
        if (size == 4) return load_item<float>(p);
        if (size == 2) {  // IEEE half
            const auto h = load_item<std::uint16_t>(p);
            const int e = (h >> 10) & 0x1f;
            const double m = h & 0x3ff;
            const double v = e == 0 ? std::ldexp(m, -24) : e == 31 ? (m == 0 ? INFINITY : NAN)
                                                                   : std::ldexp(m + 1024.0, e - 25);
            return (h & 0x8000) ? -v : v;
        }
    }
    const bool is_signed = kind == 'i';
    switch (size) {
        case 1: return is_signed ? load_item<std::int8_t>(p) : load_item<std::uint8_t>(p);
        case 2: return is_signed ? load_item<std::int16_t>(p) : load_item<std::uint16_t>(p);
        case 4: return is_signed ? load_item<std::int32_t>(p) : load_item<std::uint32_t>(p);
        default:
            return is_signed ? static_cast<double>(load_item<std::int64_t>(p))
                             : static_cast<double>(load_item<std::uint64_t>(p));
    }
}

// An integer item as a count ('b' bools are 0 or 1); `negative` set for a negative one.
std::uint64_t integer_at(const char* p, char kind, Py_ssize_t size, bool& negative) {
    if (kind == 'i') {
        std::int64_t v = 0;
        switch (size) {
            case 1: v = load_item<std::int8_t>(p); break;
            case 2: v = load_item<std::int16_t>(p); break;
            case 4: v = load_item<std::int32_t>(p); break;
            default: v = load_item<std::int64_t>(p); break;
        }
        negative = v < 0;
        return static_cast<std::uint64_t>(v);
    }
    switch (size) {
        case 1: return load_item<std::uint8_t>(p);
        case 2: return load_item<std::uint16_t>(p);
        case 4: return load_item<std::uint32_t>(p);
        default: return load_item<std::uint64_t>(p);
    }
}

void set_contiguous(Operand& op, const std::vector<Py_ssize_t>& shape, Py_ssize_t item) {
    op.shape = shape;
    op.strides.assign(shape.size(), 0);
    Py_ssize_t step = item;
    for (std::size_t d = shape.size(); d-- > 0;) {
        op.strides[d] = step;
        step *= shape[d];
    }
}

// An argument as a NumPy array, for sequences and other objects without a buffer.
PyObject* as_array(PyObject* o, Owned& owned) {
    if (!numpy_ready()) return nullptr;
    PyObject* a = PyObject_CallOneArg(g_numpy_asarray, o);
    if (a != nullptr) owned.refs.emplace_back(a);
    return a;
}

bool type_error(const char* name, const char* expected, PyObject* got) {
    PyErr_Format(PyExc_TypeError, "argument '%s': %s, not %s", name, expected, Py_TYPE(got)->tp_name);
    return false;
}

}  // namespace quelm::py::vec
