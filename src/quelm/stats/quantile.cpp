#include "quelm/stats/quantile.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "quelm/core/sizes.hpp"

namespace quelm::stats {

namespace {

// Strict weak order: numbers by value, every NaN after every number.
bool before(double a, double b) { return a < b || (!std::isnan(a) && std::isnan(b)); }

// A stable ascending sort places equal zeros in index order; recover which signed zero
// lands at `rank`, given that the value there compares equal to zero.
double zero_at_rank(std::span<const double> x, std::size_t rank) {
    std::size_t below = 0;
    for (double v : x) below += v < 0.0 ? 1 : 0;
    std::size_t seen = below;
    for (double v : x) {
        if (v == 0.0) {
            if (seen == rank) return v;
            ++seen;
        }
    }
    return 0.0;  // not reached when the value at rank is a zero
}

double exact(std::span<const double> x, double value, std::size_t rank) {
    return value == 0.0 ? zero_at_rank(x, rank) : value;
}

}  // namespace

double historical_quantile(std::span<const double> returns, double confidence) {
    const std::size_t n = returns.size();
    if (n == 1) return returns[0];
    const double h = (static_cast<double>(n) - 1.0) * (1.0 - confidence);
    const std::uint64_t k64 = saturating_u64(std::floor(h));
    if (k64 + 1 < n) {
        std::vector<double> s(returns.begin(), returns.end());
        const auto k = static_cast<std::size_t>(k64);
        std::nth_element(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(k), s.end(), before);
        const double lo = exact(returns, s[k], k);
        const double hi = exact(returns, *std::min_element(s.begin() + static_cast<std::ptrdiff_t>(k) + 1, s.end(), before), k + 1);
        return lo + (hi - lo) * (h - static_cast<double>(k));
    }
    const double top = *std::max_element(returns.begin(), returns.end(), before);
    return exact(returns, top, n - 1);
}

double tail_mean(std::span<const double> returns, double q) {
    double total = -0.0;
    std::size_t count = 0;
    for (double r : returns) {
        if (r <= q) {
            total += r;
            ++count;
        }
    }
    if (count == 0) {
        // First of the smallest values in index order, as a stable sort would place it.
        double smallest = returns[0];
        for (double r : returns) {
            if (before(r, smallest)) smallest = r;
        }
        total += smallest;
        count = 1;
    }
    return total / static_cast<double>(count);
}

}  // namespace quelm::stats
