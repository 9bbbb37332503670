// Python classes Deposit, Fra, Future, Ois, Swap and BondQuote: the quotes a curve is
// bootstrapped from, priced on curves.
#include "bindings/curves/instruments.hpp"

#include "bindings/dates/calendar.hpp"
#include "bindings/dates/date_or_tenor.hpp"
#include "frame/classes.hpp"
#include "frame/registry.hpp"
#include "frame/result.hpp"
#include "bindings/string_options.hpp"
#include "quelm/curves/pricing.hpp"
#include "quelm/core/text.hpp"
#include "quelm/dates/serial.hpp"

#include <cstring>
#include <string>

namespace quelm::py {

constexpr Section kSection = Section::FixedIncome;
constexpr std::string_view kGuide = "curves";  // the guide page of its names

// --- arguments shared with the curve bindings ---

bool instrument_of(PyObject* o, curves::Instrument& out) {
    PyTypeObject* t = Py_TYPE(o);
    if (t == deposit_type()) {
        out = value_of<curves::Deposit>(o);
    } else if (t == fra_type()) {
        out = value_of<curves::Fra>(o);
    } else if (t == future_type()) {
        out = value_of<curves::Future>(o);
    } else if (t == ois_type()) {
        out = value_of<curves::Ois>(o);
    } else if (t == swap_type()) {
        out = value_of<curves::Swap>(o);
    } else if (t == bond_quote_type()) {
        out = value_of<curves::BondQuote>(o);
    } else {
        return false;
    }
    return true;
}

PyObject* wrap_instrument(const curves::Instrument& i) {
    return std::visit([](const auto& x) { return wrap(ClassOf<std::decay_t<decltype(x)>>::type(), x); }, i);
}

bool from_py(PyObject* o, TimeArg& out) {
    const char* name = Py_TYPE(o)->tp_name;
    const bool number = PyFloat_Check(o) || PyLong_Check(o) ||
                        (!PyUnicode_Check(o) && std::strcmp(name, "numpy.datetime64") != 0 && PyNumber_Check(o));
    if (number) {
        out.is_date = false;
        return from_py(o, out.t);
    }
    out.is_date = true;
    if (from_py(o, out.date)) return true;
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "expected a time in years or a date, got %s", name);
    }
    return false;
}

bool from_py(PyObject* o, CurveRef& out) {
    if (Py_TYPE(o) != yield_curve_type()) {
        PyErr_Format(PyExc_TypeError, "expected quelm.YieldCurve, got %s", Py_TYPE(o)->tp_name);
        return false;
    }
    out.curve = &value_of<curves::YieldCurve>(o);
    return true;
}

namespace {

template <class Item, class Each>
bool items_of(PyObject* o, std::vector<Item>& out, const char* expected, Each each) {
    if (PyUnicode_Check(o) || !PySequence_Check(o)) {
        PyErr_Format(PyExc_TypeError, "expected a sequence of %s, got %s", expected, Py_TYPE(o)->tp_name);
        return false;
    }
    Ref seq(PySequence_Fast(o, "expected a sequence"));
    if (!seq) return false;
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    out.clear();
    out.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(seq.get(), i);
        if (!each(item)) {
            PyErr_Format(PyExc_TypeError, "item %zd: expected %s, got %s", i, expected, Py_TYPE(item)->tp_name);
            return false;
        }
    }
    return true;
}

}  // namespace

bool from_py(PyObject* o, InstrumentList& out) {
    return items_of(o, out.items, "an instrument (Deposit, Fra, Future, Ois, Swap or BondQuote)", [&](PyObject* item) {
        curves::Instrument i;
        if (!instrument_of(item, i)) return false;
        out.items.push_back(std::move(i));
        return true;
    });
}

bool from_py(PyObject* o, BookArg& out) {
    const auto one = [&](PyObject* item) {
        curves::Instrument i;
        if (instrument_of(item, i)) {
            out.items.emplace_back(std::move(i));
            return true;
        }
        if (Py_TYPE(item) == dated_bond_type()) {
            out.items.emplace_back(value_of<bonds::DatedBond>(item));
            return true;
        }
        return false;
    };
    out.items.clear();
    if (one(o)) return true;
    return items_of(o, out.items, "an instrument or a DatedBond", one);
}

bool from_py(PyObject* o, EffectiveArg& out) { return date_or_tenor(o, out.value, "effective", "forward tenor", "1Y"); }

