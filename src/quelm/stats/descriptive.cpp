#include "quelm/stats/descriptive.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/fixed_sum.hpp"

namespace quelm::stats {

double sum(std::span<const double> x) {
    return fixed_sum(x.size(), [&](std::size_t i) { return x[i]; });
}

bool is_constant(std::span<const double> x) {
    if (x.empty() || !std::isfinite(x[0])) return false;
    for (const double v : x)
        if (v != x[0]) return false;
    return true;
}

bool differences_constant(std::span<const double> x, std::span<const double> y) {
    if (x.empty() || x.size() != y.size()) return false;
    const double d0 = x[0] - y[0];
    const double m0 = std::max(std::fabs(x[0]), std::fabs(y[0]));
    if (!std::isfinite(d0) || !std::isfinite(m0)) return false;
    constexpr double kUlps = 4.0 * std::numeric_limits<double>::epsilon();
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double scale = std::max({m0, std::fabs(x[i]), std::fabs(y[i])});
        if (!(std::fabs((x[i] - y[i]) - d0) <= kUlps * scale)) return false;
    }
    return true;
}

double sum_squared_deviations(std::span<const double> x, double m) {
    if (is_constant(x)) return 0.0;
    return fixed_sum(x.size(), [&](std::size_t i) {
        const double d = x[i] - m;
        return d * d;
    });
}

Result<double> mean(std::span<const double> x) {
    if (x.empty()) return invalid("mean: empty sample");
    return sum(x) / static_cast<double>(x.size());
}

Result<double> variance(std::span<const double> x) {
    QUELM_TRY(m, mean(x));
    return sum_squared_deviations(x, m) / static_cast<double>(x.size());
}

Result<double> std_dev(std::span<const double> x) {
    QUELM_TRY(v, variance(x));
    return std::sqrt(v);
}

namespace {

// Size, mean and second central moment (divisor n) of a sample with some spread; `name`
// prefixes the errors.
struct Centred {
    double n, m, m2;
};
[[nodiscard]] Result<Centred> centred(std::span<const double> x, const std::string& name) {
    if (x.size() < 2) return invalid(name + ": need at least 2 points");
    const double n = static_cast<double>(x.size());
    const double m = sum(x) / n;
    const double m2 = sum_squared_deviations(x, m) / n;
    if (m2 <= 0.0) return invalid(name + ": zero variance");
    return Centred{n, m, m2};
}

// The sum of f(v) over the sample, on the fixed partial accumulators.
template <class F>
double sum_of(std::span<const double> x, F f) {
    return fixed_sum(x.size(), [&](std::size_t i) { return f(x[i]); });
}

}  // namespace

Result<double> skewness(std::span<const double> x) {
    QUELM_TRY(c, centred(x, "skewness"));
    const auto [n, m, m2] = c;
    const double s3 = sum_of(x, [m](double v) {
        const double d = v - m;
        return d * d * d;
    });
    return (s3 / n) / quelm::pow(m2, 1.5);
}

Result<double> excess_kurtosis(std::span<const double> x) {
    QUELM_TRY(c, centred(x, "excess_kurtosis"));
    const auto [n, m, m2] = c;
    const double s4 = sum_of(x, [m](double v) {
        const double d = v - m;
        const double d2 = d * d;
        return d2 * d2;
    });
    return (s4 / n) / (m2 * m2) - 3.0;
}

}  // namespace quelm::stats
