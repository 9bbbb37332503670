#include "bindings/frame/arrays.hpp"

#include "bindings/frame/dates.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/core/parallel.hpp"
#include "quelm/core/portable.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace quelm::py::vec {

namespace {

// A NumPy str array holds UTF-32 code units, possibly in the other byte order.
char32_t byte_swapped(char32_t c) {
    return ((c & 0xFFu) << 24) | ((c & 0xFF00u) << 8) | ((c >> 8) & 0xFF00u) | (c >> 24);
}

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

std::vector<const FunctionDef*>& form_list() {
    static auto* v = new std::vector<const FunctionDef*>();
    return *v;
}

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

template <class T>
T load_item(const char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
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

// Item i of a buffer, by one multiply where the buffer is C-contiguous (most are).
struct Items {
    const Py_buffer& b;
    const char* base = static_cast<const char*>(b.buf);
    bool flat = PyBuffer_IsContiguous(&b, 'C') != 0;
    const char* operator()(std::size_t i) const {
        return flat ? base + static_cast<Py_ssize_t>(i) * b.itemsize : item_at(b, i);
    }
};

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

// --- string options ---

using CodeOf = bool (*)(std::string_view, unsigned char&, std::string&);

// Up to eight bytes of text as one word, its bytes in order and zeros after (compared
// together with the length). Reads only the text's own bytes: two overlapping loads instead
// of a byte at a time, since every option column is read this way, item by item.
inline std::uint64_t text_word(const unsigned char* p, std::size_t len) {
    if constexpr (std::endian::native == std::endian::little) {
        if (len >= 4) {
            std::uint32_t lo, hi;
            std::memcpy(&lo, p, 4);
            std::memcpy(&hi, p + len - 4, 4);
            return lo | (std::uint64_t{hi} << (8 * (len - 4)));
        }
        if (len == 0) return 0;
        return std::uint64_t{p[0]} | (std::uint64_t{p[len / 2]} << (8 * (len / 2))) |
               (std::uint64_t{p[len - 1]} << (8 * (len - 1)));
    } else {
        std::uint64_t word = 0;
        for (std::size_t k = 0; k < len; ++k) word |= std::uint64_t{p[k]} << (8 * k);
        return word;
    }
}

// f(std::integral_constant<std::size_t, count>{}) for a count of 1 to 8 (a column's distinct
// values), so that a loop over them is unrolled with its values in registers; false for others.
template <class F>
bool with_count(std::size_t count, F&& f) {
    switch (count) {
        case 1: return f(std::integral_constant<std::size_t, 1>{});
        case 2: return f(std::integral_constant<std::size_t, 2>{});
        case 3: return f(std::integral_constant<std::size_t, 3>{});
        case 4: return f(std::integral_constant<std::size_t, 4>{});
        case 5: return f(std::integral_constant<std::size_t, 5>{});
        case 6: return f(std::integral_constant<std::size_t, 6>{});
        case 7: return f(std::integral_constant<std::size_t, 7>{});
        case 8: return f(std::integral_constant<std::size_t, 8>{});
        default: return false;
    }
}

// Up to eight short words (each as text_word gives it, with its length) and their codes:
// an item is matched against all without a branch per value.
struct LearnedWords {
    std::size_t count = 0;
    std::array<std::uint64_t, 8> word{};
    std::array<std::size_t, 8> len{};
    std::array<unsigned, 8> code{};
    void add(std::uint64_t w, std::size_t n, unsigned char c) {
        if (count >= word.size()) return;
        word[count] = w;
        len[count] = n;
        code[count++] = c;
    }
    // The code of a word against the first Count words (all of them: Count == count), as a
    // code, or 0x100 and above when it is none of them.
    template <std::size_t Count>
    [[nodiscard]] unsigned code_of(std::uint64_t w, std::size_t n) const {
        unsigned found = 0x100;
        for (std::size_t e = 0; e < Count; ++e) {
            const unsigned same = 0u - (static_cast<unsigned>(word[e] == w) & static_cast<unsigned>(len[e] == n));
            found = (found & ~same) | (code[e] & same);
        }
        return found;
    }
    // The code of a word learned; false when it is none of them.
    bool match(std::uint64_t w, std::size_t n, unsigned char& out) const {
        unsigned found = 0x100;
        for (std::size_t e = 0; e < count; ++e) {
            const unsigned same = 0u - (static_cast<unsigned>(word[e] == w) & static_cast<unsigned>(len[e] == n));
            found = (found & ~same) | (code[e] & same);
        }
        if (found >= 0x100) return false;
        out = static_cast<unsigned char>(found);
        return true;
    }
};

// Codes strings one at a time, remembering each distinct one: a column holds few.
class Coder {
public:
    Coder(const char* name, CodeOf code, std::vector<Error>& rejected) : name_(name), code_(code), rejected_(rejected) {}

    // The code of a text; false with an exception only for too many distinct rejections.
    bool text(std::string_view s, unsigned char& out) {
        for (const auto& [seen, c] : seen_) {
            if (seen == s) {
                out = c;
                return true;
            }
        }
        std::string message;
        unsigned char c = 0;
        if (!code_(s, c, message) && !reject(Error{Kind::InvalidInput, message}, c)) return false;
        // A rejection carries the rendered message as the scalar call raises it (no prefix).
        seen_.emplace_back(std::string(s), c);
        out = c;
        return true;
    }

    // The code of an element that is not a str at all (a missing cell).
    bool missing(PyObject* item, unsigned char& out) {
        const std::string type = Py_TYPE(item)->tp_name;
        for (const auto& [seen, c] : missing_) {
            if (seen == type) {
                out = c;
                return true;
            }
        }
        const std::string message = std::string("argument '") + name_ + "': expected str, got " + type;
        if (!reject(Error{Kind::Argument, message}, out)) return false;
        missing_.emplace_back(type, out);
        return true;
    }

    // A short ASCII str (every option name) as one word, as text_word gives it. A str keeps
    // a NUL after its characters, so one of 3 to 8 characters is read as two overlapping
    // four-byte loads without a branch on its length (a column of "call" and "put" would
    // mispredict every other one). Reads the str's own memory only (no interpreter call), so
    // worker threads may do it while the calling thread holds the lock and the array holds
    // the str.
    QUELM_ALWAYS_INLINE static bool short_word(PyObject* item, std::uint64_t& word, std::size_t& len) {
        if (!(PyUnicode_CheckExact(item) && PyUnicode_IS_COMPACT_ASCII(item) && PyUnicode_GET_LENGTH(item) <= 8))
            return false;
        len = static_cast<std::size_t>(PyUnicode_GET_LENGTH(item));
        // a compact ASCII str's characters follow its header (what PyUnicode_DATA finds,
        // without the call the compiler may leave in this loop)
        const auto* data = reinterpret_cast<const unsigned char*>(reinterpret_cast<const PyASCIIObject*>(item) + 1);
        if (std::endian::native == std::endian::little && len >= 3) {
            std::uint32_t lo, hi;  // characters 0-3, and len-3 to the NUL at len
            std::memcpy(&lo, data, 4);
            std::memcpy(&hi, data + len - 3, 4);
            word = lo | (std::uint64_t{hi} << (8 * (len - 3)));
            return true;
        }
        word = 0;
        for (std::size_t k = 0; k < 8; ++k) word |= std::uint64_t{data[k < len ? k : len]} << (8 * k);
        return true;
    }

    // The code of a word already seen; false when unseen.
    bool seen_word(std::uint64_t word, std::size_t len, unsigned char& out) const { return words_.match(word, len, out); }
    // The short words seen, for coding the rest of a column without the interpreter.
    [[nodiscard]] const LearnedWords& words() const { return words_; }

    // A short str whose word was seen already (safe on worker threads, as short_word);
    // false when the item must go through object().
    bool known(PyObject* item, unsigned char& out) const {
        std::uint64_t word;
        std::size_t len;
        return short_word(item, word, len) && seen_word(word, len, out);
    }

    // A Python str, remembered by identity as well (object columns repeat the same objects).
    bool object(PyObject* item, unsigned char& out) {
        std::uint64_t word;
        std::size_t len;
        if (short_word(item, word, len)) {
            if (seen_word(word, len, out)) return true;
            const auto* data = static_cast<const char*>(PyUnicode_DATA(item));
            if (!text(std::string_view(data, len), out)) return false;
            words_.add(word, len, out);
            return true;
        }
        if (item == last_object_) {
            out = last_code_;
            return true;
        }
        if (!PyUnicode_Check(item)) return missing(item, out);
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(item, &size);
        if (utf8 == nullptr) return false;
        if (!text(std::string_view(utf8, static_cast<std::size_t>(size)), out)) return false;
        last_object_ = item;
        last_code_ = out;
        return true;
    }

private:
    bool reject(const Error& e, unsigned char& out) {
        if (rejected_.size() >= 0x100 - kFirstRejected) {
            PyErr_Format(PyExc_ValueError, "too many distinct invalid values for %s", name_);
            return false;
        }
        out = static_cast<unsigned char>(kFirstRejected + rejected_.size());
        Error shown = e;
        if (shown.kind == Kind::InvalidInput) shown.kind = Kind::Argument;  // the parser's text stands alone
        rejected_.push_back(shown);
        return true;
    }

    const char* name_;
    CodeOf code_;
    std::vector<Error>& rejected_;
    std::vector<std::pair<std::string, unsigned char>> seen_, missing_;
    PyObject* last_object_ = nullptr;
    unsigned char last_code_ = 0;
    LearnedWords words_;
};

// A pandas categorical (or dictionary-encoded) column: integer codes into its categories,
// -1 for a missing cell. Made by quelm.vec; recognised by its capsule name.
constexpr const char* kCategoricalName = "quelm._categorical";

// The two objects a column's capsule holds, kept alive with it: a categorical's codes and
// categories, an Arrow column's offsets and bytes.
struct HeldPair {
    PyObject* first;
    PyObject* second;
};

void held_pair_free(PyObject* capsule) {
    auto* held = static_cast<HeldPair*>(PyCapsule_GetPointer(capsule, PyCapsule_GetName(capsule)));
    if (held == nullptr) return;
    Py_XDECREF(held->first);
    Py_XDECREF(held->second);
    delete held;
}

// A capsule of `name` holding first and second.
PyObject* held_pair(PyObject* first, PyObject* second, const char* name) {
    auto* held = new HeldPair{Py_NewRef(first), Py_NewRef(second)};
    PyObject* capsule = PyCapsule_New(held, name, &held_pair_free);
    if (capsule == nullptr) {
        Py_DECREF(held->first);
        Py_DECREF(held->second);
        delete held;
    }
    return capsule;
}

// A str column's values seen so far, as their raw (NUL-padded UTF-32) items, up to eight
// of them: an item is matched against all without a branch per value.
class RawWords {
public:
    explicit RawWords(std::size_t width) : width_(width) {}
    // The code of an item equal to a value seen; false when it is none of them.
    bool match(const char* raw, unsigned char& out) const {
        switch (width_) {  // the usual widths of an option column, with the loops unrolled
            case 4: return match_width<4>(raw, out);
            case 5: return match_width<5>(raw, out);
            case 6: return match_width<6>(raw, out);
            case 8: return match_width<8>(raw, out);
            default: return match_width<0>(raw, out);
        }
    }
    // Codes items begin .. end-1 of a column (item i at item(i)) into codes[i], setting
    // unknown[i] for those that match no value seen. The values are copied to locals first:
    // the byte stores could otherwise alias them, and every item would reload them.
    template <class Item>
    void match_all(Item item, std::size_t begin, std::size_t end, unsigned char* codes, unsigned char* unknown) const {
        if (width_ != 4) {  // 16 bytes an item (up to four characters: "call", "put"), or others
            for (std::size_t i = begin; i < end; ++i) unknown[i] = !match(item(i), codes[i]);
            return;
        }
        std::uint64_t lo[8] = {}, hi[8] = {};
        unsigned value_code[8] = {};
        const std::size_t count = code_.size();
        for (std::size_t e = 0; e < count; ++e) {
            std::memcpy(&lo[e], chars_.data() + e * 4, 8);
            std::memcpy(&hi[e], chars_.data() + e * 4 + 2, 8);
            value_code[e] = code_[e];
        }
        for (std::size_t i = begin; i < end; ++i) {
            const char* raw = item(i);
            std::uint64_t a, b;
            std::memcpy(&a, raw, 8);
            std::memcpy(&b, raw + 8, 8);
            unsigned code = 0x100;
            for (std::size_t e = 0; e < count; ++e) {
                const unsigned same = 0u - static_cast<unsigned>((a == lo[e]) & (b == hi[e]));
                code = (code & ~same) | (value_code[e] & same);
            }
            codes[i] = static_cast<unsigned char>(code);
            unknown[i] = code >= 0x100;
        }
    }
    // Codes n items of four characters (16 bytes: "call", "put"), the first at `at` and the
    // rest `step` bytes apart; false when one is none of the values seen.
    bool match_four(const char* at, Py_ssize_t step, std::size_t n, unsigned char* codes) const {
        return with_count(code_.size(), [&](auto count) {
            std::uint64_t lo[count()], hi[count()];
            unsigned value_code[count()];
            for (std::size_t e = 0; e < count(); ++e) {
                std::memcpy(&lo[e], chars_.data() + e * 4, 8);
                std::memcpy(&hi[e], chars_.data() + e * 4 + 2, 8);
                value_code[e] = code_[e];
            }
            unsigned missing = 0;
            for (std::size_t j = 0; j < n; ++j) {
                const char* raw = at + step * static_cast<Py_ssize_t>(j);
                std::uint64_t a, b;
                std::memcpy(&a, raw, 8);
                std::memcpy(&b, raw + 8, 8);
                unsigned code = 0x100;
                for (std::size_t e = 0; e < count(); ++e) {
                    const unsigned same = 0u - static_cast<unsigned>((a == lo[e]) & (b == hi[e]));
                    code = (code & ~same) | (value_code[e] & same);
                }
                codes[j] = static_cast<unsigned char>(code);
                missing |= code;
            }
            return missing < 0x100;
        });
    }
    [[nodiscard]] std::size_t width() const { return width_; }
    void add(const char* raw, unsigned char code) {
        if (code_.size() >= 8) return;
        chars_.resize(chars_.size() + width_);
        std::memcpy(chars_.data() + chars_.size() - width_, raw, width_ * 4);
        code_.push_back(code);
    }

private:
    template <std::size_t W>
    bool match_width(const char* raw, unsigned char& out) const {
        const std::size_t width = W != 0 ? W : width_;
        unsigned code = 0x100;
        for (std::size_t e = 0; e < code_.size(); ++e) {
            bool equal;
            if constexpr (W != 0) {
                equal = std::memcmp(raw, chars_.data() + e * W, W * 4) == 0;  // a few word compares
            } else {
                char32_t differ = 0;
                for (std::size_t k = 0; k < width; ++k) {
                    char32_t c;
                    std::memcpy(&c, raw + 4 * k, 4);
                    differ |= c ^ chars_[e * width + k];
                }
                equal = differ == 0;
            }
            const unsigned same = 0u - static_cast<unsigned>(equal);  // all ones on a match
            code = (code & ~same) | (code_[e] & same);
        }
        if (code >= 0x100) return false;
        out = static_cast<unsigned char>(code);
        return true;
    }
    std::size_t width_;
    std::vector<char32_t> chars_;  // width_ characters per value
    std::vector<unsigned char> code_;
};

// A str column this long or longer is matched on the pool, or coded as the call runs.
constexpr std::size_t kCodesOnPool = 8192;

// --- columns coded as the call runs (CodeReader): each reader reads the column's own
// memory only, so worker threads may run it while the calling thread holds the lock and
// the column holds its items.

// A column whose items are Python str objects. (Asking for the next block's objects ahead
// made it slower: they are read in order, which the processor's own prefetch follows.)
bool read_objects(const void* state, const char* at, Py_ssize_t step, std::size_t n, unsigned char* codes) {
    const auto& words = *static_cast<const LearnedWords*>(state);
    return with_count(words.count, [&](auto count) {
        const LearnedWords local = words;  // in registers: the code stores could alias it
        unsigned missing = 0;
        for (std::size_t j = 0; j < n; ++j) {
            std::uint64_t word;
            std::size_t len;
            if (!Coder::short_word(load_item<PyObject*>(at + step * static_cast<Py_ssize_t>(j)), word, len))
                return false;
            const unsigned code = local.code_of<count()>(word, len);
            codes[j] = static_cast<unsigned char>(code);
            missing |= code;
        }
        return missing < 0x100;
    });
}

// A NumPy str column (UTF-32 items).
bool read_str(const void* state, const char* at, Py_ssize_t step, std::size_t n, unsigned char* codes) {
    const auto& words = *static_cast<const RawWords*>(state);
    if (words.width() == 4) return words.match_four(at, step, n, codes);
    std::array<unsigned char, kBlock> unknown;
    words.match_all([at, step](std::size_t j) { return at + step * static_cast<Py_ssize_t>(j); }, 0, n, codes,
                    unknown.data());
    bool all = true;
    for (std::size_t j = 0; j < n; ++j) all = all && unknown[j] == 0;
    return all;
}

// A categorical's byte codes, through its categories' codes (-1 and out of range: missing).
struct CategoryCodes {
    std::array<unsigned char, 128> table{};
    int count = 0;
    unsigned char missing = 0;
};
bool read_categories(const void* state, const char* at, Py_ssize_t step, std::size_t n, unsigned char* codes) {
    const auto& c = *static_cast<const CategoryCodes*>(state);
    for (std::size_t j = 0; j < n; ++j) {
        const int k = static_cast<signed char>(at[step * static_cast<Py_ssize_t>(j)]);
        codes[j] = k >= 0 && k < c.count ? c.table[static_cast<std::size_t>(k)] : c.missing;
    }
    return true;
}

// The word of an Arrow string value (bytes start .. stop-1 of a buffer of `size` bytes) of
// at most 8 bytes, as text_word gives it: one masked load away from the buffer's end (no
// branch on the length: a column of "call" and "put" would mispredict every other one).
// False when the value is longer or its offsets are out of order or out of range.
QUELM_ALWAYS_INLINE bool arrow_word(std::uint64_t start, std::uint64_t stop, const unsigned char* bytes,
                                    std::uint64_t size, std::uint64_t& word, std::size_t& len) {
    if (stop < start || stop > size || stop - start > 8) return false;
    len = static_cast<std::size_t>(stop - start);
    if (std::endian::native == std::endian::little && start + 8 <= size) {
        std::memcpy(&word, bytes + start, 8);
        word &= ((std::uint64_t{1} << (4 * len)) << (4 * len)) - 1;  // the first len bytes (all 8 when len = 8)
    } else {
        word = text_word(bytes + start, len);
    }
    return true;
}

// An Arrow string column without missing values: its offsets (one more than the values)
// and its character bytes, held as a pair. Made by quelm.vec; recognised by its capsule name.
constexpr const char* kArrowTextName = "quelm._arrow_text";
struct ArrowWords {
    LearnedWords words;
    const unsigned char* bytes = nullptr;
    std::uint64_t size = 0;
};
template <class Offset>
bool read_arrow(const void* state, const char* at, Py_ssize_t step, std::size_t n, unsigned char* codes) {
    const auto& a = *static_cast<const ArrowWords*>(state);
    return with_count(a.words.count, [&](auto count) {
        const LearnedWords local = a.words;  // in registers: the code stores could alias it
        const unsigned char* bytes = a.bytes;
        const std::uint64_t size = a.size;
        unsigned missing = 0;
        for (std::size_t j = 0; j < n; ++j) {
            const char* p = at + step * static_cast<Py_ssize_t>(j);  // the value's offset; its end follows it
            std::uint64_t word;
            std::size_t len;
            if (!arrow_word(static_cast<std::uint64_t>(load_item<Offset>(p)),
                            static_cast<std::uint64_t>(load_item<Offset>(p + sizeof(Offset))), bytes, size, word,
                            len))
                return false;
            const unsigned code = local.code_of<count()>(word, len);
            codes[j] = static_cast<unsigned char>(code);
            missing |= code;
        }
        return missing < 0x100;
    });
}

// A column read in place, coded by `read` as the call runs.
void code_as_run(const Py_buffer& b, const std::vector<Py_ssize_t>& shape, Operand& op, CodeReader& reader,
                 CodeReader made) {
    op.base = static_cast<const char*>(b.buf);
    op.shape = shape;
    op.strides.assign(b.strides, b.strides + b.ndim);
    reader = made;
}

bool read_arrow_text(PyObject* o, Coder& coder, Owned& owned, Operand& op, CodeReader* reader);

// A string option operand: one string for every element, or a column (a NumPy str or object
// array, a list, a categorical, an Arrow string column), coded one byte per element. With a
// reader, a long column may be left in place for the call to code as it runs (reader->read
// set); without, or when the column does not suit, its codes are made here.
bool read_codes(PyObject* o, const char* name, CodeOf code, std::vector<Error>& rejected, Owned& owned, Operand& op,
                CodeReader* reader, bool converted = false) {
    Coder coder(name, code, rejected);
    if (PyUnicode_Check(o)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(o, &size);
        if (utf8 == nullptr) return false;
        std::string message;
        unsigned char c = 0;
        if (!code(std::string_view(utf8, static_cast<std::size_t>(size)), c, message)) {
            raise_value_error(message);  // one string for every element: the scalar call's error
            return false;
        }
        op.base = reinterpret_cast<const char*>(&owned.code_scalars.emplace_back(c));
        return true;
    }
    if (PyCapsule_IsValid(o, kCategoricalName)) {
        const auto* held = static_cast<const HeldPair*>(PyCapsule_GetPointer(o, kCategoricalName));
        PyObject* codes_of = held->first;
        PyObject* categories = held->second;
        const Py_ssize_t n_categories = PySequence_Size(categories);
        if (n_categories < 0) return false;
        std::vector<unsigned char> table(static_cast<std::size_t>(n_categories));
        for (Py_ssize_t j = 0; j < n_categories; ++j) {
            Ref item(PySequence_GetItem(categories, j));
            if (!item || !coder.object(item.get(), table[static_cast<std::size_t>(j)])) return false;
        }
        unsigned char missing = 0;
        if (!coder.missing(Py_None, missing)) return false;
        Py_buffer* view = owned.view(codes_of, PyBUF_RECORDS_RO);
        if (view == nullptr) return false;
        Py_buffer& b = *view;
        bool native = true;
        const char kind = format_kind(b, native);
        if (kind != 'i' && kind != 'u') {
            raise_value_error("categorical codes must be integers");
            return false;
        }
        std::vector<Py_ssize_t> shape(b.shape, b.shape + b.ndim);
        const std::size_t n = element_count(shape);
        if (reader != nullptr && kind == 'i' && b.itemsize == 1 && n >= kCodesOnPool) {
            auto state = std::make_shared<CategoryCodes>();
            state->count = n_categories > 128 ? 128 : static_cast<int>(n_categories);  // codes stop at 127
            std::copy_n(table.begin(), state->count, state->table.begin());
            state->missing = missing;
            code_as_run(b, shape, op, *reader, {&read_categories, state.get()});
            owned.states.push_back(std::move(state));
            return true;
        }
        if (!memory_for(static_cast<double>(n), "the option codes")) return false;
        auto& v = owned.codes.emplace_back(n);
        const Items items{b};
        if (kind == 'i' && b.itemsize == 1 && items.flat) {
            // pandas' own codes for a few categories (and the coded Arrow columns): a byte
            // each, -1 for a missing cell, read without a conversion per item
            const auto* codes = static_cast<const signed char*>(b.buf);
            const int count = n_categories > 128 ? 128 : static_cast<int>(n_categories);  // codes stop at 127
            for (std::size_t i = 0; i < n; ++i) {
                const int k = codes[i];
                v[i] = k >= 0 && k < count ? table[static_cast<std::size_t>(k)] : missing;
            }
        } else {
            for (std::size_t i = 0; i < n; ++i) {
                const double k = number_at(items(i), kind, b.itemsize);
                v[i] = k >= 0 && k < static_cast<double>(n_categories) ? table[static_cast<std::size_t>(k)] : missing;
            }
        }
        op.base = reinterpret_cast<const char*>(v.data());
        set_contiguous(op, shape, 1);
        return true;
    }
    if (PyCapsule_IsValid(o, kArrowTextName)) return read_arrow_text(o, coder, owned, op, reader);
    if (Py_buffer* view = owned.view(o, PyBUF_RECORDS_RO)) {
        Py_buffer& b = *view;
        bool native = true;
        const char kind = format_kind(b, native);
        if (kind == 'O' && b.itemsize == sizeof(PyObject*)) {
            std::vector<Py_ssize_t> shape(b.shape, b.shape + b.ndim);
            const std::size_t n = element_count(shape);
            const Items items{b};
            if (reader != nullptr && n >= kCodesOnPool) {
                // The first values teach the words; the call codes every item against them.
                unsigned char first = 0;
                for (std::size_t i = 0; i < 64; ++i)
                    if (!coder.object(load_item<PyObject*>(items(i)), first)) return false;
                if (coder.words().count > 0) {
                    auto state = std::make_shared<LearnedWords>(coder.words());
                    code_as_run(b, shape, op, *reader, {&read_objects, state.get()});
                    owned.states.push_back(std::move(state));
                    return true;
                }
            }
            if (!memory_for(2.0 * static_cast<double>(n), "the option codes")) return false;
            auto& v = owned.codes.emplace_back(n);
            // The first values teach the coder the column's words; the rest are matched
            // against them on the pool (each a read of a str the array keeps alive, while
            // this thread holds the lock), and what does not match is coded here after, in
            // order, so every code is the one a single pass would give.
            const std::size_t taught = std::min<std::size_t>(n, 64);
            for (std::size_t i = 0; i < taught; ++i)
                if (!coder.object(load_item<PyObject*>(items(i)), v[i])) return false;
            if (n > taught) {
                std::vector<unsigned char> unknown(n - taught);
                // Each str is a read of memory of its own: ask for it a few items ahead.
                constexpr std::size_t kAhead = 32;
                parallel_for(
                    n - taught,
                    [&](std::size_t begin, std::size_t end) {
                        for (std::size_t j = begin; j < end; ++j) {
                            if (j + kAhead < end) {
                                // the header and the characters (a str object spans two lines)
                                const auto* ahead = load_item<const char*>(items(taught + j + kAhead));
                                prefetch(ahead);
                                prefetch(ahead + sizeof(PyASCIIObject));
                            }
                            unknown[j] = !coder.known(load_item<PyObject*>(items(taught + j)), v[taught + j]);
                        }
                    },
                    never_cancel());
                for (std::size_t j = 0; j < n - taught; ++j)
                    if (unknown[j] && !coder.object(load_item<PyObject*>(items(taught + j)), v[taught + j]))
                        return false;
            }
            op.base = reinterpret_cast<const char*>(v.data());
            set_contiguous(op, shape, 1);
            return true;
        }
        if (kind != 'w' || b.itemsize % 4 != 0) {
            PyErr_Format(PyExc_TypeError, "argument '%s': expected str, got %s", name,
                         kind == 'f' ? "float" : kind == 'b' ? "bool" : "int");
            return false;
        }
        std::vector<Py_ssize_t> shape(b.shape, b.shape + b.ndim);
        const std::size_t n = element_count(shape);
        if (!memory_for(static_cast<double>(n), "the option codes")) return false;
        auto& v = owned.codes.emplace_back(n);
        const std::size_t width = static_cast<std::size_t>(b.itemsize) / 4;
        const std::size_t bytes = width * 4;
        // An option column holds a few distinct values: each item's raw (padded) characters
        // are matched against every value seen so far, without an early exit (no branch to
        // mispredict on a mixed column), and only a new value is decoded and parsed. The
        // first items teach the values; the rest are matched on the pool, and those still
        // unmatched are coded here after, in order, so every code is the one a single pass
        // would give.
        RawWords seen(width);
        std::string utf8;
        std::vector<char32_t> chars(width);
        const Items items{b};
        const auto learn = [&](std::size_t i) {
            const char* raw = items(i);
            if (seen.match(raw, v[i])) return true;
            std::memcpy(chars.data(), raw, bytes);
            if (!native)
                for (char32_t& c : chars) c = byte_swapped(c);
            std::size_t len = width;
            while (len > 0 && chars[len - 1] == 0) --len;  // NumPy pads with NUL
            utf8.clear();
            for (std::size_t k = 0; k < len; ++k) append_utf8(utf8, chars[k]);
            if (!coder.text(utf8, v[i])) return false;
            seen.add(raw, v[i]);
            return true;
        };
        const std::size_t taught = n < kCodesOnPool ? n : std::min<std::size_t>(n, 64);
        for (std::size_t i = 0; i < taught; ++i)
            if (!learn(i)) return false;
        if (reader != nullptr && n > taught) {  // the call codes every item against the values taught
            owned.codes.pop_back();
            auto state = std::make_shared<RawWords>(seen);
            code_as_run(b, shape, op, *reader, {&read_str, state.get()});
            owned.states.push_back(std::move(state));
            return true;
        }
        if (n > taught) {
            std::vector<unsigned char> unknown(n - taught);
            const bool flat = items.flat;
            const char* first = items(taught);
            const Py_ssize_t size = b.itemsize;
            parallel_for(
                n - taught,
                [&](std::size_t begin, std::size_t end) {
                    unsigned char* codes = v.data() + taught;
                    if (flat) {
                        const auto at = [first, size](std::size_t j) { return first + static_cast<Py_ssize_t>(j) * size; };
                        seen.match_all(at, begin, end, codes, unknown.data());
                    } else {
                        const auto at = [&items, taught](std::size_t j) { return items(taught + j); };
                        seen.match_all(at, begin, end, codes, unknown.data());
                    }
                },
                never_cancel());
            for (std::size_t j = 0; j < n - taught; ++j)
                if (unknown[j] && !learn(taught + j)) return false;
        }
        op.base = reinterpret_cast<const char*>(v.data());
        set_contiguous(op, shape, 1);
        return true;
    }
    PyErr_Clear();
    if (converted || o == Py_None || PyFloat_Check(o) || PyLong_Check(o)) {
        PyErr_Format(PyExc_TypeError, "argument '%s': expected str, got %s", name, Py_TYPE(o)->tp_name);
        return false;
    }
    // A list keeps its items' types: NumPy would turn ["call", 3] into strings.
    if (!numpy_ready()) return false;
    Ref np(PyImport_ImportModule("numpy"));
    if (!np) return false;
    Ref object_dtype(PyObject_GetAttrString(np.get(), "object_"));
    if (!object_dtype) return false;
    PyObject* a = PyObject_CallFunctionObjArgs(g_numpy_asarray, o, object_dtype.get(), nullptr);
    if (a == nullptr) return false;
    owned.refs.emplace_back(a);
    return read_codes(a, name, code, rejected, owned, op, reader, true);
}

// An Arrow string column (see kArrowTextName). Its first values teach the words; a long column is
// coded as the call runs, any other here, a value at a time (a word seen, else its text).
bool read_arrow_text(PyObject* o, Coder& coder, Owned& owned, Operand& op, CodeReader* reader) {
    const auto* text = static_cast<const HeldPair*>(PyCapsule_GetPointer(o, kArrowTextName));
    Py_buffer* ov = owned.view(text->first, PyBUF_RECORDS_RO);
    if (ov == nullptr) return false;
    Py_buffer* dv = owned.view(text->second, PyBUF_SIMPLE);
    if (dv == nullptr) return false;
    bool native = true;
    const char kind = format_kind(*ov, native);
    const bool wide = ov->itemsize == 8;
    if (kind != 'i' || !native || (!wide && ov->itemsize != 4) || ov->ndim != 1 ||
        PyBuffer_IsContiguous(ov, 'C') == 0 || ov->shape[0] < 1) {
        raise_value_error("Arrow offsets must be a column of 32- or 64-bit integers");
        return false;
    }
    const auto n = static_cast<std::size_t>(ov->shape[0] - 1);
    const char* first = static_cast<const char*>(ov->buf);
    auto state = std::make_shared<ArrowWords>();
    state->bytes = static_cast<const unsigned char*>(dv->buf);
    state->size = static_cast<std::uint64_t>(dv->len);
    const auto offset = [&](std::size_t i) {
        return wide ? static_cast<std::uint64_t>(load_item<std::int64_t>(first + 8 * i))
                    : static_cast<std::uint64_t>(load_item<std::int32_t>(first + 4 * i));
    };
    // Value i's code: its word when seen, else its text (a new short word is learned).
    const auto code_of = [&](std::size_t i, unsigned char& out) {
        const std::uint64_t start = offset(i), stop = offset(i + 1);
        std::uint64_t word;
        std::size_t len;
        const bool short_value = arrow_word(start, stop, state->bytes, state->size, word, len);
        if (short_value && state->words.match(word, len, out)) return true;
        if (stop < start || stop > state->size) {
            raise_value_error("Arrow offsets out of order or past the end of the text");
            return false;
        }
        const auto* chars = reinterpret_cast<const char*>(state->bytes + start);
        if (!coder.text(std::string_view(chars, static_cast<std::size_t>(stop - start)), out)) return false;
        if (short_value) state->words.add(word, len, out);
        return true;
    };
    const std::vector<Py_ssize_t> shape{static_cast<Py_ssize_t>(n)};
    if (reader != nullptr && n >= kCodesOnPool) {
        unsigned char taught = 0;
        for (std::size_t i = 0; i < 64; ++i)
            if (!code_of(i, taught)) return false;
        if (state->words.count > 0) {
            op.base = first;
            op.shape = shape;
            op.strides = {ov->itemsize};
            *reader = {wide ? &read_arrow<std::int64_t> : &read_arrow<std::int32_t>, state.get()};
            owned.states.push_back(std::move(state));
            return true;
        }
    }
    if (!memory_for(static_cast<double>(n), "the option codes")) return false;
    auto& v = owned.codes.emplace_back(n);
    for (std::size_t i = 0; i < n; ++i)
        if (!code_of(i, v[i])) return false;
    op.base = reinterpret_cast<const char*>(v.data());
    set_contiguous(op, shape, 1);
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
    if (n > 0 && !run_grid(g, form.chunk)) return nullptr;
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
        if (!run_grid(g, form.chunk)) return nullptr;
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

PyObject* arrow_text(PyObject* offsets, PyObject* data) {
    return held_pair(offsets, data, kArrowTextName);
}

PyObject* categorical(PyObject* codes, PyObject* categories) {
    return held_pair(codes, categories, kCategoricalName);
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
