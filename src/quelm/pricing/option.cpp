#include "quelm/pricing/option.hpp"

#include <algorithm>
#include <cmath>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/sizes.hpp"

namespace quelm {

Status validate_vanilla(double strike, double spot, double vol, double expiry) {
    if (strike <= 0.0) return invalid("strike must be > 0");
    if (spot < 0.0) return invalid("spot must be >= 0");
    if (vol < 0.0) return invalid("volatility must be >= 0");
    if (expiry < 0.0) return invalid("time to expiry must be >= 0");
    return {};
}

double best_interior_exercise(OptionType type, double spot, double strike, double rate, double dividend_yield,
                              double expiry, std::uint64_t steps) {
    if (steps < 2) return 0.0;
    const double dt = expiry / static_cast<double>(steps);
    const auto value = [&](std::uint64_t j) {
        const double tj = static_cast<double>(j) * dt;
        return payoff(type, spot * quelm::exp(tj * (rate - dividend_yield)), strike) * quelm::exp(tj * (-rate));
    };
    const std::uint64_t last = steps - 1;
    double best = std::max(value(1), value(last));
    // Turning point of S e^(-q t) - K e^(-r t): e^((q - r) t) = q S / (r K), in steps.
    const double turn = quelm::log((dividend_yield * spot) / (rate * strike)) / (dividend_yield - rate) / dt;
    if (turn > 0.0 && turn < static_cast<double>(last)) {
        const std::uint64_t j0 = saturating_u64(turn);
        for (std::uint64_t j = j0 > 1 ? j0 - 1 : 1; j <= j0 + 2 && j <= last; ++j) best = std::max(best, value(j));
    }
    return best;
}

}  // namespace quelm
