#include "frame/option_columns.hpp"

#include "frame/arrays.hpp"
#include "frame/result.hpp"
#include "quelm/core/parallel.hpp"
#include "quelm/core/portable.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <memory>
#include <type_traits>

namespace quelm::py::vec {

namespace {

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

    // The code of a text (always true: a rejected text is coded too).
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
        // Texts past the last rejected code are not remembered: a column may hold any number.
        if (c != 0xFF || !overflowed_) seen_.emplace_back(std::string(s), c);
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
    // mispredict every other one): its first four characters (of three, with the NUL) and
    // its last four. Reads the str's own memory only (no interpreter call), so worker
    // threads may do it while the calling thread holds the lock and the array holds the str.
    QUELM_ALWAYS_INLINE static bool short_word(PyObject* item, std::uint64_t& word, std::size_t& len) {
        if (!(PyUnicode_CheckExact(item) && PyUnicode_IS_COMPACT_ASCII(item) && PyUnicode_GET_LENGTH(item) <= 8))
            return false;
        len = static_cast<std::size_t>(PyUnicode_GET_LENGTH(item));
        // a compact ASCII str's characters follow its header (what PyUnicode_DATA finds,
        // without the call the compiler may leave in this loop)
        const auto* data = reinterpret_cast<const unsigned char*>(reinterpret_cast<const PyASCIIObject*>(item) + 1);
        if (std::endian::native == std::endian::little && len >= 3) [[likely]] {
            const std::size_t last = len > 4 ? len - 4 : 0;
            std::uint32_t lo, hi;
            std::memcpy(&lo, data, 4);
            std::memcpy(&hi, data + last, 4);
            word = lo | (std::uint64_t{hi} << (8 * last));
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

    // Whether more distinct values were rejected than there are codes for them.
    [[nodiscard]] bool overflowed() const { return overflowed_; }

    // Forgets every value coded and rejected, to code the column again.
    void reset() {
        seen_.clear();
        missing_.clear();
        last_object_ = nullptr;
        words_ = {};
        rejected_.clear();
        overflowed_ = false;
    }

private:
    // The code of a rejected value, its message kept for the grid. Past the last code, every
    // further rejection shares it: each such element still fails (NaN with errors="nan"), and
    // as a column is coded in its order, the first failing element always has a code of its
    // own and so its own message.
    bool reject(const Error& e, unsigned char& out) {
        if (rejected_.size() >= 0x100 - kFirstRejected) {
            out = 0xFF;
            overflowed_ = true;
            return true;
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
    bool overflowed_ = false;
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

// The code an object column's matching leaves on an item that is none of the words taught
// (a rejected value's code may be the same: such items are coded again, to the same code).
constexpr unsigned char kUnmatched = 0xFF;

// Codes items 0 .. n-1 of an object column (Python str objects) into codes, matched against
// the words taught, on the pool: kUnmatched for an item that is none of them. True when every
// item matched. Run while the calling thread holds the lock, so the items stay alive.
bool match_objects(const Items& items, std::size_t n, const LearnedWords& words, unsigned char* codes) {
    if (n < kCodesOnPool) {
        bool all = true;
        for (std::size_t i = 0; i < n; ++i) {
            std::uint64_t word;
            std::size_t len;
            const bool known = Coder::short_word(load_item<PyObject*>(items(i)), word, len) &&
                               words.match(word, len, codes[i]);
            if (!known) codes[i] = kUnmatched;
            all = all && known;
        }
        return all;
    }
    std::atomic<bool> all{true};
    parallel_for(
        n,
        [&](std::size_t begin, std::size_t end) {
            const bool matched = with_count(words.count, [&](auto count) {
                const LearnedWords local = words;  // in registers: the code stores could alias it
                unsigned missing = 0;
                // Each str is a read of memory of its own: ask for it a few items ahead.
                constexpr std::size_t kAhead = 16;
                for (std::size_t i = begin; i < end; ++i) {
                    if (i + kAhead < end) {
                        // the header and the characters (a str object spans two lines)
                        const auto* ahead = load_item<const char*>(items(i + kAhead));
                        prefetch(ahead);
                        prefetch(ahead + sizeof(PyASCIIObject) + 7);
                    }
                    std::uint64_t word;
                    std::size_t len;
                    unsigned code = 0x100;
                    if (Coder::short_word(load_item<PyObject*>(items(i)), word, len)) [[likely]]
                        code = local.code_of<count()>(word, len);
                    missing |= code;
                    codes[i] = code >= 0x100 ? kUnmatched : static_cast<unsigned char>(code);
                }
                return missing < 0x100;
            });
            if (!matched) {
                if (words.count == 0) std::fill(codes + begin, codes + end, kUnmatched);
                all.store(false, std::memory_order_relaxed);
            }
        },
        never_cancel());
    return all.load();
}

// The items that teach a column coded as the call runs its values: the first 64, and 64 more
// spread over the column to its last item. A value the call meets untaught sends the whole
// column through a pass of its own and the call runs again, and a chain sorted by type (its
// calls, then its puts) would otherwise meet its second value only past the first items.
template <class Learn>
bool teach(std::size_t n, Learn learn) {
    constexpr std::size_t kFirst = 64, kSpread = 64;
    const std::size_t first = std::min(n, kFirst);
    for (std::size_t i = 0; i < first; ++i)
        if (!learn(i)) return false;
    if (n > first)
        for (std::size_t k = 1; k <= kSpread; ++k)
            if (!learn(first + (n - 1 - first) * k / kSpread)) return false;
    return true;
}

// --- columns coded as the call runs (CodeReader), without the lock: each reader reads only
// plain memory the call's buffer views keep alive (characters, offsets, integer codes), never
// a Python object, which another thread could free meanwhile (a column of str objects is
// therefore coded before the call).

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

// A categorical's categories coded again in the order its elements first use them (and a
// missing cell where it first appears), for when more of them were rejected than there are
// codes: a column coded in its order gives its first failing element a code of its own.
bool code_categories_in_order(const Py_buffer& b, char kind, std::size_t n, const std::vector<Ref>& categories,
                              Coder& coder, std::vector<unsigned char>& table, unsigned char& missing) {
    coder.reset();
    std::vector<bool> coded(categories.size(), false);
    bool missing_coded = false;
    const Items items{b};
    for (std::size_t i = 0; i < n; ++i) {
        const double k = number_at(items(i), kind, b.itemsize);
        if (k >= 0 && k < static_cast<double>(categories.size())) {
            const auto j = static_cast<std::size_t>(k);
            if (!coded[j] && !coder.object(categories[j].get(), table[j])) return false;
            coded[j] = true;
        } else if (!missing_coded) {
            if (!coder.missing(Py_None, missing)) return false;
            missing_coded = true;
        }
    }
    return true;
}

}  // namespace

bool read_codes(PyObject* o, const char* name, CodeOf code, std::vector<Error>& rejected, Owned& owned, Operand& op,
                CodeReader* reader, bool converted) {
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
        std::vector<Ref> category;
        for (Py_ssize_t j = 0; j < n_categories; ++j) {
            category.emplace_back(PySequence_GetItem(categories, j));
            if (!category.back() || !coder.object(category.back().get(), table[static_cast<std::size_t>(j)]))
                return false;
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
        if (coder.overflowed() && !code_categories_in_order(b, kind, n, category, coder, table, missing)) return false;
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
            if (!memory_for(static_cast<double>(n), "the option codes")) return false;
            auto& v = owned.codes.emplace_back(n);
            // Coded here, whatever the column's length, not as the call runs: the call runs
            // without the lock, when another thread may assign into the array and free the
            // str an item held. Items spread over the column teach the coder its words; all
            // are then matched against them on the pool (each a read of a str the array keeps
            // alive, while this thread holds the lock, so no other thread runs Python), and
            // what does not match is coded here after, in order.
            const auto item = [&](std::size_t i) { return load_item<PyObject*>(items(i)); };
            if (!teach(n, [&](std::size_t i) { return coder.object(item(i), v[i]); })) return false;
            if (!match_objects(items, n, coder.words(), v.data())) {
                for (std::size_t i = 0; i < n; ++i)
                    if (v[i] == kUnmatched && !coder.object(item(i), v[i])) return false;
            }
            if (coder.overflowed()) {
                // more distinct rejections than codes: coded again in order, so the first
                // failing element has a code, and a message, of its own
                coder.reset();
                for (std::size_t i = 0; i < n; ++i)
                    if (!coder.object(item(i), v[i])) return false;
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
        if (reader != nullptr && n >= kCodesOnPool) {  // the call codes every item against the values taught
            if (!teach(n, learn)) return false;
            owned.codes.pop_back();
            auto state = std::make_shared<RawWords>(seen);
            code_as_run(b, shape, op, *reader, {&read_str, state.get()});
            owned.states.push_back(std::move(state));
            return true;
        }
        const std::size_t taught = n < kCodesOnPool ? n : std::min<std::size_t>(n, 64);
        for (std::size_t i = 0; i < taught; ++i)
            if (!learn(i)) return false;
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

namespace {

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
        if (!teach(n, [&](std::size_t i) { return code_of(i, taught); })) return false;
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

}  // namespace

PyObject* arrow_text(PyObject* offsets, PyObject* data) {
    return held_pair(offsets, data, kArrowTextName);
}

PyObject* categorical(PyObject* codes, PyObject* categories) {
    return held_pair(codes, categories, kCategoricalName);
}

}  // namespace quelm::py::vec
