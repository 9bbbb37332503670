// Python classes Book (positions by name, valued and risked on a Market) and RiskReport.
#include "bindings/book/book_scenario.hpp"
#include "bindings/book/fd_option_trades.hpp"
#include "bindings/book/market_args.hpp"
#include "bindings/book/market_trades.hpp"
#include "bindings/credit/credit.hpp"
#include "bindings/curves/instruments.hpp"
#include "bindings/instances.hpp"
#include "bindings/rates/rate_args.hpp"
#include "frame/annotations.hpp"
#include "frame/classes.hpp"
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "frame/result.hpp"
#include "quelm/book/book.hpp"
#include "quelm/book/book_risk.hpp"
#include "quelm/book/currency.hpp"

#include <string>

namespace quelm::py {

PyTypeObject* book_type();
PyTypeObject* risk_report_type();
QUELM_CLASS_OF(book::Book, book_type, "Book");
QUELM_CLASS_OF(book::RiskReport, risk_report_type, "RiskReport");

constexpr Section kSection = Section::Books;
constexpr std::string_view kGuide = "books";  // the guide page of its names

namespace {

using book::Book;
using book::CurveTrade;
using book::Position;
using book::RiskReport;

// The stub's type of one trade.
#define QUELM_TRADE_TYPES \
    "Deposit | Fra | Future | Ois | Swap | BondQuote | FloatingRateNote | FxForward | FxOption | EuropeanOption | " \
    "AmericanOption | BarrierOption | Cds | Swaption | CapFloor | BermudanSwaption | " \
    "DatedBond | " \
    "Tuple[DatedBond, str]"
constexpr const char* kTradeTypes = QUELM_TRADE_TYPES;

// The positions: instruments, DatedBonds, and (DatedBond, curve name) pairs.
struct TradesArg {
    std::vector<Position> items;
};

bool position_of(PyObject* o, Position& position) {
    if (Py_TYPE(o) == fx_forward_type()) {
        position = value_of<book::FxForward>(o);
        return true;
    }
    if (Py_TYPE(o) == european_option_type()) {
        position = value_of<book::EuropeanOption>(o);
        return true;
    }
    if (Py_TYPE(o) == fx_option_type()) {
        position = value_of<book::FxOption>(o);
        return true;
    }
    if (Py_TYPE(o) == american_option_type()) {
        position = value_of<book::AmericanOption>(o);
        return true;
    }
    if (Py_TYPE(o) == barrier_option_type()) {
        position = value_of<book::BarrierOption>(o);
        return true;
    }
    if (Py_TYPE(o) == cds_type()) {
        position = value_of<credit::Cds>(o);
        return true;
    }
    if (Py_TYPE(o) == swaption_type()) {
        position = value_of<rates::Swaption>(o);
        return true;
    }
    if (Py_TYPE(o) == cap_floor_type()) {
        position = value_of<rates::CapFloor>(o);
        return true;
    }
    if (Py_TYPE(o) == bermudan_swaption_type()) {
        position = value_of<rates::BermudanSwaption>(o);
        return true;
    }
    CurveTrade& out = position.emplace<CurveTrade>();
    curves::Instrument i;
    if (instrument_of(o, i)) {
        out.item = std::move(i);
        return true;
    }
    if (Py_TYPE(o) == dated_bond_type()) {
        out.item = value_of<bonds::DatedBond>(o);
        return true;
    }
    if (Py_TYPE(o) == floating_rate_note_type()) {
        out.item = value_of<curves::FloatingRateNote>(o);
        return true;
    }
    if (PyTuple_Check(o) && PyTuple_GET_SIZE(o) == 2 && Py_TYPE(PyTuple_GET_ITEM(o, 0)) == dated_bond_type() &&
        PyUnicode_Check(PyTuple_GET_ITEM(o, 1))) {
        std::string curve;
        if (!from_py(PyTuple_GET_ITEM(o, 1), curve)) return false;
        if (curve.empty()) {
            PyErr_SetString(PyExc_ValueError, "a bond's curve name must not be empty");
            return false;
        }
        out.item = value_of<bonds::DatedBond>(PyTuple_GET_ITEM(o, 0));
        out.bond_curve = std::move(curve);
        return true;
    }
    return false;
}

bool from_py(PyObject* o, TradesArg& out) {
    if (PyUnicode_Check(o) || !PySequence_Check(o)) {
        PyErr_Format(PyExc_TypeError, "expected a sequence of trades, got %s", Py_TYPE(o)->tp_name);
        return false;
    }
    Ref seq(PySequence_Fast(o, "expected a sequence"));
    if (!seq) return false;
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    out.items.clear();
    out.items.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t k = 0; k < n; ++k) {
        PyObject* item = PySequence_Fast_GET_ITEM(seq.get(), k);
        Position p;
        if (!position_of(item, p)) {
            if (!PyErr_Occurred())
                PyErr_Format(PyExc_TypeError,
                             "item %zd: expected an instrument, a FloatingRateNote, an FxForward, an FxOption, a EuropeanOption, an "
                             "AmericanOption, a BarrierOption, a Cds, a Swaption, a CapFloor, a BermudanSwaption, a "
                             "DatedBond or a (DatedBond, curve name) pair, got %s",
                             k, Py_TYPE(item)->tp_name);
            return false;
        }
        out.items.push_back(std::move(p));
    }
    return true;
}

}  // namespace

