// Hull-White's trinomial tree (Hull and White 1994) for x = r - alpha(t), dx = -a x dt +
// sigma dW: a time grid through the exercise and payment dates, the spacing sqrt(3 V) of
// each step's variance V, the branching to the node nearest the mean, and alpha fitted at
// each step by forward induction so the tree reprices the curve's discount factors.
#pragma once

#include <cstddef>

#include "quelm/core/cancel.hpp"
#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"
#include "quelm/rates/bermudan.hpp"
#include "quelm/rates/hull_white.hpp"

namespace quelm::rates {

enum class HwMethod : unsigned char { Analytic, Tree, Pde };
inline constexpr Choices<HwMethod, 3> kHwMethods{
    "method",
    Listing::Quoted,
    {{{"analytic", HwMethod::Analytic}, {"tree", HwMethod::Tree}, {"pde", HwMethod::Pde}}},
    true,
    true};

// A European swaption as a Bermudan of one exercise at its start: settlement_days = 0.
[[nodiscard]] Result<BermudanSwaption> as_bermudan(const Swaption& s, const curves::YieldCurve& curve);

// The Bermudan swaption by backward induction on `steps` steps to maturity (each interval
// between the dates split in proportion): at an exercise date the better of holding and
// entering the swap, the fixed leg and its face rolled back on the tree, the floating leg
// worth par on entry. Values in the trade's notional.
[[nodiscard]] Result<double> hw_bermudan_tree(const HullWhite& m, const BermudanSwaption& b, std::size_t steps,
                                              Cancel& cancel);

}  // namespace quelm::rates
