// Python class SwaptionCube: SABR smiles calibrated per expiry x tenor node from vol quotes,
// read between the nodes.
#include "bindings/rates/rate_args.hpp"

#include "bindings/string_options.hpp"
#include "frame/classes.hpp"
#include "frame/registry.hpp"
#include "frame/result.hpp"
#include "quelm/rates/swaption_cube.hpp"

#include <string>

namespace quelm::py {

constexpr Section kSection = Section::FixedIncome;
constexpr std::string_view kGuide = "rate-options";


namespace {

// A strike column: a number, or text "ATM", "ATM+25" (basis points from the forward).
struct StrikeList {
    std::vector<rates::CubeStrike> items;
};
bool from_py(PyObject* o, StrikeList& out) {
    if (PyUnicode_Check(o) || !PySequence_Check(o)) {
        PyErr_Format(PyExc_TypeError, "expected a sequence of strikes (numbers or \"ATM+25\"), got %s",
                     Py_TYPE(o)->tp_name);
        return false;
    }
    Ref seq(PySequence_Fast(o, "expected a sequence of strikes"));
    if (!seq) return false;
    const Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
    out.items.clear();
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PySequence_Fast_GET_ITEM(seq.get(), i);
        if (PyUnicode_Check(item)) {
            std::string_view text;
            if (!::quelm::py::from_py(item, text)) return false;
            auto s = rates::parse_cube_strike(text);
            if (!s) {
                raise(s.error());
                return false;
            }
            out.items.push_back(*s);
        } else {
            double v = 0.0;
            if (!::quelm::py::from_py(item, v)) return false;
            out.items.push_back({false, v});
        }
    }
    return true;
}

// Numbers nested to any depth (a list of lists of lists, a 3-d array), flattened in order.
struct NestedFloats {
    std::vector<double> values;
};
bool flatten(PyObject* o, std::vector<double>& out, int depth) {
    if (PyFloat_Check(o) || PyLong_Check(o) || (!PySequence_Check(o) && PyNumber_Check(o))) {
        double v = 0.0;
        if (!::quelm::py::from_py(o, v)) return false;
        out.push_back(v);
        return true;
    }
    if (depth > 3 || PyUnicode_Check(o) || !PySequence_Check(o)) {
        PyErr_Format(PyExc_TypeError, "expected vols nested by expiry, tenor and strike, got %s", Py_TYPE(o)->tp_name);
        return false;
    }
    Ref seq(PySequence_Fast(o, "expected a sequence of vols"));
    if (!seq) return false;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.get()); ++i)
        if (!flatten(PySequence_Fast_GET_ITEM(seq.get(), i), out, depth + 1)) return false;
    return true;
}
bool from_py(PyObject* o, NestedFloats& out) {
    out.values.clear();
    return flatten(o, out.values, 0);
}

// A tenor ("5Y") or years (a number).
struct YearsArg {
    double years = 0.0;
};
bool from_py(PyObject* o, YearsArg& out) {
    if (PyUnicode_Check(o)) {
        std::string_view text;
        if (!::quelm::py::from_py(o, text)) return false;
        auto t = dates::parse_tenor(text);
        if (!t) {
            raise(t.error());
            return false;
        }
        out.years = t->unit == dates::TenorUnit::Years ? t->count
                    : t->unit == dates::TenorUnit::Months ? t->count / 12.0
                    : t->unit == dates::TenorUnit::Weeks ? t->count * 7.0 / 365.0
                                                         : t->count / 365.0;
        return true;
    }
    return ::quelm::py::from_py(o, out.years);
}

}  // namespace

template <>
struct Annotation<StrikeList> {
    static const char* param() { return "_ArrayLike[_Float | str]"; }
};
template <>
struct Annotation<NestedFloats> {
    static const char* param() { return "Any"; }
};
template <>
struct Annotation<YearsArg> {
    static const char* param() { return "str | _Float"; }
};

// One node's fit, as parameters() and report() show it.
struct CubeFit {
    const rates::CubeNode* node;
    double shift;
};

