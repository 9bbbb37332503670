#include "bindings/book/book_scenario.hpp"

#include "bindings/book/market_scenarios.hpp"
#include "frame/compute.hpp"
#include "frame/result.hpp"
#include "quelm/book/book_scenario.hpp"
#include "quelm/book/book_var.hpp"
#include "quelm/book/currency.hpp"

#include <string>
#include <vector>

namespace quelm::py {

namespace {

using book::Book;
using book::Market;

// A historical loss as the record gives it.
struct LossOut {
    double value = 0.0;
    double level = 0.0;
    std::uint64_t horizon = 0;
    std::uint64_t scenarios = 0;
    double first_order = 0.0;
    std::vector<double> pnl;
};

}  // namespace

constexpr Field<LossOut> kVarFields[] = {
    field<&LossOut::value>("var"),
    field<&LossOut::level>("level"),
    field<&LossOut::horizon>("horizon"),
    field<&LossOut::scenarios>("scenarios"),
    field<&LossOut::first_order>("first_order"),
    field<&LossOut::pnl>("pnl"),
};
constexpr auto kVar = record(kVarFields);
QUELM_RECORD(LossOut, kVar, "BookVaR");

// The same numbers under the statistic's own key; a type of its own so each has a record.
namespace {
struct ShortfallOut : LossOut {};
}  // namespace
constexpr Field<ShortfallOut> kShortfallFields[] = {
    {"expected_shortfall", [](const ShortfallOut& r) { return to_py(r.value); }, &Annotation<double>::result},
    {"level", [](const ShortfallOut& r) { return to_py(r.level); }, &Annotation<double>::result},
    {"horizon", [](const ShortfallOut& r) { return to_py(r.horizon); }, &Annotation<std::uint64_t>::result},
    {"scenarios", [](const ShortfallOut& r) { return to_py(r.scenarios); }, &Annotation<std::uint64_t>::result},
    {"first_order", [](const ShortfallOut& r) { return to_py(r.first_order); }, &Annotation<double>::result},
    {"pnl", [](const ShortfallOut& r) { return to_py(r.pnl); }, &Annotation<std::vector<double>>::result},
};
constexpr auto kShortfall = record(kShortfallFields);
QUELM_RECORD(ShortfallOut, kShortfall, "BookExpectedShortfall");

namespace {

// {"total": P&L, "by_trade": {name: P&L}}, the shape of Book.npv's record.
PyObject* pnl_record(const Book& b, const book::ScenarioPnl& p, std::size_t i) {
    Ref by_trade(PyDict_New());
    if (!by_trade) return nullptr;
    for (std::size_t j = 0; j < p.trades; ++j) {
        Ref v(to_py(p.by_trade[i * p.trades + j]));
        if (!v || PyDict_SetItemString(by_trade.get(), b.names()[j].c_str(), v.get()) != 0) return nullptr;
    }
    Ref total(to_py(p.total[i]));
    if (!total) return nullptr;
    return Py_BuildValue("{sOsO}", "total", total.get(), "by_trade", by_trade.get());
}

Result<std::string> currency_of(const CurrencyArg& currency) {
    if (!currency) return std::string();
    return book::parse_currency(*currency);
}

Result<book::ScenarioPnl> run(const Book& b, const Market& market,
                              const std::vector<std::vector<std::pair<std::string, double>>>& shifts,
                              const std::vector<std::string>* labels, const CurrencyArg& currency) {
    return compute([&](Cancel& cancel) -> Result<book::ScenarioPnl> {
        QUELM_TRY(in, currency_of(currency));
        QUELM_TRY(keys, book::ShiftKeys::make(market));
        QUELM_TRY(resolved, resolve(keys, shifts, labels));
        return book::book_scenarios(b, market, resolved, labels ? std::span<const std::string>(*labels)
                                                                : std::span<const std::string>(), cancel, in);
    });
}

// type(frame)(rows, index=frame.index, columns=[trade names..., "total"])
PyObject* pnl_frame(const Book& b, PyObject* frame, const book::ScenarioPnl& p) {
    for (const std::string& name : b.names())
        if (name == "total") {
            PyErr_SetString(PyExc_ValueError,
                            "a trade named total would clash with the table's total column: rename the trade");
            return nullptr;
        }
    const std::size_t n = p.total.size(), m = p.trades;
    Ref rows(make_list(n, [&](std::size_t i) {
        return make_list(m + 1, [&](std::size_t j) { return to_py(j < m ? p.by_trade[i * m + j] : p.total[i]); });
    }));
    Ref columns(make_list(m + 1, [&](std::size_t j) { return to_py(j < m ? b.names()[j] : std::string("total")); }));
    Ref index(PyObject_GetAttrString(frame, "index"));
    if (!rows || !columns || !index) return nullptr;
    Ref args(PyTuple_Pack(1, rows.get()));
    Ref kwargs(Py_BuildValue("{sOsO}", "index", index.get(), "columns", columns.get()));
    if (!args || !kwargs) return nullptr;
    return PyObject_Call(reinterpret_cast<PyObject*>(Py_TYPE(frame)), args.get(), kwargs.get());
}

// A mapping of scenario names to shifts, rather than one scenario's shifts: its first value
// is a mapping itself (a dict, a Series), not an amount.
bool is_named_scenarios(PyObject* o) {
    if (PyUnicode_Check(o) || !PyObject_HasAttrString(o, "items") || PyObject_HasAttrString(o, "to_numpy"))
        return false;
    Ref keys(PyMapping_Keys(o));
    if (!keys || PySequence_Size(keys.get()) <= 0) {
        PyErr_Clear();
        return false;
    }
    Ref first_key(PySequence_GetItem(keys.get(), 0));
    Ref first(first_key ? PyObject_GetItem(o, first_key.get()) : nullptr);
    if (!first) {
        PyErr_Clear();
        return false;
    }
    return PyObject_HasAttrString(first.get(), "items");
}

bool is_sequence(PyObject* o) { return PyList_Check(o) || PyTuple_Check(o); }

template <class Out>
PyObject* loss_impl(const Book& b, const Market& market, PyObject* quote_history, double level, std::uint64_t horizon,
                    book::LossMeasure measure, const CurrencyArg& currency) {
    const auto in = currency_of(currency);
    if (!in) return raise(in.error());
    QuoteHistory h;
    if (!read_history(market, quote_history, std::nullopt, h)) return nullptr;
    auto loss = compute([&](Cancel& cancel) {
        return book::historical_loss(b, market, h.values, h.days, h.columns, static_cast<std::size_t>(horizon), level,
                                     measure, cancel, *in);
    });
    if (!loss) return raise(loss.error());
    Out out;
    out.value = loss->value;
    out.level = level;
    out.horizon = horizon;
    out.scenarios = loss->pnl.size();
    out.first_order = loss->first_order;
    out.pnl = std::move(loss->pnl);
    return RecordOf<Out>::table(out);
}

}  // namespace

PyObject* book_scenario_impl(const Book& b, const MarketArg& market_arg, PyObject* shifts,
                             const CurrencyArg& currency) {
    const Market& market = *market_arg.value;
    if (is_frame(shifts) || is_named_scenarios(shifts) || is_sequence(shifts)) {
        Scenarios s;
        if (!read_scenarios(shifts, s)) return nullptr;
        const auto pnl = run(b, market, s.shifts, &s.labels, currency);
        if (!pnl) return raise(pnl.error());
        if (is_frame(shifts)) return pnl_frame(b, shifts, *pnl);
        if (!s.names) return make_list(pnl->total.size(), [&](std::size_t i) { return pnl_record(b, *pnl, i); });
        Ref out(PyDict_New());
        if (!out) return nullptr;
        for (std::size_t i = 0; i < pnl->total.size(); ++i) {
            Ref r(pnl_record(b, *pnl, i));
            if (!r || PyDict_SetItem(out.get(), PyList_GET_ITEM(s.names.get(), static_cast<Py_ssize_t>(i)), r.get()) != 0)
                return nullptr;
        }
        return out.release();
    }
    ShiftsArg one;
    if (!from_py(shifts, one)) return nullptr;
    const auto pnl = run(b, market, {one.items}, nullptr, currency);
    if (!pnl) return raise(pnl.error());
    return pnl_record(b, *pnl, 0);
}

PyObject* book_historical_var_impl(const Book& b, const MarketArg& market, PyObject* quote_history, double level,
                                   std::uint64_t horizon, const CurrencyArg& currency) {
    return loss_impl<LossOut>(b, *market.value, quote_history, level, horizon, book::LossMeasure::ValueAtRisk,
                              currency);
}

PyObject* book_expected_shortfall_impl(const Book& b, const MarketArg& market, PyObject* quote_history,
                                       double level, std::uint64_t horizon, const CurrencyArg& currency) {
    return loss_impl<ShortfallOut>(b, *market.value, quote_history, level, horizon,
                                   book::LossMeasure::ExpectedShortfall, currency);
}

}  // namespace quelm::py
