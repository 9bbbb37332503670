// Python bindings: svi_vol, svi_calibrate, and the class VolSurface.
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "bindings/instances.hpp"
#include "bindings/pricing/option_lists.hpp"
#include "quelm/volatility/surface.hpp"
#include "quelm/volatility/svi.hpp"

#include <optional>
#include <string>
#include <vector>

namespace quelm::py {

constexpr Section kSection = Section::Volatility;
constexpr std::string_view kGuide = "stochastic-volatility";  // the guide page of its names

PyTypeObject* vol_surface_type();

QUELM_STRING_OPTION(volatility::BadQuote, volatility::kBadQuotes, "BadQuotePolicy");

namespace {

// A rate for each expiry: a number, or a YieldCurve whose zero rate to the expiry is used.
struct RateArg {
    volatility::TermRate rate;
    static RateArg from_default_real(double x) { return {{x, nullptr}}; }
};

bool from_py(PyObject* o, RateArg& out) {
    if (Py_TYPE(o) == yield_curve_type()) {
        out.rate = {0.0, &value_of<curves::YieldCurve>(o)};  // borrowed from the call's arguments
        return true;
    }
    out.rate.curve = nullptr;
    return quelm::py::from_py(o, out.rate.flat);
}

}  // namespace

template <>
struct Annotation<RateArg> {
    static const char* param() { return "_Float | YieldCurve"; }
};

namespace {

using volatility::SurfaceSlice;
using volatility::SviFit;
using volatility::VolSurface;

Result<double> svi_vol_of(double forward, double strike, double t, double a, double b, double rho, double m,
                          double sigma) {
    return volatility::svi_vol(forward, strike, t, {a, b, rho, m, sigma});
}

PyObject* butterfly_dict(const volatility::ButterflyCheck& c) {
    Ref intervals(make_list(c.violations.size() / 2, [&](std::size_t i) {
        return to_py_pair(c.violations[2 * i], c.violations[2 * i + 1]);
    }));
    if (!intervals) return nullptr;
    return Py_BuildValue("{s:O,s:d,s:O}", "arbitrage_free", c.arbitrage_free ? Py_True : Py_False, "min_g", c.min_g,
                         "violations", intervals.get());
}

constinit const auto kSviFit = record<SviFit>({
    {"a", [](const SviFit& f) { return to_py(f.params.a); }, [] { return "float"; }},
    {"b", [](const SviFit& f) { return to_py(f.params.b); }, [] { return "float"; }},
    {"rho", [](const SviFit& f) { return to_py(f.params.rho); }, [] { return "float"; }},
    {"m", [](const SviFit& f) { return to_py(f.params.m); }, [] { return "float"; }},
    {"sigma", [](const SviFit& f) { return to_py(f.params.sigma); }, [] { return "float"; }},
    QUELM_FIELD(SviFit, rmse), QUELM_FIELD(SviFit, max_error),
    {"iterations", [](const SviFit& f) { return to_py(static_cast<std::uint64_t>(f.iterations)); },
     [] { return "int"; }},
    {"converged", [](const SviFit& f) { return PyBool_FromLong(f.converged ? 1 : 0); }, [] { return "bool"; }},
    QUELM_FIELD(SviFit, residuals),
    {"butterfly", [](const SviFit& f) { return butterfly_dict(f.butterfly); }, [] { return "dict[str, Any]"; }},
});

}  // namespace

QUELM_RECORD(SviFit, kSviFit, "SviCalibration");

namespace {

PyObject* svi_calibrate_impl(double forward, const FloatSeq& strikes, const FloatSeq& vols, double t,
                             const std::optional<FloatSeq>& weights) {
    return finish(compute([&](Cancel& c) {
                      return volatility::svi_calibrate(forward, strikes.view(), vols.view(), t,
                                                       weights ? weights->view() : std::span<const double>{}, c);
                  }),
                  kSviFit);
}

PyObject* make_surface(const Result<VolSurface>& r) {
    return finish(r, [](const VolSurface& s) { return wrap(vol_surface_type(), s); });
}

PyObject* from_vols_impl(const FloatSeq& strikes, const FloatSeq& expiries, const FloatSeq& vols,
                         std::optional<double> spot, double rate, double q, const std::optional<FloatSeq>& forwards) {
    return make_surface(compute([&](Cancel& c) {
        return VolSurface::from_vols(strikes.view(), expiries.view(), vols.view(), {spot, rate, q},
                                     forwards ? forwards->view() : std::span<const double>{}, c);
    }));
}

PyObject* from_chain_impl(const FloatSeq& strikes, const FloatSeq& expiries, const FloatSeq& prices, double spot,
                          const RateArg& rate, const RateArg& q, const std::optional<PyObject*>& option_types,
                          volatility::BadQuote on_bad_quote, const std::optional<FloatSeq>& weights) {
    std::vector<OptionType> types;
    if (!option_types_from(option_types, types)) return nullptr;
    const volatility::PriceChain chain{.strikes = strikes.view(), .expiries = expiries.view(),
                                       .prices = prices.view(), .types = types,
                                       .weights = weights ? weights->view() : std::span<const double>{}};
    return make_surface(compute(
        [&](Cancel& c) { return VolSurface::from_prices(chain, spot, rate.rate, q.rate, on_bad_quote, c); }));
}

// The dropped quotes as pickled: (quote, expiry, strike, reason) tuples.
bool dropped_from(const std::optional<PyObject*>& given, std::vector<volatility::DroppedQuote>& out) {
    if (!given || *given == Py_None) return true;
    Ref items(PySequence_Fast(*given, "dropped must be a sequence of (quote, expiry, strike, reason)"));
    if (!items) return false;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        Py_ssize_t index = 0;
        double expiry = 0.0, strike = 0.0;
        const char* reason = nullptr;
        if (!PyArg_ParseTuple(PySequence_Fast_GET_ITEM(items.get(), i), "ndds", &index, &expiry, &strike, &reason))
            return false;
        out.push_back({static_cast<std::size_t>(index), expiry, strike, reason});
    }
    return true;
}

PyObject* from_rows_impl(const FloatMatrix& rows, std::optional<double> spot, double rate, double q,
                         const std::optional<PyObject*>& dropped) {
    std::vector<volatility::DroppedQuote> quotes;
    if (!dropped_from(dropped, quotes)) return nullptr;
    return make_surface(VolSurface::from_rows(rows.rows(), {spot, rate, q}, std::move(quotes)));
}

PyObject* dropped_dict(const volatility::DroppedQuote& d) {
    return Py_BuildValue("{s:n,s:d,s:d,s:s#}", "quote", static_cast<Py_ssize_t>(d.index), "expiry", d.expiry,
                         "strike", d.strike, "reason", d.reason.data(), static_cast<Py_ssize_t>(d.reason.size()));
}

PyObject* dropped_impl(const VolSurface& s) {
    return make_list(s.dropped().size(), [&](std::size_t i) { return dropped_dict(s.dropped()[i]); });
}

PyObject* slice_dict(const SurfaceSlice& s) {
    return Py_BuildValue("{s:d,s:d,s:d,s:d,s:d,s:d,s:d,s:d,s:d,s:d,s:O,s:O,s:n}", "t", s.t, "forward", s.forward, "a",
                         s.svi.a, "b", s.svi.b, "rho", s.svi.rho, "m", s.svi.m, "sigma", s.svi.sigma, "rmse", s.rmse,
                         "max_error", s.max_error, "min_g", s.min_g, "butterfly_free",
                         s.butterfly_free ? Py_True : Py_False, "calendar_repaired",
                         s.calendar_repaired ? Py_True : Py_False, "quotes", static_cast<Py_ssize_t>(s.quotes));
}

PyObject* slices_impl(const VolSurface& s) {
    return make_list(s.slices().size(), [&](std::size_t i) { return slice_dict(s.slices()[i]); });
}

// (VolSurface._from_rows, (slice rows, spot, rate, dividend_yield, dropped)): the fitted
// slices, exactly, and the quotes left out.
PyObject* reduce_impl(const VolSurface& s) {
    Ref fn(PyObject_GetAttrString(reinterpret_cast<PyObject*>(vol_surface_type()), "_from_rows"));
    if (!fn) return nullptr;
    std::vector<std::vector<double>> rows;
    for (const auto& sl : s.slices()) rows.push_back(VolSurface::slice_row(sl));
    Ref data(to_py(rows));
    if (!data) return nullptr;
    Ref spot(s.curve().spot ? to_py(*s.curve().spot) : none());
    if (!spot) return nullptr;
    Ref dropped(make_list(s.dropped().size(), [&](std::size_t i) {
        const auto& d = s.dropped()[i];
        return Py_BuildValue("(ndds#)", static_cast<Py_ssize_t>(d.index), d.expiry, d.strike, d.reason.data(),
                             static_cast<Py_ssize_t>(d.reason.size()));
    }));
    if (!dropped) return nullptr;
    Ref args(Py_BuildValue("(OOddO)", data.get(), spot.get(), s.curve().rate, s.curve().dividend_yield,
                           dropped.get()));
    if (!args) return nullptr;
    return PyTuple_Pack(2, fn.get(), args.get());
}

PyObject* surface_repr(PyObject* self) {
    const VolSurface& s = value_of<VolSurface>(self);
    const auto sl = s.slices();
    return to_py("<VolSurface " + std::to_string(sl.size()) + " SVI slice" + (sl.size() == 1 ? "" : "s") +
                 " from t=" + format_number(sl.front().t) + " to t=" + format_number(sl.back().t) + ">");
}

bool surface_equal(PyObject* a, PyObject* b) { return value_of<VolSurface>(a) == value_of<VolSurface>(b); }

constexpr FunctionDef def_from_vols = function<from_vols_impl>(
        "from_vols",
        {"strikes", "expiries", "vols", {"spot", "None"}, {"rate", "0.0"}, "*", {"dividend_yield", "0.0"},
         {"forwards", "None"}},
        "Build from Black-Scholes implied vols, one entry per quote in each sequence.\n"
        "\n"
        "Forwards come from `spot` with `rate` and `dividend_yield` (F = S e^((r - q) t)), or\n"
        "are given per quote in `forwards` (equal within an expiry). One SVI slice is fitted\n"
        "per distinct expiry.").returning("VolSurface");
constexpr FunctionDef def_from_chain = function<from_chain_impl>(
        "from_chain",
        {"strikes", "expiries", "prices", "spot", "rate", "*", {"dividend_yield", "0.0"}, {"option_types", "None"},
         {"on_bad_quote", "\"raise\""}, {"weights", "None"}},
        "Build from option prices: each implied into a Black-Scholes vol, then as `from_vols`.\n"
        "\n"
        "`option_types` is one option type for every quote or one per quote (None: calls).\n"
        "`rate` and `dividend_yield` are numbers or YieldCurves; with a curve, each expiry uses\n"
        "its continuously compounded zero rate to that expiry, and the surface keeps each\n"
        "expiry's forward S e^((r(t) - q(t)) t) (ln F linear in t between expiries, flat\n"
        "outside them). `on_bad_quote=\"skip\"` leaves out the quotes that cannot be implied\n"
        "(and the rest of an expiry left with fewer than 5) and lists them in `dropped()`;\n"
        "\"raise\" stops at the first. `weights` (finite, >= 0, not all zero within an expiry;\n"
        "one per quote) weight the quotes in the slice fits.").returning("VolSurface");
constexpr FunctionDef def_vol = typed_method_in_vec<member_function<&VolSurface::vol>>(
        "vol", {"strike", "t"},
        "Black-Scholes implied vol at (strike, t): total variance linear in t at fixed ln(K / F(t)).",
        "surface_vol", "surface", &vol_surface_type);
constexpr FunctionDef def_local_vol = typed_method_in_vec<member_function<&VolSurface::local_vol>>(
        "local_vol", {"strike", "t"},
        "Dupire local volatility at (strike, t) by Gatheral's formula in total variance\n"
        "(NaN where the surface admits none: g(k) <= 0 or variance falling in time).",
        "surface_local_vol", "surface", &vol_surface_type);
constexpr FunctionDef def_forward = typed_method<member_function<&VolSurface::forward>>(
        "forward", {"t"},
        "The forward the surface uses at t.");
constexpr FunctionDef def_slices = method<slices_impl>(
        "slices", {},
        "The fitted slices in expiry order: SVI parameters, fit errors, the butterfly check and\n"
        "whether the slice was lifted to stay above the earlier ones (calendar repair).").returning("list[dict[str, Any]]");
constexpr FunctionDef def_dropped = method<dropped_impl>(
        "dropped", {},
        "The quotes `from_chain(..., on_bad_quote=\"skip\")` left out, in input order: each a dict\n"
        "of `quote` (its index in the inputs), `expiry`, `strike` and `reason`.").returning("list[dict[str, Any]]");
constexpr FunctionDef def_reduce = method<reduce_impl>(
        "__reduce__", {},
        "Pickle support: rebuild from the fitted slices.").returning("Tuple[Any, ...]");
constexpr FunctionDef def_from_rows = function<from_rows_impl>(
        "_from_rows", {"rows", "spot", "rate", "dividend_yield", {"dropped", "None"}},
        "Internal: rebuild from fitted slice rows (unpickling).").returning("VolSurface");

constexpr Callable kMethods[] = {
    callable<def_from_vols>, callable<def_from_chain>, callable<def_vol>, callable<def_local_vol>,
    callable<def_forward>, callable<def_slices>, callable<def_dropped>, callable<def_reduce>, callable<def_from_rows>,
};

const ClassDef kClass = {
    "VolSurface",
    "An implied-volatility surface fitted to an option chain: build once, query many times.\n"
    "\n"
    "One SVI slice per expiry; total variance linear in time at fixed log-moneyness between\n"
    "slices lifted to be non-decreasing in time (no calendar arbitrage between them):\n"
    "\n"
    "    >>> import quelm\n"
    "    >>> s = quelm.VolSurface.from_vols(strikes, expiries, vols, spot=100.0, rate=0.03)\n"
    "    >>> s.vol(105.0, 0.75), s.local_vol(105.0, 0.75)",
    kMethods, std::size(kMethods), nullptr, 0, &surface_repr, &surface_equal,
};

}  // namespace

