// Python bindings: portfolio_value, twr, mwr, allocation, covariance_matrix, portfolio_risk, optimize,
// and the last three's quelm.vec forms over labelled panels (their bodies are Python).
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "frame/dates.hpp"
#include "frame/vec_python.hpp"
#include "quelm/portfolio/allocation.hpp"
#include "quelm/portfolio/optimize.hpp"
#include "quelm/portfolio/performance.hpp"
#include "quelm/portfolio/result.hpp"
#include "quelm/portfolio/risk.hpp"
#include "quelm/portfolio/valuation.hpp"

#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace quelm::py {

constexpr Section kSection = Section::Portfolios;
constexpr std::string_view kGuide = "portfolios";  // the guide page of its names

namespace {

// holdings: a sequence of (symbol, quantity, unit_cost, price) tuples, one lot each.
struct HoldingRows {
    std::vector<portfolio::Holding> holdings;
    std::vector<double> prices;
    [[nodiscard]] std::size_t size() const { return prices.size(); }
};

bool convert_holding(PyObject* item, HoldingRows& out) {
    if (!PyTuple_Check(item)) {
        PyErr_Format(PyExc_TypeError, "expected a tuple (symbol, quantity, unit_cost, price), got %s",
                     Py_TYPE(item)->tp_name);
        return false;
    }
    const Py_ssize_t n = PyTuple_GET_SIZE(item);
    if (n != 4) {
        PyErr_Format(PyExc_ValueError, "expected tuple of length 4, but got tuple of length %zd", n);
        return false;
    }
    std::string symbol;
    double quantity = 0.0, unit_cost = 0.0, price = 0.0;
    if (!from_py(PyTuple_GET_ITEM(item, 0), symbol) || !from_py(PyTuple_GET_ITEM(item, 1), quantity) ||
        !from_py(PyTuple_GET_ITEM(item, 2), unit_cost) || !from_py(PyTuple_GET_ITEM(item, 3), price))
        return false;
    out.holdings.push_back({std::move(symbol), {{quantity, unit_cost}}});
    out.prices.push_back(price);
    return true;
}

bool from_py(PyObject* o, HoldingRows& out) {
    out = {};
    if (!check_sequence(o, "a sequence of (symbol, quantity, unit_cost, price) tuples")) return false;
    Ref it(PyObject_GetIter(o));
    if (!it) return false;
    while (true) {
        Ref item(PyIter_Next(it.get()));
        if (!item) return !PyErr_Occurred();
        if (!convert_holding(item.get(), out)) return false;
    }
}

using portfolio::HoldingValuation;
using portfolio::HoldingsValuation;

constinit const auto kHolding = record<HoldingValuation>({
    QUELM_FIELD(HoldingValuation, symbol), QUELM_FIELD(HoldingValuation, quantity),
    QUELM_FIELD(HoldingValuation, average_cost), QUELM_FIELD(HoldingValuation, price),
    QUELM_FIELD(HoldingValuation, cost_basis), QUELM_FIELD(HoldingValuation, market_value),
    QUELM_FIELD(HoldingValuation, unrealized_pnl), QUELM_FIELD(HoldingValuation, unrealized_pnl_pct),
    QUELM_FIELD(HoldingValuation, weight),
});
static_assert(kHolding.size() == aggregate_size<HoldingValuation>());

constinit const auto kValuation = record<HoldingsValuation>({
    QUELM_FIELD(HoldingsValuation, n_holdings), QUELM_FIELD(HoldingsValuation, total_cost_basis),
    QUELM_FIELD(HoldingsValuation, total_market_value), QUELM_FIELD(HoldingsValuation, total_unrealized_pnl),
    QUELM_FIELD(HoldingsValuation, total_unrealized_pnl_pct),
    {"holdings",
     [](const HoldingsValuation& v) { return to_py(std::span<const HoldingValuation>(v.holdings), kHolding); },
     [] { return "list[HoldingValuation]"; }},
});
static_assert(kValuation.size() == aggregate_size<HoldingsValuation>());

// mwr's dates: ISO text kept as given (the core reads it, with its messages), any other
// date (datetime.date, datetime64, Timestamp) written as ISO text.
struct DateTexts {
    std::vector<std::string> texts;
};

bool from_py(PyObject* o, DateTexts& out) {
    if (!check_sequence(o, "a sequence of dates")) return false;
    Ref seq(PySequence_Fast(o, "expected a sequence of dates"));
    if (!seq) return false;
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    out.texts.resize(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(seq.get(), i);
        std::string& text = out.texts[static_cast<std::size_t>(i)];
        if (PyUnicode_Check(item) ? !quelm::py::from_py(item, text) : !iso_text(item, text)) return false;
    }
    return true;
}

using portfolio::PortfolioRisk;

constinit const auto kRisk = record<PortfolioRisk>({
    QUELM_FIELD(PortfolioRisk, variance), QUELM_FIELD(PortfolioRisk, volatility),
    QUELM_FIELD(PortfolioRisk, annualized_volatility), QUELM_FIELD(PortfolioRisk, historical_var),
    QUELM_FIELD(PortfolioRisk, parametric_var), QUELM_FIELD(PortfolioRisk, confidence),
    QUELM_FIELD(PortfolioRisk, periods_per_year),
});
static_assert(kRisk.size() == aggregate_size<PortfolioRisk>());

// bounds: one (lower, upper) pair for every asset, or a sequence of pairs, one per asset;
// None in a pair is no bound on that side. The core checks the values and the count.
bool bound_value(PyObject* o, double none, double& out) {
    if (o == Py_None) {
        out = none;
        return true;
    }
    return py::from_py(o, out);
}

bool is_pair_item(PyObject* o) { return o == Py_None || PyUnicode_Check(o) || !PySequence_Check(o); }

bool read_pair(PyObject* o, double& lower, double& upper) {
    Ref items(PySequence_Check(o) && !PyUnicode_Check(o) ? PySequence_Fast(o, "") : nullptr);
    if (!items || PySequence_Fast_GET_SIZE(items.get()) != 2) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "expected a (lower, upper) pair or a sequence of such pairs, got %s",
                     Py_TYPE(o)->tp_name);
        return false;
    }
    constexpr double inf = std::numeric_limits<double>::infinity();
    return bound_value(PySequence_Fast_GET_ITEM(items.get(), 0), -inf, lower) &&
           bound_value(PySequence_Fast_GET_ITEM(items.get(), 1), inf, upper);
}

