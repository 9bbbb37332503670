// Allocation weights: each market value over their total (negative values allowed).
#pragma once

#include <span>
#include <vector>

#include "quelm/core/error.hpp"

namespace quelm::portfolio {

// All zeros when the total is exactly 0.
[[nodiscard]] Result<std::vector<double>> weights(std::span<const double> market_values);

}  // namespace quelm::portfolio
