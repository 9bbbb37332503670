#include "quelm/bonds/street_yield.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/solvers.hpp"

namespace quelm::bonds {

namespace {

struct Sums {
    double price;  // Σ a·v(t)
    double slope;  // Σ a·t·v(t)
};

// Σ a·B^(−f·t) and (when kSlope) Σ a·t·B^(−f·t) for B = 1 + y/f > 0. The price's sum is
// the same with or without the slope's: each is its own running total.
template <bool kSlope>
Sums sums_of(const StreetFlows& flows, double f, double base) {
    Sums s{0.0, 0.0};
    const std::size_t n = flows.times.size();
    if (n == 0) return s;
    if (flows.uniform) {
        const double v = 1.0 / base;
        double w = quelm::pow(base, -(f * flows.times[0]));
        for (std::size_t i = 0; i < n; ++i) {
            s.price += flows.amounts[i] * w;
            if constexpr (kSlope) s.slope += flows.amounts[i] * flows.times[i] * w;
            w *= v;
        }
        return s;
    }
    const double log_base = quelm::log(base);
    for (std::size_t i = 0; i < n; ++i) {
        const double w = quelm::exp(-(f * flows.times[i]) * log_base);
        s.price += flows.amounts[i] * w;
        if constexpr (kSlope) s.slope += flows.amounts[i] * flows.times[i] * w;
    }
    return s;
}

Sums sums(const StreetFlows& flows, double f, double base) { return sums_of<true>(flows, f, base); }
double price_sum(const StreetFlows& flows, double f, double base) { return sums_of<false>(flows, f, base).price; }

Result<double> base_of(std::uint32_t frequency, double y) {
    // An infinite yield would price every flow at zero: a price of minus the accrued.
    if (std::isinf(y)) return invalid(std::string("bond: yield must be finite, got ") + (y > 0 ? "inf" : "-inf"));
    const double base = 1.0 + y / static_cast<double>(frequency);
    if (!(base > 0.0)) {
        if (std::isnan(y)) return std::numeric_limits<double>::quiet_NaN();
        return numerical("bond: yield below -frequency makes the discount base non-positive");
    }
    return base;
}

}  // namespace

Result<double> street_price(const StreetFlows& flows, std::uint32_t frequency, double y) {
    QUELM_TRY(base, base_of(frequency, y));
    if (std::isnan(base)) return base;
    return price_sum(flows, static_cast<double>(frequency), base);
}

Result<double> street_duration(const StreetFlows& flows, std::uint32_t frequency, double y) {
    QUELM_TRY(base, base_of(frequency, y));
    if (std::isnan(base)) return base;
    const Sums s = sums(flows, static_cast<double>(frequency), base);
    if (!(s.price > 0.0)) return numerical("bond: non-positive price in duration");
    return s.slope / s.price;
}

Result<double> street_convexity(const StreetFlows& flows, std::uint32_t frequency, double y) {
    QUELM_TRY(base, base_of(frequency, y));
    if (std::isnan(base)) return base;
    const double f = static_cast<double>(frequency);
    const Sums s = sums(flows, f, base);
    if (!(s.price > 0.0)) return numerical("bond: non-positive price in convexity");
    const double log_base = quelm::log(base);
    double sum = 0.0;
    for (std::size_t i = 0; i < flows.times.size(); ++i) {
        const double t = flows.times[i];
        sum += flows.amounts[i] * t * (t + 1.0 / f) * quelm::exp(-(f * t + 2.0) * log_base);
    }
    return sum / s.price;
}

Result<double> street_yield(const StreetFlows& flows, std::uint32_t frequency, double price, double guess) {
    if (!(std::isfinite(price) && price > 0.0)) return invalid("bond: price must be positive");
    const double f = static_cast<double>(frequency);
    // P is decreasing and convex in y: Newton's steps approach the root from one side.
    double y = std::isfinite(guess) && guess > -0.5 * f ? guess : 0.05;
    for (int iter = 0; iter < 50; ++iter) {
        const double base = 1.0 + y / f;
        if (!(base > 0.0)) break;
        const Sums s = sums(flows, f, base);
        const double gap = s.price - price;
        const double slope = -s.slope / base;
        if (!(slope < 0.0) || !std::isfinite(gap)) break;
        const double step = gap / slope;
        y -= step;
        if (!std::isfinite(y)) break;
        if (std::fabs(step) <= 1e-12 * (1.0 + std::fabs(y))) return y;  // the next step is below rounding
    }
    auto gap = [&](double x) {
        const double base = 1.0 + x / f;
        if (base <= 0.0) return std::numeric_limits<double>::quiet_NaN();
        return price_sum(flows, f, base) - price;
    };
    return brent(gap, -0.9, 2.0, 1e-12, 200);
}

}  // namespace quelm::bonds
