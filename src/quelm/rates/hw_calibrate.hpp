// Hull-White fitted to European swaption vols: a and sigma (or sigma alone, a fixed) by
// bounded Levenberg-Marquardt on the vols implied (in the quotes' model) by the model's
// Jamshidian prices, minus the quotes.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/rates/hull_white.hpp"

namespace quelm::rates {

struct HullWhiteFit {
    HullWhite model;
    double rmse, max_error;  // in vol units
    std::size_t iterations;
    bool converged;
    std::vector<double> residuals;  // model minus quoted vol, per swaption
};

[[nodiscard]] Result<HullWhiteFit> hw_calibrate(const curves::YieldCurve& curve, std::span<const Swaption> swaptions,
                                                std::span<const double> vols, const Quoting& q,
                                                std::optional<double> fix_a, Cancel& cancel);

}  // namespace quelm::rates