template <>
struct Annotation<TradesArg> {
    static const char* param() {
        return "Iterable[" QUELM_TRADE_TYPES "]";
    }
};

namespace {

Result<Book> book_new(const TradesArg& trades, const std::optional<std::vector<std::string>>& names) {
    return Book::make(trades.items, names ? *names : std::vector<std::string>{});
}

// A position as the constructor takes it back.
PyObject* position_py(const Position& position) {
    if (const auto* f = std::get_if<book::FxForward>(&position)) return wrap(fx_forward_type(), *f);
    if (const auto* o = std::get_if<book::EuropeanOption>(&position)) return wrap(european_option_type(), *o);
    if (const auto* x = std::get_if<book::FxOption>(&position)) return wrap(fx_option_type(), *x);
    if (const auto* a = std::get_if<book::AmericanOption>(&position)) return wrap(american_option_type(), *a);
    if (const auto* b = std::get_if<book::BarrierOption>(&position)) return wrap(barrier_option_type(), *b);
    if (const auto* c = std::get_if<credit::Cds>(&position)) return wrap(cds_type(), *c);
    if (const auto* s = std::get_if<rates::Swaption>(&position)) return wrap(swaption_type(), *s);
    if (const auto* c = std::get_if<rates::CapFloor>(&position)) return wrap(cap_floor_type(), *c);
    if (const auto* b = std::get_if<rates::BermudanSwaption>(&position)) return wrap(bermudan_swaption_type(), *b);
    const CurveTrade& p = std::get<CurveTrade>(position);
    if (const auto* i = std::get_if<curves::Instrument>(&p.item)) return wrap_instrument(*i);
    if (const auto* n = std::get_if<curves::FloatingRateNote>(&p.item)) return wrap(floating_rate_note_type(), *n);
    Ref bond(wrap(dated_bond_type(), std::get<bonds::DatedBond>(p.item)));
    if (!bond || p.bond_curve.empty()) return bond.release();
    Ref name(to_py(std::string_view(p.bond_curve)));
    return name ? PyTuple_Pack(2, bond.get(), name.get()) : nullptr;
}

template <class Item>
PyObject* tuple_of(std::size_t n, Item item) {
    Ref list(make_list(n, item));
    return list ? PyList_AsTuple(list.get()) : nullptr;
}

PyObject* trades_of(const Book& b) {
    const auto& p = b.positions();
    return tuple_of(p.size(), [&](std::size_t i) { return position_py(p[i]); });
}
PyObject* names_of(const Book& b) {
    const auto& n = b.names();
    return tuple_of(n.size(), [&](std::size_t i) { return to_py(std::string_view(n[i])); });
}
PyObject* trades_get(PyObject* self) { return trades_of(value_of<Book>(self)); }
PyObject* names_get(PyObject* self) { return names_of(value_of<Book>(self)); }

Py_ssize_t book_length(PyObject* self) { return static_cast<Py_ssize_t>(value_of<Book>(self).size()); }
PyObject* book_iter(PyObject* self) {
    Ref trades(trades_get(self));
    return trades ? PyObject_GetIter(trades.get()) : nullptr;
}
PyObject* book_repr(PyObject* self) {
    const std::size_t n = value_of<Book>(self).size();
    return to_py("<Book of " + std::to_string(n) + (n == 1 ? " trade>" : " trades>"));
}
bool book_equal(PyObject* a, PyObject* b) { return value_of<Book>(a) == value_of<Book>(b); }

// (functools.partial(Book, names=...), (trades,)).
PyObject* book_reduce(const Book& b) {
    Ref trades(trades_of(b));
    Ref names(names_of(b));
    Ref kwargs(PyDict_New());
    if (!trades || !names || !kwargs || PyDict_SetItemString(kwargs.get(), "names", names.get()) != 0) return nullptr;
    Ref args(PyTuple_Pack(1, trades.get()));
    if (!args) return nullptr;
    return partial_reduce(reinterpret_cast<PyObject*>(book_type()), args.get(), kwargs.get());
}

// {name: value} in book order.
PyObject* by_name(const std::vector<std::string>& names, const std::vector<double>& values) {
    Ref d(PyDict_New());
    if (!d) return nullptr;
    for (std::size_t i = 0; i < names.size(); ++i) {
        Ref v(to_py(values[i]));
        if (!v || PyDict_SetItemString(d.get(), names[i].c_str(), v.get()) != 0) return nullptr;
    }
    return d.release();
}

// npv's result: the total and each trade's value by name.
struct BookValueOut {
    double total = 0.0;
    std::vector<double> values;
    std::shared_ptr<const std::vector<std::string>> names;
};
PyObject* by_trade_values(const BookValueOut& v) { return by_name(*v.names, v.values); }
const char* by_trade_annotation() { return "dict[str, float]"; }

}  // namespace