PyTypeObject* vol_surface_type() {
    static PyTypeObject* type = create_class(kClass);
    return type;
}

namespace {

constexpr FunctionDef def_svi_vol = typed_in_vec<&svi_vol_of>(
    "svi_vol", {"forward", "strike", "t", "a", "b", "rho", "m", "sigma"},
    "Implied vol of a raw SVI slice: sqrt(w(k) / t), k = ln(strike / forward), with\n"
    "w(k) = a + b (rho (k - m) + sqrt((k - m)^2 + sigma^2)) the total variance.");
QUELM_PUBLIC(def_svi_vol);

constexpr FunctionDef def_svi_calibrate = function<svi_calibrate_impl>(
    "svi_calibrate", {"forward", "strikes", "vols", "t", "*", {"weights", "None"}},
    "Fit a raw SVI slice (a, b, rho, m, sigma) to one expiry's Black implied vols.\n"
    "\n"
    "Zeliade's quasi-explicit method: for each (m, sigma) the best (a, b rho, b) is a linear\n"
    "least-squares problem solved exactly on its admissible domain (b >= 0, abs(rho) <= 1 and\n"
    "Lee's bound b (1 + abs(rho)) <= 4 / t on the vol scale); (m, sigma) by bounded\n"
    "Levenberg-Marquardt from a coarse grid. Returns the parameters, the weighted `rmse`\n"
    "and `max_error` of the vols, `iterations`, `converged`, `residuals`, and `butterfly`:\n"
    "Gatheral's g(k) >= 0 checked over the quotes' range widened by half its width on each\n"
    "side (`arbitrage_free`, `min_g`, and the `violations` as (k_start, k_end) intervals).")
    .returning("SviCalibration");
QUELM_PUBLIC(def_svi_calibrate);

}  // namespace

QUELM_PUBLIC_CLASS(vol_surface_type);

}  // namespace quelm::py
