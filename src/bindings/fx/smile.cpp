// Python bindings: the classes FxSmile and FxVolSurface.
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "bindings/fx/fx_options.hpp"
#include "bindings/fx/smile_types.hpp"
#include "bindings/string_options.hpp"
#include "quelm/core/text.hpp"
#include "bindings/instances.hpp"
#include "quelm/fx/dated_smile.hpp"
#include "quelm/fx/smile.hpp"
#include "quelm/fx/surface.hpp"
#include "quelm/fx/vanna_volga_barrier.hpp"

#include <string>
#include <vector>

namespace quelm::py {

constexpr Section kSection = Section::Options;
constexpr std::string_view kGuide = "fx";  // the guide page of its names

namespace {

// One quote per delta: a number, or a sequence of numbers.
struct Quotes {
    std::vector<double> values;
    static Quotes from_default_real(double x) { return {{x}}; }
};

bool from_py(PyObject* o, Quotes& out) {
    out.values.clear();
    if (!PySequence_Check(o) || PyUnicode_Check(o)) {
        double x = 0.0;
        if (!quelm::py::from_py(o, x)) return false;
        out.values.push_back(x);
        return true;
    }
    Ref items(PySequence_Fast(o, "expected a number or a sequence of numbers"));
    if (!items) return false;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        double x = 0.0;
        if (!quelm::py::from_py(PySequence_Fast_GET_ITEM(items.get(), i), x)) return false;
        out.values.push_back(x);
    }
    return true;
}

// A sequence of FxSmile.
struct Smiles {
    std::vector<fx::FxSmile> values;
};

bool from_py(PyObject* o, Smiles& out) {
    Ref items(PySequence_Fast(o, "expected a sequence of FxSmile"));
    if (!items) return false;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(items.get()); ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(items.get(), i);
        if (Py_TYPE(item) != fx_smile_type()) {
            PyErr_Format(PyExc_TypeError, "expected FxSmile, got %s", Py_TYPE(item)->tp_name);
            return false;
        }
        out.values.push_back(value_of<fx::FxSmile>(item));
    }
    return true;
}

}  // namespace

template <>
struct Annotation<Quotes> {
    static const char* param() { return "_Float | _Floats"; }
};
template <>
struct Annotation<Smiles> {
    static const char* param() { return "Iterable[FxSmile]"; }
};

