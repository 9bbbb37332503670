#include "quelm/stats/relational.hpp"

#include <algorithm>
#include <cmath>

#include "quelm/core/math/fixed_sum.hpp"
#include "quelm/stats/checks.hpp"
#include "quelm/stats/descriptive.hpp"

namespace quelm::stats {

namespace {

// The three central cross sums of an aligned pair, each on the fixed partial accumulators.
struct PairSums {
    double n, mx, my, sxy, sxx, syy;
};

Result<PairSums> pair_sums(std::span<const double> x, std::span<const double> y) {
    QUELM_CHECK(check_pair("covariance", x, y));
    const std::size_t len = x.size();
    const double n = static_cast<double>(len);
    PairSums p{n, sum(x) / n, sum(y) / n, -0.0, -0.0, -0.0};
    FixedSum sxy, sxx, syy;
    for (std::size_t i = 0; i < len; ++i) {
        const double dx = x[i] - p.mx;
        const double dy = y[i] - p.my;
        sxy.add(dx * dy);
        sxx.add(dx * dx);
        syy.add(dy * dy);
    }
    p.sxy = sxy.total();
    p.sxx = sxx.total();
    p.syy = syy.total();
    // A constant series does not vary, whatever rounding left in its mean.
    if (is_constant(x)) p.sxx = 0.0;
    if (is_constant(y)) p.syy = 0.0;
    return p;
}

}  // namespace

Result<double> covariance(std::span<const double> x, std::span<const double> y) {
    QUELM_TRY(p, pair_sums(x, y));
    return p.sxy / p.n;
}

Result<double> correlation(std::span<const double> x, std::span<const double> y) {
    QUELM_TRY(p, pair_sums(x, y));
    const double vx = p.sxx / p.n;
    const double vy = p.syy / p.n;
    if (vx <= 0.0 || vy <= 0.0) return invalid("correlation: zero variance");
    return (p.sxy / p.n) / (std::sqrt(vx) * std::sqrt(vy));
}

Result<double> beta(std::span<const double> asset, std::span<const double> benchmark) {
    QUELM_TRY(p, pair_sums(asset, benchmark));
    const double vb = p.syy / p.n;
    if (vb <= 0.0) return invalid("beta: zero benchmark variance");
    return (p.sxy / p.n) / vb;
}

double lagged_cross_sum(std::span<const double> x, double m, std::size_t lag) {
    return fixed_sum(x.size() - lag, [&](std::size_t i) { return (x[i + lag] - m) * (x[i] - m); });
}

Result<double> autocorrelation(std::span<const double> x, std::uint64_t lag) {
    if (x.empty()) return invalid("autocorrelation: empty series");
    if (lag >= x.size()) return invalid("autocorrelation: lag must be < series length");
    const double m = sum(x) / static_cast<double>(x.size());
    const double c0 = sum_squared_deviations(x, m);
    if (c0 <= 0.0) return invalid("autocorrelation: zero variance");
    if (lag == 0) return 1.0;
    return lagged_cross_sum(x, m, static_cast<std::size_t>(lag)) / c0;
}

Result<std::vector<double>> acf(std::span<const double> x, std::uint64_t max_lag, Cancel& cancel) {
    if (x.empty()) return invalid("autocorrelation: empty series");
    // The mean and c0 do not depend on the lag: computing them once gives the same bits.
    const double m = sum(x) / static_cast<double>(x.size());
    const double c0 = sum_squared_deviations(x, m);
    if (c0 <= 0.0) return invalid("autocorrelation: zero variance");
    // A max_lag at or beyond the length fails, so the output never exceeds n values
    // (max_lag + 1 itself may not even be representable).
    if (max_lag >= x.size()) return invalid("autocorrelation: lag must be < series length");
    const std::size_t last = static_cast<std::size_t>(max_lag);
    std::vector<double> out;
    out.reserve(last + 1);
    out.push_back(1.0);
    CancelPoller poller(cancel);
    for (std::size_t k = 1; k <= last; ++k) {
        if (poller.tick(x.size() - k)) return cancelled();
        out.push_back(lagged_cross_sum(x, m, k) / c0);
    }
    return out;
}

}  // namespace quelm::stats
