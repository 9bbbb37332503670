#include "frame/grid.hpp"

#include "quelm/core/parallel.hpp"
#include "quelm/dates/serial.hpp"

#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace quelm::py::vec {

namespace {

// The multi-index of a flat C-order index.
void unravel(std::size_t flat, const std::vector<Py_ssize_t>& shape, std::vector<Py_ssize_t>& idx) {
    for (std::size_t d = shape.size(); d-- > 0;) {
        const auto extent = static_cast<std::size_t>(shape[d]);
        idx[d] = static_cast<Py_ssize_t>(flat % extent);
        flat /= extent;
    }
}

// This thread's copies of an element's series without NaN.
thread_local std::array<std::vector<double>, kMaxOperands> t_rows;

// The failure of a date operand's value outside the calendar: NaT, a rejected text (its
// error kept by the grid) or a day count beyond the years 1..9999, named as an ISO date
// while it has one.
const Error* date_error(const Grid& g, std::size_t k, std::int64_t days) {
    static const Error kNaT{Kind::Argument, "NaT is not a date"};
    if (days == kNotADate) return &kNaT;
    const std::uint64_t j = static_cast<std::uint64_t>(days) - static_cast<std::uint64_t>(kRejectedDate);
    if (j < g.rejected[k].size()) return &g.rejected[k][j];
    thread_local Error t_error{Kind::Argument, {}};
    char text[96];
    constexpr std::int64_t kNamed = 1'000'000'000'000;  // days whose year the int64 civil date can hold
    if (days > -kNamed && days < kNamed) {
        // days to a civil date, as dates::civil_of, in 64 bits
        const std::int64_t z = days + 719468;
        const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
        const std::int64_t doe = z - era * 146097;
        const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
        const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
        const std::int64_t mp = (5 * doy + 2) / 153;
        const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
        const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
        const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
        std::snprintf(text, sizeof text, "no such date %04" PRId64 "-%02" PRId64 "-%02" PRId64
                      " (outside 0001-01-01..9999-12-31)", y, m, d);
    } else {
        std::snprintf(text, sizeof text, "no such date: day %" PRId64 " from 1970-01-01 (outside 0001-01-01..9999-12-31)",
                      days);
    }
    t_error.text = text;
    return &t_error;
}

}  // namespace

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

bool element_stopped(void* context) {
    auto* s = static_cast<Stop*>(context);
    // The job's flag: set when the calling thread, waiting or running a chunk, saw Ctrl-C.
    bool asked = chunk_stopped();
    if (!asked && std::this_thread::get_id() == s->owner) asked = s->signals->poll();
    if (asked) s->stop.store(true, std::memory_order_relaxed);
    return s->stop.load(std::memory_order_relaxed) || s->abandoned.load(std::memory_order_relaxed);
}

namespace detail {

void locate(const Grid& g, std::size_t begin, std::vector<Py_ssize_t>& idx, const char** at) {
    unravel(begin, g.shape, idx);
    for (std::size_t k = 0; k < g.n_in; ++k) {
        at[k] = g.base[k];
        if (at[k] == nullptr) continue;
        for (std::size_t d = 0; d < idx.size(); ++d) at[k] += idx[d] * g.strides[k][d];
    }
}

const Error* rejected_code(const Grid& g, const char* const* at) {
    static const Error kOutOfRange{Kind::InvalidInput, "string option code out of range"};
    // Dates first: the scalar call converts its dates before it reads its options.
    for (std::size_t k = 0; k < g.n_in; ++k) {
        if (!g.dates[k] || at[k] == nullptr) continue;
        std::int64_t days;
        std::memcpy(&days, at[k], sizeof days);
        if (days < dates::kFirstSerial || days > dates::kLastSerial) return date_error(g, k, days);
    }
    for (std::size_t k = 0; k < g.n_in; ++k) {
        if (g.limits[k] == 0) continue;
        const auto code = static_cast<unsigned char>(*at[k]);
        if (code < g.limits[k]) continue;
        const std::size_t j = code - kFirstRejected;
        return code >= kFirstRejected && j < g.rejected[k].size() ? &g.rejected[k][j] : &kOutOfRange;
    }
    return nullptr;
}

bool fail(const Grid& g, std::size_t i, const Error& e) {
    if (g.nan_mode && !always_raised(e.kind)) return false;
    // An element stopped because another ran out of memory is not a failure of its own.
    if (e.kind == Kind::Cancelled && g.stop->abandoned.load(std::memory_order_relaxed)) return true;
    g.failure->record(i, e);
    // A memory failure ends the call: the elements still running (a long tree) stop now.
    if (e.kind == Kind::Memory) g.stop->abandoned.store(true, std::memory_order_relaxed);
    return true;
}

bool interrupted(const Grid& g, std::size_t i) {
    if (chunk_stopped(kCheckEvery) || g.stop->stop.load(std::memory_order_relaxed)) {
        g.stop->stop.store(true, std::memory_order_relaxed);
        return true;
    }
    return g.stop->abandoned.load(std::memory_order_relaxed) || g.failure->before(i);
}

Status gathered(const Grid& g, const char* const* at, Element e, double* out, Cancel& token) {
    // Series of different lengths are left whole, for the function to reject.
    std::size_t length = kNone;
    bool same = true;
    for (std::size_t k = 0; k < g.n_in; ++k) {
        if (at[k] == nullptr || (g.lengths[k] == 0 && g.gather[k] == 0)) continue;
        if (length != kNone && g.lengths[k] != length) same = false;
        length = g.lengths[k];
    }
    const bool strip = g.skip_nan && same;
    std::array<const char*, kMaxOperands> moved{};
    std::array<std::size_t, kMaxOperands> lengths = g.lengths;
    for (std::size_t k = 0; k < g.n_in; ++k) moved[k] = at[k];
    const auto value = [&](std::size_t k, std::size_t p) {
        double v;
        std::memcpy(&v, at[k] + static_cast<Py_ssize_t>(p) * (g.gather[k] != 0 ? g.gather[k] : 8), sizeof v);
        return v;
    };
    const auto is_series = [&](std::size_t k) { return at[k] != nullptr && (g.lengths[k] > 0 || g.gather[k] != 0); };
    for (std::size_t k = 0; k < g.n_in; ++k) {
        if (!is_series(k) || (!strip && g.gather[k] == 0)) continue;
        std::vector<double>& row = t_rows[k];
        row.clear();
        for (std::size_t p = 0; p < g.lengths[k]; ++p) {
            bool keep = true;
            for (std::size_t j = 0; strip && j < g.n_in && keep; ++j) keep = !is_series(j) || !std::isnan(value(j, p));
            if (keep) row.push_back(value(k, p));
        }
        static const double kNothing = 0.0;  // an emptied series is still present
        moved[k] = reinterpret_cast<const char*>(row.empty() ? &kNothing : row.data());
        lengths[k] = row.size();
    }
    return e(g.context, Operands(moved.data(), lengths.data()), out, token);
}

}  // namespace detail

bool run_grid(Grid& g, Chunk chunk, std::size_t grain) {
    std::size_t n = 1;
    for (Py_ssize_t e : g.shape) n *= static_cast<std::size_t>(e);
    const auto body = [&](std::size_t begin, std::size_t end) { chunk(g, begin, end); };
    const Status s = compute([&](Cancel& signals) -> Status {
        g.stop->signals = &signals;
        if (!parallel_for(n, body, signals, grain)) return cancelled();
        return {};
    });
    if (!s) {
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
        return false;
    }
    return true;
}

}  // namespace quelm::py::vec