struct BoundsArg {
    portfolio::WeightBounds value;
};

bool from_py(PyObject* o, BoundsArg& arg) {
    portfolio::WeightBounds& out = arg.value;
    out = {};
    if (!check_sequence(o, "a (lower, upper) pair or a sequence of such pairs")) return false;
    Ref items(PySequence_Fast(o, "expected a sequence"));
    if (!items) return false;
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(items.get());
    PyObject** item = PySequence_Fast_ITEMS(items.get());
    if (n == 2 && is_pair_item(item[0]) && is_pair_item(item[1])) {
        out.shared = true;
        out.lower.resize(1);
        out.upper.resize(1);
        return read_pair(o, out.lower[0], out.upper[0]);
    }
    out.lower.resize(static_cast<std::size_t>(n));
    out.upper.resize(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i)
        if (!read_pair(item[i], out.lower[static_cast<std::size_t>(i)], out.upper[static_cast<std::size_t>(i)]))
            return false;
    return true;
}

using portfolio::Optimal;

constinit const auto kOptimal = record<Optimal>({
    field<&Optimal::min_variance>("min_variance_weights"), field<&Optimal::tangency>("tangency_weights"),
    field<&Optimal::frontier>("frontier_weights"),
});
static_assert(kOptimal.size() == aggregate_size<Optimal>());

}  // namespace

template <>
struct Annotation<HoldingRows> {
    static const char* param() { return "_ArrayLike[Tuple[str, _Float, _Float, _Float]]"; }
};
template <>
struct Annotation<DateTexts> {
    static const char* param() { return "_ArrayLike[DateLike]"; }
};
template <>
struct Annotation<BoundsArg> {
    static const char* param() {
        return "_ArrayLike[Optional[_Float]] | _ArrayLike[_ArrayLike[Optional[_Float]]]";
    }
};
QUELM_RECORD(HoldingValuation, kHolding, "HoldingValuation");
QUELM_RECORD(HoldingsValuation, kValuation, "PortfolioValuation");
QUELM_RECORD(PortfolioRisk, kRisk, "PortfolioRisk");
QUELM_RECORD(Optimal, kOptimal, "OptimizeResult");