constexpr Field<BookValueOut> kBookValueFields[] = {
    field<&BookValueOut::total>("total"),
    {"by_trade", &by_trade_values, &by_trade_annotation},
};
constexpr auto kBookValue = record(kBookValueFields);
QUELM_RECORD(BookValueOut, kBookValue, "BookValue");

namespace {

// The reporting currency, upper case, or "" (each trade in its own).
Result<std::string> currency_of(const std::optional<std::string_view>& currency) {
    if (!currency) return std::string();
    return book::parse_currency(*currency);
}

Result<BookValueOut> npv_of(const Book& b, const book::Market& market, const std::optional<std::string_view>& currency,
                            Cancel& cancel) {
    QUELM_TRY(in, currency_of(currency));
    QUELM_TRY(v, book::book_npv(b, market, cancel, in));
    return BookValueOut{v.total, std::move(v.by_trade), std::make_shared<const std::vector<std::string>>(b.names())};
}

Result<RiskReport> risk_of(const Book& b, const book::Market& market, const std::optional<std::string_view>& currency,
                           Cancel& cancel) {
    QUELM_TRY(in, currency_of(currency));
    return book::book_risk(b, market, cancel, in);
}

constexpr FunctionDef def_book_new = typed<&book_new>(
    "Book", {"trades", "*", {"names", "None"}},
    "A book of `trades`: instruments (each priced on the market curves its `curve` and\n"
    "`discount_curve` name, or the defaults for its kind), FloatingRateNotes, FxForwards,\n"
    "FxOptions, EuropeanOptions, DatedBonds and (DatedBond, curve name) pairs (a bond held,\n"
    "priced off that curve). `names`: one distinct name per trade; None, their positions as\n"
    "text (\"0\", \"1\", ...).");
constexpr Callable kBookNew = callable<def_book_new>;

constexpr FunctionDef def_npv = typed_method<&npv_of>(
    "npv", {"market", "*", {"currency", "None"}},
    "The value of each trade on `market` by name, in book order (`by_trade`), and their sum\n"
    "added in that order (`total`): the same bits on any number of threads. An instrument is\n"
    "worth its `npv` on its curves (times its notional), a bond held its present value per\n"
    "its face. A curve the market lacks is an error naming the trade and listing the curves.\n"
    "Each value is in its trade's currency (its curve's, named first as in \"usd-sofr\"; an FX\n"
    "forward's quote currency) unless `currency` (\"USD\") is given: then every value is\n"
    "converted to it at the market's spot, and the total is one currency's.");
constexpr FunctionDef def_risk = typed_method<&risk_of>(
    "risk", {"market", "*", {"currency", "None"}},
    "The change in each trade's value per basis point (0.0001) of every quote the market's\n"
    "curves were bootstrapped from (a rate, a future's rate, a bond quote's clean price), as\n"
    "a RiskReport: exact, from the curves' bootstrap by implicit differentiation. Then per\n"
    "unit of each FX spot the market holds (an FX forward's delta) and per volatility point\n"
    "of each surface slice (an option's vega, shared between the two slices around its\n"
    "expiry as the surface interpolates), with each option's Greeks. A curve trade on a\n"
    "curve not built from quotes, or discounted on another curve than the one its curve was\n"
    "built on, is an error naming it. `currency` as `npv`'s: each row converted at the spot,\n"
    "with the conversion's own delta (the trade's value per unit of the spot) in the pair's\n"
    "column.");
constexpr FunctionDef def_book_reduce = method<book_reduce>(
    "__reduce__", {}, "Pickle support: rebuild from the trades and their names.")
    .returning("Tuple[Any, ...]");

constexpr FunctionDef def_scenario = method<book_scenario_impl>(
    "scenario", {"market", "shifts", "*", {"currency", "None"}},
    "The book's P&L under shifted markets, by full revaluation: each scenario's market built\n"
    "as `Market.shifted` builds it and every trade priced on it, in one task on the worker\n"
    "pool, less its value on `market`. `shifts` one scenario's (a dict or a pandas Series of\n"
    "quote label, curve or FX pair to an amount in the quote's units) gives a record like\n"
    "`npv`'s: `total`, the scenario's total less the base total (each added in book order),\n"
    "and `by_trade`, each trade's difference. A mapping of names to shifts gives a dict of\n"
    "names to such records, a sequence of shifts a list; a DataFrame (rows: scenarios,\n"
    "columns: shift keys) a DataFrame of the same kind on its index, a column per trade and\n"
    "`total` last. The same bits on any number of threads; an error names the scenario.\n"
    "`currency` as `npv`'s, each scenario's values converted at its own spots.")
    .returning("BookValue | dict[Any, BookValue] | list[BookValue] | Any");
constexpr FunctionDef def_historical_var = method<book_historical_var_impl>(
    "historical_var", {"market", "quote_history", "*", {"level", "0.99"}, {"horizon", "1"}, {"currency", "None"}},
    "The book's historical value at risk by full revaluation: each change of `quote_history`\n"
    "over `horizon` rows (a DataFrame indexed by date, a column per quote label, curve or FX\n"
    "pair; changes as `Market.historical_shifts` makes them: absolute for rates, relative for\n"
    "FX) applied to `market` and the book repriced. `var`: the loss at `level`, a positive\n"
    "number for a loss: minus the P&L's quantile at 1 - level by `value_at_risk`'s historical\n"
    "rule (linear between order statistics at h = (n - 1)(1 - level)). `first_order`: the\n"
    "same of the linear P&L, sum of `risk` per bp times each quote's change in bp. `pnl`:\n"
    "the full-revaluation P&L per scenario in history order; `scenarios` their count.\n"
    "`currency` as `npv`'s: the P&L in one currency, FX moves converting it.")
    .returning("BookVaR");
constexpr FunctionDef def_expected_shortfall = method<book_expected_shortfall_impl>(
    "expected_shortfall", {"market", "quote_history", "*", {"level", "0.99"}, {"horizon", "1"},
                           {"currency", "None"}},
    "The book's historical expected shortfall by full revaluation, as `historical_var` but\n"
    "`expected_shortfall`: minus the mean of the P&L at or below its quantile at 1 - level,\n"
    "as `quelm.expected_shortfall`'s historical method; `first_order` the same of the linear\n"
    "P&L.")
    .returning("BookExpectedShortfall");

constexpr Callable kBookMethods[] = {callable<def_npv>, callable<def_risk>, callable<def_book_reduce>,
                                     callable<def_scenario>, callable<def_historical_var>,
                                     callable<def_expected_shortfall>};

const GetterDef kBookGetters[] = {
    {"names", "The trades' names, in book order.", &names_get, "Tuple[str, ...]"},
    {"trades", "The trades, in book order, as given.", &trades_get,
     "Tuple[" QUELM_TRADE_TYPES ", ...]"},
};

const ClassDef kBookClass = [] {
    ClassDef d{"Book",
               "Trades by name, valued and risked on a Market.\n"
               "\n"
               "Immutable, compared by value and picklable; `len(book)` counts its trades and\n"
               "iterating it gives them in order:\n"
               "\n"
               "    >>> import quelm\n"
               "    >>> m = quelm.Market.bootstrap(\"2026-03-02\", {\"usd-sofr\": [quelm.Ois(\"1Y\", 0.043, index=\"sofr\"),\n"
               "    ...     quelm.Ois(\"5Y\", 0.039, index=\"sofr\")]})\n"
               "    >>> book = quelm.Book([quelm.Ois(\"3Y\", 0.04, index=\"sofr\", notional=1e6)], names=[\"a\"])\n"
               "    >>> round(book.risk(m).total[\"usd-sofr 5Y\"], 2) != 0.0\n"
               "    True",
               kBookMethods, std::size(kBookMethods), kBookGetters, std::size(kBookGetters), &book_repr,
               &book_equal, nullptr, &kBookNew};
    d.length = &book_length;
    d.iter = &book_iter;
    d.item_annotation = kTradeTypes;
    return d;
}();

// --- RiskReport ---

PyObject* labels_get(PyObject* self) {
    const auto& l = value_of<RiskReport>(self).labels;
    return tuple_of(l.size(), [&](std::size_t i) { return to_py(std::string_view(l[i])); });
}
PyObject* report_names_get_of(const RiskReport& r) {
    return tuple_of(r.names.size(), [&](std::size_t i) { return to_py(std::string_view(r.names[i])); });
}
PyObject* report_names_get(PyObject* self) { return report_names_get_of(value_of<RiskReport>(self)); }
PyObject* total_get(PyObject* self) {
    const RiskReport& r = value_of<RiskReport>(self);
    return by_name(r.labels, r.total);
}
PyObject* by_trade_get(PyObject* self) {
    const RiskReport& r = value_of<RiskReport>(self);
    const std::size_t m = r.labels.size();
    Ref d(PyDict_New());
    if (!d) return nullptr;
    for (std::size_t i = 0; i < r.names.size(); ++i) {
        Ref row(tuple_of(m, [&](std::size_t j) { return to_py(r.by_trade[i * m + j]); }));
        if (!row || PyDict_SetItemString(d.get(), r.names[i].c_str(), row.get()) != 0) return nullptr;
    }
    return d.release();
}

// Per option trade: its Greeks as a dict.
PyObject* greeks_get(PyObject* self) {
    const RiskReport& r = value_of<RiskReport>(self);
    Ref d(PyDict_New());
    if (!d) return nullptr;
    for (std::size_t i = 0; i < r.names.size(); ++i) {
        if (i >= r.greeks.size() || !r.greeks[i]) continue;
        const auto& g = *r.greeks[i];
        Ref row(Py_BuildValue("{sdsdsdsd}", "delta", g.delta, "gamma", g.gamma, "vega", g.vega, "theta", g.theta));
        if (!row || PyDict_SetItemString(d.get(), r.names[i].c_str(), row.get()) != 0) return nullptr;
    }
    return d.release();
}

// A label's curve and point: the label is "<curve> <point>", the curve's name known.
PyObject* column_key(const std::string& label, const std::string& curve) {
    // An FX spot's label is the pair alone, under "fx".
    const std::string point = label.size() > curve.size() + 1 && label.starts_with(curve + " ")
                                  ? label.substr(curve.size() + 1)
                                  : label;
    Ref c(to_py(std::string_view(curve)));
    Ref p(to_py(std::string_view(point)));
    return c && p ? PyTuple_Pack(2, c.get(), p.get()) : nullptr;
}

PyObject* report_to_pandas(const RiskReport& r) {
    Ref pandas(PyImport_ImportModule("pandas"));
    if (!pandas) return nullptr;
    Ref numpy(PyImport_ImportModule("numpy"));
    if (!numpy) return nullptr;
    const std::size_t n = r.names.size(), m = r.labels.size();
    Ref keys(tuple_of(m, [&](std::size_t j) { return column_key(r.labels[j], r.curves[j]); }));
    Ref multi(PyObject_GetAttrString(pandas.get(), "MultiIndex"));
    Ref from_tuples(multi ? PyObject_GetAttrString(multi.get(), "from_tuples") : nullptr);
    Ref tuples_args(keys ? PyTuple_Pack(1, keys.get()) : nullptr);
    Ref level_names(Py_BuildValue("{s[ss]}", "names", "curve", "point"));
    Ref columns(from_tuples && tuples_args && level_names
                    ? PyObject_Call(from_tuples.get(), tuples_args.get(), level_names.get())
                    : nullptr);
    if (!columns) return nullptr;
    Ref bytes(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(r.by_trade.data()),
                                        static_cast<Py_ssize_t>(r.by_trade.size() * sizeof(double))));
    Ref flat(bytes ? PyObject_CallMethod(numpy.get(), "frombuffer", "(Os)", bytes.get(), "float64") : nullptr);
    Ref shaped(flat ? PyObject_CallMethod(flat.get(), "reshape", "(nn)", static_cast<Py_ssize_t>(n),
                                          static_cast<Py_ssize_t>(m))
                    : nullptr);
    Ref data(shaped ? PyObject_CallMethod(shaped.get(), "copy", nullptr) : nullptr);
    Ref index(report_names_get_of(r));
    if (!data || !index) return nullptr;
    Ref frame_type(PyObject_GetAttrString(pandas.get(), "DataFrame"));
    if (!frame_type) return nullptr;
    Ref args(PyTuple_Pack(1, data.get()));
    Ref kwargs(Py_BuildValue("{sOsO}", "index", index.get(), "columns", columns.get()));
    if (!args || !kwargs) return nullptr;
    return PyObject_Call(frame_type.get(), args.get(), kwargs.get());
}

