// The element machine behind quelm.vec. A call runs one declaration's typed function once
// per element of a grid: the operands are read in place (any strides, 0 along a broadcast
// axis), a series operand gives each element a whole row, and the elements run in chunks on
// the worker pool without the interpreter lock. Element i calls the same function the scalar
// call does, so it has the scalar call's bits. Every array call, element-wise or per series,
// fails and stops through the one path here.
#pragma once

#include "frame/compute.hpp"
#include "frame/ref.hpp"
#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace quelm::py::vec {

inline constexpr std::size_t kMaxOperands = 20;
inline constexpr std::size_t kMaxOutputs = 32;

// What an operand holds per element.
enum class OperandKind : unsigned char {
    Real,    // a float64
    Count,   // an unsigned 64-bit count
    Code,    // a string option's one-byte code
    Series,  // a row of float64 values
    Date,    // a date: int64 days since 1970-01-01 (see kNotADate)
};

// A code at or above this marks a string the option rejected; the grid keeps its message.
inline constexpr unsigned char kFirstRejected = 0x80;

// A date operand's day count for a missing date (NumPy's NaT), and the first of the markers
// of dates that failed to convert (text that is no date): marker j has rejected[j] as its
// error. Any other value outside 0001-01-01..9999-12-31 fails its element as no such date.
inline constexpr std::int64_t kNotADate = std::numeric_limits<std::int64_t>::min();
inline constexpr std::int64_t kRejectedDate = kNotADate + 1;

// One element's inputs: a pointer to its value in each operand (nullptr: an absent optional).
class Operands {
public:
    Operands(const char* const* at, const std::size_t* lengths) : at_(at), lengths_(lengths) {}
    [[nodiscard]] double real(std::size_t k) const { return load<double>(k); }
    [[nodiscard]] std::uint64_t count(std::size_t k) const { return load<std::uint64_t>(k); }
    [[nodiscard]] std::int64_t days(std::size_t k) const { return load<std::int64_t>(k); }
    [[nodiscard]] bool present(std::size_t k) const { return at_[k] != nullptr; }
    // A string option's code: the enum value its table maps the string to.
    template <class E>
    [[nodiscard]] E code(std::size_t k) const {
        return static_cast<E>(static_cast<unsigned char>(*at_[k]));
    }
    // A series operand's row (contiguous float64 values).
    [[nodiscard]] std::span<const double> series(std::size_t k) const {
        return {reinterpret_cast<const double*>(at_[k]), lengths_[k]};
    }

private:
    template <class T>
    [[nodiscard]] T load(std::size_t k) const {
        T v;
        std::memcpy(&v, at_[k], sizeof v);  // strided views need not be aligned
        return v;
    }
    const char* const* at_;
    const std::size_t* lengths_;
};

// One element: writes its outputs, or fails exactly as the scalar call would. `context` is
// the core value the form works on (a curve, a bond), or nullptr.
using Element = Status (*)(const void* context, const Operands& in, double* out, Cancel& cancel);

struct Grid;
// Runs the elements [begin, end) of a call; one instance per element function, so the
// element is inlined into its loop.
using Chunk = void (*)(const Grid& grid, std::size_t begin, std::size_t end);

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

// An element's own token, for elements that poll (a long tree, a long series): it stops once
// the call is interrupted. The calling thread polls the signals itself; a worker sees the
// flag set when the job stops. Use as Cancel(&element_stopped, &stop).
struct Stop {
    Cancel* signals = nullptr;
    std::thread::id owner = std::this_thread::get_id();
    std::atomic<bool> stop{false};       // the caller was interrupted
    std::atomic<bool> abandoned{false};  // an element ran out of memory: the call is over
};
bool element_stopped(void* context);

// A string option column coded block by block as its elements run, from the column's own
// items (each a few bytes matched against the words its first items taught), instead of in
// a pass of its own before the call: the codes never reach memory, and the work is spread
// with the pricing. `read` codes n items, the first at `at` and the rest `step` bytes apart;
// false when an item is none of the words taught (the call then codes the column whole, with
// the interpreter, and runs again).
struct CodeReader {
    bool (*read)(const void* state, const char* at, Py_ssize_t step, std::size_t n, unsigned char* codes) = nullptr;
    const void* state = nullptr;
};