namespace {

using fx::FxSmile;
using fx::FxVolSurface;

// The first name a string-option table gives a value.
template <class E, std::size_t N>
const char* name_in(const Choices<E, N>& table, E value) {
    for (const auto& a : table.aliases)
        if (a.value == value) return a.name.data();
    return "";
}

Result<FxSmile> from_quotes_of(double spot, double t, double rd, double rf, double atm_vol, const Quotes& rr,
                               const Quotes& bf, const Quotes& deltas, fx::DeltaType delta_type, fx::AtmType atm_type,
                               fx::Strangle strangle, fx::SmileInterp interpolation) {
    return FxSmile::from_quotes({.spot = spot,
                                 .t = t,
                                 .domestic_rate = rd,
                                 .foreign_rate = rf,
                                 .atm_vol = atm_vol,
                                 .deltas = deltas.values,
                                 .rr = rr.values,
                                 .bf = bf.values,
                                 .delta_type = delta_type,
                                 .atm_type = atm_type,
                                 .strangle = strangle,
                                 .interpolation = interpolation});
}

Result<double> barrier_price_of(const FxSmile& s, double strike, double barrier, pricing::BarrierType type,
                                OptionType option_type, double rebate) {
    return fx::vanna_volga_barrier_price(s, {strike, barrier, type, option_type, rebate});
}

Result<FxSmile> from_quotes_at_of(double spot, Date expiry, const curves::YieldCurve& domestic,
                                  const curves::YieldCurve& foreign, double atm_vol, const Quotes& rr, const Quotes& bf,
                                  const Quotes& deltas, fx::DeltaType delta_type, fx::AtmType atm_type,
                                  fx::Strangle strangle, fx::SmileInterp interpolation) {
    QUELM_TRY(m, fx::dated_terms(expiry.serial, domestic, foreign));
    return from_quotes_of(spot, m.t, m.domestic_rate, m.foreign_rate, atm_vol, rr, bf, deltas, delta_type, atm_type,
                          strangle, interpolation);
}

double smile_t(const FxSmile& s) { return s.quotes().t; }
double smile_spot(const FxSmile& s) { return s.quotes().spot; }
double smile_rd(const FxSmile& s) { return s.quotes().domestic_rate; }
double smile_rf(const FxSmile& s) { return s.quotes().foreign_rate; }
double smile_atm(const FxSmile& s) { return s.quotes().atm_vol; }

PyObject* strikes_impl(const FxSmile& s) { return to_py(s.strikes()); }
PyObject* vols_impl(const FxSmile& s) { return to_py(s.vols()); }
PyObject* smile_strangles_impl(const FxSmile& s) { return to_py(s.smile_strangles()); }

// (functools.partial(FxSmile.from_quotes, **options), (spot, t, rates, atm_vol, rr, bf)):
// the quotes again, which solve to the same bits.
PyObject* smile_reduce_impl(const FxSmile& s) {
    const fx::SmileQuotes& q = s.quotes();
    Ref fn(PyObject_GetAttrString(reinterpret_cast<PyObject*>(fx_smile_type()), "from_quotes"));
    if (!fn) return nullptr;
    Ref rr(to_py(q.rr)), bf(to_py(q.bf)), deltas(to_py(q.deltas));
    if (!rr || !bf || !deltas) return nullptr;
    Ref args(Py_BuildValue("(dddddOO)", q.spot, q.t, q.domestic_rate, q.foreign_rate, q.atm_vol, rr.get(), bf.get()));
    Ref kwargs(Py_BuildValue("{s:O,s:s,s:s,s:s,s:s}", "deltas", deltas.get(), "delta_type",
                             fx::delta_type_name(q.delta_type), "atm_type", name_in(fx::kAtmTypes, q.atm_type),
                             "strangle", name_in(fx::kStrangles, q.strangle), "interpolation",
                             name_in(fx::kSmileInterps, q.interpolation)));
    if (!args || !kwargs) return nullptr;
    return partial_reduce(fn.get(), args.get(), kwargs.get());
}

PyObject* smile_repr(PyObject* self) {
    const FxSmile& s = value_of<FxSmile>(self);
    const fx::SmileQuotes& q = s.quotes();
    return to_py("<FxSmile t=" + format_number(q.t) + " atm " + format_number(q.atm_vol) + ", " +
                 std::to_string(s.strikes().size()) + " pillars, " + name_in(fx::kSmileInterps, q.interpolation) +
                 ">");
}

bool smile_equal(PyObject* a, PyObject* b) { return value_of<FxSmile>(a) == value_of<FxSmile>(b); }

constexpr FunctionDef def_from_quotes = typed<&from_quotes_of>(
    "from_quotes",
    {"spot", "t", "domestic_rate", "foreign_rate", "atm_vol", "rr", "bf", "*", {"deltas", "0.25"},
     {"delta_type", "\"spot\""}, {"atm_type", "\"dns\""}, {"strangle", "\"market\""},
     {"interpolation", "\"vanna-volga\""}},
    "Build the smile of one expiry from market quotes: `atm_vol`, and per entry of `deltas`\n"
    "(a number or a sequence, each in (0, 0.5); 0.25 and 0.1 usual) a risk reversal `rr`\n"
    "(call vol - put vol) and a butterfly `bf`, vols absolute (0.01 = 1 %), each a number or a\n"
    "sequence matching `deltas`.\n"
    "\n"
    "`delta_type` (\"spot\", \"forward\", \"spot-pa\", \"forward-pa\") is the quotes' delta, `atm_type`\n"
    "(\"dns\", \"forward\", \"spot\") their ATM. `strangle=\"market\"` reads `bf` as the broker\n"
    "strangle: both legs struck at ATM + bf, and the smile's own strangle solved so that the\n"
    "smile reprices that strangle's premium; \"smile\" takes `bf` as the smile strangle,\n"
    "(sigma_call + sigma_put) / 2 - ATM. `interpolation`: \"vanna-volga\" (Castagna-Mercurio's\n"
    "second order, through three pillars; five or more pillars interpolate on consecutive\n"
    "triples that meet on a pillar), \"sabr\" (beta = 1, fitted to the pillars) or\n"
    "\"spline-in-delta\" (a natural cubic spline of the vol in the forward call delta, flat\n"
    "beyond the pillars).\n"
    "\n"
    "Example:\n"
    "\n"
    "    import quelm\n"
    "    s = quelm.FxSmile.from_quotes(1.3465, 1.0, 0.0294, 0.0346, 0.1825, -0.006, 0.0095)\n"
    "    s.strikes(), s.vol(1.40)");
constexpr FunctionDef def_from_quotes_at = typed<&from_quotes_at_of>(
    "from_quotes_at",
    {"spot", "expiry", "domestic_curve", "foreign_curve", "atm_vol", "rr", "bf", "*", {"deltas", "0.25"},
     {"delta_type", "\"spot\""}, {"atm_type", "\"dns\""}, {"strangle", "\"market\""},
     {"interpolation", "\"vanna-volga\""}},
    "`from_quotes` at an expiry date off two dated YieldCurves: t is the year fraction to\n"
    "`expiry` on the domestic curve's day count, and the two rates the continuously\n"
    "compounded zero rates over t that give each curve's discount factor to `expiry`, so the\n"
    "smile's forward is S P_f / P_d (as `fx_forward_at`).\n"
    "\n"
    "Example:\n"
    "\n"
    "    import datetime, quelm\n"
    "    usd = quelm.YieldCurve.flat(0.0294, reference_date=datetime.date(2026, 1, 5))\n"
    "    eur = quelm.YieldCurve.flat(0.0346, reference_date=datetime.date(2026, 1, 5))\n"
    "    quelm.FxSmile.from_quotes_at(1.3465, datetime.date(2027, 1, 5), usd, eur, 0.1825, -0.006, 0.0095)");
constexpr FunctionDef def_vol = typed_method<member_function<&FxSmile::vol>>(
    "vol", {"strike"}, "The smile's vol at a strike.");
constexpr FunctionDef def_vol_at_delta = typed_method<member_function<&FxSmile::vol_at_delta>>(
    "vol_at_delta", {"delta", "option_type"},
    "The vol of the option whose delta in the smile's delta type, taken at its own vol, is\n"
    "`delta` (negative for a put): the fixed point of vol -> smile(strike at that delta).");
constexpr FunctionDef def_strike_at_delta = typed_method<member_function<&FxSmile::strike_at_delta>>(
    "strike_at_delta", {"delta", "option_type"}, "The strike of the option `vol_at_delta` finds.");
constexpr FunctionDef def_barrier_price = typed_method<&barrier_price_of>(
    "barrier_price", {"strike", "barrier", "barrier_type", "option_type", "*", {"rebate", "0.0"}},
    "The vanna-volga price of a continuously monitored single-barrier option on this smile\n"
    "(`barrier_type` \"down-in\", \"down-out\", \"up-in\", \"up-out\"), per unit of foreign\n"
    "notional, with a `rebate` paid at the touch (knock-outs) or at expiry if never knocked in\n"
    "(knock-ins). The closed form at the ATM vol plus the cost of its vanna and volga: three\n"
    "calls at the central pillars weighted to match the barrier's vega, vanna and volga there,\n"
    "priced on the smile less at the ATM vol, the cost taken in proportion to the probability\n"
    "of not touching the barrier. A knock-in is the smile's vanilla less the knock-out, so\n"
    "in + out = vanilla; on a flat smile both are the closed forms (`fx_barrier_price`).\n"
    "\n"
    "Example:\n"
    "\n"
    "    import quelm\n"
    "    s = quelm.FxSmile.from_quotes(1.3465, 1.0, 0.0294, 0.0346, 0.1825, -0.006, 0.0095)\n"
    "    s.barrier_price(1.35, 1.20, \"down-out\", \"call\", rebate=0.01)");
constexpr FunctionDef def_strikes = method<strikes_impl>(
    "strikes", {}, "The pillar strikes, increasing: the puts, ATM, the calls.").returning("list[float]");
constexpr FunctionDef def_vols = method<vols_impl>(
    "vols", {}, "The pillar vols, in the order of `strikes()`.").returning("list[float]");
constexpr FunctionDef def_smile_strangles = method<smile_strangles_impl>(
    "smile_strangles", {},
    "Per delta, the smile strangle (sigma_call + sigma_put) / 2 - ATM the smile has (with\n"
    "strangle=\"smile\", the quoted bf).").returning("list[float]");
constexpr FunctionDef def_smile_reduce = method<smile_reduce_impl>(
    "__reduce__", {}, "Pickle support: rebuild from the quotes.").returning("Tuple[Any, ...]");

constexpr Callable kSmileMethods[] = {
    callable<def_from_quotes>, callable<def_from_quotes_at>, callable<def_vol>,  callable<def_vol_at_delta>, callable<def_strike_at_delta>,
    callable<def_barrier_price>, callable<def_strikes>,     callable<def_vols>, callable<def_smile_strangles>, callable<def_smile_reduce>,
};

constexpr GetterDef kSmileGetters[] = {
    attribute<&FxSmile::forward>("forward", "The outright forward S e^((rd - rf) t).", "float"),
    attribute<&smile_spot>("spot", "The spot.", "float"),
    attribute<&smile_t>("t", "The time to expiry in years.", "float"),
    attribute<&smile_rd>("domestic_rate", "The domestic rate to expiry, continuously compounded.", "float"),
    attribute<&smile_rf>("foreign_rate", "The foreign rate to expiry, continuously compounded.", "float"),
    attribute<&smile_atm>("atm_vol", "The ATM vol quoted.", "float"),
};

const ClassDef kSmileClass = {
    "FxSmile",
    "An FX smile for one expiry from ATM, risk-reversal and butterfly quotes: build once,\n"
    "query many times. Immutable, compared by its quotes, picklable.\n"
    "\n"
    "    >>> import quelm\n"
    "    >>> s = quelm.FxSmile.from_quotes(1.3465, 1.0, 0.0294, 0.0346, 0.1825, -0.006, 0.0095)\n"
    "    >>> s.vol_at_delta(0.25, \"call\"), s.smile_strangles()",
    kSmileMethods, std::size(kSmileMethods), kSmileGetters, std::size(kSmileGetters), &smile_repr, &smile_equal,
};

// --- FxVolSurface ---

Result<FxVolSurface> surface_of(const Smiles& smiles) { return FxVolSurface::from_smiles(smiles.values); }

PyObject* smiles_impl(const FxVolSurface& s) {
    return make_list(s.smiles().size(), [&](std::size_t i) { return wrap(fx_smile_type(), s.smiles()[i]); });
}

PyObject* surface_reduce_impl(const FxVolSurface& s) {
    Ref smiles(smiles_impl(s));
    if (!smiles) return nullptr;
    Ref args(PyTuple_Pack(1, smiles.get()));
    Ref kwargs(PyDict_New());
    if (!args || !kwargs) return nullptr;
    return partial_reduce(reinterpret_cast<PyObject*>(fx_vol_surface_type()), args.get(), kwargs.get());
}

PyObject* surface_repr(PyObject* self) {
    const auto sm = value_of<FxVolSurface>(self).smiles();
    return to_py("<FxVolSurface " + std::to_string(sm.size()) + " smile" + (sm.size() == 1 ? "" : "s") +
                 " from t=" + format_number(sm.front().quotes().t) + " to t=" + format_number(sm.back().quotes().t) +
                 ">");
}

bool surface_equal(PyObject* a, PyObject* b) { return value_of<FxVolSurface>(a) == value_of<FxVolSurface>(b); }

constexpr FunctionDef def_surface = typed<&surface_of>(
    "FxVolSurface", {"smiles"},
    "FX smiles over expiries (distinct, in any order; one spot): the vol at (strike, t) from\n"
    "total variance linear in t at fixed ln(K / F(t)), ln F linear in t between the smiles'\n"
    "forwards; flat vol in moneyness before the first expiry and after the last.");
constexpr Callable kSurfaceConstructor = callable<def_surface>;
constexpr FunctionDef def_surface_vol = typed_method<member_function<&FxVolSurface::vol>>(
    "vol", {"strike", "t"}, "The vol at (strike, t).");
constexpr FunctionDef def_surface_forward = typed_method<member_function<&FxVolSurface::forward>>(
    "forward", {"t"}, "The forward the surface uses at t.");
constexpr FunctionDef def_smiles = method<smiles_impl>(
    "smiles", {}, "The smiles, in expiry order.").returning("list[FxSmile]");
constexpr FunctionDef def_surface_reduce = method<surface_reduce_impl>(
    "__reduce__", {}, "Pickle support: rebuild from the smiles.").returning("Tuple[Any, ...]");

constexpr Callable kSurfaceMethods[] = {
    callable<def_surface_vol>, callable<def_surface_forward>, callable<def_smiles>, callable<def_surface_reduce>,
};

const ClassDef kSurfaceClass = {
    "FxVolSurface",
    "FX smiles over expiries, interpolated in total variance. Immutable, picklable.\n"
    "\n"
    "    >>> import quelm\n"
    "    >>> m = [quelm.FxSmile.from_quotes(1.3465, t, 0.0294, 0.0346, v, -0.006, 0.0095)\n"
    "    ...      for t, v in ((0.5, 0.17), (1.0, 0.1825))]\n"
    "    >>> quelm.FxVolSurface(m).vol(1.40, 0.75)",
    kSurfaceMethods, std::size(kSurfaceMethods), nullptr, 0, &surface_repr, &surface_equal, nullptr,
    &kSurfaceConstructor,
};

}  // namespace

PyTypeObject* fx_smile_type() {
    static PyTypeObject* type = create_class(kSmileClass);
    return type;
}

PyTypeObject* fx_vol_surface_type() {
    static PyTypeObject* type = create_class(kSurfaceClass);
    return type;
}

QUELM_PUBLIC_CLASS(fx_smile_type);
QUELM_PUBLIC_CLASS(fx_vol_surface_type);

}  // namespace quelm::py
