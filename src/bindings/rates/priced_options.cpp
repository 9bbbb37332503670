// Python classes PricedSwaption and PricedCapFloor: a swaption (its forward and annuity) or a
// cap (its caplets) read off curves once, priced at any vol and strike, with their forms over
// arrays quelm.vec.swaption_price and quelm.vec.cap_price.
#include "bindings/rates/rate_args.hpp"

#include "bindings/string_options.hpp"
#include "frame/classes.hpp"
#include "frame/dates.hpp"
#include "frame/registry.hpp"
#include "frame/result.hpp"
#include "quelm/rates/swaption.hpp"

#include <optional>
#include <string>

namespace quelm::py {

constexpr Section kSection = Section::FixedIncome;
constexpr std::string_view kGuide = "rate-options";

namespace {

using rates::PricedCap;
using rates::PricedSwaption;

Result<double> priced_price_of(const PricedSwaption& p, double vol, std::optional<double> strike,
                               rates::VolModel model, double shift) {
    return rates::priced_price(p, vol, strike, {model, shift});
}

double annuity_of(const PricedSwaption& p) { return p.swaption.notional * p.terms.annuity; }
PyObject* swaption_py(const rates::Swaption& s) { return wrap(swaption_type(), s); }

PyObject* priced_repr(PyObject* self) {
    const PricedSwaption& p = value_of<PricedSwaption>(self);
    return to_py(std::string_view("PricedSwaption(" + rates::describe(p.swaption) + ", forward=" +
                                  format_number(p.terms.forward) + ")"));
}
bool priced_equal(PyObject* a, PyObject* b) {
    const PricedSwaption &x = value_of<PricedSwaption>(a), &y = value_of<PricedSwaption>(b);
    return x.swaption == y.swaption && x.terms.expiry == y.terms.expiry && x.terms.start == y.terms.start &&
           x.terms.t == y.terms.t && x.terms.forward == y.terms.forward && x.terms.annuity == y.terms.annuity;
}

// The array form takes the priced swaption first, as `priced`, and vol and strike as arrays.
constexpr FunctionDef def_priced_price = typed_method_in_vec<&priced_price_of>(
    "price", {"vol", "*", {"strike", "None"}, {"model", "\"black\""}, {"shift", "0.0"}},
    "The swaption's value at `vol` (and at `strike`, None: its own), with the bits of\n"
    "`Swaption.price` on the curves it was priced on for the swaption of that strike: the\n"
    "forward swap rate and the annuity do not depend on the strike. `model` as for\n"
    "`Swaption.price`. Over arrays of vols and strikes, `quelm.vec.swaption_price(priced, vol,\n"
    "strike=...)` gives each element the scalar call's bits.\n"
    "\n"
    "    >>> import quelm, datetime\n"
    "    >>> curve = quelm.YieldCurve.flat(0.03, reference_date=datetime.date(2026, 3, 2))\n"
    "    >>> p = quelm.Swaption(\"5Y\", \"10Y\", 0.03).priced_on(curve)\n"
    "    >>> p.price(0.2) == quelm.Swaption(\"5Y\", \"10Y\", 0.03).price(curve, 0.2)\n"
    "    True",
    "swaption_price", "priced", &priced_swaption_type);

constexpr Callable kPricedMethods[] = {callable<def_priced_price>};

const GetterDef kPricedGetters[] = {
    attribute<&PricedSwaption::swaption, swaption_py>("swaption", "The swaption priced.", "Swaption"),
    attribute<path<&PricedSwaption::terms, &rates::SwaptionTerms::expiry>, to_py_date>(
        "expiry", "The expiry date.", "datetime.date"),
    attribute<path<&PricedSwaption::terms, &rates::SwaptionTerms::start>, to_py_date>(
        "start", "The underlying swap's start.", "datetime.date"),
    attribute<path<&PricedSwaption::terms, &rates::SwaptionTerms::t>>("t", "The option time, act/365f years.",
                                                                      "float"),
    attribute<path<&PricedSwaption::terms, &rates::SwaptionTerms::forward>>("forward", "The forward swap rate.",
                                                                            "float"),
    attribute<&annuity_of>("annuity", "The annuity the price is read on, times the notional.", "float"),
};

Result<double> priced_cap_price_of(const PricedCap& p, double vol, std::optional<double> strike, rates::VolModel model,
                                   double shift) {
    return rates::priced_cap_price(p, vol, strike, {model, shift});
}
PyObject* cap_py(const rates::CapFloor& c) { return wrap(cap_floor_type(), c); }
PyObject* caplet_count_py(const std::vector<rates::Caplet>& ks) {
    std::uint64_t live = 0;
    for (const rates::Caplet& k : ks) live += k.fixed ? 0 : 1;
    return to_py(live);
}
PyObject* priced_cap_repr(PyObject* self) {
    const PricedCap& p = value_of<PricedCap>(self);
    return to_py(std::string_view("PricedCapFloor(" + rates::describe(p.cap) + ")"));
}
bool priced_cap_equal(PyObject* a, PyObject* b) {
    const PricedCap &x = value_of<PricedCap>(a), &y = value_of<PricedCap>(b);
    if (!(x.cap == y.cap) || x.caplets.size() != y.caplets.size()) return false;
    for (std::size_t i = 0; i < x.caplets.size(); ++i) {
        const rates::Caplet &u = x.caplets[i], &v = y.caplets[i];
        if (u.start != v.start || u.end != v.end || u.forward != v.forward || u.discount != v.discount || u.t != v.t ||
            u.fixed != v.fixed)
            return false;
    }
    return true;
}

constexpr FunctionDef def_priced_cap_price = typed_method_in_vec<&priced_cap_price_of>(
    "price", {"vol", "*", {"strike", "None"}, {"model", "\"black\""}, {"shift", "0.0"}},
    "The cap's (floor's) value at the flat `vol` (and at `strike`, None: its own), with the\n"
    "bits of `CapFloor.price` on the curves it was priced on for the cap of that strike: the\n"
    "caplets' forwards do not depend on the strike. Over arrays of vols and strikes,\n"
    "`quelm.vec.cap_price(priced, vol, strike=...)` gives each element the scalar call's bits.",
    "cap_price", "priced", &priced_cap_floor_type);

constexpr Callable kPricedCapMethods[] = {callable<def_priced_cap_price>};

const GetterDef kPricedCapGetters[] = {
    attribute<&PricedCap::cap, cap_py>("cap", "The cap or floor priced.", "CapFloor"),
    attribute<&PricedCap::caplets, caplet_count_py>("live_caplets", "How many caplets are still to fix.", "int"),
};

}  // namespace

PyTypeObject* priced_cap_floor_type() {
    static const std::string doc =
        "A cap or floor on the curves it was priced on (`CapFloor.priced_on`): its caplets laid\n"
        "out once, so that pricing it at many vols and strikes reads no curve. Immutable;\n"
        "compares equal to the same cap on the same caplets.";
    static const ClassDef def{"PricedCapFloor", doc.c_str(), kPricedCapMethods, std::size(kPricedCapMethods),
                              kPricedCapGetters, std::size(kPricedCapGetters), &priced_cap_repr, &priced_cap_equal,
                              nullptr, nullptr};
    static PyTypeObject* type = create_class(def);
    return type;
}
QUELM_PUBLIC_CLASS(priced_cap_floor_type);

PyTypeObject* priced_swaption_type() {
    static const std::string doc =
        "A swaption on the curves it was priced on (`Swaption.priced_on`): its forward swap rate\n"
        "and annuity read once, so that pricing it at many vols and strikes reads no curve.\n"
        "Immutable; compares equal to the same swaption on the same terms.";
    static const ClassDef def{"PricedSwaption", doc.c_str(), kPricedMethods, std::size(kPricedMethods),
                              kPricedGetters, std::size(kPricedGetters), &priced_repr, &priced_equal, nullptr,
                              nullptr};
    static PyTypeObject* type = create_class(def);
    return type;
}
QUELM_PUBLIC_CLASS(priced_swaption_type);

}  // namespace quelm::py