namespace {

using curves::BondQuote;
using curves::Deposit;
using curves::Fra;
using curves::Future;
using curves::Ois;
using curves::RateTerms;
using curves::Swap;

// --- constructors ---

Result<dates::Tenor> tenor_of(std::string_view text) { return dates::parse_tenor(text); }

// A tenor a trade's date may stand for (None).
Result<std::optional<dates::Tenor>> tenor_of(const std::optional<std::string_view>& text) {
    if (!text) return std::optional<dates::Tenor>{};
    QUELM_TRY(t, dates::parse_tenor(*text));
    return std::optional<dates::Tenor>{t};
}

Result<curves::Trade> trade_from(double notional, const std::optional<EffectiveArg>& effective,
                                 const std::optional<Date>& maturity, const std::optional<std::string_view>& curve,
                                 const std::optional<std::string_view>& discount_curve) {
    curves::Trade t;
    // An empty name would read as none given: refuse it rather than pick a curve silently.
    if ((curve && curve->empty()) || (discount_curve && discount_curve->empty()))
        return bad_argument("curve names must not be empty");
    if (curve) t.curve = *curve;
    if (discount_curve) t.discount_curve = *discount_curve;
    t.notional = notional;
    if (effective) std::visit([&t](auto v) { t.effective = v; }, effective->value);
    if (maturity) t.maturity = maturity->serial;
    return t;
}

Result<std::uint32_t> days_of(const char* kind, std::uint64_t days) {
    if (days > 366) return invalid(std::string(kind) + ": settlement_days must be at most 366");
    return static_cast<std::uint32_t>(days);
}

Result<std::uint32_t> frequency_of(const char* kind, const char* what, std::uint64_t f) {
    if (f > 12) return invalid(std::string(kind) + ": " + what + " must be 1, 2, 3, 4, 6 or 12, got " + std::to_string(f));
    return static_cast<std::uint32_t>(f);
}

Result<RateTerms> terms_of(const char* kind, std::string_view day_count, const CalendarArg& calendar,
                           std::uint64_t settlement_days, dates::Convention convention) {
    RateTerms t;
    QUELM_TRY(dc, dates::parse_day_count(day_count));
    QUELM_TRY(days, days_of(kind, settlement_days));
    t.day_count = dc;
    t.calendar = calendar.calendar;
    t.settlement_days = days;
    t.convention = convention;
    return t;
}

// A checked instrument with a memo of its own: the object and every copy the curves take
// of it lay it out once per trade date.
template <class T>
Result<T> checked(T value) {
    QUELM_CHECK(curves::check(value));
    value.memo = curves::LayoutMemo::fresh();
    return value;
}

Result<Deposit> deposit_new(const std::optional<std::string_view>& tenor, double rate, std::string_view day_count,
                            const CalendarArg& calendar, std::uint64_t settlement_days, dates::Convention convention,
                            double notional, const std::optional<EffectiveArg>& effective,
                            const std::optional<Date>& maturity,
                    const std::optional<std::string_view>& curve,
                    const std::optional<std::string_view>& discount_curve) {
    QUELM_TRY(t, tenor_of(tenor));
    QUELM_TRY(terms, terms_of("deposit", day_count, calendar, settlement_days, convention));
    QUELM_TRY(trade, trade_from(notional, effective, maturity, curve, discount_curve));
    return checked(Deposit{t, rate, std::move(terms), std::move(trade), {}});
}

Result<Fra> fra_new(const std::optional<std::string_view>& start_tenor, const std::optional<std::string_view>& end_tenor,
                    double rate, std::string_view day_count, const CalendarArg& calendar, std::uint64_t settlement_days,
                    dates::Convention convention, double notional, const std::optional<EffectiveArg>& effective,
                    const std::optional<Date>& maturity,
                    const std::optional<std::string_view>& curve,
                    const std::optional<std::string_view>& discount_curve) {
    QUELM_TRY(a, tenor_of(start_tenor));
    QUELM_TRY(b, tenor_of(end_tenor));
    QUELM_TRY(terms, terms_of("fra", day_count, calendar, settlement_days, convention));
    QUELM_TRY(trade, trade_from(notional, effective, maturity, curve, discount_curve));
    // A forward start is the start tenor, so that the two spellings are one FRA.
    if (const auto* f = std::get_if<dates::Tenor>(&trade.effective)) {
        if (a) return invalid("fra: give start_tenor or effective, not both");
        a = *f;
        trade.effective = std::monostate{};
    }
    return checked(Fra{a, b, rate, std::move(terms), std::move(trade), {}});
}

// The conventions of an index (or the plain ones), each overridden by a keyword given.
struct Preset {
    curves::IndexConventions c;
    explicit Preset(const std::optional<curves::OvernightIndex>& index)
        : c(index ? curves::conventions_of(*index) : curves::plain_conventions()) {}
    Status day_count(const std::optional<std::string_view>& text) {
        if (!text) return {};
        QUELM_TRY(dc, dates::parse_day_count(*text));
        c.day_count = dc;
        return {};
    }
    void calendar(const std::optional<CalendarArg>& cal) {
        if (cal) c.calendar = cal->calendar;
    }
    Status days(const char* kind, const char* what, const std::optional<std::uint64_t>& v, std::uint32_t& out) {
        if (!v) return {};
        if (*v > 366) return invalid(std::string(kind) + ": " + what + " must be at most 366");
        out = static_cast<std::uint32_t>(*v);
        return {};
    }
};

Result<Future> future_new(Date start, double price, double convexity, std::string_view tenor,
                          const std::optional<std::string_view>& day_count, const std::optional<CalendarArg>& calendar,
                          dates::Convention convention, std::optional<curves::OvernightIndex> index, double notional,
                          const std::optional<EffectiveArg>& effective, const std::optional<Date>& maturity,
                          const std::optional<std::string_view>& curve,
                          const std::optional<std::string_view>& discount_curve) {
    QUELM_TRY(t, tenor_of(tenor));
    Preset p(index);
    QUELM_CHECK(p.day_count(day_count));
    p.calendar(calendar);
    QUELM_TRY(trade, trade_from(notional, effective, maturity, curve, discount_curve));
    return checked(Future{start.serial, price, convexity, t, p.c.day_count, p.c.calendar, convention, index,
                          std::move(trade), {}});
}

Result<Ois> ois_new(const std::optional<std::string_view>& tenor, double rate,
                    const std::optional<std::string_view>& day_count, const std::optional<CalendarArg>& calendar,
                    std::uint64_t payment_frequency, const std::optional<std::uint64_t>& settlement_days,
                    dates::Convention convention, const std::optional<std::uint64_t>& payment_lag,
                    std::optional<curves::OvernightIndex> index, double notional,
                    const std::optional<EffectiveArg>& effective, const std::optional<Date>& maturity,
                    const std::optional<std::string_view>& curve,
                    const std::optional<std::string_view>& discount_curve) {
    QUELM_TRY(t, tenor_of(tenor));
    Preset p(index);
    QUELM_CHECK(p.day_count(day_count));
    p.calendar(calendar);
    QUELM_CHECK(p.days("ois", "settlement_days", settlement_days, p.c.settlement_days));
    QUELM_CHECK(p.days("ois", "payment_lag", payment_lag, p.c.payment_lag));
    QUELM_TRY(f, frequency_of("ois", "payment_frequency", payment_frequency));
    const RateTerms terms{p.c.day_count, p.c.calendar, p.c.settlement_days, convention};
    QUELM_TRY(trade, trade_from(notional, effective, maturity, curve, discount_curve));
    return checked(Ois{t, rate, terms, f, p.c.payment_lag, index, std::move(trade), {}});
}

Result<Swap> swap_new(const std::optional<std::string_view>& tenor, double rate, std::uint64_t fixed_frequency,
                      std::string_view fixed_day_count, std::string_view float_tenor, std::string_view float_day_count,
                      const CalendarArg& calendar, std::uint64_t settlement_days, dates::Convention convention,
                      double notional, const std::optional<EffectiveArg>& effective,
                      const std::optional<Date>& maturity,
                    const std::optional<std::string_view>& curve,
                    const std::optional<std::string_view>& discount_curve) {
    Swap s;
    QUELM_TRY(t, tenor_of(tenor));
    QUELM_TRY(f, frequency_of("swap", "fixed_frequency", fixed_frequency));
    QUELM_TRY(fdc, dates::parse_day_count(fixed_day_count));
    QUELM_TRY(ft, tenor_of(float_tenor));
    QUELM_TRY(ldc, dates::parse_day_count(float_day_count));
    QUELM_TRY(days, days_of("swap", settlement_days));
    s.tenor = t;
    s.rate = rate;
    s.fixed_frequency = f;
    s.terms = {fdc, calendar.calendar, days, convention};
    s.float_tenor = ft;
    s.float_day_count = ldc;
    QUELM_TRY(trade, trade_from(notional, effective, maturity, curve, discount_curve));
    s.trade = std::move(trade);
    return checked(std::move(s));
}

Result<BondQuote> bond_quote_new(const bonds::DatedBond& bond, double clean_price, double notional,
                                 const std::optional<EffectiveArg>& effective, const std::optional<Date>& maturity,
                    const std::optional<std::string_view>& curve,
                    const std::optional<std::string_view>& discount_curve) {
    QUELM_TRY(trade, trade_from(notional, effective, maturity, curve, discount_curve));
    return checked(BondQuote{bond, clean_price, std::move(trade), {}});
}

// --- pricing ---

template <class T, curves::Measure M>
Result<double> measure_of(const T& x, const curves::YieldCurve& curve, const std::optional<CurveRef>& discount_curve) {
    return curves::measure(curves::Instrument{x}, curve, discount_curve ? discount_curve->curve : nullptr, M);
}

template <class T>
constexpr FunctionDef def_par_rate = typed_method<&measure_of<T, curves::Measure::ParRate>>(
    "par_rate", {"curve", "*", {"discount_curve", "None"}},
    "The rate that prices the instrument at par on `curve` at its reference date (the trade\n"
    "date): forwards from `curve`, payments discounted on `discount_curve` (by default the\n"
    "curve `curve` was bootstrapped on, else `curve`). A future's rate is the forward plus its\n"
    "convexity adjustment; a BondQuote's is the bond's yield at its price on the curve.");
template <class T>
constexpr FunctionDef def_implied_quote = typed_method<&measure_of<T, curves::Measure::ImpliedQuote>>(
    "implied_quote", {"curve", "*", {"discount_curve", "None"}},
    "The quote as the market gives it, implied by the curve(s): a rate, a future's price\n"
    "(100 × (1 - rate)), a bond's clean price. On the curve bootstrapped from it, the quote.");
template <class T>
constexpr FunctionDef def_npv = typed_method<&measure_of<T, curves::Measure::Value>>(
    "npv", {"curve", "*", {"discount_curve", "None"}},
    "The value at the reference date of the position long the quote, per unit notional:\n"
    "receiving the quoted rate (a lender, a FRA sold at the quote, as a FRA's buyer pays the\n"
    "fixed rate, a future bought at the quote, a receiver swap), or a bond bought at the\n"
    "quoted clean price (per its face). Zero on the curve bootstrapped from it. A trade's\n"
    "`notional` multiplies it.");

// --- the values of the attributes ---

template <class T>
const T& self_of(PyObject* self) {
    return value_of<T>(self);
}

PyObject* convention_text(dates::Convention c) {
    return to_py(dates::kConventions.aliases[static_cast<std::size_t>(c)].name);
}
PyObject* index_py(const std::optional<curves::OvernightIndex>& i) {
    if (!i) Py_RETURN_NONE;
    return to_py(std::string_view(curves::overnight_index_name(*i)));
}
PyObject* tenor_py(dates::Tenor t) { return to_py(curves::tenor_text(t)); }
PyObject* day_count_py(const dates::DayCount& dc) { return to_py(dates::day_count_name(dc)); }
PyObject* count_py(std::uint32_t v) { return to_py(static_cast<std::uint64_t>(v)); }
PyObject* dated_bond_py(const bonds::DatedBond& b) { return wrap(dated_bond_type(), b); }
PyObject* optional_tenor_py(const std::optional<dates::Tenor>& t) {
    if (!t) Py_RETURN_NONE;
    return tenor_py(*t);
}
PyObject* effective_py(const std::variant<std::monostate, dates::Serial, dates::Tenor>& e) {
    if (const auto* d = std::get_if<dates::Serial>(&e)) return to_py_date(*d);
    if (const auto* f = std::get_if<dates::Tenor>(&e)) return tenor_py(*f);
    Py_RETURN_NONE;
}
PyObject* maturity_py(const std::optional<dates::Serial>& d) {
    if (!d) Py_RETURN_NONE;
    return to_py_date(*d);
}
PyObject* name_py(const std::string& name) {
    if (name.empty()) Py_RETURN_NONE;
    return to_py(std::string_view(name));
}

template <class T>
double quote_of(const T& x) {
    return curves::quoted(curves::Instrument{x});
}
double future_rate_of(const Future& f) { return curves::matched_quote(f); }

// An attribute of the rate terms an instrument holds.
template <class T, auto M>
inline constexpr auto term = path<&T::terms, M>;
// ... and of its trade terms.
template <class T, auto M>
inline constexpr auto trade_term = path<&T::trade, M>;

// --- repr, equality, hash, pickling ---

template <class T>
PyObject* instrument_repr(PyObject* self) {
    return to_py(curves::describe(curves::Instrument{self_of<T>(self)}));
}
template <class T>
bool instrument_equal(PyObject* a, PyObject* b) {
    return self_of<T>(a) == self_of<T>(b);
}
template <class T>
Py_hash_t instrument_hash(PyObject* self) {
    const auto h = static_cast<Py_hash_t>(curves::hash_of(curves::Instrument{self_of<T>(self)}) >> 1);
    return h == -1 ? -2 : h;
}

// (functools.partial(cls, **keywords), positional): the constructor again.
PyObject* rebuild(PyTypeObject* type, PyObject* positional, PyObject* keywords) {
    Ref args(positional), kwargs(keywords);
    if (!args || !kwargs) return nullptr;
    Ref functools(PyImport_ImportModule("functools"));
    if (!functools) return nullptr;
    Ref partial(PyObject_GetAttrString(functools.get(), "partial"));
    if (!partial) return nullptr;
    Ref head(PyTuple_Pack(1, reinterpret_cast<PyObject*>(type)));
    if (!head) return nullptr;
    Ref fn(PyObject_Call(partial.get(), head.get(), kwargs.get()));
    if (!fn) return nullptr;
    return PyTuple_Pack(2, fn.get(), args.get());
}

// A dict from (key, new reference) pairs; nullptr when a value is.
PyObject* keywords(std::initializer_list<std::pair<const char*, PyObject*>> items) {
    Ref d(PyDict_New());
    bool ok = static_cast<bool>(d);
    for (const auto& [key, value] : items) {
        Ref v(value);
        ok = ok && v && PyDict_SetItemString(d.get(), key, v.get()) == 0;
    }
    return ok ? d.release() : nullptr;
}

// A constructor's keywords with the trade's added: the notional, and the dates where the
// instrument has them of its own.
PyObject* with_trade(PyObject* kwargs, const curves::Trade& t, bool dated) {
    Ref d(kwargs);
    if (!d) return nullptr;
    const auto put = [&d](const char* key, PyObject* value) {
        Ref v(value);
        return v && PyDict_SetItemString(d.get(), key, v.get()) == 0;
    };
    if (!put("notional", to_py(t.notional))) return nullptr;
    if (dated && (!put("effective", effective_py(t.effective)) || !put("maturity", maturity_py(t.maturity))))
        return nullptr;
    if (!t.curve.empty() && !put("curve", to_py(std::string_view(t.curve)))) return nullptr;
    if (!t.discount_curve.empty() && !put("discount_curve", to_py(std::string_view(t.discount_curve)))) return nullptr;
    return d.release();
}

PyObject* terms_keywords(const RateTerms& t) {
    return keywords({{"day_count", day_count_py(t.day_count)},
                     {"calendar", wrap_calendar(t.calendar)},
                     {"settlement_days", count_py(t.settlement_days)},
                     {"convention", convention_text(t.convention)}});
}

PyObject* deposit_reduce(const Deposit& d) {
    return rebuild(deposit_type(), Py_BuildValue("(Nd)", optional_tenor_py(d.tenor), d.rate),
                   with_trade(terms_keywords(d.terms), d.trade, true));
}
PyObject* fra_reduce(const Fra& f) {
    return rebuild(fra_type(), Py_BuildValue("(NNd)", optional_tenor_py(f.start), optional_tenor_py(f.end), f.rate),
                   with_trade(terms_keywords(f.terms), f.trade, true));
}
PyObject* future_reduce(const Future& f) {
    return rebuild(future_type(), Py_BuildValue("(Nd)", to_py_date(f.start), f.price),
                   with_trade(keywords({{"convexity", to_py(f.convexity)},
                             {"tenor", tenor_py(f.tenor)},
                             {"day_count", day_count_py(f.day_count)},
                             {"calendar", wrap_calendar(f.calendar)},
                             {"convention", convention_text(f.convention)},
                             {"index", index_py(f.index)}}),
                              f.trade, false));
}
PyObject* ois_reduce(const Ois& o) {
    return rebuild(ois_type(), Py_BuildValue("(Nd)", optional_tenor_py(o.tenor), o.rate),
                   with_trade(keywords({{"day_count", day_count_py(o.terms.day_count)},
                             {"calendar", wrap_calendar(o.terms.calendar)},
                             {"payment_frequency", count_py(o.payment_frequency)},
                             {"settlement_days", count_py(o.terms.settlement_days)},
                             {"convention", convention_text(o.terms.convention)},
                             {"payment_lag", count_py(o.payment_lag)},
                             {"index", index_py(o.index)}}),
                              o.trade, true));
}
PyObject* swap_reduce(const Swap& s) {
    return rebuild(swap_type(), Py_BuildValue("(Nd)", optional_tenor_py(s.tenor), s.rate),
                   with_trade(keywords({{"fixed_frequency", count_py(s.fixed_frequency)},
                             {"fixed_day_count", day_count_py(s.terms.day_count)},
                             {"float_tenor", tenor_py(s.float_tenor)},
                             {"float_day_count", day_count_py(s.float_day_count)},
                             {"calendar", wrap_calendar(s.terms.calendar)},
                             {"settlement_days", count_py(s.terms.settlement_days)},
                             {"convention", convention_text(s.terms.convention)}}),
                              s.trade, true));
}
PyObject* bond_quote_reduce(const BondQuote& b) {
    Ref bond(wrap(dated_bond_type(), b.bond));
    if (!bond) return nullptr;
    return rebuild(bond_quote_type(), Py_BuildValue("(Od)", bond.get(), b.clean_price),
                   with_trade(PyDict_New(), b.trade, false));
}

constexpr const char* kReduceDoc = "Pickle support: rebuild through the constructor.";
constexpr FunctionDef def_deposit_reduce = method<deposit_reduce>("__reduce__", {}, kReduceDoc).returning("Tuple[Any, ...]");
constexpr FunctionDef def_fra_reduce = method<fra_reduce>("__reduce__", {}, kReduceDoc).returning("Tuple[Any, ...]");
constexpr FunctionDef def_future_reduce = method<future_reduce>("__reduce__", {}, kReduceDoc).returning("Tuple[Any, ...]");
constexpr FunctionDef def_ois_reduce = method<ois_reduce>("__reduce__", {}, kReduceDoc).returning("Tuple[Any, ...]");
constexpr FunctionDef def_swap_reduce = method<swap_reduce>("__reduce__", {}, kReduceDoc).returning("Tuple[Any, ...]");
constexpr FunctionDef def_bond_quote_reduce =
    method<bond_quote_reduce>("__reduce__", {}, kReduceDoc).returning("Tuple[Any, ...]");

// --- the classes ---

#define QUELM_TRADE_PARAMS \
    {"notional", "1.0"}, {"effective", "None"}, {"maturity", "None"}, {"curve", "None"}, {"discount_curve", "None"}

// How the trade keywords read, on the instruments with dates of their own ...
#define QUELM_TRADE_DOC                                                                                      \
    "\n\nAs a trade: `notional` (signed: a negative one takes the other side) multiplies `npv`\n"             \
    "and the rows of `YieldCurve.risk`. `effective`: the start, a date (rolled by `convention`)\n"          \
    "or a forward tenor (\"1Y\": that long after spot); None, spot. `maturity`: the end date, with\n"      \
    "the tenor None; else the end is the tenor after the start. A start before the curve's\n"              \
    "reference date is refused (a seasoned trade needs its fixings)."                                    \
    "\n`curve` and `discount_curve`: the market curves a `Book` prices it on, by name (None:\n"        \
    "the Book's default for its kind)."
// ... and on those whose dates are the contract's.
#define QUELM_NOTIONAL_DOC(WHAT)                                                                             \
    "\n\nAs a trade: `notional` (signed: a negative one takes the other side) multiplies `npv`\n"             \
    "and the rows of `YieldCurve.risk`. Its dates are " WHAT ": `effective` and `maturity`\n"              \
    "are refused."                                                                                         \
    "\n`curve` and `discount_curve`: the market curves a `Book` prices it on, by name (None:\n"        \
    "the Book's default for its kind)."

#define QUELM_RATE_TERMS_PARAMS                                                                                \
    {"day_count", "\"act/360\""}, {"calendar", "\"target\""}, {"settlement_days", "2"},                      \
    {                                                                                                          \
        "convention", "\"modified-following\""                                                                \
    }

constexpr FunctionDef def_deposit_new = typed<&deposit_new>(
    "Deposit", {"tenor", "rate", "*", QUELM_RATE_TERMS_PARAMS, QUELM_TRADE_PARAMS},
    "A deposit quote: `rate` (simple, on `day_count`) from the spot date (`settlement_days`\n"
    "business days after the trade date) to spot + `tenor` (\"1D\", \"1W\", \"3M\", \"1Y\"),\n"
    "rolled by `convention` on `calendar`." QUELM_TRADE_DOC);
constexpr FunctionDef def_fra_new = typed<&fra_new>(
    "Fra", {"start_tenor", "end_tenor", "rate", "*", QUELM_RATE_TERMS_PARAMS, QUELM_TRADE_PARAMS},
    "A forward rate agreement quote: `rate` (simple, on `day_count`) from spot + `start_tenor`\n"
    "to spot + `end_tenor` (\"3M\", \"6M\" for a 3x6), `start_tenor` before `end_tenor`. Its\n"
    "buyer pays `rate` and receives the fixing.\n\n"
    "As a trade: `notional` (signed: a negative one takes the other side) multiplies `npv`\n"
    "and the rows of `YieldCurve.risk`. `effective` (a date, rolled by `convention`) stands for\n"
    "`start_tenor` and `maturity` (a date) for `end_tenor`, the tenor None; a forward tenor as\n"
    "`effective` is the start tenor. A start before the curve's reference date is refused (a\n"
    "seasoned trade needs its fixing).\n`curve` and `discount_curve`: the market curves a `Book`\n"
    "prices it on, by name (None: the Book's default for its kind).");
constexpr FunctionDef def_future_new = typed<&future_new>(
    "Future",
    {"start", "price", "*", {"convexity", "0.0"}, {"tenor", "\"3M\""}, {"day_count", "None"},
     {"calendar", "None"}, {"convention", "\"modified-following\""}, {"index", "None"}, QUELM_TRADE_PARAMS},
    "An interest-rate future quote: `price` per 100, in (0, 200), on the period from `start`\n"
    "(an IMM date, the third Wednesday of its month) for `tenor`. Its rate, 1 - price/100, is\n"
    "the forward rate over the period plus `convexity` (the convexity adjustment, a rate).\n"
    "`index` (\"sofr\", \"estr\", \"sonia\", \"tona\"): a future on that overnight rate, on the\n"
    "index's calendar and day count, over the exchange's reference period: \"3M\" from the\n"
    "IMM date `start` to the IMM date three months later, \"1M\" the calendar month `start`\n"
    "(its first day) begins. `day_count` and `calendar` given override the index's; without\n"
    "an index they are \"act/360\" and \"target\"." QUELM_NOTIONAL_DOC("the contract's, from `start`"));
constexpr FunctionDef def_ois_new = typed<&ois_new>(
    "Ois",
    {"tenor", "rate", "*", {"day_count", "None"}, {"calendar", "None"}, {"payment_frequency", "1"},
     {"settlement_days", "None"}, {"convention", "\"modified-following\""}, {"payment_lag", "None"},
     {"index", "None"}, QUELM_TRADE_PARAMS},
    "An overnight-index swap quote (€STR, SOFR, SONIA, TONA): the fixed `rate` (on\n"
    "`day_count`) against the overnight rate compounded over each period, from spot to\n"
    "spot + `tenor`, `payment_frequency` payments a year (one, at the end, up to a year), each\n"
    "paid `payment_lag` business days after its period ends. `index` (\"sofr\", \"estr\",\n"
    "\"sonia\", \"tona\") takes the calendar, day count, spot lag and payment lag the market\n"
    "quotes that index's swaps with; `day_count`, `calendar`, `settlement_days` and\n"
    "`payment_lag` given override them. Without an index: \"act/360\", \"target\", T+2, paid\n"
    "at each period's end." QUELM_TRADE_DOC);
constexpr FunctionDef def_swap_new = typed<&swap_new>(
    "Swap",
    {"tenor", "rate", "*", {"fixed_frequency", "1"}, {"fixed_day_count", "\"30/360\""}, {"float_tenor", "\"6M\""},
     {"float_day_count", "\"act/360\""}, {"calendar", "\"target\""}, {"settlement_days", "2"},
     {"convention", "\"modified-following\""}, QUELM_TRADE_PARAMS},
    "An interest-rate swap quote: the fixed `rate` paid `fixed_frequency` times a year on\n"
    "`fixed_day_count`, against the index of `float_tenor` (\"3M\", \"6M\") on\n"
    "`float_day_count`, from spot to spot + `tenor`; both schedules rolled back from the end." QUELM_TRADE_DOC);
constexpr FunctionDef def_bond_quote_new = typed<&bond_quote_new>(
    "BondQuote", {"bond", "clean_price", "*", QUELM_TRADE_PARAMS},
    "A bond quote: a DatedBond (`FixedRateBond.dated`) at `clean_price` (per its face),\n"
    "settling on the bond's own lag after the trade date." QUELM_NOTIONAL_DOC("the bond's"));

constexpr Callable kDepositNew = callable<def_deposit_new>;
constexpr Callable kFraNew = callable<def_fra_new>;
constexpr Callable kFutureNew = callable<def_future_new>;
constexpr Callable kOisNew = callable<def_ois_new>;
constexpr Callable kSwapNew = callable<def_swap_new>;
constexpr Callable kBondQuoteNew = callable<def_bond_quote_new>;

#define QUELM_PRICING_METHODS(T) callable<def_par_rate<T>>, callable<def_implied_quote<T>>, callable<def_npv<T>>

constexpr Callable kDepositMethods[] = {QUELM_PRICING_METHODS(Deposit), callable<def_deposit_reduce>};
constexpr Callable kFraMethods[] = {QUELM_PRICING_METHODS(Fra), callable<def_fra_reduce>};
constexpr Callable kFutureMethods[] = {QUELM_PRICING_METHODS(Future), callable<def_future_reduce>};
constexpr Callable kOisMethods[] = {QUELM_PRICING_METHODS(Ois), callable<def_ois_reduce>};
constexpr Callable kSwapMethods[] = {QUELM_PRICING_METHODS(Swap), callable<def_swap_reduce>};
constexpr Callable kBondQuoteMethods[] = {QUELM_PRICING_METHODS(BondQuote), callable<def_bond_quote_reduce>};

// The rate terms' attributes a swap shares with the money-market quotes (its day count, the
// fixed leg's, goes by a name of its own) ...
#define QUELM_SPOT_GETTERS(T)                                                                          \
    attribute<term<T, &RateTerms::calendar>, wrap_calendar>(                                           \
        "calendar", "The calendar of the spot date and the rolls.", "Calendar"),                       \
        attribute<term<T, &RateTerms::settlement_days>>(                                               \
            "settlement_days", "Business days from the trade date to spot.", "int"),                   \
        attribute<term<T, &RateTerms::convention>, convention_text>(                                   \
            "convention", "How dates roll onto business days.", "str")
// ... and all of a money-market quote's, the day count of its rate first.
#define QUELM_TERMS_GETTERS(T)                                                                         \
    attribute<term<T, &RateTerms::day_count>, day_count_py>("day_count", "The day count of the rate.", "str"), \
        QUELM_SPOT_GETTERS(T)
// The trade's size and the curves a Book prices it on ...
#define QUELM_TRADE_SIZE_GETTERS(T)                                                                         \
    attribute<trade_term<T, &curves::Trade::notional>>("notional", "The signed size of the trade.", "float"),  \
        attribute<trade_term<T, &curves::Trade::curve>, name_py>(                                            \
            "curve", "The market curve a Book prices it on, by name, or None (the Book's default).",          \
            "str | None"),                                                                                    \
        attribute<trade_term<T, &curves::Trade::discount_curve>, name_py>(                                   \
            "discount_curve", "The market curve a Book discounts it on, by name, or None (the default).",     \
            "str | None")
// The trade's terms: its notional and, where the instrument is dated by them, its start
// and end dates ...
#define QUELM_TRADE_GETTERS(T)                                                                              \
    QUELM_TRADE_SIZE_GETTERS(T),                                                                        \
        attribute<trade_term<T, &curves::Trade::effective>, effective_py>(                                  \
            "effective", "The start: a date, a forward tenor after spot, or None (spot).",                   \
            "datetime.date | str | None"),                                                                   \
        attribute<trade_term<T, &curves::Trade::maturity>, maturity_py>(                                    \
            "maturity", "The end date in place of the tenor, or None.", "datetime.date | None")
// ... or, where the contract dates it, none: read back as None, as the constructor takes them.
#define QUELM_CONTRACT_TRADE_GETTERS(T, WHOSE)                                                               \
    QUELM_TRADE_SIZE_GETTERS(T),                                                                        \
        attribute<trade_term<T, &curves::Trade::effective>, effective_py>(                                  \
            "effective", "None: the start is " WHOSE ".", "None"),                                          \
        attribute<trade_term<T, &curves::Trade::maturity>, maturity_py>("maturity", "None: the end is " WHOSE ".", \
                                                                         "None")

const GetterDef kDepositGetters[] = {
    attribute<&Deposit::tenor, optional_tenor_py>("tenor", "From spot (or the start) to the end, or None.",
                                                  "str | None"),
    attribute<&Deposit::rate>("rate", "The quoted rate.", "float"),
    attribute<quote_of<Deposit>>("quote", "The quote as given: the rate.", "float"),
    QUELM_TERMS_GETTERS(Deposit),
    QUELM_TRADE_GETTERS(Deposit),
};
const GetterDef kFraGetters[] = {
    attribute<&Fra::start, optional_tenor_py>("start_tenor", "From spot to the start, or None.", "str | None"),
    attribute<&Fra::end, optional_tenor_py>("end_tenor", "From spot to the end, or None.", "str | None"),
    attribute<&Fra::rate>("rate", "The quoted rate.", "float"),
    attribute<quote_of<Fra>>("quote", "The quote as given: the rate.", "float"),
    QUELM_TERMS_GETTERS(Fra),
    QUELM_TRADE_GETTERS(Fra),
};
const GetterDef kFutureGetters[] = {
    attribute<&Future::start, to_py_date>("start", "The IMM date the period starts on.", "datetime.date"),
    attribute<&Future::price>("price", "The quoted price, per 100.", "float"),
    attribute<future_rate_of>("rate", "The futures rate, 1 - price/100.", "float"),
    attribute<quote_of<Future>>("quote", "The quote as given: the price.", "float"),
    attribute<&Future::convexity>("convexity", "The convexity adjustment: futures rate minus forward rate.", "float"),
    attribute<&Future::tenor, tenor_py>("tenor", "The length of the period.", "str"),
    attribute<&Future::day_count, day_count_py>("day_count", "The day count of the rate.", "str"),
    attribute<&Future::calendar, wrap_calendar>("calendar", "The calendar of the period's end.", "Calendar"),
    attribute<&Future::convention, convention_text>("convention", "How dates roll onto business days.", "str"),
    attribute<&Future::index, index_py>("index", "The overnight index it is a future on, or None.", "str | None"),
    QUELM_CONTRACT_TRADE_GETTERS(Future, "the contract's"),
};
const GetterDef kOisGetters[] = {
    attribute<&Ois::tenor, optional_tenor_py>("tenor", "From spot (or the start) to the end, or None.", "str | None"),
    attribute<&Ois::rate>("rate", "The quoted fixed rate.", "float"),
    attribute<quote_of<Ois>>("quote", "The quote as given: the rate.", "float"),
    attribute<&Ois::payment_frequency>("payment_frequency", "Payments a year.", "int"),
    QUELM_TERMS_GETTERS(Ois),
    attribute<&Ois::payment_lag>("payment_lag", "Business days from each period's end to its payment.", "int"),
    attribute<&Ois::index, index_py>("index", "The overnight index whose conventions it took, or None.",
                                     "str | None"),
    QUELM_TRADE_GETTERS(Ois),
};
const GetterDef kSwapGetters[] = {
    attribute<&Swap::tenor, optional_tenor_py>("tenor", "From spot (or the start) to the end, or None.", "str | None"),
    attribute<&Swap::rate>("rate", "The quoted fixed rate.", "float"),
    attribute<quote_of<Swap>>("quote", "The quote as given: the rate.", "float"),
    attribute<&Swap::fixed_frequency>("fixed_frequency", "Fixed payments a year.", "int"),
    attribute<term<Swap, &RateTerms::day_count>, day_count_py>("fixed_day_count", "The day count of the fixed leg.",
                                                              "str"),
    attribute<&Swap::float_tenor, tenor_py>("float_tenor", "The tenor of the floating index.", "str"),
    attribute<&Swap::float_day_count, day_count_py>("float_day_count", "The day count of the floating leg.", "str"),
    QUELM_SPOT_GETTERS(Swap),
    QUELM_TRADE_GETTERS(Swap),
};
const GetterDef kBondQuoteGetters[] = {
    attribute<&BondQuote::bond, dated_bond_py>("bond", "The bond.", "DatedBond"),
    attribute<&BondQuote::clean_price>("clean_price", "The quoted clean price.", "float"),
    attribute<quote_of<BondQuote>>("quote", "The quote as given: the clean price.", "float"),
    QUELM_CONTRACT_TRADE_GETTERS(BondQuote, "the bond's"),
};

template <class T>
ClassDef class_def(const char* name, const char* doc, const Callable* methods, std::size_t n_methods,
                   const GetterDef* getters, std::size_t n_getters, const Callable* constructor) {
    return ClassDef{name,       doc,     methods, n_methods, getters, n_getters, &instrument_repr<T>, &instrument_equal<T>,
                    &instrument_hash<T>, constructor};
}

const char* const kInstrumentDoc =
    "Immutable; compares equal to the same quote on the same terms, hashes and pickles.\n"
    "Dates are set by the curve it is priced on: the curve's reference date is the trade date.\n"
    "As a trade: `notional` (signed) multiplies `npv` and risk; `effective` (a date, or a\n"
    "forward tenor after spot) and `maturity` (a date, the tenor None) date it, where the\n"
    "instrument has no dates of its own (not a Future or a BondQuote).";

}  // namespace

