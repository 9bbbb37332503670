// Trades of a book priced by the finite-difference engine: an American option and a single
// barrier option on a market volatility surface. Black-Scholes at the surface's implied
// volatility at the strike and expiry, with the forward the surface holds and the discount
// factor of the curve, as EuropeanOption reads them, so that with no early exercise and no
// barrier the three trades agree. Risk: the engine's delta, gamma and theta; the curve's as
// a leg at expiry (the value's derivative in its discount factor, the forward held); vega
// from solves bumped in volatility on one grid, shared over the slices as a European's is.
#pragma once

#include <string>

#include "quelm/book/market.hpp"
#include "quelm/book/market_trade.hpp"
#include "quelm/core/error.hpp"
#include "quelm/dates/serial.hpp"
#include "quelm/pricing/barrier.hpp"
#include "quelm/pricing/option.hpp"

namespace quelm::book {

// notional × max(±(S - strike), 0), exercisable on any day up to `expiry`.
struct AmericanOption {
    std::string underlying;
    double strike = 0.0;
    dates::Serial expiry = 0;
    OptionType type = OptionType::Call;
    double notional = 1.0;
    std::string curve;
    friend bool operator==(const AmericanOption&, const AmericanOption&) = default;
};

// A European payoff at `expiry` that a touch of `barrier` (monitored continuously) knocks out
// or in; `rebate` per unit of notional paid at the touch by a knock-out, at expiry by a
// knock-in that never came alive.
struct BarrierOption {
    std::string underlying;
    double strike = 0.0;
    dates::Serial expiry = 0;
    OptionType type = OptionType::Call;
    double barrier = 0.0;
    pricing::BarrierType barrier_type = pricing::BarrierType::DownOut;
    double rebate = 0.0;
    double notional = 1.0;
    std::string curve;
    friend bool operator==(const BarrierOption&, const BarrierOption&) = default;
};

[[nodiscard]] Status check(const AmericanOption& o);
[[nodiscard]] Status check(const BarrierOption& o);
[[nodiscard]] std::string describe(const AmericanOption& o);
[[nodiscard]] std::string describe(const BarrierOption& o);

[[nodiscard]] Result<MarketTradeValue> value_american(const AmericanOption& o, const Market& market, bool with_risk);
// A EuropeanOption priced by the engine (its by_fd), with the same risk as the two above.
[[nodiscard]] Result<MarketTradeValue> value_european_fd(const EuropeanOption& o, const Market& market,
                                                         bool with_risk);
[[nodiscard]] Result<MarketTradeValue> value_barrier(const BarrierOption& o, const Market& market, bool with_risk);

}  // namespace quelm::book
