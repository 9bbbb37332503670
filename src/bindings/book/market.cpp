// Python class Market: the named market a book is priced on.
#include "bindings/book/market_args.hpp"
#include "bindings/book/market_scenarios.hpp"

#include "bindings/credit/credit.hpp"
#include "bindings/fx/smile_types.hpp"
#include "bindings/instances.hpp"
#include "bindings/rates/rate_args.hpp"
#include "frame/classes.hpp"
#include "frame/dates.hpp"
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "frame/result.hpp"
#include "quelm/book/market.hpp"
#include "quelm/book/market_bootstrap.hpp"
#include "quelm/book/quote_label.hpp"

#include <string>

namespace quelm::py {

constexpr Section kSection = Section::Books;
constexpr std::string_view kGuide = "books";  // the guide page of its names

namespace {

using book::Market;

book::MarketParts parts_of(Date reference_date, const CurvesArg& curves, const SurfacesArg& surfaces,
                           const FxArg& fx, const FixingsArg& fixings, const CreditCurvesArg& credit_curves,
                           const RateVolsArg& rate_vols) {
    return {reference_date.serial, curves.items, surfaces.items,      fx.items,
            fixings.items,         surfaces.fx,  credit_curves.items, rate_vols.items};
}

Result<Market> market_of(Date reference_date, const CurvesArg& curves, const SurfacesArg& surfaces, const FxArg& fx,
                         const FixingsArg& fixings, const CreditCurvesArg& credit_curves,
                         const RateVolsArg& rate_vols) {
    return Market::make(parts_of(reference_date, curves, surfaces, fx, fixings, credit_curves, rate_vols));
}

Result<Market> bootstrap_of(Date reference_date, const QuotesArg& quotes, const FxArg& fx, const FixingsArg& fixings,
                            const SurfacesArg& surfaces, const CreditCurvesArg& credit_curves,
                            const RateVolsArg& rate_vols, Cancel& cancel) {
    return book::bootstrap_market(parts_of(reference_date, {}, surfaces, fx, fixings, credit_curves, rate_vols),
                                  quotes.items, cancel);
}

Result<credit::CreditCurve> credit_curve_of(const Market& m, std::string_view name) {
    QUELM_TRY(c, m.credit_curve(name));
    return *c;
}

// A rate vol as given: a RateVol (a number given became a flat Black one) or a SwaptionCube.
PyObject* rate_vol_py(const book::RateVols& v) {
    if (const auto* r = std::get_if<rates::RateVol>(&v.vol)) return wrap(rate_vol_type(), *r);
    if (const auto* m = std::get_if<rates::HullWhite>(&v.vol)) return wrap(hull_white_type(), *m);
    return wrap(swaption_cube_type(), std::get<rates::SwaptionCube>(v.vol));
}

PyObject* rate_vol_impl(const Market& m, PyObject* name) {
    std::string_view text;
    if (!from_py(name, text)) return nullptr;
    const auto v = m.rate_vol(text);
    if (!v) return raise(v.error());
    return rate_vol_py(**v);
}

PyObject* rate_vols_dict(const Market& m) {
    Ref d(PyDict_New());
    if (!d) return nullptr;
    for (const auto& item : m.rate_vols().items()) {
        Ref v(rate_vol_py(*item.value));
        if (!v || PyDict_SetItemString(d.get(), item.name.c_str(), v.get()) != 0) return nullptr;
    }
    return d.release();
}

Result<curves::YieldCurve> curve_of(const Market& m, std::string_view name) {
    QUELM_TRY(c, m.curve(name));
    return *c;
}
Result<volatility::VolSurface> surface_of(const Market& m, std::string_view name) {
    QUELM_TRY(s, m.surface(name));
    return *s;
}
Result<double> fx_of(const Market& m, std::string_view pair) { return m.fx(pair); }
Result<double> fixing_of(const Market& m, std::string_view index, Date date) { return m.fixing(index, date.serial); }

// A tuple of n names, name(i) the i-th.
template <class Name>
PyObject* names_tuple(std::size_t n, Name name) {
    Ref list(make_list(n, [&](std::size_t i) { return to_py(std::string_view(name(i))); }));
    return list ? PyList_AsTuple(list.get()) : nullptr;
}

PyObject* quote_labels_get(PyObject* self) {
    const auto labels = book::market_quote_labels(value_of<Market>(self));
    if (!labels) return raise(labels.error());
    return names_tuple(labels->size(), [&](std::size_t i) -> const std::string& { return (*labels)[i]; });
}
PyObject* reference_date_get(PyObject* self) { return to_py_date(value_of<Market>(self).reference_date()); }
PyObject* curve_names_get(PyObject* self) {
    const auto c = value_of<Market>(self).curves().items();
    return names_tuple(c.size(), [&](std::size_t i) -> const std::string& { return c[i].name; });
}
PyObject* surface_names_get(PyObject* self) {
    const auto s = value_of<Market>(self).surfaces().items();
    return names_tuple(s.size(), [&](std::size_t i) -> const std::string& { return s[i].name; });
}
PyObject* fx_pairs_get(PyObject* self) {
    const auto f = value_of<Market>(self).fx_spots().spots();
    return names_tuple(f.size(), [&](std::size_t i) -> const std::string& { return f[i].pair; });
}
PyObject* credit_curve_names_get(PyObject* self) {
    const auto c = value_of<Market>(self).credit_curves().items();
    return names_tuple(c.size(), [&](std::size_t i) -> const std::string& { return c[i].name; });
}
PyObject* rate_vol_names_get(PyObject* self) {
    const auto r = value_of<Market>(self).rate_vols().items();
    return names_tuple(r.size(), [&](std::size_t i) -> const std::string& { return r[i].name; });
}
PyObject* fixing_indices_get(PyObject* self) {
    const auto x = value_of<Market>(self).fixings().indices();
    return names_tuple(x.size(), [&](std::size_t i) -> const std::string& { return x[i]; });
}

// A dict of name -> instance of `type` holding each value.
template <class T>
PyObject* named_dict(const book::NamedTable<T>& table, PyTypeObject* type) {
    Ref d(PyDict_New());
    if (!d) return nullptr;
    for (const auto& item : table.items()) {
        Ref v(wrap(type, *item.value));
        if (!v || PyDict_SetItemString(d.get(), item.name.c_str(), v.get()) != 0) return nullptr;
    }
    return d.release();
}

// The surfaces and, beside them, the FX smiles as FxSmile or FxVolSurface.
PyObject* surfaces_dict(const Market& m) {
    Ref d(named_dict(m.surfaces(), vol_surface_type()));
    if (!d) return nullptr;
    for (const auto& item : m.fx_vols().items()) {
        const book::FxVols& v = *item.value;
        Ref o;
        if (v.surface) {
            auto s = fx::FxVolSurface::from_smiles(v.smiles);
            if (!s) return raise(s.error());
            o = Ref(wrap(fx_vol_surface_type(), *s));
        } else {
            o = Ref(wrap(fx_smile_type(), v.smiles.front()));
        }
        if (!o || PyDict_SetItemString(d.get(), item.name.c_str(), o.get()) != 0) return nullptr;
    }
    return d.release();
}

PyObject* fx_dict(const book::FxTable& fx) {
    Ref d(PyDict_New());
    if (!d) return nullptr;
    for (const auto& s : fx.spots()) {
        Ref v(to_py(s.spot));
        if (!v || PyDict_SetItemString(d.get(), s.pair.c_str(), v.get()) != 0) return nullptr;
    }
    return d.release();
}

// {index: {date: rate}} in date order.
PyObject* fixings_dict(const book::FixingTable& fixings) {
    Ref d(PyDict_New());
    if (!d) return nullptr;
    for (std::size_t k = 0; k < fixings.indices().size(); ++k) {
        Ref inner(PyDict_New());
        if (!inner) return nullptr;
        const auto days = fixings.dates(k);
        const auto rates = fixings.rates(k);
        for (std::size_t i = 0; i < days.size(); ++i) {
            Ref day(to_py_date(days[i]));
            Ref rate(to_py(rates[i]));
            if (!day || !rate || PyDict_SetItem(inner.get(), day.get(), rate.get()) != 0) return nullptr;
        }
        if (PyDict_SetItemString(d.get(), fixings.indices()[k].c_str(), inner.get()) != 0) return nullptr;
    }
    return d.release();
}

// (functools.partial(Market, curves=..., surfaces=..., fx=..., fixings=...), (reference_date,)):
// each curve and surface pickles as itself (a bootstrapped curve bootstraps again, to the
// same bits), spots and fixings as their floats.
PyObject* reduce_impl(const Market& m) {
    Ref kwargs(PyDict_New());
    if (!kwargs) return nullptr;
    const auto put = [&](const char* key, PyObject* value) {
        Ref v(value);
        return v && PyDict_SetItemString(kwargs.get(), key, v.get()) == 0;
    };
    if (!put("curves", named_dict(m.curves(), yield_curve_type())) ||
        !put("surfaces", surfaces_dict(m)) || !put("fx", fx_dict(m.fx_spots())) ||
        !put("fixings", fixings_dict(m.fixings())) ||
        !put("credit_curves", named_dict(m.credit_curves(), credit_curve_type())))
        return nullptr;
    if (m.rate_vols().size() > 0 && !put("rate_vols", rate_vols_dict(m))) return nullptr;
    Ref day(to_py_date(m.reference_date()));
    Ref args(day ? PyTuple_Pack(1, day.get()) : nullptr);
    if (!args) return nullptr;
    return partial_reduce(reinterpret_cast<PyObject*>(market_type()), args.get(), kwargs.get());
}

template <class Name>
std::string listed(std::size_t n, Name name) {
    if (n == 0) return "none";
    std::string text;
    for (std::size_t i = 0; i < n; ++i) text += (i ? ", " : "") + std::string(name(i));
    return text;
}

PyObject* market_repr(PyObject* self) {
    const Market& m = value_of<Market>(self);
    const auto c = m.curves().items();
    const auto s = m.surfaces().items();
    const auto f = m.fx_spots().spots();
    const auto& x = m.fixings();
    std::string text = "<Market " + dates::format_iso(m.reference_date());
    text += ", curves: " + listed(c.size(), [&](std::size_t i) { return c[i].name; });
    text += "; surfaces: " + listed(s.size(), [&](std::size_t i) { return s[i].name; });
    const auto v = m.fx_vols().items();
    if (!v.empty()) text += "; fx smiles: " + listed(v.size(), [&](std::size_t i) { return v[i].name; });
    const auto k = m.credit_curves().items();
    if (!k.empty()) text += "; credit curves: " + listed(k.size(), [&](std::size_t i) { return k[i].name; });
    const auto r = m.rate_vols().items();
    if (!r.empty()) text += "; rate vols: " + listed(r.size(), [&](std::size_t i) { return r[i].name; });
    text += "; fx: " + listed(f.size(), [&](std::size_t i) { return f[i].pair; });
    text += "; fixings: " + listed(x.indices().size(), [&](std::size_t i) {
                const std::size_t n = x.dates(i).size();
                return x.indices()[i] + " (" + std::to_string(n) + (n == 1 ? " date)" : " dates)");
            });
    return to_py(text + ">");
}

bool market_equal(PyObject* a, PyObject* b) { return value_of<Market>(a) == value_of<Market>(b); }

#define QUELM_MARKET_PARAMS {"surfaces", "{}", "\"\""}, {"fx", "{}", "\"\""}, {"fixings", "{}", "\"\""}

constexpr FunctionDef def_constructor = typed<&market_of>(
    "Market", {"reference_date", "*", {"curves", "{}", "\"\""}, QUELM_MARKET_PARAMS, {"credit_curves", "{}", "\"\""},
               {"rate_vols", "{}", "\"\""}},
    "The market at `reference_date`: yield curves by name (`curves`, each dated at\n"
    "`reference_date`), volatility surfaces by name (`surfaces`: VolSurface, or FxSmile and\n"
    "FxVolSurface, which FX options of their pair are priced on, rebuilt on the market's spot\n"
    "and curves), FX spots by currency pair (`fx`, {\"EURUSD\": 1.08}: dollars per euro) and\n"
    "past fixings by rate index (`fixings`, each a mapping of dates to rates, a dict or a\n"
    "pandas Series indexed by dates). `credit_curves`: CreditCurves by name (each traded on\n"
    "`reference_date`, named apart from the curves), which Cds trades are priced on. `rate_vols`:\n"
    "the vols swaptions and caps are priced on by name (a RateVol, a SwaptionCube or a number,\n"
    "a flat Black vol).");
constexpr Callable kConstructor = callable<def_constructor>;

constexpr FunctionDef def_bootstrap = typed<&bootstrap_of>(
    "bootstrap", {"reference_date", "quotes", "*", {"fx", "{}", "\"\""}, {"fixings", "{}", "\"\""},
                  {"surfaces", "{}", "\"\""}, {"credit_curves", "{}", "\"\""}, {"rate_vols", "{}", "\"\""}},
    "The market whose curves are bootstrapped from `quotes` at `reference_date`: curve name ->\n"
    "a list of instruments, or (instruments, options) with `YieldCurve.bootstrap`'s keywords\n"
    "(`day_count`, `interp`, `extrapolate`, `discount_curve`). A `discount_curve` given by name\n"
    "is built first and shared: {\"eur-estr\": ois, \"eur-euribor-6m\": (swaps, {\"discount_curve\":\n"
    "\"eur-estr\"})} builds eur-estr, then eur-euribor-6m on it. An unknown name or a loop of\n"
    "discount curves is an error naming them. `fx`, `fixings`, `surfaces`, `credit_curves` and\n"
    "`rate_vols` as for `Market`.");
constexpr FunctionDef def_credit_curve = typed_method<&credit_curve_of>(
    "credit_curve", {"name"}, "The credit curve of that name (an error lists the names there are).");
constexpr FunctionDef def_curve = typed_method<&curve_of>(
    "curve", {"name"}, "The yield curve of that name (an error lists the names there are).");
constexpr FunctionDef def_surface = typed_method<&surface_of>(
    "surface", {"name"}, "The volatility surface of that name (an error lists the names there are).");
constexpr FunctionDef def_rate_vol = method<rate_vol_impl>(
    "rate_vol", {"name"},
    "The rate vol of that name: a RateVol (a number given is a flat Black one) or a\n"
    "SwaptionCube (an error lists the names there are).")
    .returning("RateVol | SwaptionCube | HullWhite");
constexpr FunctionDef def_fx = typed_method<&fx_of>(
    "fx", {"pair"},
    "The spot of a currency pair (\"EURUSD\": dollars per euro, any letter case); a pair given\n"
    "the other way round answers exactly 1.0 / spot, a currency in itself 1.0. No cross\n"
    "through a third currency is made.");
constexpr FunctionDef def_fixing = typed_method<&fixing_of>(
    "fixing", {"index", "date"}, "The fixing of a rate index on a date (an error names both when there is none).");
constexpr FunctionDef def_reduce = method<reduce_impl>(
    "__reduce__", {}, "Pickle support: rebuild from the curves, surfaces, spots and fixings.")
    .returning("Tuple[Any, ...]");

constexpr FunctionDef def_shifted = typed_method<&shifted_of>(
    "shifted", {"shifts"},
    "This market with quotes moved: `shifts` maps a quote label (\"eur-estr 5Y\": that quote),\n"
    "a curve name (\"eur-estr\": each of its quotes, in parallel) or an FX pair (\"EURUSD\": its\n"
    "spot) to an amount in the quote's own units: +0.0001 on a rate is +1bp, a future's price\n"
    "moves in price points, a spot absolutely. A dict or a pandas Series; shifts of one quote\n"
    "add up. Each curve reading a moved quote is bootstrapped again with its own recipe, and a\n"
    "curve discounting on a rebuilt curve is rebuilt on it; the other curves are shared. An\n"
    "unknown key is an error naming it; a curve given whole has no quotes to move.");
constexpr FunctionDef def_scenarios = method<scenarios_impl>(
    "scenarios", {"shifts"},
    "Many shifted markets at once, on the worker pool, each bit-identical to `shifted` of its\n"
    "shifts: `shifts` a DataFrame (rows: scenarios, columns: shift keys) or a mapping of\n"
    "scenario names to shifts gives a dict of names to markets in that order; a sequence of\n"
    "shifts gives a list. An error names the scenario.")
    .returning("dict[Any, Market] | list[Market]");
constexpr FunctionDef def_historical_shifts = method<historical_shifts_impl>(
    "historical_shifts", {"quote_history", "*", {"horizon", "1"}, {"relative", "None"}},
    "Scenario shifts from a quote history: `quote_history` a DataFrame indexed by date, one\n"
    "column per shift key (a quote label, a curve, an FX pair). Each scenario is the change\n"
    "over `horizon` rows, x[t+h] - x[t], named by its last date; windows overlap when\n"
    "horizon > 1. A column is taken absolutely (a rate quote: the change itself) or relatively\n"
    "(the FX pairs, unless `relative` names the relative columns: this market's level times\n"
    "x[t+h] / x[t], less the level). A missing value is an error naming the column and date:\n"
    "fill or drop it first. The result, a DataFrame of the same kind, feeds `scenarios`.")
    .returning("Any");

constexpr Callable kMethods[] = {
    callable<def_bootstrap>, callable<def_curve>, callable<def_surface>, callable<def_credit_curve>,
    callable<def_rate_vol>,
    callable<def_fx>, callable<def_fixing>, callable<def_reduce>,
    callable<def_shifted>, callable<def_scenarios>, callable<def_historical_shifts>,
};

const GetterDef kGetters[] = {
    {"reference_date", "The date the market is at: every curve's t = 0.", &reference_date_get, "datetime.date"},
    {"curve_names", "The names of the curves, sorted.", &curve_names_get, "Tuple[str, ...]"},
    {"surface_names", "The names of the surfaces, sorted.", &surface_names_get, "Tuple[str, ...]"},
    {"fx_pairs", "The currency pairs given, upper case, sorted.", &fx_pairs_get, "Tuple[str, ...]"},
    {"fixing_indices", "The rate indices with fixings, sorted.", &fixing_indices_get, "Tuple[str, ...]"},
    {"credit_curve_names", "The names of the credit curves, sorted.", &credit_curve_names_get, "Tuple[str, ...]"},
    {"rate_vol_names", "The names of the rate vols (swaptions' and caps'), sorted.", &rate_vol_names_get,
     "Tuple[str, ...]"},
    {"quote_labels",
     "The labels of the quotes the curves were bootstrapped from, as risk reports and scenarios\n"
     "name them (\"usd-sofr 5Y\"): curve by curve in name order, each curve's quotes in order.",
     &quote_labels_get, "Tuple[str, ...]"},
};

const ClassDef kClass = {
    "Market",
    "The named market a book is priced on: curves, surfaces, FX spots and fixings at one date.\n"
    "\n"
    "Immutable, compared by value and picklable (it ships to Dask workers whole):\n"
    "\n"
    "    >>> import quelm\n"
    "    >>> sofr = quelm.YieldCurve.flat(0.043, reference_date=\"2026-03-02\")\n"
    "    >>> m = quelm.Market(\"2026-03-02\", curves={\"usd-sofr\": sofr}, fx={\"EURUSD\": 1.08},\n"
    "    ...                  fixings={\"sofr\": {\"2026-02-27\": 0.0431}})\n"
    "    >>> m.curve(\"usd-sofr\").discount(1.0), m.fx(\"USDEUR\"), m.fixing(\"sofr\", \"2026-02-27\")",
    kMethods, std::size(kMethods), kGetters, std::size(kGetters), &market_repr, &market_equal, nullptr, &kConstructor,
};

}  // namespace

PyTypeObject* market_type() {
    static PyTypeObject* type = create_class(kClass);
    return type;
}

QUELM_PUBLIC_CLASS(market_type);

}  // namespace quelm::py