// What every chunk of a call reads: the operands' layout, the outputs, the mode and the
// call's shared failure and stop state.
struct Grid {
    const void* context = nullptr;
    std::size_t n_in = 0, n_out = 0;
    std::vector<Py_ssize_t> shape;  // never empty: a call on scalars has shape (1,)
    std::array<const char*, kMaxOperands> base{};  // nullptr: an absent optional operand
    std::array<std::vector<Py_ssize_t>, kMaxOperands> strides{};
    std::array<std::size_t, kMaxOperands> lengths{};  // a series operand's row length
    std::array<Py_ssize_t, kMaxOperands> gather{};    // a series read through this item stride (0: in place)
    bool any_gather = false;
    std::array<std::size_t, kMaxOperands> limits{};   // a code operand's value count, else 0
    std::array<std::vector<Error>, kMaxOperands> rejected{};  // messages of rejected codes and dates
    std::array<bool, kMaxOperands> dates{};  // a date operand: checked before the element runs
    bool any_codes = false;  // a code or date operand may fail its element
    std::array<CodeReader, kMaxOperands> readers{};  // read set: a code column coded as it runs
    bool any_readers = false;
    std::atomic<bool>* unread = nullptr;  // set by a chunk that met an item no reader knows
    bool skip_nan = false;  // series: drop NaN (pairwise across the element's series) first
    std::array<double*, kMaxOutputs> out{};
    bool nan_mode = false;
    FirstFailure* failure = nullptr;
    Stop* stop = nullptr;
};

// Elements between two checks of the job's stop flag; the calling thread's check also
// paces the Ctrl-C poll.
inline constexpr std::size_t kCheckEvery = 16;

namespace detail {
// Each operand's pointer at flat index `begin`, with the multi-index written to idx.
void locate(const Grid& g, std::size_t begin, std::vector<Py_ssize_t>& idx, const char** at);
// The error of an element whose date or string option was rejected, or nullptr when every
// date and code is valid.
const Error* rejected_code(const Grid& g, const char* const* at);
// Records a failed element; true when the chunk must stop here.
bool fail(const Grid& g, std::size_t i, const Error& e);
// The periodic check: true when the chunk must stop (Ctrl-C or an earlier failure).
bool interrupted(const Grid& g, std::size_t i);
// Runs e on the element with its series copied into buffers of this thread: gathered from a
// strided row, and stripped of NaN (pairwise across the series) when the call skips NaN.
Status gathered(const Grid& g, const char* const* at, Element e, double* out, Cancel& token);
}  // namespace detail

// Each operand's pointer at the current element, stepping through the grid in C order.
class Walker {
public:
    Walker(const Grid& g, std::size_t begin) : g_(g), idx_(g.shape.size()) {
        detail::locate(g, begin, idx_, at_.data());
        for (std::size_t k = 0; k < g.n_in; ++k) step_[k] = g.strides[k][idx_.size() - 1];
    }
    [[nodiscard]] const std::array<const char*, kMaxOperands>& at() const { return at_; }
    // Each operand's stride along the innermost axis, and the elements left on this row.
    [[nodiscard]] const std::array<Py_ssize_t, kMaxOperands>& step() const { return step_; }
    [[nodiscard]] std::size_t left_in_row() const {
        const std::size_t last = idx_.size() - 1;
        return static_cast<std::size_t>(g_.shape[last] - idx_[last]);
    }
    void next() { advance(1); }
    // n elements on, n <= left_in_row(). An absent operand stays nullptr (its strides are 0).
    void advance(std::size_t n) {
        const std::size_t n_in = g_.n_in, last = idx_.size() - 1;
        const auto by = static_cast<Py_ssize_t>(n);
        // The innermost axis is walked with its strides copied out, the common case by far.
        for (std::size_t k = 0; k < n_in; ++k) at_[k] += step_[k] * by;
        if ((idx_[last] += by) < g_.shape[last]) return;
        for (std::size_t k = 0; k < n_in; ++k) at_[k] -= step_[k] * g_.shape[last];
        idx_[last] = 0;
        for (std::size_t d = last; d-- > 0;) {
            for (std::size_t k = 0; k < n_in; ++k) at_[k] += g_.strides[k][d];
            if (++idx_[d] < g_.shape[d]) return;
            for (std::size_t k = 0; k < n_in; ++k) at_[k] -= g_.strides[k][d] * g_.shape[d];
            idx_[d] = 0;
        }
    }

private:
    const Grid& g_;
    std::vector<Py_ssize_t> idx_;
    std::array<const char*, kMaxOperands> at_{};
    std::array<Py_ssize_t, kMaxOperands> step_{};
};

