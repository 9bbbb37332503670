// The combined portfolio risk report: period variance and volatility (w'Σw), annualised
// volatility, and one-period historical and parametric VaR (positive = loss) of the
// portfolio's own return series.
#pragma once

#include <span>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/portfolio/risk.hpp"

namespace quelm::portfolio {

struct PortfolioRisk {
    double variance;
    double volatility;
    double annualized_volatility;
    double historical_var;
    double parametric_var;
    double confidence;
    double periods_per_year;
};

[[nodiscard]] Result<PortfolioRisk> portfolio_risk(Series series, std::span<const double> weights,
                                                   double periods_per_year, double confidence,
                                                   Cancel& cancel = never_cancel());

}  // namespace quelm::portfolio