namespace {

constinit const auto kCubeFit = record<CubeFit>({
    {"expiry", [](const CubeFit& f) { return to_py(curves::tenor_text(f.node->expiry)); }, [] { return "str"; }},
    {"tenor", [](const CubeFit& f) { return to_py(curves::tenor_text(f.node->tenor)); }, [] { return "str"; }},
    {"t", [](const CubeFit& f) { return to_py(f.node->t); }, [] { return "float"; }},
    {"forward", [](const CubeFit& f) { return to_py(f.node->forward); }, [] { return "float"; }},
    {"alpha", [](const CubeFit& f) { return to_py(f.node->fit.params.alpha); }, [] { return "float"; }},
    {"beta", [](const CubeFit& f) { return to_py(f.node->fit.params.beta); }, [] { return "float"; }},
    {"rho", [](const CubeFit& f) { return to_py(f.node->fit.params.rho); }, [] { return "float"; }},
    {"nu", [](const CubeFit& f) { return to_py(f.node->fit.params.nu); }, [] { return "float"; }},
    {"shift", [](const CubeFit& f) { return to_py(f.shift); }, [] { return "float"; }},
    {"rmse", [](const CubeFit& f) { return to_py(f.node->fit.rmse); }, [] { return "float"; }},
    {"max_error", [](const CubeFit& f) { return to_py(f.node->fit.max_error); }, [] { return "float"; }},
    {"converged", [](const CubeFit& f) { return PyBool_FromLong(f.node->fit.converged ? 1 : 0); },
     [] { return "bool"; }},
    {"strikes", [](const CubeFit& f) { return to_py(std::span<const double>(f.node->strikes)); },
     [] { return "list[float]"; }},
    {"residuals", [](const CubeFit& f) { return to_py(std::span<const double>(f.node->fit.residuals)); },
     [] { return "list[float]"; }},
});

}  // namespace

QUELM_RECORD(CubeFit, kCubeFit, "CubeFit");

struct CubeReport {
    std::vector<CubeFit> fits;
};
template <>
struct ToPy<CubeReport> {
    static PyObject* convert(const CubeReport& r) { return to_py(std::span<const CubeFit>(r.fits), kCubeFit); }
};
template <>
struct Annotation<CubeReport> {
    static const char* result() { return "list[CubeFit]"; }
};