PyObject* report_repr(PyObject* self) {
    const RiskReport& r = value_of<RiskReport>(self);
    return to_py("<RiskReport of " + std::to_string(r.names.size()) + " trades to " + std::to_string(r.labels.size()) +
                 " quotes>");
}
bool report_equal(PyObject* a, PyObject* b) { return value_of<RiskReport>(a) == value_of<RiskReport>(b); }

// Pickling: the report's fields, the Greeks flattened five to a trade (present, delta,
// gamma, vega, theta), rebuilt by the private RiskReport._from_state after a check of
// their shapes. Floats travel as Python floats, so the rebuilt report has the same bits.
Result<RiskReport> report_from_state(const std::vector<std::string>& labels, const std::vector<std::string>& groups,
                                     const std::vector<std::string>& names, const FloatSeq& by_trade,
                                     const FloatSeq& greeks) {
    const std::size_t n = names.size(), m = labels.size();
    if (groups.size() != m || by_trade.size() != n * m || greeks.size() != 5 * n)
        return bad_argument("a risk report's state does not fit together: " + std::to_string(n) + " trades, " +
                            std::to_string(m) + " labels, " + std::to_string(groups.size()) + " groups, " +
                            std::to_string(by_trade.size()) + " values, " + std::to_string(greeks.size()) +
                            " Greek fields");
    RiskReport r;
    r.labels = labels;
    r.curves = groups;
    r.names = names;
    r.by_trade = by_trade.to_vector();
    r.total.assign(m, 0.0);
    for (std::size_t i = 0; i < n; ++i)  // added in book order, as the book adds them
        for (std::size_t j = 0; j < m; ++j) r.total[j] += r.by_trade[i * m + j];
    const auto g = greeks.view();
    r.greeks.assign(n, std::nullopt);
    for (std::size_t i = 0; i < n; ++i)
        if (g[5 * i] != 0.0) r.greeks[i] = book::TradeGreeks{g[5 * i + 1], g[5 * i + 2], g[5 * i + 3], g[5 * i + 4]};
    return r;
}

