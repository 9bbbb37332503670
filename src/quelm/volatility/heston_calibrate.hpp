// Fitting Heston's five parameters to a chain of option quotes (several expiries and
// strikes; prices or Black-Scholes implied vols; weights) by bounded Levenberg-Marquardt.
// Strikes and spot in price units, expiries in years, rates continuously compounded.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"
#include "quelm/pricing/option.hpp"
#include "quelm/volatility/heston.hpp"

namespace quelm::volatility {

enum class QuoteType : unsigned char { Price, Vol };

inline constexpr Choices<QuoteType, 4> kQuoteTypes{
    "quote_type", Listing::Quoted,
    {{{"price", QuoteType::Price}, {"vol", QuoteType::Vol}, {"prices", QuoteType::Price}, {"vols", QuoteType::Vol}}}};

// One quote per index of strikes, expiries and quotes; types holds one option type for
// every quote or one per quote; weights is empty (all 1) or one per quote.
struct HestonChain {
    double spot, rate, dividend_yield;
    std::span<const double> strikes, expiries, quotes;
    std::span<const OptionType> types;
    std::span<const double> weights;
    QuoteType quote_type;
};

struct HestonCalibration {
    HestonParams params;
    double rmse;       // weighted root-mean-square error, in the quotes' units
    double max_error;  // largest absolute error
    std::size_t iterations;
    bool converged;  // a tolerance was met with every parameter inside its bounds
    std::vector<double> residuals;  // model minus quote, per quote (NaN where no vol implies the price)
};

// initial: empty or (v0, kappa, theta, xi, rho); bounds: empty or five (lower, upper) rows.
// Price quotes outside the no-arbitrage bounds are rejected ("quote i: price ... outside
// no-arbitrage bounds [...]"), as VolSurface::from_prices rejects them.
[[nodiscard]] Result<HestonCalibration> heston_calibrate(const HestonChain& chain, std::span<const double> initial,
                                                         std::span<const std::span<const double>> bounds,
                                                         std::size_t max_iterations, Cancel& cancel);

}  // namespace quelm::volatility
