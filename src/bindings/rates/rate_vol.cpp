// Python class RateVol: a market's vol for swaptions and caps, a flat vol or a term
// structure in one quoting.
#include "bindings/rates/rate_args.hpp"

#include "bindings/string_options.hpp"
#include "frame/classes.hpp"
#include "frame/registry.hpp"
#include "frame/result.hpp"
#include "quelm/rates/rate_vol.hpp"

#include <string>

namespace quelm::py {

constexpr Section kSection = Section::FixedIncome;
constexpr std::string_view kGuide = "rate-options";

namespace {

using rates::RateVol;

Result<RateVol> rate_vol_new(const VolArg& vol, rates::VolModel model, double shift) {
    RateVol v{vol.term, {model, shift}};
    QUELM_CHECK(rates::check(v));
    return v;
}

PyObject* vol_py(const rates::VolTerm& v) {
    if (v.times.empty()) return to_py(v.vols.front());
    Ref times(to_py(std::span<const double>(v.times)));
    Ref vols(to_py(std::span<const double>(v.vols)));
    if (!times || !vols) return nullptr;
    return PyTuple_Pack(2, times.get(), vols.get());
}
PyObject* model_py(const rates::Quoting& q) { return to_py(rates::model_name(q.model)); }
double shift_of(const RateVol& v) { return v.quoting.shift; }

PyObject* rate_vol_repr(PyObject* self) { return to_py(rates::describe(value_of<RateVol>(self))); }
bool rate_vol_equal(PyObject* a, PyObject* b) { return value_of<RateVol>(a) == value_of<RateVol>(b); }
Py_hash_t rate_vol_hash(PyObject* self) {
    const auto h = PyObject_Hash(Ref(to_py(rates::describe(value_of<RateVol>(self)))).get());
    return h == -1 ? -2 : h;
}

// (functools.partial(RateVol, model=..., shift=...), (vol,)).
PyObject* rate_vol_reduce(const RateVol& v) {
    Ref vol(vol_py(v.vol));
    return reduce_with(rate_vol_type(), vol ? PyTuple_Pack(1, vol.get()) : nullptr,
                       {{"model", model_py(v.quoting)}, {"shift", to_py(v.quoting.shift)}});
}

constexpr FunctionDef def_rate_vol_new = typed<&rate_vol_new>(
    "RateVol", {"vol", "*", {"model", "\"black\""}, {"shift", "0.0"}},
    "A vol for the swaptions and caps of a `Market` (`rate_vols=`): `vol` a number (flat) or a\n"
    "term structure (times in years, vols), read linearly in total variance at each option's\n"
    "time (act/365f to its fixing or expiry) and flat outside, as `CapFloor.price` reads it.\n"
    "`model`: \"black\", \"shifted-black\" (rates moved by `shift`) or \"bachelier\" (normal vols).\n"
    "\n"
    "    >>> import quelm\n"
    "    >>> quelm.RateVol(([1.0, 5.0], [0.0080, 0.0095]), model=\"bachelier\")\n"
    "    RateVol(([1, 5], [0.008, 0.0095]), model='bachelier')")
    .reading_options({"model"});
constexpr FunctionDef def_rate_vol_reduce =
    method<rate_vol_reduce>("__reduce__", {}, "Pickle support: rebuild through the constructor.")
        .returning("Tuple[Any, ...]");

constexpr Callable kRateVolNew = callable<def_rate_vol_new>;
constexpr Callable kRateVolMethods[] = {callable<def_rate_vol_reduce>};

const GetterDef kRateVolGetters[] = {
    attribute<&RateVol::vol, vol_py>("vol", "The flat vol, or the term structure (times, vols).",
                                     "float | Tuple[list[float], list[float]]"),
    attribute<&RateVol::quoting, model_py>("model", "\"black\", \"shifted-black\" or \"bachelier\".", "str"),
    attribute<&shift_of>("shift", "The shift of the rates (shifted Black).", "float"),
};

}  // namespace

PyTypeObject* rate_vol_type() {
    static const std::string doc =
        "Immutable; compares equal to the same vols in the same model, hashes and pickles.\n\n"
        "    >>> import quelm\n    >>> quelm.RateVol(0.2)\n    RateVol(0.2)";
    static const ClassDef def{"RateVol", doc.c_str(), kRateVolMethods, std::size(kRateVolMethods), kRateVolGetters,
                              std::size(kRateVolGetters), &rate_vol_repr, &rate_vol_equal, &rate_vol_hash,
                              &kRateVolNew};
    static PyTypeObject* type = create_class(def);
    return type;
}
QUELM_PUBLIC_CLASS(rate_vol_type);

}  // namespace quelm::py
