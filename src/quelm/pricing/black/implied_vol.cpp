#include "quelm/pricing/black/implied_vol.hpp"

#include <cmath>
#include <string>

#include "quelm/pricing/black/black.hpp"
#include "quelm/pricing/black/black_implied.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/solvers.hpp"
#include "quelm/core/text.hpp"
#include "quelm/pricing/vanilla/vanilla_lanes.hpp"

namespace quelm::pricing {

Status check_price_bounds(double price, double lower, double upper) {
    // Only an infinite volatility reaches the upper bound itself: no finite vol solves it.
    if (price >= upper || price < lower - 1e-12) {
        return invalid("price " + format_number(price) + " outside no-arbitrage bounds [" + format_number(lower) +
                       ", " + format_number(upper) + "]");
    }
    return {};
}

PriceBounds price_bounds(const OptionContract& contract, const MarketInputs& market) {
    const double k = contract.strike;
    const double t = contract.expiry;
    const double dr = discount_factor(market.rate, t);
    const double dq = discount_factor(market.dividend_yield, t);
    const double forward = market.spot * quelm::exp((market.rate - market.dividend_yield) * t);
    return {dr * payoff(contract.option_type, forward, k), contract.option_type == OptionType::Call ? market.spot * dq : k * dr};
}

Status check_quote_bounds(const OptionContract& contract, const MarketInputs& market, double price) {
    const PriceBounds b = price_bounds(contract, market);
    return check_price_bounds(price, b.lower, b.upper);
}

namespace {

Status check_implied_inputs(double strike, double spot, double t) {
    if (strike <= 0.0) return invalid("strike must be > 0");
    if (spot <= 0.0) return invalid("spot must be > 0");
    if (t <= 0.0) return invalid("time to expiry must be > 0 to imply volatility");
    return {};
}

// After the checks and the bounds: the forward, the undiscounted price, reduced to the
// normalised out-of-the-money call that Jaeckel's solver inverts.
RationalQuote rational_quote_after_checks(const OptionContract& contract, const MarketInputs& market, double p,
                                          double dr) {
    const double t = contract.expiry;
    const double forward = market.spot * quelm::exp((market.rate - market.dividend_yield) * t);
    if (any_nan(p, forward, contract.strike, dr)) return {0.0, 0.0, 1.0, kNaN, false};
    const OtmQuote q = black_otm_quote(p / dr, forward, contract.strike, theta_of(contract.option_type));
    const double sqrt_t = std::sqrt(t);
    if (!q.solve) return {q.beta, q.x, sqrt_t, q.answer / sqrt_t, false};
    return {q.beta, q.x, sqrt_t, 0.0, true};
}

double rational_after_checks(const OptionContract& contract, const MarketInputs& market, double p, double dr) {
    const RationalQuote q = rational_quote_after_checks(contract, market, p, dr);
    return q.solve ? implied_otm_call_volatility(q.beta, q.x) / q.sqrt_t : q.answer;
}

}  // namespace

Result<RationalQuote> implied_rational_quote(const OptionContract& contract, const MarketInputs& market,
                                             double market_price) {
    const double k = contract.strike;
    const double t = contract.expiry;
    QUELM_CHECK(check_implied_inputs(k, market.spot, t));
    QUELM_CHECK(check_quote_bounds(contract, market, market_price));
    return rational_quote_after_checks(contract, market, market_price, discount_factor(market.rate, t));
}

Result<double> implied_volatility_rational(const OptionContract& contract, const MarketInputs& market,
                                           double market_price) {
    QUELM_TRY(q, implied_rational_quote(contract, market, market_price));
    return q.solve ? implied_otm_call_volatility(q.beta, q.x) / q.sqrt_t : q.answer;
}

Result<double> implied_volatility(const OptionContract& contract, const MarketInputs& market, double market_price,
                                  ImpliedVolMethod method) {
    return method == ImpliedVolMethod::Rational ? implied_volatility_rational(contract, market, market_price)
                                                : implied_volatility(contract, market, market_price);
}

namespace {

// Every objective below, set up once: price(sigma) - p by the vanilla kernel.
struct NewtonProblem {
    VanillaLanes<double> in;
    VanillaSetup<double> u;
};

// Where Newton failed: Brent on [1e-9, 10], and the exact solver for a tiny quote that
// Brent's answer does not reprice.
Result<double> brent_after_newton(const OptionContract& contract, const MarketInputs& market, double p, double dr,
                                  const NewtonProblem& n) {
    const auto objective = [&](double sigma) {
        return vanilla_price(n.u, vanilla_at(n.u, sigma, n.in.theta), n.in.theta) - p;
    };
    auto brent_root = brent(objective, kBrentLowVol, kBrentHighVol, kBrentTolerance, kBrentSteps);
    if (brent_root && !implied_reprices(p, objective(*brent_root)))
        return rational_after_checks(contract, market, p, dr);
    return brent_root;
}

}  // namespace

Result<double> implied_volatility(const OptionContract& contract, const MarketInputs& market, double market_price) {
    const double p = market_price;
    const double s = market.spot;
    const double k = contract.strike;
    const double t = contract.expiry;

    QUELM_CHECK(check_implied_inputs(k, s, t));
    QUELM_CHECK(check_quote_bounds(contract, market, p));
    const double dr = discount_factor(market.rate, t);

    // The vanilla kernel's price and vega; what does not depend on sigma is set up once.
    NewtonProblem n;
    n.in = vanilla_lanes(contract, market);
    n.u = vanilla_setup(n.in);
    const NewtonLanes<double> newton = implied_newton_lanes(n.u, n.in.theta, p, implied_guess_lanes(p, s, t));
    if (newton.ok) {
        if (implied_reprices(p, newton.residual)) return newton.sigma;
        return rational_after_checks(contract, market, p, dr);
    }
    return brent_after_newton(contract, market, p, dr, n);
}

Result<double> implied_volatility_after_newton(const OptionContract& contract, const MarketInputs& market,
                                               double market_price, bool converged) {
    const double dr = discount_factor(market.rate, contract.expiry);
    if (converged) return rational_after_checks(contract, market, market_price, dr);
    NewtonProblem n;
    n.in = vanilla_lanes(contract, market);
    n.u = vanilla_setup(n.in);
    return brent_after_newton(contract, market, market_price, dr, n);
}

}  // namespace quelm::pricing
