// Python class FixedRateBond.
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "bindings/instances.hpp"
#include "quelm/bonds/bond.hpp"
#include "quelm/bonds/bond_block.hpp"
#include "quelm/curves/bond_off_curve.hpp"
#include "quelm/curves/curve.hpp"

#include <span>
#include <string>
#include <utility>
#include <vector>

namespace quelm::py {

constexpr Section kSection = Section::FixedIncome;
constexpr std::string_view kGuide = "fixed-income";  // the guide page of its names

template <>
struct ToPy<std::pair<double, double>> {
    static PyObject* convert(const std::pair<double, double>& p) { return to_py_pair(p.first, p.second); }
};
template <>
struct Annotation<std::pair<double, double>> {
    static const char* result() { return "Tuple[float, float]"; }
};

extern const FunctionDef def_fixed_rate_bond_dated;

namespace {

using bonds::Cashflow;
using bonds::FixedRateBond;

using Series = std::span<const double>;

Result<FixedRateBond> regular_of(double face, double coupon_rate, U32 frequency, U32 n_periods, Cancel& cancel) {
    return FixedRateBond::regular(face, coupon_rate, frequency.value, n_periods.value, cancel);
}

Result<FixedRateBond> from_cashflows_of(Series times, Series amounts, U32 frequency, double accrued, double face,
                                        double coupon_rate) {
    return FixedRateBond::from_cashflows(frequency.value, times, amounts, face, coupon_rate, accrued);
}

Result<std::pair<double, double>> price_from_curve_of(const FixedRateBond& b, const curves::YieldCurve& curve,
                                                      Cancel& cancel) {
    return curves::bond_price_off_curve(b, curve, cancel);
}

// quelm.vec.bond_price's and bond_yield's blocks: up to vec::kBlock elements of a row through
// the bond's lanes.
static_assert(vec::kBlock == bonds::kBondBlock, "an array block is one block of the core");
constexpr ParamList kPriceParams{"y"}, kYieldParams{"clean_price"};
void bond_price_many(const void* context, const char* const* at, const Py_ssize_t* step, std::size_t n,
                     double* out, bool* done) {
    double y[vec::kBlock];
    for (std::size_t j = 0; j < n; ++j) y[j] = vec::block_real(at, step, kPriceParams.operand("y"), j);
    bonds::clean_price_block(*static_cast<const FixedRateBond*>(context), y, n, out, done);
}

void bond_yield_many(const void* context, const char* const* at, const Py_ssize_t* step, std::size_t n,
                     double* out, bool* done) {
    double p[vec::kBlock];
    for (std::size_t j = 0; j < n; ++j) p[j] = vec::block_real(at, step, kYieldParams.operand("clean_price"), j);
    bonds::yield_block(*static_cast<const FixedRateBond*>(context), p, n, out, done);
}

// (from_cashflows, (times, amounts, frequency, accrued, face, coupon_rate)):
// every stored field goes back unchanged, so the rebuilt bond is equal.
PyObject* reduce_impl(const FixedRateBond& b) {
    Ref fn(PyObject_GetAttrString(reinterpret_cast<PyObject*>(fixed_rate_bond_type()), "from_cashflows"));
    if (!fn) return nullptr;
    std::vector<double> times, amounts;
    times.reserve(b.cashflows().size());
    amounts.reserve(b.cashflows().size());
    for (const Cashflow& c : b.cashflows()) {
        times.push_back(c.time);
        amounts.push_back(c.amount);
    }
    Ref t(to_py(times)), m(to_py(amounts));
    Ref f(to_py(static_cast<std::uint64_t>(b.frequency())));
    Ref acc(to_py(b.accrued())), face(to_py(b.face())), coupon(to_py(b.coupon_rate()));
    if (!t || !m || !f || !acc || !face || !coupon) return nullptr;
    Ref args(PyTuple_Pack(6, t.get(), m.get(), f.get(), acc.get(), face.get(), coupon.get()));
    if (!args) return nullptr;
    return PyTuple_Pack(2, fn.get(), args.get());
}

PyObject* bond_repr(PyObject* self) {
    const FixedRateBond& b = value_of<FixedRateBond>(self);
    const std::string text = "<FixedRateBond " + std::to_string(b.cashflows().size()) + " cashflows to t=" +
                             format_number(b.cashflows().back().time) + ", frequency=" +
                             std::to_string(b.frequency()) + ", face=" + format_number(b.face()) +
                             ", coupon_rate=" + format_number(b.coupon_rate()) +
                             ", accrued=" + format_number(b.accrued()) + ">";
    return to_py(text);
}

bool bond_equal(PyObject* a, PyObject* b) { return value_of<FixedRateBond>(a) == value_of<FixedRateBond>(b); }

// Static constructors, then instance methods, in the order the class lists them.
constexpr FunctionDef def_regular = typed<&regular_of>(
    "regular", {"face", "coupon_rate", "frequency", "n_periods"},
    "A regular bond settling on a coupon date: `n_periods` equal coupons at\n"
    "`t = k/frequency`, plus `face` redeemed at the last. Accrued is zero.");
constexpr FunctionDef def_from_cashflows = typed<&from_cashflows_of>(
    "from_cashflows",
    {"times", "amounts", "frequency", {"accrued", "0.0"}, {"face", "100.0"}, {"coupon_rate", "0.0"}},
    "Build from explicit cashflows: `times` (years) and matching `amounts`,\n"
    "plus the accrued interest at settlement.").locking(Lock::BySize);
constexpr FunctionDef def_dirty_price_from_yield =
    typed_method<member_function<&FixedRateBond::dirty_price_from_yield>>(
        "dirty_price_from_yield", {"y"},
        "Dirty (full) price from a flat yield compounded at the coupon frequency.");
constexpr FunctionDef def_clean_price_from_yield =
    typed_method_in_vec<member_function<&FixedRateBond::clean_price_from_yield>, &bond_price_many>(
        "clean_price_from_yield", kPriceParams,
        "Clean price from a flat yield (`dirty − accrued`).", "bond_price", "bond", &fixed_rate_bond_type);
constexpr FunctionDef def_yield_to_maturity =
    typed_method_in_vec<member_function<&FixedRateBond::yield_to_maturity>, &bond_yield_many>(
        "yield_to_maturity", kYieldParams,
        "Yield-to-maturity from a quoted clean price.", "bond_yield", "bond", &fixed_rate_bond_type);
constexpr FunctionDef def_price_from_curve = typed_method<&price_from_curve_of>(
    "price_from_curve", {"curve"},
    "Dirty and clean price discounted on a yield curve, returned as a tuple.");
constexpr FunctionDef def_macaulay_duration = typed_method<member_function<&FixedRateBond::macaulay_duration>>(
    "macaulay_duration", {"y"},
    "Macaulay duration at yield `y`.");
constexpr FunctionDef def_modified_duration = typed_method<member_function<&FixedRateBond::modified_duration>>(
    "modified_duration", {"y"},
    "Modified duration at yield `y`.");
constexpr FunctionDef def_convexity = typed_method<member_function<&FixedRateBond::convexity>>(
    "convexity", {"y"},
    "Convexity at yield `y`.");
constexpr FunctionDef def_reduce = method<reduce_impl>(
    "__reduce__", {},
    "Pickle support: rebuild through `from_cashflows`.").returning("Tuple[Any, ...]");

constexpr Callable kMethods[] = {
    callable<def_regular>, callable<def_from_cashflows>, callable<def_fixed_rate_bond_dated>,
    callable<def_dirty_price_from_yield>,
    callable<def_clean_price_from_yield>, callable<def_yield_to_maturity>, callable<def_price_from_curve>,
    callable<def_macaulay_duration>, callable<def_modified_duration>, callable<def_convexity>,
    callable<def_reduce>,
};

const GetterDef kGetters[] = {
    attribute<&FixedRateBond::accrued>("accrued", "Accrued interest at settlement.", "float"),
};

const ClassDef kClass = {
    "FixedRateBond",
    "A fixed-rate bond: build once, price and analyse from a yield or a curve.\n"
    "\n"
    "    >>> import quelm\n"
    "    >>> b = quelm.FixedRateBond.regular(face=100, coupon_rate=0.05, frequency=2, n_periods=10)\n"
    "    >>> b.clean_price_from_yield(0.05)   # ~100 (par)\n"
    "    >>> b.yield_to_maturity(100.0)       # ~0.05\n"
    "    >>> b.modified_duration(0.05), b.convexity(0.05)",
    kMethods, std::size(kMethods), kGetters, std::size(kGetters), &bond_repr, &bond_equal,
};

}  // namespace

PyTypeObject* fixed_rate_bond_type() {
    static PyTypeObject* type = create_class(kClass);
    return type;
}

QUELM_PUBLIC_CLASS(fixed_rate_bond_type);

}  // namespace quelm::py
