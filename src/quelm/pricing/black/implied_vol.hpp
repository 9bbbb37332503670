// Black-Scholes-Merton implied volatility (annual, per unit) from a quoted
// price: no-arbitrage bounds check, Newton from an analytic guess, Brent fallback;
// and the exact solver in forward form ("Let's be rational") that the Newton path
// falls back on where its absolute tolerance cannot tell the quote apart.
#pragma once

#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"
#include "quelm/pricing/option.hpp"

namespace quelm::pricing {

// market.vol is ignored. Requires strike > 0, spot > 0, expiry > 0.
[[nodiscard]] Result<double> implied_volatility(const OptionContract& contract, const MarketInputs& market,
                                                double market_price);

enum class ImpliedVolMethod : unsigned char { Newton, Rational };
inline constexpr Choices<ImpliedVolMethod, 2> kImpliedVolMethods{
    "method", Listing::Quoted, {{{"newton", ImpliedVolMethod::Newton}, {"rational", ImpliedVolMethod::Rational}}}};

// One of the two below.
[[nodiscard]] Result<double> implied_volatility(const OptionContract& contract, const MarketInputs& market,
                                                double market_price, ImpliedVolMethod method);

// The same checks and bounds; the volatility that reprices the quote to the last bits, by
// Jaeckel's method on the forward S e^((r-q)t) and the undiscounted price.
[[nodiscard]] Result<double> implied_volatility_rational(const OptionContract& contract, const MarketInputs& market,
                                                         double market_price);

// The same in two steps, for the array form: the checks and bounds, then either the answer
// (solve = false) or the normalised out-of-the-money call quote beta at x = -|ln(F/K)| whose
// total deviation implied_otm_call_volatility (black_implied.hpp) finds; the
// volatility is that divided by sqrt_t.
struct RationalQuote {
    double beta, x, sqrt_t, answer;
    bool solve;
};
[[nodiscard]] Result<RationalQuote> implied_rational_quote(const OptionContract& contract, const MarketInputs& market,
                                                           double market_price);

// implied_volatility's last step for a quote past its checks and bounds whose Newton search
// (run in an array block) did not settle it: `converged` where Newton converged, or Brent
// found a root after Newton failed, to an answer that does not reprice a tiny quote (the
// exact solver then), otherwise Newton failed (Brent then). The result is
// implied_volatility's, bit for bit.
[[nodiscard]] Result<double> implied_volatility_after_newton(const OptionContract& contract,
                                                             const MarketInputs& market, double market_price,
                                                             bool converged);

// The no-arbitrage test every implied-vol solver shares: a price at or above `upper`, or
// more than 1e-12 below `lower`, is rejected with the bounds in the message (NaN passes).
[[nodiscard]] Status check_price_bounds(double price, double lower, double upper);

// A European option's no-arbitrage bounds: the discounted intrinsic value of the forward
// below; above, the spot discounted at the yield (a call) or the strike at the rate (a put).
struct PriceBounds {
    double lower, upper;
};
[[nodiscard]] PriceBounds price_bounds(const OptionContract& contract, const MarketInputs& market);

// check_price_bounds on those bounds: the test every quote of an option price meets
// before a volatility or a model is fitted to it.
[[nodiscard]] Status check_quote_bounds(const OptionContract& contract, const MarketInputs& market, double price);

}  // namespace quelm::pricing