#define QUELM_INSTRUMENT_CLASS(fn, T, NAME, EXAMPLE, METHODS, GETTERS, NEW)                                  \
    PyTypeObject* fn() {                                                                                       \
        static const std::string doc = std::string(kInstrumentDoc) + "\n\n" + EXAMPLE;                      \
        static const ClassDef def = class_def<T>(NAME, doc.c_str(), METHODS, std::size(METHODS), GETTERS,      \
                                                 std::size(GETTERS), &NEW);                                    \
        static PyTypeObject* type = create_class(def);                                                        \
        return type;                                                                                           \
    }                                                                                                          \
    QUELM_PUBLIC_CLASS(fn)

QUELM_INSTRUMENT_CLASS(deposit_type, Deposit, "Deposit",
                       "    >>> import quelm\n    >>> quelm.Deposit(\"3M\", 0.0325)\n    Deposit('3M', 0.0325)",
                       kDepositMethods, kDepositGetters, kDepositNew);
QUELM_INSTRUMENT_CLASS(fra_type, Fra, "Fra",
                       "    >>> import quelm\n    >>> quelm.Fra(\"3M\", \"6M\", 0.034)\n    Fra('3M', '6M', 0.034)",
                       kFraMethods, kFraGetters, kFraNew);
QUELM_INSTRUMENT_CLASS(future_type, Future, "Future",
                       "    >>> import quelm\n    >>> quelm.Future(\"2025-03-19\", 96.5).rate\n    0.03500000000000003",
                       kFutureMethods, kFutureGetters, kFutureNew);
QUELM_INSTRUMENT_CLASS(ois_type, Ois, "Ois",
                       "    >>> import quelm\n    >>> quelm.Ois(\"2Y\", 0.029)\n    Ois('2Y', 0.029)", kOisMethods,
                       kOisGetters, kOisNew);
QUELM_INSTRUMENT_CLASS(swap_type, Swap, "Swap",
                       "    >>> import quelm\n    >>> quelm.Swap(\"10Y\", 0.031, float_tenor=\"3M\")\n"
                       "    Swap('10Y', 0.031, float_tenor='3M')",
                       kSwapMethods, kSwapGetters, kSwapNew);
QUELM_INSTRUMENT_CLASS(bond_quote_type, BondQuote, "BondQuote",
                       "    >>> import quelm\n    >>> bond = quelm.FixedRateBond.dated(\"2024-05-15\", \"2034-05-15\", 0.045)\n"
                       "    >>> quelm.BondQuote(bond, 98.25).quote\n    98.25",
                       kBondQuoteMethods, kBondQuoteGetters, kBondQuoteNew);

}  // namespace quelm::py