namespace {

using Series = std::span<const double>;

Result<HoldingsValuation> portfolio_value_of(const HoldingRows& rows) {
    return portfolio::value_holdings(rows.holdings, rows.prices);
}

Result<double> twr_of(Series values, Series flows) { return portfolio::twr(values, flows); }

Result<double> mwr_of(const DateTexts& dates, Series amounts, Cancel& cancel) {
    return portfolio::mwr(dates.texts, amounts, cancel);
}

Result<std::vector<double>> allocation_of(Series market_values) { return portfolio::weights(market_values); }

Result<portfolio::Matrix> covariance_matrix_of(const FloatMatrix& returns, Cancel& cancel) {
    return portfolio::covariance_matrix(returns.rows(), cancel);
}

Result<PortfolioRisk> portfolio_risk_of(const FloatMatrix& returns, Series weights, double periods_per_year,
                                        double confidence, Cancel& cancel) {
    return portfolio::portfolio_risk(returns.rows(), weights, periods_per_year, confidence, cancel);
}

Result<Optimal> optimize_of(Series mean, const FloatMatrix& cov, double rf, std::optional<double> target,
                            const std::optional<BoundsArg>& bounds, Cancel& cancel) {
    std::optional<portfolio::WeightBounds> b;
    if (bounds) b = bounds->value;
    return portfolio::optimize(cov.rows(), mean, rf, target, b, cancel);
}

constexpr FunctionDef def_portfolio_value = typed<&portfolio_value_of>(
    "portfolio_value", {"holdings"},
    "Mark-to-market value holdings, returning totals + a per-holding breakdown.\n"
    "\n"
    "`holdings` is a list of `(symbol, quantity, unit_cost, price)` tuples.\n"
    "\n"
    "```python\n"
    "quelm.portfolio_value([(\"AAPL\", 10, 150, 175), (\"MSFT\", 5, 300, 320)])\n"
    "```")
    .locking(Lock::BySize);
QUELM_PUBLIC(def_portfolio_value);

constexpr FunctionDef def_twr = typed<&twr_of>(
    "twr", {"values", "flows"},
    "Time-weighted return from period-boundary valuations and sub-period flows.")
    .locking(Lock::BySize);
QUELM_PUBLIC(def_twr);

constexpr FunctionDef def_mwr = typed<&mwr_of>(
    "mwr", {"dates", "amounts"},
    "Money-weighted return (IRR) from ISO `dates` and aligned `amounts`\n"
    "(invested negative, received positive).");
QUELM_PUBLIC(def_mwr);

constexpr FunctionDef def_allocation = typed<&allocation_of>(
    "allocation", {"market_values"},
    "Allocation weights from market values.")
    .locking(Lock::BySize);
QUELM_PUBLIC(def_allocation);

constexpr FunctionDef def_covariance_matrix = typed<&covariance_matrix_of>(
    "covariance_matrix", {"returns"},
    "The population covariance matrix of N aligned asset-return series.");
QUELM_PUBLIC(def_covariance_matrix);

constexpr FunctionDef def_portfolio_risk = typed<&portfolio_risk_of>(
    "portfolio_risk", {"returns", "weights", {"periods_per_year", "252.0"}, {"confidence", "0.95"}},
    "Portfolio risk (variance, volatility, VaR) from asset returns + weights.");
QUELM_PUBLIC(def_portfolio_risk);

constexpr FunctionDef def_optimize = typed<&optimize_of>(
    "optimize", {"mean", "cov", {"rf", "0.0"}, {"target", "None"}, "*", {"bounds", "None"}},
    "Markowitz optimization: min-variance, tangency, and (if `target` is given)\n"
    "efficient-frontier weights. Unconstrained / closed-form (shorting allowed).\n"
    "\n"
    "`bounds` limits each weight: one `(lower, upper)` pair for every asset, such as\n"
    "`(0, 1)` for long-only, or a sequence of pairs, one per asset (None: no bound on\n"
    "that side). The three portfolios are then the exact solutions of the constrained\n"
    "quadratic programs (an active-set method); the weights still sum to 1.");
QUELM_PUBLIC(def_optimize);

// --- quelm.vec: the same over return panels (one asset per column of a DataFrame), labels kept ---

constexpr vec::PythonForm def_vec_covariance_matrix =
    vec::in_python("covariance_matrix", {"returns", {"axis", "0"}},
                   "The population covariance matrix of a panel's assets (see ``quelm.covariance_matrix``).\n"
                   "\n"
                   "A DataFrame gives a DataFrame indexed both ways by its asset labels; an array an array.")
        .typed({"Any", "int"})
        .returning("Any");
QUELM_VEC_IN_PYTHON(def_vec_covariance_matrix);

constexpr vec::PythonForm def_vec_portfolio_risk =
    vec::in_python("portfolio_risk",
                   {"returns", "weights", {"periods_per_year", "252.0"}, {"confidence", "0.95"}, "*", {"axis", "0"}},
                   "Portfolio risk from a panel of asset returns (see ``quelm.portfolio_risk``).\n"
                   "\n"
                   "`weights` is one portfolio (its report: a dict, or a Series keyed as the report when the\n"
                   "returns are a DataFrame) or one portfolio per row (a dict of arrays, or a DataFrame with one\n"
                   "row per portfolio). A Series or DataFrame of weights is matched to the assets by label.")
        .typed({"Any", "Any", "float", "float", "int"})
        .returning("Any")
        .keyed<PortfolioRisk>();
QUELM_VEC_IN_PYTHON(def_vec_portfolio_risk);

constexpr vec::PythonForm def_vec_optimize =
    vec::in_python("optimize", {"mean", "cov", {"rf", "0.0"}, {"target", "None"}, "*", {"bounds", "None"}},
                   "Mean-variance portfolios keeping the asset labels (see ``quelm.optimize``).\n"
                   "\n"
                   "`mean` may be a Series and `cov` a DataFrame labelled by asset (cov is reordered to the\n"
                   "mean's labels); each weight vector then is a Series on those labels. `bounds` may also map\n"
                   "asset labels to (lower, upper) pairs. `target` may be an array of targets: the frontier\n"
                   "weights are then one row per target (a DataFrame indexed by target with labels).")
        .typed({"Any", "Any", "float", "Any", "Any"})
        .returning("dict[str, Any]")
        .keyed<Optimal>();
QUELM_VEC_IN_PYTHON(def_vec_optimize);

}  // namespace

}  // namespace quelm::py
