#include "quelm/portfolio/valuation.hpp"

#include <cmath>

namespace quelm::portfolio {

namespace {

double total_quantity(const Holding& h) {
    double q = -0.0;
    for (const Lot& lot : h.lots) q += lot.quantity;
    return q;
}

double total_cost(const Holding& h) {
    double c = -0.0;
    for (const Lot& lot : h.lots) c += lot.quantity * lot.unit_cost;
    return c;
}

}  // namespace

Result<HoldingsValuation> value_holdings(std::span<const Holding> holdings, std::span<const double> prices) {
    if (holdings.empty()) return invalid("value_holdings: no holdings");
    if (prices.size() != holdings.size())
        return invalid("value_holdings: prices must align with holdings (one price each)");

    // The weights need the total market value before any line can be finished.
    std::vector<double> quantity(holdings.size());
    std::vector<double> market_value(holdings.size());
    double total_mv = -0.0;
    for (std::size_t i = 0; i < holdings.size(); ++i) {
        quantity[i] = total_quantity(holdings[i]);
        market_value[i] = quantity[i] * prices[i];
        total_mv += market_value[i];
    }

    HoldingsValuation out;
    out.holdings.reserve(holdings.size());
    double total_cost_basis = -0.0;
    for (std::size_t i = 0; i < holdings.size(); ++i) {
        const double cost = total_cost(holdings[i]);
        const double q = quantity[i];
        const double mv = market_value[i];
        HoldingValuation line{
            holdings[i].symbol,
            q,
            q != 0.0 ? std::optional<double>(cost / q) : std::nullopt,
            prices[i],
            cost,
            mv,
            mv - cost,
            cost != 0.0 ? std::optional<double>((mv - cost) / std::fabs(cost)) : std::nullopt,
            total_mv != 0.0 ? mv / total_mv : 0.0,
        };
        out.holdings.push_back(std::move(line));
        total_cost_basis += cost;
    }
    out.n_holdings = holdings.size();
    out.total_cost_basis = total_cost_basis;
    out.total_market_value = total_mv;
    out.total_unrealized_pnl = total_mv - total_cost_basis;
    // Over |cost basis|: the percentage carries the sign of the P&L, also for a short book.
    out.total_unrealized_pnl_pct = total_cost_basis != 0.0
                                       ? std::optional<double>(out.total_unrealized_pnl / std::fabs(total_cost_basis))
                                       : std::nullopt;
    return out;
}

}  // namespace quelm::portfolio
