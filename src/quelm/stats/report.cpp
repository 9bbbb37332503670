#include "quelm/stats/report.hpp"

#include <cmath>

#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/fixed_sum.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/stats/checks.hpp"
#include "quelm/stats/descriptive.hpp"
#include "quelm/stats/drawdown.hpp"
#include "quelm/stats/normality.hpp"
#include "quelm/stats/quantile.hpp"
#include "quelm/stats/relational.hpp"
#include "quelm/stats/returns.hpp"
#include "quelm/stats/risk.hpp"

namespace quelm::stats {

namespace {

template <class T>
std::optional<T> ok(const Result<T>& r) {
    return r ? std::optional<T>(*r) : std::nullopt;
}

// Running totals of the second pass: several independent index-order sums side by
// side, each identical to the sum its single computation takes.
struct Sums {
    double s2 = -0.0, s3 = -0.0, s4 = -0.0;  // central powers
    double down = -0.0;                      // squared shortfalls below the target
    double lag1 = -0.0;                      // lag-1 cross products
    double growth = 1.0;                     // Prod(1 + r)
};

// Polls between blocks of the series (the sums run in the same order); stops early when asked.
Sums second_pass(std::span<const double> x, double m, double target, CancelPoller& poller) {
    constexpr std::size_t kBlock = 65536;
    // Each sum on the fixed partial accumulators, as the single functions add it.
    Sums s;
    FixedSum s2, s3, s4, down, lag1;
    double prev = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (i % kBlock == 0 && i > 0 && poller.tick(kBlock)) return s;
        const double v = x[i];
        const double d = v - m;
        const double d2 = d * d;
        s2.add(d2);
        s3.add(d2 * d);
        s4.add(d2 * d2);
        const double t = v - target;
        const double below = t < 0.0 ? t : 0.0;
        down.add(below * below);
        if (i > 0) lag1.add(d * prev);
        prev = d;
        s.growth *= 1.0 + v;
    }
    s.s2 = s2.total();
    s.s3 = s3.total();
    s.s4 = s4.total();
    s.down = down.total();
    s.lag1 = lag1.total();
    if (is_constant(x)) s.s2 = 0.0;  // the same exact zero as the variance
    return s;
}

void descriptive_part(const ReportInput& in, double m, const Sums& s, StatsReport& r) {
    const std::size_t len = in.series.size();
    const double n = static_cast<double>(len);
    const double m2 = s.s2 / n;
    if (len >= 2 && !(m2 <= 0.0)) {
        r.skewness = (s.s3 / n) / quelm::pow(m2, 1.5);
        r.excess_kurtosis = (s.s4 / n) / (m2 * m2) - 3.0;
        const JarqueBera jb = jarque_bera_from(*r.skewness, *r.excess_kurtosis, len);
        r.jarque_bera = jb.statistic;
        r.jarque_bera_pvalue = jb.p_value;
    }
    const bool c0_ok = !(s.s2 <= 0.0);
    if (len > 1 && c0_ok) r.autocorr_lag1 = s.lag1 / s.s2;
    if (in.lag && *in.lag < len && c0_ok) {
        const std::uint64_t lag = *in.lag;
        if (lag == 0) {
            r.autocorr_at_lag = 1.0;
        } else if (lag == 1) {
            r.autocorr_at_lag = r.autocorr_lag1;
        } else {
            r.autocorr_at_lag = lagged_cross_sum(in.series, m, static_cast<std::size_t>(lag)) / s.s2;
        }
    }
}

void return_part(const ReportInput& in, double m, const Sums& s, StatsReport& r) {
    const std::span<const double> x = in.series;
    const double n = static_cast<double>(x.size());
    const double ppy = in.periods_per_year;
    const double sigma = r.std_dev;
    r.cumulative_return = s.growth - 1.0;
    if (!(ppy <= 0.0)) {
        r.annualized_return = ok(annualize_growth(s.growth, x.size(), ppy));
        r.annualized_volatility = std::sqrt(ppy) * sigma;
        if (r.variance != 0.0) r.sharpe = std::sqrt(ppy) * ((m - in.risk_free) / sigma);
        const double dvar = s.down / n;
        if (dvar != 0.0) r.sortino = std::sqrt(ppy) * ((m - in.risk_free) / std::sqrt(dvar));
    }
    const double c = in.confidence;
    if (!check_confidence(c)) return;
    const double q = historical_quantile(x, c);
    r.historical_var = -q;
    r.historical_es = -tail_mean(x, q);
    const Result<double> z = normal_quantile(1.0 - c);
    if (!z) return;
    r.parametric_var = -(sigma * *z + m);
    r.parametric_es = density(*z) * sigma / (1.0 - c) - m;
    if (r.skewness && r.excess_kurtosis) {
        r.cornish_fisher_var = -(cornish_fisher_z(*z, *r.skewness, *r.excess_kurtosis) * sigma + m);
    }
}

void benchmark_part(const ReportInput& in, double m, const Sums& s, StatsReport& r) {
    const std::span<const double> x = in.series;
    const std::span<const double> y = *in.benchmark;
    if (!check_pair("covariance", x, y)) return;  // the same failure for every pair measure
    const std::size_t len = x.size();
    const double n = static_cast<double>(len);
    FixedSum sy_sum, sa_sum;
    for (std::size_t i = 0; i < len; ++i) {
        sy_sum.add(y[i]);
        sa_sum.add(x[i] - y[i]);
    }
    const double my = sy_sum.total() / n;
    const double ma = sa_sum.total() / n;
    FixedSum sxy_sum, syy_sum, saa_sum;
    for (std::size_t i = 0; i < len; ++i) {
        const double dx = x[i] - m;
        const double dy = y[i] - my;
        const double da = (x[i] - y[i]) - ma;
        sxy_sum.add(dx * dy);
        syy_sum.add(dy * dy);
        saa_sum.add(da * da);
    }
    const double sxy = sxy_sum.total();
    double syy = syy_sum.total(), saa = saa_sum.total();
    // Constant series (benchmark or active returns) have exactly zero variance, as in
    // the single computations.
    if (is_constant(y)) syy = 0.0;
    if (differences_constant(x, y)) saa = 0.0;
    const double cov = sxy / n;
    const double vx = s.s2 / n;
    const double vy = syy / n;
    r.covariance = cov;
    if (!(vx <= 0.0 || vy <= 0.0)) r.correlation = cov / (std::sqrt(vx) * std::sqrt(vy));
    if (!(vy <= 0.0)) r.beta = cov / vy;
    const double ppy = in.periods_per_year;
    if (ppy <= 0.0) return;
    const double va = saa / n;
    r.tracking_error = std::sqrt(ppy) * std::sqrt(va);
    if (va != 0.0) r.information_ratio = std::sqrt(ppy) * (ma / std::sqrt(va));
}

}  // namespace

