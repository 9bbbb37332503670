#include "quelm/stats/quantile.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "quelm/core/sizes.hpp"

namespace quelm::stats {

namespace {

// Strict weak order: numbers by value, every NaN after every number.
bool before(double a, double b) { return a < b || (!std::isnan(a) && std::isnan(b)); }

}  // namespace

double historical_quantile(std::span<const double> returns, double confidence) {
    const std::size_t n = returns.size();
    if (n == 1) return returns[0];
    const double h = (static_cast<double>(n) - 1.0) * (1.0 - confidence);
    const std::uint64_t k64 = saturating_u64(std::floor(h));
    if (k64 >= n - 1) {
        return *std::max_element(returns.begin(), returns.end(), before);
    }
    const auto k = static_cast<std::size_t>(k64);
    // NaN goes to the back first; the numbers in front are then ordered by plain <,
    // which is a strict weak order on them (and much cheaper than the NaN-aware test).
    std::vector<double> s;
    s.reserve(n);
    for (double v : returns) {
        if (!std::isnan(v)) s.push_back(v);
    }
    const std::size_t numbers = s.size();
    const auto first = s.begin();
    const auto end = first + static_cast<std::ptrdiff_t>(numbers);
    double lo, hi;
    if (k + 1 < numbers) {
        std::nth_element(first, first + static_cast<std::ptrdiff_t>(k), end);
        lo = s[k];
        hi = *std::min_element(first + static_cast<std::ptrdiff_t>(k) + 1, end);
    } else if (k + 1 == numbers) {
        hi = std::numeric_limits<double>::quiet_NaN();
        lo = *std::max_element(first, end);
    } else {
        lo = hi = std::numeric_limits<double>::quiet_NaN();
    }
    // Which of two equal zeros sits at k or k + 1 cannot change q: the step added to s_k
    // is +0 unless both are -0, so no stable sort is needed.
    return lo + (hi - lo) * (h - static_cast<double>(k));
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
