#include "quelm/stats/descriptive.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quelm::stats {

double sum(std::span<const double> x) {
    double s = -0.0;
    for (double v : x) s += v;
    return s;
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
    double s = -0.0;
    for (double v : x) {
        const double d = v - m;
        s += d * d;
    }
    return s;
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

Result<double> skewness(std::span<const double> x) {
    if (x.size() < 2) return invalid("skewness: need at least 2 points");
    const double n = static_cast<double>(x.size());
    const double m = sum(x) / n;
    const double m2 = sum_squared_deviations(x, m) / n;
    if (m2 <= 0.0) return invalid("skewness: zero variance");
    double s3 = -0.0;
    for (double v : x) {
        const double d = v - m;
        s3 += d * d * d;
    }
    return (s3 / n) / std::pow(m2, 1.5);
}

Result<double> excess_kurtosis(std::span<const double> x) {
    if (x.size() < 2) return invalid("excess_kurtosis: need at least 2 points");
    const double n = static_cast<double>(x.size());
    const double m = sum(x) / n;
    const double m2 = sum_squared_deviations(x, m) / n;
    if (m2 <= 0.0) return invalid("excess_kurtosis: zero variance");
    double s4 = -0.0;
    for (double v : x) {
        const double d = v - m;
        const double d2 = d * d;
        s4 += d2 * d2;
    }
    return (s4 / n) / (m2 * m2) - 3.0;
}

}  // namespace quelm::stats