// Element i at `at`: its outputs written, or its failure handled. False when the chunk must stop.
template <Element E>
bool run_element(const Grid& g, const char* const* at, std::size_t i, Cancel& token) {
    std::array<double, kMaxOutputs> values{};
    const Error* rejected = g.any_codes ? detail::rejected_code(g, at) : nullptr;
    Status s;
    if (rejected != nullptr) {
        s = std::unexpected(*rejected);
    } else if (g.skip_nan || g.any_gather) {
        s = detail::gathered(g, at, E, values.data(), token);
    } else {
        s = E(g.context, Operands(at, g.lengths.data()), values.data(), token);
    }
    if (s) {
        for (std::size_t j = 0; j < g.n_out; ++j) g.out[j][i] = values[j];
        return true;
    }
    for (std::size_t j = 0; j < g.n_out; ++j) g.out[j][i] = std::numeric_limits<double>::quiet_NaN();
    return !detail::fail(g, i, s.error());
}

template <Element E>
void run_chunk(const Grid& g, std::size_t begin, std::size_t end) {
    if (g.failure->before(begin)) return;
    Walker w(g, begin);
    Cancel token(&element_stopped, g.stop);
    for (std::size_t i = begin; i < end; ++i) {
        if (!run_element<E>(g, w.at().data(), i, token)) return;
        if ((i - begin) % kCheckEvery == kCheckEvery - 1 && detail::interrupted(g, i)) return;
        w.next();
    }
}

// Up to kBlock elements on one row, computed together: operand k of element j is at
// at[k] + j * step[k]. Writes output o of element j to out[o * kBlock + j] and sets done[j]
// for the elements it computed; the rest run one by one through the element function.
// 256: enough options for the solvers' lanes to be regrouped by the branch each one takes
// and refilled as options settle, with few lanes idle while a block's last solves finish
// (at 64, eight lanes idled for a tenth of the Newton steps, and the few options Newton
// leaves to Brent ran a lane group of their own per block); still some tens of
// microseconds of work between two checks of the stop flag.
inline constexpr std::size_t kBlock = 256;
using Block = void (*)(const void* context, const char* const* at, const Py_ssize_t* step, std::size_t n,
                       double* out, bool* done);

// Operand k of a block's element j: a float64, a date's days, or a string option's one-byte code.
inline double block_real(const char* const* at, const Py_ssize_t* step, std::size_t k, std::size_t j) {
    double v;
    std::memcpy(&v, at[k] + step[k] * static_cast<Py_ssize_t>(j), sizeof v);  // strided views need not be aligned
    return v;
}
inline std::int64_t block_days(const char* const* at, const Py_ssize_t* step, std::size_t k, std::size_t j) {
    std::int64_t v;
    std::memcpy(&v, at[k] + step[k] * static_cast<Py_ssize_t>(j), sizeof v);
    return v;
}
inline unsigned char block_code(const char* const* at, const Py_ssize_t* step, std::size_t k, std::size_t j) {
    return static_cast<unsigned char>(*(at[k] + step[k] * static_cast<Py_ssize_t>(j)));
}
// n <= kBlock doubles from src to dst, in small fixed-size pieces: a copy of a variable size,
// or one of a whole block's 2 KB, becomes a string instruction whose start costs more than
// the copy itself (and a loop of single doubles is made into one).
inline void block_copy(double* dst, const void* src, std::size_t n) {
    const auto* from = static_cast<const char*>(src);
    const auto pieces = [&]<std::size_t N>(std::size_t first) {
        for (std::size_t j = first; j < first + N; j += 4)
            std::memcpy(dst + j, from + j * sizeof(double), 4 * sizeof(double));
    };
    std::size_t j = 0;
    for (; j + 64 <= n; j += 64) pieces.template operator()<64>(j);
    for (; j + 4 <= n; j += 4) pieces.template operator()<4>(j);
    for (; j < n; ++j) std::memcpy(dst + j, from + j * sizeof(double), sizeof(double));
}

