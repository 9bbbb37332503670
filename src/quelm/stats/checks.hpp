// Input checks shared by the statistics: the confidence level of the loss measures
// and the aligned-pair check of the two-series measures. NaN passes both.
#pragma once

#include <span>
#include <string_view>

#include "quelm/core/error.hpp"

namespace quelm::stats {

// "confidence level must be in (0, 1)" when c <= 0 or c >= 1.
[[nodiscard]] Status check_confidence(double c);

// "{name}: series length mismatch ({n} vs {m})", then "{name}: empty series".
[[nodiscard]] Status check_pair(std::string_view name, std::span<const double> a, std::span<const double> b);

}  // namespace quelm::stats
