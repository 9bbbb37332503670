// Mark-to-market valuation of holdings at given prices: per-holding lines
// (quantity, cost basis, market value, P&L, weight) and portfolio totals.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "quelm/core/error.hpp"
#include "quelm/portfolio/holdings.hpp"

namespace quelm::portfolio {

struct HoldingValuation {
    std::string symbol;
    double quantity;
    std::optional<double> average_cost;        // absent when quantity is exactly 0
    double price;
    double cost_basis;
    double market_value;
    double unrealized_pnl;
    std::optional<double> unrealized_pnl_pct;  // P&L / |cost basis| (a short's loss stays negative); absent for cost 0
    double weight;                             // 0 when the total market value is exactly 0
};

struct HoldingsValuation {
    std::vector<HoldingValuation> holdings;
    std::uint64_t n_holdings;
    double total_cost_basis;
    double total_market_value;
    double total_unrealized_pnl;
    std::optional<double> total_unrealized_pnl_pct;
};

// prices[i] is the price of holdings[i].
[[nodiscard]] Result<HoldingsValuation> value_holdings(std::span<const Holding> holdings,
                                                       std::span<const double> prices);

}  // namespace quelm::portfolio
