// Python class YieldCurve.
#include "frame/classes.hpp"
#include "frame/arrays.hpp"
#include "frame/declare.hpp"
#include "frame/result.hpp"
#include "bindings/curves/instruments.hpp"
#include "frame/registry.hpp"
#include "bindings/instances.hpp"
#include "bindings/string_options.hpp"
#include "quelm/core/math/interpolate.hpp"
#include "quelm/curves/bootstrap.hpp"
#include "quelm/curves/curve.hpp"
#include "quelm/curves/curve_block.hpp"
#include "quelm/dates/serial.hpp"

#include <span>
#include <string>

namespace quelm::py {

constexpr Section kSection = Section::FixedIncome;
constexpr std::string_view kGuide = "fixed-income";  // the guide page of its names

extern const FunctionDef def_curve_bootstrap;
extern const FunctionDef def_curve_risk;
PyObject* curve_instruments_get(PyObject* self);
PyObject* curve_pillar_dates_get(PyObject* self);
PyObject* bootstrapped_reduce(const curves::YieldCurve& c);

namespace {

using curves::YieldCurve;

using Series = std::span<const double>;

// How a curve dates: its reference date (optional) and the day count of its times.
Result<curves::Dating> dating_of(const std::optional<Date>& reference_date, std::string_view day_count) {
    QUELM_TRY(dc, dates::parse_day_count(day_count));
    QUELM_CHECK(curves::check_period_day_count("yield curve", "day_count", dc));
    curves::Dating d;
    if (reference_date) d.reference = reference_date->serial;
    d.day_count = dc;
    return d;
}

Result<YieldCurve> flat_of(double rate, curves::Extrapolation, const std::optional<Date>& reference_date,
                           std::string_view day_count) {
    QUELM_TRY(dating, dating_of(reference_date, day_count));
    return YieldCurve::flat(rate, dating);
}

Result<YieldCurve> from_zero_rates_of(Series times, Series rates, Interp interp, curves::Extrapolation extrapolate,
                                      const std::optional<Date>& reference_date, std::string_view day_count) {
    QUELM_TRY(dating, dating_of(reference_date, day_count));
    return YieldCurve::from_zero_rates(times, rates, interp, extrapolate, dating);
}

Result<YieldCurve> from_discount_factors_of(Series times, Series dfs, Interp interp,
                                            curves::Extrapolation extrapolate,
                                            const std::optional<Date>& reference_date, std::string_view day_count) {
    QUELM_TRY(dating, dating_of(reference_date, day_count));
    return YieldCurve::from_discount_factors(times, dfs, interp, extrapolate, dating);
}

Result<YieldCurve> from_log_discounts_of(Series times, Series log_dfs, curves::Extrapolation extrapolate,
                                         const std::optional<Date>& reference_date, std::string_view day_count) {
    QUELM_TRY(dating, dating_of(reference_date, day_count));
    return YieldCurve::from_log_discounts(times, log_dfs, extrapolate, dating);
}

// The point queries at a time in years or at a date.
Result<double> discount_of(const YieldCurve& c, const TimeArg& t) {
    return t.is_date ? c.discount_on(t.date.serial) : c.discount(t.t);
}
Result<double> zero_rate_of(const YieldCurve& c, const TimeArg& t) {
    return t.is_date ? c.zero_rate_on(t.date.serial) : c.zero_rate(t.t);
}
Result<double> forward_rate_of(const YieldCurve& c, const TimeArg& t1, const TimeArg& t2) {
    if (t1.is_date && t2.is_date) return c.forward_rate_between(t1.date.serial, t2.date.serial);
    double a = t1.t, b = t2.t;
    if (t1.is_date) {
        QUELM_TRY(t, c.time_of(t1.date.serial));
        a = t;
    }
    if (t2.is_date) {
        QUELM_TRY(t, c.time_of(t2.date.serial));
        b = t;
    }
    return c.forward_rate(a, b);
}

// The same queries over arrays of dates (quelm.vec's date twins of discount, zero_rate and
// forward_rate): each element is the scalar call's answer for that date.
Result<double> discount_on_of(const YieldCurve& c, Date d) { return c.discount_on(d.serial); }
Result<double> zero_rate_on_of(const YieldCurve& c, Date d) { return c.zero_rate_on(d.serial); }
Result<double> forward_rate_between_of(const YieldCurve& c, Date d1, Date d2) {
    return c.forward_rate_between(d1.serial, d2.serial);
}

// The array forms' blocks: up to vec::kBlock queries of a row through the curve's lanes.
static_assert(vec::kBlock == curves::kCurveBlock, "an array block is one block of the core");
const YieldCurve& curve_of(const void* context) { return *static_cast<const YieldCurve*>(context); }
void reals(const char* const* at, const Py_ssize_t* step, std::size_t k, std::size_t n, double* v) {
    for (std::size_t j = 0; j < n; ++j) v[j] = vec::block_real(at, step, k, j);
}
void days(const char* const* at, const Py_ssize_t* step, std::size_t k, std::size_t n, std::int64_t* v) {
    for (std::size_t j = 0; j < n; ++j) v[j] = vec::block_days(at, step, k, j);
}
void discount_many(const void* context, const char* const* at, const Py_ssize_t* step, std::size_t n, double* out,
                   bool* done) {
    double t[vec::kBlock];
    reals(at, step, 0, n, t);
    curves::discount_block(curve_of(context), t, n, out, done);
}
void zero_rate_many(const void* context, const char* const* at, const Py_ssize_t* step, std::size_t n, double* out,
                    bool* done) {
    double t[vec::kBlock];
    reals(at, step, 0, n, t);
    curves::zero_rate_block(curve_of(context), t, n, out, done);
}
void forward_rate_many(const void* context, const char* const* at, const Py_ssize_t* step, std::size_t n,
                       double* out, bool* done) {
    double t1[vec::kBlock], t2[vec::kBlock];
    reals(at, step, 0, n, t1);
    reals(at, step, 1, n, t2);
    curves::forward_rate_block(curve_of(context), t1, t2, n, out, done);
}
void discount_on_many(const void* context, const char* const* at, const Py_ssize_t* step, std::size_t n,
                      double* out, bool* done) {
    std::int64_t d[vec::kBlock];
    days(at, step, 0, n, d);
    curves::discount_on_block(curve_of(context), d, n, out, done);
}
void zero_rate_on_many(const void* context, const char* const* at, const Py_ssize_t* step, std::size_t n,
                       double* out, bool* done) {
    std::int64_t d[vec::kBlock];
    days(at, step, 0, n, d);
    curves::zero_rate_on_block(curve_of(context), d, n, out, done);
}
void forward_rate_between_many(const void* context, const char* const* at, const Py_ssize_t* step, std::size_t n,
                               double* out, bool* done) {
    std::int64_t d1[vec::kBlock], d2[vec::kBlock];
    days(at, step, 0, n, d1);
    days(at, step, 1, n, d2);
    curves::forward_rate_between_block(curve_of(context), d1, d2, n, out, done);
}

// The keywords that restore a curve's extrapolation and dating.
PyObject* dating_keywords(const YieldCurve& c, bool with_extrapolation) {
    Ref kwargs(PyDict_New());
    if (!kwargs) return nullptr;
    const auto put = [&](const char* key, PyObject* value) {
        Ref v(value);
        return v && PyDict_SetItemString(kwargs.get(), key, v.get()) == 0;
    };
    const auto& ref = c.dating().reference;
    if ((with_extrapolation && !put("extrapolate", to_py(curves::extrapolation_name(c.extrapolation())))) ||
        !put("reference_date", ref ? to_py_date(*ref) : none()) ||
        !put("day_count", to_py(dates::day_count_name(c.dating().day_count))))
        return nullptr;
    return kwargs.release();
}

// flat -> flat(rate); zero-rate modes -> from_zero_rates with the stored rates; log-linear
// -> the private rebuild from stored ln P, exact; a bootstrapped curve -> bootstrap again
// (the same inputs give the same bits).
PyObject* reduce_impl(const YieldCurve& c) {
    if (c.bootstrap_state()) return bootstrapped_reduce(c);
    PyObject* type = reinterpret_cast<PyObject*>(yield_curve_type());
    const char* ctor = c.is_flat() ? "flat" : c.interp() == Interp::LogLinear ? "_from_log_discounts" : "from_zero_rates";
    Ref fn(PyObject_GetAttrString(type, ctor));
    Ref kwargs(dating_keywords(c, !c.is_flat()));
    if (!fn || !kwargs) return nullptr;
    Ref args;
    if (c.is_flat()) {
        args = Ref(Py_BuildValue("(d)", c.rate()));
    } else {
        Ref times(to_py(c.times()));
        Ref values(to_py(c.values()));
        if (!times || !values) return nullptr;
        if (c.interp() == Interp::LogLinear) {
            args = Ref(PyTuple_Pack(2, times.get(), values.get()));
        } else {
            Ref mode(PyUnicode_FromString(interp_name(c.interp())));
            if (!mode) return nullptr;
            args = Ref(PyTuple_Pack(3, times.get(), values.get(), mode.get()));
        }
    }
    if (!args) return nullptr;
    return partial_reduce(fn.get(), args.get(), kwargs.get());
}

PyObject* reference_date_get(PyObject* self) {
    const auto& ref = value_of<YieldCurve>(self).dating().reference;
    return ref ? to_py_date(*ref) : none();
}
PyObject* day_count_get(PyObject* self) {
    return to_py(dates::day_count_name(value_of<YieldCurve>(self).dating().day_count));
}
PyObject* interp_get(PyObject* self) {
    const YieldCurve& c = value_of<YieldCurve>(self);
    if (c.is_flat()) return none();
    if (c.bootstrap_state()) return to_py(curves::bootstrap_interp_name(c.bootstrap_state()->spec.interp));
    return to_py(interp_name(c.interp()));
}
PyObject* extrapolate_get(PyObject* self) {
    const YieldCurve& c = value_of<YieldCurve>(self);
    return to_py(c.is_flat() ? "flat-forward" : curves::extrapolation_name(c.extrapolation()));
}
PyObject* discount_curve_get(PyObject* self) {
    const auto& state = value_of<YieldCurve>(self).bootstrap_state();
    if (!state || !state->spec.discount) return none();
    return wrap(yield_curve_type(), *state->spec.discount);
}
PyObject* pillar_times_get(PyObject* self) {
    const YieldCurve& c = value_of<YieldCurve>(self);
    if (c.is_flat()) return PyTuple_New(0);
    Ref list(to_py(c.times()));
    return list ? PyList_AsTuple(list.get()) : nullptr;
}

PyObject* curve_repr(PyObject* self) {
    const YieldCurve& c = value_of<YieldCurve>(self);
    std::string text;
    if (c.is_flat()) {
        text = "YieldCurve.flat(" + format_number(c.rate()) + ")";
    } else {
        const auto t = c.times();
        const char* mode = c.bootstrap_state() ? curves::bootstrap_interp_name(c.bootstrap_state()->spec.interp)
                                               : interp_name(c.interp());
        text = std::string("<YieldCurve ") + mode + ", " + std::to_string(t.size()) + " pillars from t=" +
               format_number(t.front()) + " to t=" + format_number(t.back());
        if (c.dating().reference) text += ", reference date " + dates::format_iso(*c.dating().reference);
        text += ">";
    }
    return to_py(text);
}

bool curve_equal(PyObject* a, PyObject* b) { return value_of<YieldCurve>(a) == value_of<YieldCurve>(b); }

// Static constructors, then instance methods, in the order the class lists them.
#define QUELM_DATING_PARAMS {"reference_date", "None"}, {"day_count", "\"act/365f\""}

constexpr FunctionDef def_flat = typed<&flat_of>(
    "flat", {"rate", "*", {"extrapolate", "\"flat-forward\""}, QUELM_DATING_PARAMS},
    "A flat continuously-compounded curve at `rate` for every maturity (it answers at every\n"
    "time whatever `extrapolate` says: it has no pillars). With `reference_date`\n"
    "the curve also answers at dates, their times counted in `day_count` years from it.");
constexpr FunctionDef def_from_zero_rates = typed<&from_zero_rates_of>(
    "from_zero_rates",
    {"times", "rates", {"interp", "\"log-linear\""}, "*", {"extrapolate", "\"none\""}, QUELM_DATING_PARAMS},
    "Build from continuously-compounded zero rates at the given pillar times.\n"
    "`extrapolate`: \"none\" (a time outside the pillars is an error) or \"flat-forward\" (after\n"
    "the last pillar its instantaneous forward continues; before the first, the first zero\n"
    "rate holds). With `reference_date` the curve also answers at dates (times in `day_count`\n"
    "years from it).").locking(Lock::BySize);
constexpr FunctionDef def_from_discount_factors = typed<&from_discount_factors_of>(
    "from_discount_factors",
    {"times", "dfs", {"interp", "\"log-linear\""}, "*", {"extrapolate", "\"none\""}, QUELM_DATING_PARAMS},
    "Build from discount factors at the given pillar times. `extrapolate`, `reference_date`\n"
    "and `day_count` as for `from_zero_rates`.").locking(Lock::BySize);
constexpr FunctionDef def_discount = detail::with_form<member_function<&YieldCurve::discount>, true, &discount_many>(
    typed_method<&discount_of>("discount", {"t"},
                               "Discount factor `P(t)` (with `P(0) = 1`), `t` in years or a date."),
    "discount", "curve", &yield_curve_type);
constexpr FunctionDef def_zero_rate = detail::with_form<member_function<&YieldCurve::zero_rate>, true, &zero_rate_many>(
    typed_method<&zero_rate_of>("zero_rate", {"t"},
                                "Continuously-compounded zero rate `z(t)`, `t` in years or a date."),
    "zero_rate", "curve", &yield_curve_type);
constexpr FunctionDef def_forward_rate = detail::with_form<member_function<&YieldCurve::forward_rate>, true, &forward_rate_many>(
    typed_method<&forward_rate_of>(
        "forward_rate", {"t1", "t2"},
        "Continuously-compounded forward rate over `[t1, t2]`, each in years or a date."),
    "forward_rate", "curve", &yield_curve_type);
constexpr FunctionDef def_discount_on = typed_method_in_vec<&discount_on_of, &discount_on_many>(
    "discount", {"t"}, "Discount factor `P(t)` (with `P(0) = 1`), `t` in years or a date.", "discount", "curve",
    &yield_curve_type);
QUELM_VEC_DATE_TWIN(def_discount_on);
constexpr FunctionDef def_zero_rate_on = typed_method_in_vec<&zero_rate_on_of, &zero_rate_on_many>(
    "zero_rate", {"t"}, "Continuously-compounded zero rate `z(t)`, `t` in years or a date.", "zero_rate", "curve",
    &yield_curve_type);
QUELM_VEC_DATE_TWIN(def_zero_rate_on);
constexpr FunctionDef def_forward_rate_between = typed_method_in_vec<&forward_rate_between_of, &forward_rate_between_many>(
    "forward_rate", {"t1", "t2"}, "Continuously-compounded forward rate over `[t1, t2]`, each in years or a date.",
    "forward_rate", "curve", &yield_curve_type);
QUELM_VEC_DATE_TWIN(def_forward_rate_between);
constexpr FunctionDef def_reduce = method<reduce_impl>(
    "__reduce__", {},
    "Pickle support: rebuild through a static constructor.").returning("Tuple[Any, ...]");
constexpr FunctionDef def_from_log_discounts = typed<&from_log_discounts_of>(
    "_from_log_discounts",
    {"times", "log_dfs", "*", {"extrapolate", "\"none\""}, QUELM_DATING_PARAMS},
    "Internal: rebuild a log-linear curve from its log discount factors (unpickling).").locking(Lock::BySize);

constexpr Callable kMethods[] = {
    callable<def_flat>, callable<def_from_zero_rates>, callable<def_from_discount_factors>,
    callable<def_curve_bootstrap>, callable<def_discount>, callable<def_zero_rate>, callable<def_forward_rate>,
    callable<def_curve_risk>, callable<def_reduce>, callable<def_from_log_discounts>,
};

const GetterDef kGetters[] = {
    {"reference_date", "The date of t = 0 (None: the curve answers times only).", &reference_date_get,
     "datetime.date | None"},
    {"day_count", "The day count that turns dates into times.", &day_count_get, "str"},
    {"interp", "The interpolation between pillars (None for a flat curve).", &interp_get, "str | None"},
    {"extrapolate", "How the curve answers outside its pillars: \"none\" or \"flat-forward\".", &extrapolate_get,
     "str"},
    {"pillar_times", "The pillar times in years (empty for a flat curve).", &pillar_times_get,
     "Tuple[float, ...]"},
    {"pillar_dates", "A bootstrapped curve's pillar dates (None otherwise).", &curve_pillar_dates_get,
     "list[datetime.date] | None"},
    {"discount_curve", "The curve a bootstrapped curve discounts on, when built on one (None otherwise).",
     &discount_curve_get, "YieldCurve | None"},
    {"instruments",
     "The quotes of a bootstrapped curve, in the order of risk's columns (those of the\n"
     "discount curve it was built on first); empty otherwise.",
     &curve_instruments_get, "Tuple[Deposit | Fra | Future | Ois | Swap | BondQuote, ...]"},
};

const ClassDef kClass = {
    "YieldCurve",
    "A yield curve / term structure: build once, query many times.\n"
    "\n"
    "Construct with one of the static methods, then query continuously-compounded\n"
    "quantities (time in years, `Act/365`):\n"
    "\n"
    "    >>> import quelm\n"
    "    >>> c = quelm.YieldCurve.from_zero_rates([0.5, 1, 2, 5], [0.02, 0.025, 0.03, 0.035],\n"
    "    ...                                      interp=\"natural-cubic\")\n"
    "    >>> c.discount(1.5), c.zero_rate(1.5), c.forward_rate(1.5, 2.5)\n"
    "\n"
    "`YieldCurve.bootstrap` builds one from market quotes (Deposit, Fra, Future, Ois, Swap,\n"
    "BondQuote) and `risk` gives the sensitivity of a book to each of them.",
    kMethods, std::size(kMethods), kGetters, std::size(kGetters), &curve_repr, &curve_equal,
};

}  // namespace

PyTypeObject* yield_curve_type() {
    static PyTypeObject* type = create_class(kClass);
    return type;
}

QUELM_PUBLIC_CLASS(yield_curve_type);

}  // namespace quelm::py
