#include "quelm/stats/risk.hpp"

#include <cmath>
#include <vector>

#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/fixed_sum.hpp"
#include "quelm/stats/checks.hpp"
#include "quelm/stats/descriptive.hpp"
#include "quelm/stats/drawdown.hpp"
#include "quelm/stats/quantile.hpp"
#include "quelm/stats/returns.hpp"

namespace quelm::stats {

namespace {

Status check_periods(double periods_per_year) {
    if (periods_per_year <= 0.0) return invalid("periods_per_year must be positive");
    return {};
}

struct MuVar {
    double mu, var;
};

Result<MuVar> mu_var(std::span<const double> x) {
    QUELM_TRY(mu, mean(x));
    return MuVar{mu, sum_squared_deviations(x, mu) / static_cast<double>(x.size())};
}

// Active returns p_i - b_i after the pair check under `name`.
Result<std::vector<double>> active(std::string_view name, std::span<const double> p, std::span<const double> b) {
    QUELM_CHECK(check_pair(name, p, b));
    std::vector<double> a(p.size());
    for (std::size_t i = 0; i < a.size(); ++i) a[i] = p[i] - b[i];
    return a;
}

}  // namespace

double cornish_fisher_z(double z, double s, double k) {
    const double z2 = z * z;
    const double z3 = z * z2;
    double zcf = (z2 - 1.0) * s / 6.0 + z;
    zcf = zcf + k * (z3 - 3.0 * z) / 24.0;
    zcf = zcf + (2.0 * z3 - 5.0 * z) * s * s / (-36.0);
    return zcf;
}

double density(double z) { return quelm::exp(-0.5 * z * z) / 2.5066282746310002; }

Result<double> historical_var(std::span<const double> returns, double confidence) {
    QUELM_CHECK(check_confidence(confidence));
    if (returns.empty()) return invalid("historical_var: empty series");
    return -historical_quantile(returns, confidence);
}

Result<double> historical_es(std::span<const double> returns, double confidence) {
    QUELM_CHECK(check_confidence(confidence));
    if (returns.empty()) return invalid("historical_es: empty series");
    return -tail_mean(returns, historical_quantile(returns, confidence));
}

Result<double> parametric_var(std::span<const double> returns, double confidence) {
    QUELM_CHECK(check_confidence(confidence));
    QUELM_TRY(mv, mu_var(returns));
    QUELM_TRY(z, normal_quantile(1.0 - confidence));
    return -(std::sqrt(mv.var) * z + mv.mu);
}

Result<double> parametric_es(std::span<const double> returns, double confidence) {
    QUELM_CHECK(check_confidence(confidence));
    QUELM_TRY(mv, mu_var(returns));
    QUELM_TRY(z, normal_quantile(1.0 - confidence));
    return density(z) * std::sqrt(mv.var) / (1.0 - confidence) - mv.mu;
}

Result<double> cornish_fisher_var(std::span<const double> returns, double confidence) {
    QUELM_CHECK(check_confidence(confidence));
    QUELM_TRY(mv, mu_var(returns));
    QUELM_TRY(s, skewness(returns));
    QUELM_TRY(k, excess_kurtosis(returns));
    QUELM_TRY(z, normal_quantile(1.0 - confidence));
    return -(cornish_fisher_z(z, s, k) * std::sqrt(mv.var) + mv.mu);
}

Result<double> sharpe_ratio(std::span<const double> returns, double risk_free, double periods_per_year) {
    QUELM_CHECK(check_periods(periods_per_year));
    QUELM_TRY(mv, mu_var(returns));
    if (mv.var == 0.0) return invalid("sharpe_ratio: zero volatility");
    return std::sqrt(periods_per_year) * ((mv.mu - risk_free) / std::sqrt(mv.var));
}

Result<double> sortino_ratio(std::span<const double> returns, double mar, double periods_per_year) {
    QUELM_CHECK(check_periods(periods_per_year));
    if (returns.empty()) return invalid("sortino_ratio: empty series");
    const double n = static_cast<double>(returns.size());
    const double total = sum(returns);
    const double down = fixed_sum(returns.size(), [&](std::size_t i) {
        const double d = returns[i] - mar;
        const double below = d < 0.0 ? d : 0.0;  // NaN counts as no shortfall
        return below * below;
    });
    const double dvar = down / n;
    if (dvar == 0.0) return invalid("sortino_ratio: zero downside deviation (no returns below MAR)");
    return std::sqrt(periods_per_year) * ((total / n - mar) / std::sqrt(dvar));
}

Result<double> calmar_ratio(std::span<const double> prices, double periods_per_year) {
    QUELM_CHECK(check_periods(periods_per_year));
    QUELM_TRY(rets, simple_returns(prices));
    QUELM_TRY(growth, annualized_return(rets, periods_per_year));
    QUELM_TRY(dd, max_drawdown(prices));
    if (dd.max_drawdown <= 0.0) return invalid("calmar_ratio: zero drawdown");
    return growth / dd.max_drawdown;
}

namespace {

// Mean and variance of the active returns; exactly no variance when the two series differ
// by a constant (rounding would leave a little).
[[nodiscard]] Result<MuVar> active_mu_var(const char* name, std::span<const double> portfolio,
                                          std::span<const double> benchmark, double periods_per_year) {
    QUELM_CHECK(check_periods(periods_per_year));
    QUELM_TRY(a, active(name, portfolio, benchmark));
    QUELM_TRY(mv, mu_var(a));
    if (differences_constant(portfolio, benchmark)) mv.var = 0.0;
    return mv;
}

}  // namespace

Result<double> tracking_error(std::span<const double> portfolio, std::span<const double> benchmark,
                              double periods_per_year) {
    QUELM_TRY(mv, active_mu_var("tracking_error", portfolio, benchmark, periods_per_year));
    return std::sqrt(periods_per_year) * std::sqrt(mv.var);
}

Result<double> information_ratio(std::span<const double> portfolio, std::span<const double> benchmark,
                                 double periods_per_year) {
    QUELM_TRY(mv, active_mu_var("information_ratio", portfolio, benchmark, periods_per_year));
    if (mv.var == 0.0) return invalid("information_ratio: zero active-return volatility");
    return std::sqrt(periods_per_year) * (mv.mu / std::sqrt(mv.var));
}

}  // namespace quelm::stats
