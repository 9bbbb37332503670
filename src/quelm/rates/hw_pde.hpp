// A Bermudan swaption on Hull-White by finite differences: the option's value V(t, x) in the
// model's factor x = r - phi(t) (dx = -a x dt + sigma dW) solved backward by Crank-Nicolson,
// V_t - a x V_x + sigma^2 / 2 V_xx - (x + phi(t)) V = 0, from the last exercise date to today.
// At each exercise date the value is the better of holding and entering the swap, the fixed
// leg and its face read in closed form at every node (the model's zero bonds), the floating
// leg worth par on entry. The payoff there is continuous (only its slope breaks), which
// Crank-Nicolson takes without damping steps: fully implicit starts cost it accuracy here.
#pragma once

#include <cstddef>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/rates/bermudan.hpp"
#include "quelm/rates/hull_white.hpp"

namespace quelm::rates {

// `steps` time steps to the last exercise date (the dates landed on exactly) and 2 × steps
// space steps over five standard deviations of x each side. Values in the trade's notional.
[[nodiscard]] Result<double> hw_bermudan_pde(const HullWhite& m, const BermudanSwaption& b, std::size_t steps,
                                             Cancel& cancel);

}  // namespace quelm::rates