Result<StatsReport> assemble(const ReportInput& in, Cancel& cancel) {
    const std::span<const double> x = in.series;
    if (x.empty()) return invalid("mean: empty sample");
    StatsReport r;
    const double n = static_cast<double>(x.size());
    const double m = sum(x) / n;
    // Each part is one or two passes over the series; the poll runs between them.
    CancelPoller poller(cancel);
    const auto stopped = [&] { return poller.check(); };
    if (stopped()) return cancelled();
    const Sums s = second_pass(x, m, in.risk_free, poller);
    if (stopped()) return cancelled();
    r.count = x.size();
    r.periods_per_year = in.periods_per_year;
    r.confidence = in.confidence;
    r.mean = m;
    r.variance = s.s2 / n;
    r.std_dev = std::sqrt(r.variance);
    descriptive_part(in, m, s, r);
    if (stopped()) return cancelled();
    if (!in.values_only) return_part(in, m, s, r);
    if (stopped()) return cancelled();
    if (in.prices) {
        if (const Result<Drawdown> dd = max_drawdown(*in.prices)) {
            r.max_drawdown = dd->max_drawdown;
            r.max_drawdown_duration = dd->duration;
        }
        if (stopped()) return cancelled();
        r.calmar = ok(calmar_ratio(*in.prices, in.periods_per_year));
    }
    if (in.benchmark && !stopped()) benchmark_part(in, m, s, r);
    if (stopped()) return cancelled();
    return r;
}

Result<StatsReport> report_of(Source source, std::span<const double> series, ReportInput in, Cancel& cancel) {
    in.series = series;
    in.values_only = source == Source::Values;
    if (source != Source::Prices) return assemble(in, cancel);
    QUELM_TRY(returns, simple_returns(series));
    in.series = returns;
    in.prices = series;
    return assemble(in, cancel);
}

}  // namespace quelm::stats
