// Per-series kernels of quelm.vec: one statistic per row of a panel (one series per row),
// each row through the core function of the scalar twin, rows in parallel on the pool.
#include "bindings/frame/call.hpp"
#include "bindings/frame/result.hpp"
#include "bindings/stats_records.hpp"
#include "bindings/vec_grid.hpp"
#include "quelm/core/parallel.hpp"
#include "quelm/stats/drawdown.hpp"
#include "quelm/stats/method.hpp"
#include "quelm/stats/relational.hpp"
#include "quelm/stats/report.hpp"
#include "quelm/stats/risk.hpp"

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quelm::py::vec {

namespace {

// A 2-D float64 buffer whose rows are contiguous (any row stride, 0 for a repeated row).
class Panel {
public:
    [[nodiscard]] std::size_t rows() const { return rows_; }
    [[nodiscard]] std::span<const double> row(std::size_t i) const {
        return {reinterpret_cast<const double*>(base_ + static_cast<Py_ssize_t>(i) * stride_), length_};
    }
    // False with an exception set unless o is such a buffer.
    bool read(Buffers& buffers, PyObject* o, const char* name) {
        Py_buffer* b = buffers.get(o, PyBUF_STRIDES | PyBUF_FORMAT);
        if (b == nullptr) return false;
        const char* f = b->format != nullptr ? b->format : "B";
        if (b->ndim != 2 || b->itemsize != 8 || std::string_view(f) != "d" ||
            (b->shape[1] > 1 && b->strides[1] != 8)) {
            raise_value_error(std::string(name) + " must be a 2-D float64 buffer with contiguous rows");
            return false;
        }
        base_ = static_cast<const char*>(b->buf);
        stride_ = b->strides[0];
        rows_ = static_cast<std::size_t>(b->shape[0]);
        length_ = static_cast<std::size_t>(b->shape[1]);
        return true;
    }

private:
    const char* base_ = nullptr;
    Py_ssize_t stride_ = 0;
    std::size_t rows_ = 0, length_ = 0;
};

// Computes results[i] = compute(i, token) for every row on the pool without the interpreter
// lock. Returns nullptr with an exception for an interrupt or the first failing row in order
// (unless nan_mode lets it stand), else Py_None (borrowed, not to be released).
template <class T, class Compute>
PyObject* over_rows(std::vector<Result<T>>& results, bool nan_mode, bool located, Compute&& compute) {
    FirstFailure failure;
    Stop stop;
    const auto body = [&](std::size_t begin, std::size_t end) {
        if (failure.before(begin)) return;
        Cancel token(&element_stopped, &stop);
        for (std::size_t i = begin; i < end; ++i) {
            results[i] = compute(i, token);
            if (!results[i] && (!nan_mode || always_raised(results[i].error().kind))) {
                failure.record(i, results[i].error());
                return;
            }
            if (chunk_stopped() || stop.stop.load(std::memory_order_relaxed)) {
                stop.stop.store(true, std::memory_order_relaxed);
                return;
            }
        }
    };
    const bool done = run_unlocked([&](Cancel& signals) {
        stop.signals = &signals;
        return parallel_for(results.size(), body, signals);
    });
    if (!done) {
        if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
        return nullptr;
    }
    if (failure.index() != kNone) {
        if (!located) return raise(failure.error());
        std::string index = "(";
        index += std::to_string(failure.index());
        index += ",)";
        return raise_located(index, failure.error());
    }
    return Py_None;
}

enum class Metric : unsigned char { Sharpe, Sortino, ValueAtRisk, ExpectedShortfall, Beta, TrackingError, InfoRatio };

constexpr Choices<Metric, 7> kMetrics{
    "metric", Listing::Slashed,
    {{{"sharpe", Metric::Sharpe}, {"sortino", Metric::Sortino}, {"value_at_risk", Metric::ValueAtRisk},
      {"expected_shortfall", Metric::ExpectedShortfall}, {"beta", Metric::Beta},
      {"tracking_error", Metric::TrackingError}, {"info_ratio", Metric::InfoRatio}}},
    false};

// One number per row. x and y are the metric's settings in the scalar call's order after the
// series (risk_free or mar or confidence, periods_per_year); `method` names the VaR or ES
// method; `benchmark` (None or a panel with as many rows) is the second series.
PyObject* series_metric_impl(std::string_view metric_name, PyObject* panel, PyObject* benchmark, double x, double y,
                             std::string_view method, PyObject* out, std::uint64_t nan_mode, std::uint64_t located) {
    Metric metric;
    if (!choose(kMetrics, metric_name, metric)) return nullptr;
    stats::VarMethod var = stats::VarMethod::Historical;
    stats::EsMethod es = stats::EsMethod::Historical;
    if (metric == Metric::ValueAtRisk && !choose(stats::kVarMethods, method, var)) return nullptr;
    if (metric == Metric::ExpectedShortfall && !choose(stats::kEsMethods, method, es)) return nullptr;
    Buffers buffers;
    Panel series, bench;
    if (!series.read(buffers, panel, "the panel")) return nullptr;
    const bool paired = metric == Metric::Beta || metric == Metric::TrackingError || metric == Metric::InfoRatio;
    if (paired && (!bench.read(buffers, benchmark, "the benchmark") || bench.rows() != series.rows()))
        return PyErr_Occurred() ? nullptr : raise_value_error("the benchmark must have one series per series");
    Py_buffer* o = buffers.get(out, PyBUF_WRITABLE | PyBUF_FORMAT | PyBUF_C_CONTIGUOUS);
    if (o == nullptr) return nullptr;
    if (o->len != static_cast<Py_ssize_t>(series.rows() * sizeof(double)) || o->itemsize != 8)
        return raise_value_error("the output must hold one float64 per series");

    std::vector<Result<double>> results(series.rows());
    const auto compute = [&](std::size_t i, Cancel&) -> Result<double> {
        const auto r = series.row(i);
        switch (metric) {
            case Metric::Sharpe: return stats::sharpe_ratio(r, x, y);
            case Metric::Sortino: return stats::sortino_ratio(r, x, y);
            case Metric::ValueAtRisk: return stats::value_at_risk(r, x, var);
            case Metric::ExpectedShortfall: return stats::expected_shortfall(r, x, es);
            case Metric::Beta: return stats::beta(r, bench.row(i));
            case Metric::TrackingError: return stats::tracking_error(r, bench.row(i), y);
            case Metric::InfoRatio: break;
        }
        return stats::information_ratio(r, bench.row(i), y);
    };
    if (over_rows(results, nan_mode != 0, located != 0, compute) == nullptr) return nullptr;
    auto* values = static_cast<double*>(o->buf);
    for (std::size_t i = 0; i < results.size(); ++i) values[i] = results[i] ? *results[i] : kNaN;
    return none();
}

// A list of dicts, one per row (None for a row that failed under nan_mode).
template <class T>
PyObject* records(const std::vector<Result<T>>& results) {
    return make_list(results.size(), [&](std::size_t i) { return results[i] ? to_py(*results[i]) : none(); });
}

// The statistics report of each row. source: 0 returns, 1 prices, 2 values.
PyObject* series_stats_impl(PyObject* panel, std::uint64_t source, PyObject* benchmark, double risk_free,
                            double periods_per_year, double confidence, const std::optional<std::uint64_t>& lag,
                            std::uint64_t nan_mode, std::uint64_t located) {
    if (source > 2) return raise_value_error("source must be 0, 1 or 2");
    Buffers buffers;
    Panel series, bench;
    if (!series.read(buffers, panel, "the panel")) return nullptr;
    const bool has_benchmark = benchmark != Py_None;
    if (has_benchmark && (!bench.read(buffers, benchmark, "the benchmark") || bench.rows() != series.rows()))
        return PyErr_Occurred() ? nullptr : raise_value_error("the benchmark must have one series per series");
    stats::ReportInput in;
    in.risk_free = risk_free;
    in.periods_per_year = periods_per_year;
    in.confidence = confidence;
    in.lag = lag;
    std::vector<Result<stats::StatsReport>> results(series.rows());
    const auto compute = [&](std::size_t i, Cancel& token) {
        stats::ReportInput row = in;
        if (has_benchmark) row.benchmark = bench.row(i);
        return stats::report_of(static_cast<stats::Source>(source), series.row(i), row, token);
    };
    if (over_rows(results, nan_mode != 0, located != 0, compute) == nullptr) return nullptr;
    return records(results);
}

PyObject* series_drawdown_impl(PyObject* panel, std::uint64_t nan_mode, std::uint64_t located) {
    Buffers buffers;
    Panel series;
    if (!series.read(buffers, panel, "the panel")) return nullptr;
    std::vector<Result<stats::Drawdown>> results(series.rows());
    const auto compute = [&](std::size_t i, Cancel&) { return stats::max_drawdown(series.row(i)); };
    if (over_rows(results, nan_mode != 0, located != 0, compute) == nullptr) return nullptr;
    return records(results);
}

}  // namespace

extern const FunctionDef def_series_metric = function<series_metric_impl>(
    "series_metric",
    {"metric", "panel", "benchmark", "x", "y", "method", "out", "nan_mode", "located"},
    "One statistic per row of a panel into out.");

extern const FunctionDef def_series_stats = function<series_stats_impl>(
    "series_stats",
    {"panel", "source", "benchmark", "risk_free", "periods_per_year", "confidence", "lag", "nan_mode", "located"},
    "The statistics report of each row of a panel, as a list of dicts.");

extern const FunctionDef def_series_drawdown = function<series_drawdown_impl>(
    "series_drawdown", {"panel", "nan_mode", "located"},
    "The maximum drawdown of each row of a panel, as a list of dicts.");

}  // namespace quelm::py::vec