// Operand k of a block's elements 0 .. n-1 as float64 values: one copy when the operand is
// contiguous or broadcast (the usual cases), else element by element.
inline void block_reals(const char* const* at, const Py_ssize_t* step, std::size_t k, std::size_t n, double* dst) {
    if (step[k] == static_cast<Py_ssize_t>(sizeof(double))) {
        block_copy(dst, at[k], n);
    } else if (step[k] == 0) {
        std::fill_n(dst, n, block_real(at, step, k, 0));
    } else {
        for (std::size_t j = 0; j < n; ++j) dst[j] = block_real(at, step, k, j);
    }
}

template <Element E, Block F>
void run_block_chunk(const Grid& g, std::size_t begin, std::size_t end) {
    if (g.failure->before(begin)) return;
    Walker w(g, begin);
    Cancel token(&element_stopped, g.stop);
    std::array<double, kBlock * kMaxOutputs> out;
    std::array<bool, kBlock> done;
    // The block's codes of the columns coded as they run, and the operands pointing at them.
    std::array<std::array<unsigned char, kBlock>, kMaxOperands> codes;
    std::array<const char*, kMaxOperands> coded_at;
    std::array<Py_ssize_t, kMaxOperands> coded_step;
    for (std::size_t first = begin; first < end;) {
        const std::size_t n = std::min({kBlock, end - first, w.left_in_row()});
        const char* const* at = w.at().data();
        const Py_ssize_t* step = w.step().data();
        if (g.any_readers) {
            if (g.unread->load(std::memory_order_relaxed)) return;
            coded_at = w.at();
            coded_step = w.step();
            for (std::size_t k = 0; k < g.n_in; ++k) {
                const CodeReader& r = g.readers[k];
                if (r.read == nullptr) continue;
                if (!r.read(r.state, coded_at[k], coded_step[k], n, codes[k].data())) {
                    g.unread->store(true, std::memory_order_relaxed);
                    return;
                }
                coded_at[k] = reinterpret_cast<const char*>(codes[k].data());
                coded_step[k] = 1;
            }
            at = coded_at.data();
            step = coded_step.data();
        }
        F(g.context, at, step, n, out.data(), done.data());
        bool all_done = true;
        for (std::size_t j = 0; j < n; ++j) all_done = all_done && done[j];
        if (all_done) {  // the usual block: each output in one copy
            for (std::size_t o = 0; o < g.n_out; ++o)
                block_copy(g.out[o] + first, out.data() + o * kBlock, n);
        }
        for (std::size_t j = 0; j < n && !all_done; ++j) {
            if (done[j]) {
                for (std::size_t o = 0; o < g.n_out; ++o) g.out[o][first + j] = out[o * kBlock + j];
                continue;
            }
            std::array<const char*, kMaxOperands> one;
            for (std::size_t k = 0; k < g.n_in; ++k) one[k] = at[k] + step[k] * static_cast<Py_ssize_t>(j);
            if (!run_element<E>(g, one.data(), first + j, token)) return;
        }
        first += n;
        if (detail::interrupted(g, first - 1)) return;
        if (first < end) w.advance(n);
    }
}

// Runs chunk over every element of g on the pool, without the interpreter lock, in chunks
// of a multiple of `grain` elements (kBlock for a chunk that runs blocks: whole blocks, and
// a call of one block stays on the calling thread). Returns false with an exception set
// when the call was interrupted; otherwise g.failure holds the first failure that NaN could
// not stand for (kNone: none).
[[nodiscard]] bool run_grid(Grid& g, Chunk chunk, std::size_t grain = 1);

// The index of a flat C-order index in `shape`, as "(3,)" or "(1, 2)".
[[nodiscard]] std::string index_text(std::size_t flat, const std::vector<Py_ssize_t>& shape);

}  // namespace quelm::py::vec
