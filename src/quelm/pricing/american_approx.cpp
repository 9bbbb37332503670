#include "quelm/pricing/american_approx.hpp"

#include <algorithm>
#include <cmath>

#include "quelm/core/math/bivariate.hpp"
#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/solvers.hpp"
#include "quelm/core/text.hpp"
#include "quelm/pricing/black/black_scholes.hpp"
#include "quelm/pricing/black/implied_vol.hpp"

namespace quelm::pricing {

namespace {

// The market of one call in the generalised form: spot, strike, rate, carry b = r - q, vol, t.
struct Call {
    double s, k, r, b, sigma, t;
};

// b u + 2 sigma sqrt(u) at its largest over u in [0, t]: the horizon term both
// approximations' trigger formulas grow with. With b < 0 the plain term peaks at
// u = (sigma / b)^2 and then falls, which would shrink the trigger at long maturities
// (below the strike, an exercise at once); held at its peak the trigger only rises.
double trigger_growth(double b, double sigma, double t) {
    if (b < 0.0) {
        const double peak = (sigma / b) * (sigma / b);
        if (t > peak) return sigma * sigma / -b;
    }
    return b * t + 2.0 * sigma * std::sqrt(t);
}

// ---- Barone-Adesi and Whaley (1987), for a call and for a put.

// 2r / (sigma^2 (1 - e^(-rT))), with its limit 2 / (sigma^2 T) at r = 0.
double m_over_kt(double r, double sigma2, double t) {
    if (r == 0.0) return 2.0 / (sigma2 * t);
    return 2.0 * r / (sigma2 * -quelm::expm1(-r * t));
}

double baw(bool call, double s, double k, double r, double b, double sigma, double t, double european) {
    const double sigma2 = sigma * sigma;
    const double v = sigma * std::sqrt(t);
    const double n = 2.0 * b / sigma2;
    const double m = 2.0 * r / sigma2;
    const double root = std::sqrt((n - 1.0) * (n - 1.0) + 4.0 * m_over_kt(r, sigma2, t));
    const double qx = call ? (-(n - 1.0) + root) / 2.0 : (-(n - 1.0) - root) / 2.0;
    const double carry = quelm::exp((b - r) * t);
    // The seed of Barone-Adesi and Whaley's Newton iteration for the critical price.
    const double root_inf = std::sqrt((n - 1.0) * (n - 1.0) + 4.0 * m);
    const double q_inf = call ? (-(n - 1.0) + root_inf) / 2.0 : (-(n - 1.0) - root_inf) / 2.0;
    const double s_inf = k / (1.0 - 1.0 / q_inf);
    double si;
    if (call) si = k + (s_inf - k) * (1.0 - quelm::exp(-trigger_growth(b, sigma, t) * k / (s_inf - k)));
    else si = s_inf + (k - s_inf) * quelm::exp(-trigger_growth(-b, sigma, t) * k / (k - s_inf));
    const double sign = call ? 1.0 : -1.0;
    const auto euro = [&](double spot) {
        const auto p = black_scholes({.strike = k, .expiry = t, .option_type = call ? OptionType::Call : OptionType::Put},
                                     {.spot = spot, .rate = r, .vol = sigma, .dividend_yield = r - b});
        return p ? *p : kNaN;
    };
    for (int i = 0; i < 200 && std::isfinite(si) && si > 0.0; ++i) {
        const double d1 = (quelm::log(si / k) + (b + sigma2 / 2.0) * t) / v;
        const double cdf = normal_cdf(sign * d1);
        const double rhs = euro(si) + sign * (1.0 - carry * cdf) * si / qx;
        const double lhs = sign * (si - k);
        if (std::fabs(lhs - rhs) <= 1e-12 * k) break;
        const double density = carry * normal_pdf(d1) / v;
        const double slope = call ? carry * cdf * (1.0 - 1.0 / qx) + (1.0 - density) / qx
                                  : -carry * cdf * (1.0 - 1.0 / qx) - (1.0 + density) / qx;
        si = call ? (k + rhs - slope * si) / (1.0 - slope) : (k - rhs + slope * si) / (1.0 + slope);
    }
    if (!(std::isfinite(si) && si > 0.0)) return european;
    if (call ? s >= si : s <= si) return sign * (s - k);
    const double d1 = (quelm::log(si / k) + (b + sigma2 / 2.0) * t) / v;
    const double a = sign * (si / qx) * (1.0 - carry * normal_cdf(sign * d1));
    return european + a * quelm::pow(s / si, qx);
}

// ---- Bjerksund and Stensland (2002), for a call; a put by their put-call transformation.

// Each term below carries (s / unit)^gamma rather than s^gamma: with gamma = beta, which
// grows like 2r / sigma^2, s^beta overflows at small volatility while the trigger's
// (i - k) i^-beta underflows, and only their ratio is a number.
double bs_phi(double s, double t, double gamma, double h, double i, double r, double b, double sigma,
              double unit = 1.0) {
    const double sigma2 = sigma * sigma;
    const double v = sigma * std::sqrt(t);
    const double lambda = (-r + gamma * b + 0.5 * gamma * (gamma - 1.0) * sigma2) * t;
    const double d = -(quelm::log(s / h) + (b + (gamma - 0.5) * sigma2) * t) / v;
    const double kappa = 2.0 * b / sigma2 + 2.0 * gamma - 1.0;
    return quelm::exp(lambda) * quelm::pow(s / unit, gamma) *
           (normal_cdf(d) - power_times_cdf(i / s, kappa, d - 2.0 * quelm::log(i / s) / v));
}

double bs_psi(double s, double t2, double gamma, double h, double i2, double i1, double t1, double r, double b,
              double sigma, double unit = 1.0) {
    const double sigma2 = sigma * sigma;
    const double v1 = sigma * std::sqrt(t1);
    const double v2 = sigma * std::sqrt(t2);
    const double drift = b + (gamma - 0.5) * sigma2;
    const double e1 = (quelm::log(s / i1) + drift * t1) / v1;
    const double e2 = (quelm::log(i2 * i2 / (s * i1)) + drift * t1) / v1;
    const double e3 = (quelm::log(s / i1) - drift * t1) / v1;
    const double e4 = (quelm::log(i2 * i2 / (s * i1)) - drift * t1) / v1;
    const double f1 = (quelm::log(s / h) + drift * t2) / v2;
    const double f2 = (quelm::log(i2 * i2 / (s * h)) + drift * t2) / v2;
    const double f3 = (quelm::log(i1 * i1 / (s * h)) + drift * t2) / v2;
    const double f4 = (quelm::log(s * i1 * i1 / (h * i2 * i2)) + drift * t2) / v2;
    const double rho = std::sqrt(t1 / t2);
    const double lambda = -r + gamma * b + 0.5 * gamma * (gamma - 1.0) * sigma2;
    const double kappa = 2.0 * b / sigma2 + 2.0 * gamma - 1.0;
    // The four distribution values at once: one pass of the integrand over the lanes.
    double m[4];
    bivariate_normal_cdf4({-e1, -e2, -e3, -e4}, {-f1, -f2, -f3, -f4}, {rho, rho, -rho, -rho}, m);
    return quelm::exp(lambda * t2) * quelm::pow(s / unit, gamma) *
           (m[0] - quelm::pow(i2 / s, kappa) * m[1] - quelm::pow(i1 / s, kappa) * m[2] +
            quelm::pow(i1 / i2, kappa) * m[3]);
}

// The value of exercising at the flat trigger i2 until t1 and at i1 from t1 to expiry
// (i1 <= i2): a lower bound of the American call for any such pair.
double bjerksund_stensland_value(const Call& c, double beta, double i1, double i2) {
    const auto [s, k, r, b, sigma, t] = c;
    if (s >= i2) return s - k;
    const double t1 = 0.5 * (std::sqrt(5.0) - 1.0) * t;
    // alpha_j = (i_j - k) i_j^-beta enters only as alpha_j s^beta = (i_j - k) (s / i_j)^beta.
    const double a1 = i1 - k;
    const double a2 = i2 - k;
    const auto phi = [&](double gamma, double h, double i, double unit = 1.0) {
        return bs_phi(s, t1, gamma, h, i, r, b, sigma, unit);
    };
    const auto psi = [&](double gamma, double h, double unit = 1.0) {
        return bs_psi(s, t, gamma, h, i2, i1, t1, r, b, sigma, unit);
    };
    return a2 * quelm::pow(s / i2, beta) - a2 * phi(beta, i2, i2, i2) + phi(1.0, i2, i2) - phi(1.0, i1, i2) -
           k * phi(0.0, i2, i2) + k * phi(0.0, i1, i2) + a1 * phi(beta, i1, i2, i1) - a1 * psi(beta, i1, i1) +
           psi(1.0, i1) - psi(1.0, k) - k * psi(0.0, i1) + k * psi(0.0, k);
}

double bjerksund_stensland_call(const Call& c, double european) {
    const auto [s, k, r, b, sigma, t] = c;
    if (b >= r) return european;
    const double sigma2 = sigma * sigma;
    const double t1 = 0.5 * (std::sqrt(5.0) - 1.0) * t;
    const double beta = (0.5 - b / sigma2) + std::sqrt((b / sigma2 - 0.5) * (b / sigma2 - 0.5) + 2.0 * r / sigma2);
    const double b_inf = beta / (beta - 1.0) * k;
    const double b_zero = std::max(k, r / (r - b) * k);
    const double spread = (b_inf - b_zero) * b_zero;
    const double h1 = -trigger_growth(b, sigma, t1) * k * k / spread;
    const double h2 = -trigger_growth(b, sigma, t) * k * k / spread;
    const double i1 = b_zero + (b_inf - b_zero) * -quelm::expm1(h1);
    const double i2 = b_zero + (b_inf - b_zero) * -quelm::expm1(h2);
    const double value = bjerksund_stensland_value(c, beta, i1, i2);
    // Where the growth term is held at its peak, the triggers stop short of the perpetual
    // one; exercising at b_inf throughout is then the better rule at long maturities and
    // tends to the perpetual value (i1 = i2 = b_inf).
    if (b < 0.0 && t > (sigma / b) * (sigma / b)) return std::max(value, bjerksund_stensland_value(c, beta, b_inf, b_inf));
    return value;
}

// With nothing random left: the best discounted payoff +-(S e^(-qt) - K e^(-rt)) over
// [0, T], which turns at most once.
double without_volatility(bool call, double s, double k, double r, double q, double t) {
    const auto value = [&](double u) {
        const double v = (call ? 1.0 : -1.0) * (s * quelm::exp(-q * u) - k * quelm::exp(-r * u));
        return v > 0.0 ? v : 0.0;
    };
    double best = std::max(value(0.0), value(t));
    if (q != r && q * s > 0.0 && r * k > 0.0) {
        const double turn = quelm::log((q * s) / (r * k)) / (q - r);
        if (turn > 0.0 && turn < t) best = std::max(best, value(turn));
    }
    return best;
}

}  // namespace

Result<double> american_approximation(const OptionContract& contract, const MarketInputs& market,
                                      AmericanApproximation method) {
    const auto [s, k, t, r, q, sigma, call] = vanilla_terms(contract, market);
    QUELM_CHECK(validate_vanilla(k, s, sigma, t));
    if (any_nan(market, k, t)) return kNaN;
    const double intrinsic = payoff(contract.option_type, s, k);
    if (t == 0.0 || s == 0.0) return intrinsic;
    if (sigma == 0.0) return without_volatility(call, s, k, r, q, t);
    QUELM_TRY(european, black_scholes(contract, market));
    double price;
    if (method == AmericanApproximation::BaroneAdesiWhaley) {
        // Early exercise never pays for a call without yield (b >= r) or a put without a positive rate.
        if (call ? q <= 0.0 : r <= 0.0) price = european;
        else price = baw(call, s, k, r, r - q, sigma, t, european);
    } else if (call) {
        price = bjerksund_stensland_call({s, k, r, r - q, sigma, t}, european);
    } else {
        // P(S, K, r, b) = C(K, S, r - b, -b): a put is the call with spot and strike,
        // and rate and yield, exchanged.
        price = bjerksund_stensland_call({k, s, q, q - r, sigma, t}, european);
    }
    // Inputs are finite here: a NaN can only come from a degenerate boundary (the two
    // limits of Bjerksund-Stensland's trigger equal), where no premium is priced.
    if (std::isnan(price)) price = european;
    return std::max({price, european, intrinsic});
}

Result<double> american_implied_volatility(const OptionContract& contract, const MarketInputs& market,
                                           double market_price, AmericanApproximation method) {
    const double k = contract.strike;
    const double t = contract.expiry;
    if (k <= 0.0) return invalid("strike must be > 0");
    if (market.spot <= 0.0) return invalid("spot must be > 0");
    if (t <= 0.0) return invalid("time to expiry must be > 0 to imply volatility");
    constexpr double kMaxVol = 10.0;
    const auto price_at = [&](double sigma) {
        MarketInputs m = market;
        m.vol = sigma;
        const auto p = american_approximation(contract, m, method);
        return p ? *p : kNaN;
    };
    const double lower = price_at(0.0);
    const double upper = price_at(kMaxVol);
    const double p = market_price;
    if (p > upper || p < lower - 1e-12) {
        return invalid("price " + format_number(p) + " outside the attainable range [" + format_number(lower) + ", " +
                       format_number(upper) + "] for volatilities in [0, 10]");
    }
    if (any_nan(p, market.spot, market.rate, market.dividend_yield, k, t)) return kNaN;
    if (p <= lower) return 0.0;
    // The price rises with volatility: Brent on a bracket that always holds the root.
    return brent([&](double sigma) { return price_at(sigma) - p; }, 0.0, kMaxVol, 1e-14, 200);
}

}  // namespace quelm::pricing