PyObject* strings_py(const std::vector<std::string>& v) {
    return tuple_of(v.size(), [&](std::size_t i) { return to_py(std::string_view(v[i])); });
}

PyObject* report_reduce(const RiskReport& r) {
    std::vector<double> g(5 * r.names.size(), 0.0);
    for (std::size_t i = 0; i < r.names.size() && i < r.greeks.size(); ++i)
        if (const auto& x = r.greeks[i]) {
            g[5 * i] = 1.0;
            g[5 * i + 1] = x->delta;
            g[5 * i + 2] = x->gamma;
            g[5 * i + 3] = x->vega;
            g[5 * i + 4] = x->theta;
        }
    Ref from_state(PyObject_GetAttrString(reinterpret_cast<PyObject*>(risk_report_type()), "_from_state"));
    Ref labels(strings_py(r.labels)), groups(strings_py(r.curves)), names(strings_py(r.names));
    Ref values(tuple_of(r.by_trade.size(), [&](std::size_t i) { return to_py(r.by_trade[i]); }));
    Ref greeks(tuple_of(g.size(), [&](std::size_t i) { return to_py(g[i]); }));
    if (!from_state || !labels || !groups || !names || !values || !greeks) return nullptr;
    Ref args(PyTuple_Pack(5, labels.get(), groups.get(), names.get(), values.get(), greeks.get()));
    return args ? PyTuple_Pack(2, from_state.get(), args.get()) : nullptr;
}

