// Python class DatedBond, built by FixedRateBond.dated; its price, yield and accrued also
// over arrays of settlement dates and yields (quelm.vec.dated_bond_*).
#include "bindings/dates/calendar.hpp"
#include "frame/classes.hpp"
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "bindings/string_options.hpp"
#include "frame/dates.hpp"
#include "frame/result.hpp"
#include "quelm/bonds/dated_bond.hpp"
#include "quelm/bonds/dated_bond_block.hpp"
#include "quelm/bonds/dated_bond_hash.hpp"
#include "quelm/bonds/market_preset.hpp"
#include "quelm/curves/bond_off_curve.hpp"
#include "quelm/curves/curve.hpp"

#include <cstdint>
#include <string>

namespace quelm::py {

constexpr Section kSection = Section::FixedIncome;
constexpr std::string_view kGuide = "dates";  // the guide page of its names

QUELM_STRING_OPTION(bonds::BondMarket, bonds::kBondMarkets, "BondMarket");

PyTypeObject* yield_curve_type();
PyTypeObject* fixed_rate_bond_type();
PyTypeObject* dated_bond_type();

namespace {

using bonds::DatedBond;

constinit const auto kCurvePrice = record<curves::BondCurvePrice>({
    QUELM_FIELD(curves::BondCurvePrice, clean),
    QUELM_FIELD(curves::BondCurvePrice, dirty),
});

}  // namespace

QUELM_RECORD(curves::BondCurvePrice, kCurvePrice, "BondCurvePrice");

namespace {

PyObject* dated_impl(Date issue, Date maturity, double coupon_rate, std::optional<std::uint64_t> frequency,
                     std::optional<std::string_view> day_count, const std::optional<CalendarArg>& calendar,
                     std::optional<dates::Convention> convention, std::optional<std::uint64_t> settlement_days,
                     std::optional<std::uint64_t> ex_coupon_days, double face, std::optional<bool> end_of_month,
                     std::optional<Date> first_coupon, std::optional<bonds::BondMarket> market) {
    // The market's terms, or the plain defaults; each keyword given overrides them.
    bonds::DatedBondTerms t;
    if (market) {
        auto preset = bonds::market_terms(*market);
        if (!preset) return raise(preset.error());
        t = *preset;
    }
    t.issue = issue.serial;
    t.maturity = maturity.serial;
    t.coupon_rate = coupon_rate;
    if (frequency) {
        if (*frequency > 12) return raise_value_error("invalid input: bond: frequency must be 1, 2, 3, 4, 6 or 12");
        t.frequency = static_cast<std::uint32_t>(*frequency);
    }
    if (day_count) {
        auto dc = dates::parse_day_count(*day_count);
        if (!dc) return raise(dc.error());
        t.day_count = *dc;
    }
    if (calendar) t.calendar = calendar->calendar;
    if (convention) t.convention = *convention;
    if (settlement_days) {
        if (*settlement_days > 366) return raise_value_error("invalid input: bond: settlement_days must be at most 366");
        t.settlement_days = static_cast<std::uint32_t>(*settlement_days);
    }
    if (ex_coupon_days) {
        if (*ex_coupon_days > 366) return raise_value_error("invalid input: bond: ex_coupon_days must be at most 366");
        t.ex_coupon_days = static_cast<std::uint32_t>(*ex_coupon_days);
    }
    t.face = face;
    if (end_of_month) t.end_of_month = *end_of_month;
    if (first_coupon) t.first_coupon = first_coupon->serial;
    return finish(DatedBond::make(t), [](const DatedBond& b) { return wrap(dated_bond_type(), b); });
}

// The `curve` argument: a YieldCurve instance, nothing else.
struct CurveArg {
    const curves::YieldCurve* curve = nullptr;
};

}  // namespace

template <>
struct Annotation<CurveArg> {
    static const char* param() { return "YieldCurve"; }
};

namespace {

bool from_py(PyObject* o, CurveArg& out) {
    if (Py_TYPE(o) != yield_curve_type()) {
        PyErr_Format(PyExc_TypeError, "expected quelm.YieldCurve, got %s", Py_TYPE(o)->tp_name);
        return false;
    }
    out.curve = &value_of<curves::YieldCurve>(o);
    return true;
}

PyObject* cashflows_impl(const DatedBond& b) {
    const std::vector<bonds::Payment> flows = b.cashflows();
    return make_list(flows.size(), [&](std::size_t i) -> PyObject* {
        Ref d(to_py_date(flows[i].date)), a(to_py(flows[i].amount));
        if (!d || !a) return nullptr;
        return PyTuple_Pack(2, d.get(), a.get());
    });
}

PyObject* settlement_date_impl(const DatedBond& b, Date trade_date) {
    return finish(b.settlement_date(trade_date.serial), [](dates::Serial s) { return to_py_date(s); });
}

Result<double> accrued_at_of(const DatedBond& b, Date settle) { return b.accrued_at(settle.serial); }

// A measure at a yield (or price) and a settlement date.
template <Result<double> (DatedBond::*M)(double, dates::Serial) const>
Result<double> at(const DatedBond& b, double x, Date settle) {
    return (b.*M)(x, settle.serial);
}

// vec.dated_bond_price's and dated_bond_dirty_price's blocks: elements settling on the same
// date priced together (bonds/dated_bond_block.hpp).
static_assert(vec::kBlock == bonds::kDatedBlock, "an array block is one block of the core");
constexpr ParamList kPriceAtParams{"y", "settle"};
template <bool Clean>
void dated_price_many(const void* context, const char* const* at, const Py_ssize_t* step, std::size_t n,
                      double* out, bool* done) {
    double y[vec::kBlock];
    std::int64_t settle[vec::kBlock];
    for (std::size_t j = 0; j < n; ++j) {
        y[j] = vec::block_real(at, step, kPriceAtParams.operand("y"), j);
        settle[j] = vec::block_days(at, step, kPriceAtParams.operand("settle"), j);
    }
    bonds::dated_price_block(*static_cast<const DatedBond*>(context), y, settle, n, Clean, out, done);
}

PyObject* z_spread_at_impl(const DatedBond& b, double clean_price, Date settle, const CurveArg& curve) {
    return finish(curves::bond_z_spread(b, clean_price, settle.serial, *curve.curve));
}

Result<curves::BondCurvePrice> price_from_curve_of(const DatedBond& b, const CurveArg& curve, Date settle,
                                                   double spread) {
    return curves::bond_price_off_curve(b, *curve.curve, settle.serial, spread);
}

// An attribute of the bond's terms.
template <auto M>
inline constexpr auto term = path<&DatedBond::terms, M>;
PyObject* day_count_py(const dates::DayCount& dc) { return to_py(dates::day_count_name(dc)); }

// (functools.partial(FixedRateBond.dated, **terms), (issue, maturity, coupon_rate)).
PyObject* reduce_impl(const DatedBond& b) {
    const bonds::DatedBondTerms& t = b.terms();
    Ref functools(PyImport_ImportModule("functools"));
    if (!functools) return nullptr;
    Ref partial(PyObject_GetAttrString(functools.get(), "partial"));
    Ref dated(PyObject_GetAttrString(reinterpret_cast<PyObject*>(fixed_rate_bond_type()), "dated"));
    if (!partial || !dated) return nullptr;
    Ref kwargs(PyDict_New());
    if (!kwargs) return nullptr;
    auto put = [&](const char* key, PyObject* value) {
        Ref v(value);
        return v && PyDict_SetItemString(kwargs.get(), key, v.get()) == 0;
    };
    const std::string_view convention = dates::kConventions.aliases[static_cast<std::size_t>(t.convention)].name;
    if (!put("frequency", to_py(static_cast<std::uint64_t>(t.frequency))) ||
        !put("day_count", to_py(dates::day_count_name(t.day_count))) || !put("calendar", wrap_calendar(t.calendar)) ||
        !put("convention", to_py(convention)) ||
        !put("settlement_days", to_py(static_cast<std::uint64_t>(t.settlement_days))) ||
        !put("ex_coupon_days", to_py(static_cast<std::uint64_t>(t.ex_coupon_days))) || !put("face", to_py(t.face)) ||
        !put("end_of_month", PyBool_FromLong(t.end_of_month)) ||
        !put("first_coupon", t.first_coupon ? to_py_date(*t.first_coupon) : none()))
        return nullptr;
    Ref empty(PyTuple_New(0));
    if (!empty) return nullptr;
    Ref fn(PyObject_Call(partial.get(), Ref(PyTuple_Pack(1, dated.get())).get(), kwargs.get()));
    Ref issue(to_py_date(t.issue)), maturity(to_py_date(t.maturity)), rate(to_py(t.coupon_rate));
    if (!fn || !issue || !maturity || !rate) return nullptr;
    Ref args(PyTuple_Pack(3, issue.get(), maturity.get(), rate.get()));
    return args ? PyTuple_Pack(2, fn.get(), args.get()) : nullptr;
}

PyObject* bond_repr(PyObject* self) {
    const bonds::DatedBondTerms& t = value_of<DatedBond>(self).terms();
    const std::string text = "<DatedBond issue=" + dates::format_iso(t.issue) +
                             " maturity=" + dates::format_iso(t.maturity) + " coupon_rate=" + format_number(t.coupon_rate) +
                             " frequency=" + std::to_string(t.frequency) + " day_count='" +
                             dates::day_count_name(t.day_count) + "' calendar='" + t.calendar.name() + "'" +
                             " face=" + format_number(t.face) + ">";
    return to_py(text);
}

bool bond_equal(PyObject* a, PyObject* b) { return value_of<DatedBond>(a) == value_of<DatedBond>(b); }

// A hash of every term that equality compares (0.0 and -0.0 hash alike, as they compare).
Py_hash_t bond_hash(PyObject* self) {
    const auto out = static_cast<Py_hash_t>(bonds::hash_of(value_of<DatedBond>(self).terms()) >> 1);
    return out == -1 ? -2 : out;
}

constexpr FunctionDef def_cashflows = method<cashflows_impl>("cashflows", {}, "The payments as (date, amount), coupon and redemption together.").returning("list[Tuple[datetime.date, float]]");
constexpr FunctionDef def_settlement_date = method<settlement_date_impl>(
        "settlement_date", {"trade_date"},
        "The settlement date of a trade: `settlement_days` business days later, never\n"
        "before the issue date.").returning("datetime.date");
// The array forms take the bond first, as `bond` (as quelm.vec.bond_price does a
// FixedRateBond's), and any of the other arguments as arrays.
constexpr FunctionDef def_accrued_at = typed_method_in_vec<&accrued_at_of>(
        "accrued_at", {"settle"},
        "Accrued interest at a settlement date (negative inside the ex-coupon period).",
        "dated_bond_accrued", "bond", &dated_bond_type);
constexpr FunctionDef def_dirty_price_at = typed_method_in_vec<&at<&DatedBond::dirty_price_at>, &dated_price_many<false>>(
        "dirty_price_at", kPriceAtParams,
        "Dirty price at yield `y` (compounded at the coupon frequency, street convention).",
        "dated_bond_dirty_price", "bond", &dated_bond_type);
constexpr FunctionDef def_clean_price_at = typed_method_in_vec<&at<&DatedBond::clean_price_at>, &dated_price_many<true>>(
        "clean_price_at", kPriceAtParams, "Clean price at yield `y`: dirty price less accrued.",
        "dated_bond_price", "bond", &dated_bond_type);
constexpr FunctionDef def_yield_at = typed_method_in_vec<&at<&DatedBond::yield_at>>(
        "yield_at", {"clean_price", "settle"}, "The yield whose clean price at `settle` is `clean_price`.",
        "dated_bond_yield", "bond", &dated_bond_type);
constexpr FunctionDef def_macaulay_duration_at = typed_method_in_vec<&at<&DatedBond::macaulay_duration_at>>(
        "macaulay_duration_at", {"y", "settle"}, "Macaulay duration in years at yield `y`.",
        "dated_bond_macaulay_duration", "bond", &dated_bond_type);
constexpr FunctionDef def_modified_duration_at = typed_method_in_vec<&at<&DatedBond::modified_duration_at>>(
        "modified_duration_at", {"y", "settle"}, "Modified duration at yield `y`: Macaulay / (1 + y/frequency).",
        "dated_bond_modified_duration", "bond", &dated_bond_type);
constexpr FunctionDef def_convexity_at = typed_method_in_vec<&at<&DatedBond::convexity_at>>(
        "convexity_at", {"y", "settle"}, "Convexity at yield `y`.", "dated_bond_convexity", "bond", &dated_bond_type);
constexpr FunctionDef def_z_spread_at = method<z_spread_at_impl>(
        "z_spread_at", {"clean_price", "settle", "curve"},
        "The continuously compounded spread over a YieldCurve that prices the bond at\n"
        "`clean_price`: each payment discounted by D(payment) / D(settle) and by e^(-s*t), t\n"
        "in the curve's years from `settle` (act/365f years for a curve without a reference\n"
        "date). A dated curve must not start after `settle`.").returning("float");
constexpr FunctionDef def_price_from_curve = typed_method<&price_from_curve_of>(
        "price_from_curve", {"curve", "settle", "*", {"spread", "0.0"}},
        "Clean and dirty price at `settle` off a YieldCurve, as a dict: each payment after\n"
        "`settle` discounted by D(payment) / D(settle) and by e^(-spread*t), t as in\n"
        "`z_spread_at`, so that `z_spread_at(price_from_curve(c, s, spread=z)[\"clean\"], s, c)`\n"
        "is z. A dated curve must not start after `settle`.");
constexpr FunctionDef def_reduce = method<reduce_impl>("__reduce__", {}, "Pickle support: rebuild through FixedRateBond.dated.").returning("Tuple[Any, ...]");

constexpr Callable kMethods[] = {
    callable<def_cashflows>, callable<def_settlement_date>, callable<def_accrued_at>,
    callable<def_dirty_price_at>, callable<def_clean_price_at>, callable<def_yield_at>,
    callable<def_macaulay_duration_at>, callable<def_modified_duration_at>, callable<def_convexity_at>,
    callable<def_z_spread_at>, callable<def_price_from_curve>, callable<def_reduce>,
};

using bonds::DatedBondTerms;
const GetterDef kGetters[] = {
    attribute<term<&DatedBondTerms::issue>, to_py_date>("issue", "The issue date.", "datetime.date"),
    attribute<term<&DatedBondTerms::maturity>, to_py_date>("maturity", "The maturity date.", "datetime.date"),
    attribute<term<&DatedBondTerms::coupon_rate>>("coupon_rate", "The annual coupon rate.", "float"),
    attribute<term<&DatedBondTerms::frequency>>("frequency", "Coupons per year.", "int"),
    attribute<term<&DatedBondTerms::face>>("face", "The redemption amount.", "float"),
    attribute<term<&DatedBondTerms::day_count>, day_count_py>("day_count", "The day count of accrual and yield.",
                                                              "str"),
    attribute<term<&DatedBondTerms::calendar>, wrap_calendar>(
        "calendar", "The calendar of payments, settlement and ex-coupon dates.", "Calendar"),
};

const ClassDef kClass = {
    "DatedBond",
    "A fixed-rate bond on dates, built by `FixedRateBond.dated`: accrued interest,\n"
    "prices, yields and risk at a settlement date. Immutable; equal to (and hashed like) a\n"
    "bond of the same terms.\n"
    "\n"
    "    >>> import quelm\n"
    "    >>> gilt = quelm.FixedRateBond.dated(\"1996-02-29\", \"2021-06-07\", 0.08,\n"
    "    ...     calendar=\"uk\", ex_coupon_days=6, first_coupon=\"1996-06-07\")\n"
    "    >>> gilt.accrued_at(\"2013-05-29\"), gilt.yield_at(103.0, \"2013-05-29\")",
    kMethods, std::size(kMethods), kGetters, std::size(kGetters), &bond_repr, &bond_equal, &bond_hash,
};

}  // namespace

extern const FunctionDef def_fixed_rate_bond_dated = function<dated_impl>(
    "dated",
    {"issue", "maturity", "coupon_rate", "*", {"frequency", "None"}, {"day_count", "None"},
     {"calendar", "None"}, {"convention", "None"}, {"settlement_days", "None"},
     {"ex_coupon_days", "None"}, {"face", "100.0"}, {"end_of_month", "None"}, {"first_coupon", "None"},
     {"market", "None"}},
    "A bond on dates: coupon periods rolled back from `maturity` every 12/`frequency`\n"
    "months (an irregular first period ends at `first_coupon`), accruing by `day_count`\n"
    "between unadjusted dates and paid on dates adjusted by `convention`; the last\n"
    "`ex_coupon_days` business days before a payment trade without its coupon.\n"
    "\n"
    "`market` (\"ust\", \"gilt\", \"bund\", \"oat\", \"jgb\") takes that market's frequency,\n"
    "day count, calendar, settlement days, ex-coupon days and end-of-month roll; a keyword\n"
    "given overrides it. A keyword left as None takes the market's value, or without a\n"
    "market: frequency=2, day_count=\"act/act-icma\", calendar=\"weekends\",\n"
    "convention=\"unadjusted\", settlement_days=0, ex_coupon_days=0, end_of_month=False.")
    .returning("DatedBond");

PyTypeObject* dated_bond_type() {
    static PyTypeObject* type = create_class(kClass);
    return type;
}

QUELM_PUBLIC_CLASS(dated_bond_type);

}  // namespace quelm::py