namespace {

using rates::SwaptionCube;

Result<std::vector<dates::Tenor>> tenors_of(const std::vector<std::string>& texts) {
    std::vector<dates::Tenor> out;
    for (const std::string& s : texts) {
        QUELM_TRY(t, dates::parse_tenor(s));
        if (!(t.count > 0)) return invalid("SwaptionCube: tenors must be positive, got " + s);
        out.push_back(t);
    }
    return out;
}

// The quotes' grid and model, as both constructors (from quotes, and from pickled nodes) read them.
Result<rates::CubeQuotes> grid_of(Date reference_date, const std::vector<std::string>& expiries,
                                  const std::vector<std::string>& tenors, const NestedFloats& vols,
                                  rates::VolModel model, double beta, double shift) {
    rates::CubeQuotes q;
    q.reference = reference_date.serial;
    QUELM_TRY(e, tenors_of(expiries));
    QUELM_TRY(t, tenors_of(tenors));
    q.expiries = std::move(e);
    q.tenors = std::move(t);
    q.vols = vols.values;
    q.model = model;
    q.beta = beta;
    q.shift = shift;
    return q;
}

Result<SwaptionCube> cube_from_quotes(Date reference_date, const std::vector<std::string>& expiries,
                                      const std::vector<std::string>& tenors, const StrikeList& strikes,
                                      const NestedFloats& vols, rates::VolModel model, double beta, double shift,
                                      const std::optional<CurveRef>& curve, Cancel& cancel) {
    QUELM_TRY(q, grid_of(reference_date, expiries, tenors, vols, model, beta, shift));
    q.strikes = strikes.items;
    q.curve = curve ? curve->curve : nullptr;
    return rates::build_cube(q, cancel);
}

Result<double> cube_vol_of(const SwaptionCube& c, const YearsArg& expiry, const YearsArg& tenor, double strike) {
    return rates::cube_vol(c, expiry.years, tenor.years, strike);
}

Result<CubeFit> cube_parameters_of(const SwaptionCube& c, std::string_view expiry, std::string_view tenor) {
    QUELM_TRY(e, dates::parse_tenor(expiry));
    QUELM_TRY(t, dates::parse_tenor(tenor));
    const rates::CubeNode* n = rates::cube_node(c, e, t);
    if (!n)
        return invalid("SwaptionCube: no node " + curves::tenor_text(e) + " x " + curves::tenor_text(t) +
                       " (parameters are per quoted node; vol() reads between them)");
    return CubeFit{n, c.shift};
}

Result<CubeReport> cube_report_of(const SwaptionCube& c) {
    CubeReport r;
    for (const rates::CubeNode& n : c.nodes) r.fits.push_back({&n, c.shift});
    return r;
}

PyObject* cube_repr(PyObject* self) {
    const SwaptionCube& c = value_of<SwaptionCube>(self);
    const std::string text = "SwaptionCube(" + dates::format_iso(c.reference) + ", " +
                             std::to_string(c.expiries.size()) + " expiries x " + std::to_string(c.tenors.size()) +
                             " tenors, " + std::string(rates::model_name(c.model)) + ")";
    return to_py(std::string_view(text));
}
bool cube_equal(PyObject* a, PyObject* b) { return value_of<SwaptionCube>(a) == value_of<SwaptionCube>(b); }

PyObject* tenors_py(const std::vector<dates::Tenor>& ts) {
    return make_list(ts.size(), [&](std::size_t i) { return to_py(curves::tenor_text(ts[i])); });
}
PyObject* model_py(rates::VolModel m) { return to_py(rates::model_name(m)); }

// The cube from what it holds: its grid, strike columns (each a value and whether it is an
// offset from the forward), quotes, model and each node's forward and option time. The
// nodes are fitted again, to the same bits.
Result<SwaptionCube> cube_of_nodes(Date reference_date, const std::vector<std::string>& expiries,
                                   const std::vector<std::string>& tenors, const NestedFloats& strikes,
                                   const NestedFloats& offsets, const NestedFloats& vols, rates::VolModel model,
                                   double beta, double shift, const NestedFloats& forwards, const NestedFloats& times,
                                   Cancel& cancel) {
    QUELM_TRY(q, grid_of(reference_date, expiries, tenors, vols, model, beta, shift));
    if (offsets.values.size() != strikes.values.size()) return bad_argument("SwaptionCube: a flag per strike column");
    for (std::size_t k = 0; k < strikes.values.size(); ++k)
        q.strikes.push_back({offsets.values[k] != 0.0, strikes.values[k]});
    q.forwards = forwards.values;
    q.times = times.values;
    return rates::build_cube(q, cancel);
}

PyObject* floats_py(const std::vector<double>& xs) { return to_py(std::span<const double>(xs)); }

// (SwaptionCube._from_nodes, (reference_date, expiries, tenors, strikes, offsets,
// vols, model, beta, shift, forwards, times)).
PyObject* cube_reduce(const SwaptionCube& c) {
    std::vector<double> strikes, offsets, vols, forwards, times;
    for (const rates::CubeStrike& k : c.strikes) {
        strikes.push_back(k.value);
        offsets.push_back(k.offset ? 1.0 : 0.0);
    }
    for (const rates::CubeNode& n : c.nodes) {
        vols.insert(vols.end(), n.vols.begin(), n.vols.end());
        forwards.push_back(n.forward);
        times.push_back(n.t);
    }
    Ref fn(PyObject_GetAttrString(reinterpret_cast<PyObject*>(swaption_cube_type()), "_from_nodes"));
    if (!fn) return nullptr;
    Ref args(Py_BuildValue("(NNNNNNNddNN)", to_py_date(c.reference), tenors_py(c.expiries), tenors_py(c.tenors),
                           floats_py(strikes), floats_py(offsets), floats_py(vols), to_py(rates::model_name(c.model)),
                           c.beta, c.shift, floats_py(forwards), floats_py(times)));
    if (!args) return nullptr;
    return PyTuple_Pack(2, fn.get(), args.get());
}



constexpr FunctionDef def_cube_from_quotes = typed<&cube_from_quotes>(
    "from_quotes",
    {"reference_date", "expiries", "tenors", "strikes", "vols", "*", {"model", "\"bachelier\""}, {"beta", "0.5"},
     {"shift", "0.0"}, {"curve", "None"}},
    "A cube from vol quotes: `vols[i][j][k]` at expiry `expiries[i]` (\"1Y\"), swap tenor\n"
    "`tenors[j]` (\"10Y\") and strike `strikes[k]` (a rate, or \"ATM\", \"ATM+25\", \"ATM-50\": basis\n"
    "points from the node's forward swap rate on `curve`, a dated curve on `reference_date`).\n"
    "Quotes are vols of `model` (\"bachelier\": normal vols, \"black\", \"shifted-black\" with\n"
    "`shift`). Each node is fitted with SABR (alpha, rho, nu; `beta` fixed), the normal\n"
    "expansion for normal vols, the lognormal one otherwise, on forward + `shift`. The nodes'\n"
    "swaptions are `Swaption(expiry, tenor, ...)` on its defaults.")
    .reading_options({"model"});
constexpr FunctionDef def_cube_of_nodes = typed<&cube_of_nodes>(
    "_from_nodes",
    {"reference_date", "expiries", "tenors", "strikes", "offsets", "vols", "model", "beta", "shift", "forwards",
     "times"},
    "Rebuild a cube from its pickled state (`__reduce__`): the nodes' forwards and times given,\n"
    "each node fitted as `from_quotes` fits it.")
    .reading_options({"model"});
constexpr FunctionDef def_cube_reduce =
    method<cube_reduce>("__reduce__", {}, "Pickle support: rebuild from the quotes and the nodes' forwards.")
        .returning("Tuple[Any, ...]");

constexpr FunctionDef def_cube_vol = typed_method<&cube_vol_of>(
    "vol", {"expiry", "tenor", "strike"},
    "The vol at `expiry` and `tenor` (tenors or years) and an absolute `strike`: the four nodes\n"
    "around it (flat beyond the grid) at the strike's offset from the interpolated forward,\n"
    "weighted bilinearly in years.");
constexpr FunctionDef def_cube_parameters = typed_method<&cube_parameters_of>(
    "parameters", {"expiry", "tenor"},
    "A quoted node's SABR parameters, forward, option time and fit (rmse, max_error,\n"
    "converged, its absolute strikes and residuals, model minus quote).");
constexpr FunctionDef def_cube_report = typed_method<&cube_report_of>(
    "report", {}, "Every node's fit, expiry-major, as `parameters` gives it.");

constexpr Callable kCubeMethods[] = {callable<def_cube_from_quotes>, callable<def_cube_vol>,
                                     callable<def_cube_parameters>, callable<def_cube_report>,
                                     callable<def_cube_of_nodes>, callable<def_cube_reduce>};

const GetterDef kCubeGetters[] = {
    attribute<&SwaptionCube::reference, to_py_date>("reference_date", "The trade date of the quotes.",
                                                   "datetime.date"),
    attribute<&SwaptionCube::expiries, tenors_py>("expiries", "The quoted expiries.", "list[str]"),
    attribute<&SwaptionCube::tenors, tenors_py>("tenors", "The quoted swap tenors.", "list[str]"),
    attribute<&SwaptionCube::model, model_py>("model", "The quotes' vol model.", "str"),
    attribute<&SwaptionCube::beta>("beta", "SABR's beta, fixed in the fits.", "float"),
    attribute<&SwaptionCube::shift>("shift", "The shift of the rates.", "float"),
};

}  // namespace

PyTypeObject* swaption_cube_type() {
    static const std::string doc =
        "Immutable; built by `SwaptionCube.from_quotes`, compares equal to the cube of the same quotes.\n\n"
        "    >>> import quelm, datetime\n"
        "    >>> curve = quelm.YieldCurve.flat(0.03, reference_date=datetime.date(2026, 3, 2))\n"
        "    >>> cube = quelm.SwaptionCube.from_quotes(datetime.date(2026, 3, 2), [\"1Y\"], [\"5Y\"],\n"
        "    ...     [\"ATM-100\", \"ATM\", \"ATM+100\"], [[[0.0095, 0.0085, 0.0090]]], curve=curve)\n"
        "    >>> round(cube.vol(\"1Y\", \"5Y\", cube.parameters(\"1Y\", \"5Y\")[\"forward\"]), 6)\n"
        "    0.0085";
    static const ClassDef def{"SwaptionCube", doc.c_str(), kCubeMethods, std::size(kCubeMethods), kCubeGetters,
                              std::size(kCubeGetters), &cube_repr, &cube_equal, nullptr, nullptr};
    static PyTypeObject* type = create_class(def);
    return type;
}
QUELM_PUBLIC_CLASS(swaption_cube_type);

}  // namespace quelm::py
