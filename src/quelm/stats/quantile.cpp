#include "quelm/stats/quantile.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "quelm/core/math/fixed_sum.hpp"
#include "quelm/core/sizes.hpp"

namespace quelm::stats {

namespace {

// Strict weak order: numbers by value, every NaN after every number.
bool before(double a, double b) { return a < b || (!std::isnan(a) && std::isnan(b)); }

// The order statistics s_k and s_{k+1} of the numbers (NaN excluded), k + 1 < count.
struct Pair {
    double lo, hi;
};

// Fast path for long series: a strided sample brackets rank k between two sample
// values; one pass counts the values below the bracket and keeps those inside it, and
// only that band is selected. When the bracket misses (odd data), returns nothing and
// the caller selects over the whole series. Either way the values are exact.
std::optional<Pair> select_in_band(std::span<const double> x, std::size_t k) {
    const std::size_t n = x.size();
    constexpr std::size_t kSample = 2048;
    if (n < 8 * kSample) return std::nullopt;
    std::vector<double> sample;
    sample.reserve(kSample);
    const std::size_t stride = n / kSample;
    for (std::size_t i = 0; i < kSample; ++i) {
        const double v = x[i * stride];
        if (!std::isnan(v)) sample.push_back(v);
    }
    if (sample.size() < kSample / 2) return std::nullopt;
    std::sort(sample.begin(), sample.end());
    const std::size_t m = sample.size();
    const auto centre = static_cast<std::size_t>(static_cast<double>(k) / static_cast<double>(n) * static_cast<double>(m));
    const std::size_t spread = 2 * static_cast<std::size_t>(std::sqrt(static_cast<double>(m))) + 4;
    const double inf = std::numeric_limits<double>::infinity();
    const double lower = centre >= spread ? sample[centre - spread] : -inf;
    const double upper = centre + spread < m ? sample[centre + spread] : inf;
    std::size_t below = 0;
    std::vector<double> band;
    band.reserve(n / 8);
    for (double v : x) {
        if (v < lower) {
            ++below;
        } else if (v <= upper) {
            band.push_back(v);
        }
    }
    if (below > k || k + 1 >= below + band.size()) return std::nullopt;
    const auto j = static_cast<std::ptrdiff_t>(k - below);
    std::nth_element(band.begin(), band.begin() + j, band.end());
    return Pair{band[static_cast<std::size_t>(j)], *std::min_element(band.begin() + j + 1, band.end())};
}

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
    if (const auto band = select_in_band(returns, k)) {
        return band->lo + (band->hi - band->lo) * (h - static_cast<double>(k));
    }
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
    FixedSum tail;
    std::size_t count = 0;
    for (double r : returns) {
        if (r <= q) {
            tail.add(r);
            ++count;
        }
    }
    double total = tail.total();
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
