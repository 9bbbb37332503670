// A Bermudan swaption on Hull-White by finite differences: the option's value V(t, x) in the
// model's factor x = r - phi(t) (dx = -a x dt + sigma dW) solved backward by Crank-Nicolson
// from the last exercise date to today. The short rate's deterministic part phi only scales
// V over each step, by the curve's discount factor over it and the model's convexity term,
// so the grid's time levels are dates and the value reads the curve at dates alone: at the
// levels, the exercise dates and the fixed leg's payment dates. At each exercise date the
// value is the better of holding and entering the swap, the fixed leg and its face read in
// closed form at every node (the model's zero bonds), the floating leg worth par on entry.
// The payoff there only breaks in slope, which Crank-Nicolson takes without damping steps.
#pragma once

#include <cstddef>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/curves/layout.hpp"
#include "quelm/rates/bermudan.hpp"
#include "quelm/rates/hull_white.hpp"

namespace quelm::rates {

// The value and, when asked, its exact derivative in each discount factor of the curve it
// reads (one flow per date, the grid's own: the derivative of the discrete scheme).
struct PdeValue {
    double value = 0.0;
    std::vector<curves::Flow> slopes;
};

// `steps` time steps to the last exercise date (levels on whole days, the exercise dates
// among them; at most one a day) and 2 × steps space steps over five standard deviations of
// x each side. Values in the trade's notional.
[[nodiscard]] Result<PdeValue> hw_bermudan_pde_value(const HullWhite& m, const BermudanSwaption& b, std::size_t steps,
                                                     bool with_slopes, Cancel& cancel);
[[nodiscard]] Result<double> hw_bermudan_pde(const HullWhite& m, const BermudanSwaption& b, std::size_t steps,
                                             Cancel& cancel);

}  // namespace quelm::rates
