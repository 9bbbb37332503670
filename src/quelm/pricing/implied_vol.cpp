#include "quelm/pricing/implied_vol.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "quelm/core/black.hpp"
#include "quelm/core/black_implied.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/solvers.hpp"
#include "quelm/core/text.hpp"
#include "quelm/pricing/black_scholes.hpp"

namespace quelm::pricing {

Status check_price_bounds(double price, double lower, double upper) {
    // Only an infinite volatility reaches the upper bound itself: no finite vol solves it.
    if (price >= upper || price < lower - 1e-12) {
        return invalid("price " + format_number(price) + " outside no-arbitrage bounds [" + format_number(lower) +
                       ", " + format_number(upper) + "]");
    }
    return {};
}

namespace {

Status check_implied_inputs(double strike, double spot, double t) {
    if (strike <= 0.0) return invalid("strike must be > 0");
    if (spot <= 0.0) return invalid("spot must be > 0");
    if (t <= 0.0) return invalid("time to expiry must be > 0 to imply volatility");
    return {};
}

// After the checks and the bounds: the forward, the undiscounted price and Jaeckel's solver.
double rational_after_checks(const OptionContract& contract, const MarketInputs& market, double p, double dr) {
    const double t = contract.expiry;
    const double forward = market.spot * quelm::exp((market.rate - market.dividend_yield) * t);
    if (any_nan(p, forward, contract.strike, dr)) return kNaN;
    return implied_black_volatility(p / dr, forward, contract.strike, theta_of(contract.option_type)) / std::sqrt(t);
}

// Below this quote the Newton path's absolute tolerance (1e-12) may leave more than
// 1e-9 of the price unexplained; there its answer must reprice the quote to 1e-9.
constexpr double kSmallQuote = 1e-3;
constexpr double kRepriceTolerance = 1e-9;

}  // namespace

Result<double> implied_volatility_rational(const OptionContract& contract, const MarketInputs& market,
                                           double market_price) {
    const double k = contract.strike;
    const double t = contract.expiry;
    QUELM_CHECK(check_implied_inputs(k, market.spot, t));
    const double dr = discount_factor(market.rate, t);
    const double dq = discount_factor(market.dividend_yield, t);
    const double forward = market.spot * quelm::exp((market.rate - market.dividend_yield) * t);
    const double lower = dr * payoff(contract.option_type, forward, k);
    const double upper = contract.option_type == OptionType::Call ? market.spot * dq : k * dr;
    QUELM_CHECK(check_price_bounds(market_price, lower, upper));
    return rational_after_checks(contract, market, market_price, dr);
}

Result<double> implied_volatility(const OptionContract& contract, const MarketInputs& market, double market_price,
                                  ImpliedVolMethod method) {
    return method == ImpliedVolMethod::Rational ? implied_volatility_rational(contract, market, market_price)
                                                : implied_volatility(contract, market, market_price);
}

Result<double> implied_volatility(const OptionContract& contract, const MarketInputs& market, double market_price) {
    const double p = market_price;
    const double s = market.spot;
    const double k = contract.strike;
    const double t = contract.expiry;
    const double r = market.rate;
    const double q = market.dividend_yield;

    QUELM_CHECK(check_implied_inputs(k, s, t));

    const double dr = discount_factor(r, t);
    const double dq = discount_factor(q, t);
    const double forward = s * quelm::exp((r - q) * t);
    const bool call = contract.option_type == OptionType::Call;
    const double lower = dr * payoff(contract.option_type, forward, k);
    const double upper = call ? s * dq : k * dr;
    QUELM_CHECK(check_price_bounds(p, lower, upper));

    // The price at sigma, as black_scholes gives it, with what does not depend on sigma
    // (the discount factors, ln(S/K), sqrt(t)) computed once; the generic call covers NaN inputs.
    const double sqrt_t = std::sqrt(t);
    const double log_moneyness = quelm::log(s / k);
    const bool plain = !any_nan(s, k, t, r, q);
    // Without a dividend yield, vega's d1 below and the price's d1 have the same magnitude
    // bit for bit ((σ²/2 + r) - 0 and (r - 0) + σ²/2 differ at most in a zero's sign), so
    // the density at d1 reuses the exponential that Phi(d1) computed for the same sigma.
    double shared_sigma = std::numeric_limits<double>::quiet_NaN();
    double shared_e1 = std::numeric_limits<double>::quiet_NaN();
    const auto objective = [&](double sigma) {
        if (plain && sigma > 0.0) {
            double e1 = 0.0;
            const double v =
                black_scholes_terms(call, s, k, dr, dq, lognormal_d12_from(log_moneyness, sqrt_t, r, q, sigma, t), &e1);
            const bool same_d1 = q == 0.0 && std::isfinite((r - q + sigma * sigma / 2.0) * t);
            shared_sigma = same_d1 ? sigma : std::numeric_limits<double>::quiet_NaN();
            shared_e1 = e1;
            return v - p;
        }
        shared_sigma = std::numeric_limits<double>::quiet_NaN();
        const auto v = black_scholes(contract, {.spot = s, .rate = r, .vol = sigma, .dividend_yield = q});
        return v ? *v - p : std::numeric_limits<double>::quiet_NaN();
    };
    const auto vega = [&](double sigma) {
        if (sigma == shared_sigma && !std::isnan(shared_e1)) return s * dq * sqrt_t * normal_pdf_of_exp(shared_e1);
        const double d1 = (log_moneyness + (sigma * sigma / 2.0 + r - q) * t) / (sigma * sqrt_t);
        return s * dq * sqrt_t * normal_pdf(d1);
    };

    double guess = p * std::sqrt(6.283185307179586 / t) / s;
    if (!(guess >= 0.001)) guess = 0.001;  // also catches NaN
    if (guess > 3.0) guess = 3.0;

    // A tiny quote can be matched to 1e-12 by a volatility far from its own (the first
    // guess 0.001 prices F = 1, K = 1.5, T = 1 at 0, within 1e-12 of 9e-27): such an
    // answer gives way to the exact solver. Quotes of 1e-3 and more are never rechecked.
    const auto reprices = [&](double sigma) {
        return !(p < kSmallQuote) || std::fabs(objective(sigma)) <= kRepriceTolerance * p;
    };
    const auto newton_root = newton(objective, vega, guess, 1e-12, 100);
    if (newton_root && std::isfinite(*newton_root) && *newton_root > 0.0) {
        if (reprices(*newton_root)) return *newton_root;
        return rational_after_checks(contract, market, p, dr);
    }
    auto brent_root = brent(objective, 1e-9, 10.0, 1e-12, 100);
    if (brent_root && !reprices(*brent_root)) return rational_after_checks(contract, market, p, dr);
    return brent_root;
}

}  // namespace quelm::pricing
