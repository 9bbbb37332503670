#include "quelm/stats/returns.hpp"

#include <cmath>

#include "quelm/core/math/elementary.hpp"
#include "quelm/stats/descriptive.hpp"

namespace quelm::stats {

Result<std::vector<double>> simple_returns(std::span<const double> prices) {
    if (prices.size() < 2) return invalid("simple_returns: need at least 2 prices");
    for (double p : prices) {
        if (p <= 0.0) return invalid("simple_returns: prices must be positive");
    }
    std::vector<double> out(prices.size() - 1);
    for (std::size_t i = 0; i + 1 < prices.size(); ++i) out[i] = prices[i + 1] / prices[i] - 1.0;
    return out;
}

double growth(std::span<const double> returns) {
    double g = 1.0;
    for (double r : returns) g *= 1.0 + r;
    return g;
}

Result<double> cumulative_return(std::span<const double> returns) {
    if (returns.empty()) return invalid("cumulative_return: empty series");
    return growth(returns) - 1.0;
}

Result<double> annualize_growth(double g, std::size_t n, double periods_per_year) {
    if (g <= 0.0) return invalid("annualized_return: total growth non-positive");
    return quelm::pow(g, periods_per_year / static_cast<double>(n)) - 1.0;
}

Result<double> annualized_return(std::span<const double> returns, double periods_per_year) {
    if (returns.empty()) return invalid("annualized_return: empty series");
    if (periods_per_year <= 0.0) return invalid("annualized_return: periods_per_year must be positive");
    return annualize_growth(growth(returns), returns.size(), periods_per_year);
}

Result<double> annualized_volatility(std::span<const double> returns, double periods_per_year) {
    if (periods_per_year <= 0.0) return invalid("annualized_volatility: periods_per_year must be positive");
    QUELM_TRY(v, variance(returns));
    return std::sqrt(periods_per_year) * std::sqrt(v);
}

}  // namespace quelm::stats