constexpr FunctionDef def_to_pandas = method<report_to_pandas>(
    "to_pandas", {},
    "The report as a pandas DataFrame (pandas imported here): a row per trade (by name), a\n"
    "column per quote under a (curve, point) MultiIndex (\"usd-sofr 5Y\" → (\"usd-sofr\", \"5Y\")).")
    .returning("Any");

constexpr FunctionDef def_report_from_state = typed<&report_from_state>(
    "_from_state", {"labels", "groups", "names", "by_trade", "greeks"},
    "Rebuild a report from its pickled state (`__reduce__`).");
constexpr FunctionDef def_report_reduce = method<report_reduce>(
    "__reduce__", {}, "Pickle support: rebuild from the labels, names, rows and Greeks.")
    .returning("Tuple[Any, ...]");

constexpr Callable kReportMethods[] = {callable<def_to_pandas>, callable<def_report_from_state>,
                                       callable<def_report_reduce>};

const GetterDef kReportGetters[] = {
    {"labels", "The quotes' labels, as Market.quote_labels gives them.", &labels_get, "Tuple[str, ...]"},
    {"names", "The trades' names, in book order.", &report_names_get, "Tuple[str, ...]"},
    {"total", "Per quote label: the book's change in value per basis point, the trades added in\nbook order.",
     &total_get, "dict[str, float]"},
    {"by_trade", "Per trade name: its row, a change in value per basis point for each label in order.",
     &by_trade_get, "dict[str, Tuple[float, ...]]"},
    {"greeks",
     "Per option trade name: its \"delta\" and \"gamma\" in the underlying's spot (its forward\n"
     "when the surface has none), \"vega\" per volatility point and \"theta\" per year, times\n"
     "its notional.",
     &greeks_get, "dict[str, dict[str, float]]"},
};

const ClassDef kReportClass = {
    "RiskReport",
    "A book's risk to the market's quotes (`Book.risk`): by trade and in total, per basis\n"
    "point of each curve quote (the columns the market's quote labels), per unit of each FX\n"
    "spot (columns the pairs), per volatility point of each surface slice (columns\n"
    "\"<surface> vol <t>y\"), and the option trades' Greeks. Immutable and picklable.",
    kReportMethods, std::size(kReportMethods), kReportGetters, std::size(kReportGetters), &report_repr,
    &report_equal, nullptr, nullptr,
};

}  // namespace

PyTypeObject* book_type() {
    static PyTypeObject* type = create_class(kBookClass);
    return type;
}
PyTypeObject* risk_report_type() {
    static PyTypeObject* type = create_class(kReportClass);
    return type;
}

QUELM_PUBLIC_CLASS(book_type);
QUELM_PUBLIC_CLASS(risk_report_type);

}  // namespace quelm::py
