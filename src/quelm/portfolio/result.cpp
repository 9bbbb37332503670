#include "quelm/portfolio/result.hpp"

#include <cmath>
#include <vector>

#include "quelm/stats/risk.hpp"

namespace quelm::portfolio {

Result<PortfolioRisk> portfolio_risk(Series series, std::span<const double> weights, double periods_per_year,
                                     double confidence, Cancel& cancel) {
    QUELM_TRY(cov, covariance_matrix(series, cancel));
    const std::vector<std::span<const double>> rows(cov.begin(), cov.end());
    // The steps below are single passes over the matrix or the series: polled between them.
    if (cancel.poll()) return cancelled();
    QUELM_TRY(v, portfolio_variance(rows, weights));
    if (cancel.poll()) return cancelled();
    QUELM_TRY(r, portfolio_returns(series, weights));
    if (cancel.poll()) return cancelled();
    if (periods_per_year <= 0.0) return invalid("annualized_volatility: periods_per_year must be positive");
    QUELM_TRY(hvar, stats::historical_var(r, confidence));
    QUELM_TRY(pvar, stats::parametric_var(r, confidence));
    const double vol = std::sqrt(v);
    return PortfolioRisk{v, vol, std::sqrt(periods_per_year) * vol, hvar, pvar, confidence, periods_per_year};
}

}  // namespace quelm::portfolio
