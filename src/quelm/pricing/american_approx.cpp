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
//
// The value is six phi terms (exercise by t1) and five psi terms (by T) in three powers
// gamma = beta, 1, 0. Terms of one gamma share their exponential, powers and drift, and
// terms at one trigger share their logarithms: each is computed once below, with the same
// operations as term by term (so the same bits), and the four bivariate normals of a psi
// term run in SIMD lanes.
//
// Each term carries (s / unit)^gamma rather than s^gamma: with gamma = beta, which grows
// like 2r / sigma^2, s^beta overflows at small volatility while the trigger's
// (i - k) i^-beta underflows, and only their ratio is a number.

// What every term of one gamma shares.
struct Power {
    double gamma, lambda, drift, kappa;
    double e[4];                  // psi's arguments at t1 (the trigger i1, i2 pair)
    double at_i2, at_i1, i1_i2;   // (i2 / s)^kappa, (i1 / s)^kappa, (i1 / i2)^kappa
};

// The logarithms of psi's arguments at expiry for a strike-like level h.
struct PsiLogs {
    double s_h, i2i2_sh, i1i1_sh, si1i1_hi2i2;
};

struct Bs2002 {
    double s, k, r, b, sigma, t, t1, i1, i2;
    double sigma2, v1, v2, rho;
    double log_s_i1, log_i2i2_si1;  // psi's t1 logarithms (the same for every h)
    double log_i2_s;                // phi's log(i / s) with i = i2
};

PsiLogs psi_logs(const Bs2002& m, double h) {
    return {quelm::log(m.s / h), quelm::log(m.i2 * m.i2 / (m.s * h)), quelm::log(m.i1 * m.i1 / (m.s * h)),
            quelm::log(m.s * m.i1 * m.i1 / (h * m.i2 * m.i2))};
}

Power power_of(const Bs2002& m, double gamma) {
    Power p{};
    p.gamma = gamma;
    p.lambda = -m.r + gamma * m.b + 0.5 * gamma * (gamma - 1.0) * m.sigma2;
    p.drift = m.b + (gamma - 0.5) * m.sigma2;
    p.kappa = 2.0 * m.b / m.sigma2 + 2.0 * gamma - 1.0;
    const double dt1 = p.drift * m.t1;
    p.e[0] = (m.log_s_i1 + dt1) / m.v1;
    p.e[1] = (m.log_i2i2_si1 + dt1) / m.v1;
    p.e[2] = (m.log_s_i1 - dt1) / m.v1;
    p.e[3] = (m.log_i2i2_si1 - dt1) / m.v1;
    p.at_i2 = quelm::pow(m.i2 / m.s, p.kappa);
    p.at_i1 = quelm::pow(m.i1 / m.s, p.kappa);
    p.i1_i2 = quelm::pow(m.i1 / m.i2, p.kappa);
    return p;
}

// phi(s, t1, gamma, h, i2) / (s / unit)^gamma: its exponential and distribution terms, at
// log(s / h) given.
double phi_core(const Bs2002& m, const Power& p, double log_s_h) {
    const double d = -(log_s_h + p.drift * m.t1) / m.v1;
    return quelm::exp(p.lambda * m.t1) * (normal_cdf(d) - power_times_cdf(m.i2 / m.s, p.kappa,
                                                                          d - 2.0 * m.log_i2_s / m.v1));
}

// psi(s, T, gamma, h, i2, i1, t1) / (s / unit)^gamma.
double psi_core(const Bs2002& m, const Power& p, const PsiLogs& l) {
    const double dt2 = p.drift * m.t;
    const double f1 = (l.s_h + dt2) / m.v2;
    const double f2 = (l.i2i2_sh + dt2) / m.v2;
    const double f3 = (l.i1i1_sh + dt2) / m.v2;
    const double f4 = (l.si1i1_hi2i2 + dt2) / m.v2;
    double mm[4];
    bivariate_normal_cdf4({-p.e[0], -p.e[1], -p.e[2], -p.e[3]}, {-f1, -f2, -f3, -f4},
                          {m.rho, m.rho, -m.rho, -m.rho}, mm);
    return quelm::exp(p.lambda * m.t) * (mm[0] - p.at_i2 * mm[1] - p.at_i1 * mm[2] + p.i1_i2 * mm[3]);
}

// The value of exercising at the flat trigger i2 until t1 and at i1 from t1 to expiry
// (i1 <= i2): a lower bound of the American call for any such pair.
double bjerksund_stensland_value(const Call& c, double beta, double i1, double i2) {
    const auto [s, k, r, b, sigma, t] = c;
    if (s >= i2) return s - k;
    Bs2002 m{};
    m.s = s, m.k = k, m.r = r, m.b = b, m.sigma = sigma, m.t = t, m.i1 = i1, m.i2 = i2;
    m.t1 = 0.5 * (std::sqrt(5.0) - 1.0) * t;
    m.sigma2 = sigma * sigma;
    m.v1 = sigma * std::sqrt(m.t1);
    m.v2 = sigma * std::sqrt(t);
    m.rho = std::sqrt(m.t1 / t);
    m.log_s_i1 = quelm::log(s / i1);
    m.log_i2i2_si1 = quelm::log(i2 * i2 / (s * i1));
    m.log_i2_s = quelm::log(i2 / s);
    const Power pb = power_of(m, beta), p1 = power_of(m, 1.0), p0 = power_of(m, 0.0);
    const double log_s_i2 = quelm::log(s / i2);
    const PsiLogs at_i1 = psi_logs(m, i1), at_k = psi_logs(m, k);
    // (s / unit)^gamma of each unit and gamma the terms use.
    const double sb_i2 = quelm::pow(s / i2, beta), sb_i1 = quelm::pow(s / i1, beta);
    const double s1 = quelm::pow(s, 1.0), s0 = quelm::pow(s, 0.0);
    // alpha_j = (i_j - k) i_j^-beta enters only as alpha_j s^beta = (i_j - k) (s / i_j)^beta.
    const double a1 = i1 - k;
    const double a2 = i2 - k;
    const double phi_1_i1 = phi_core(m, p1, m.log_s_i1);
    const double phi_0_i1 = phi_core(m, p0, m.log_s_i1);
    return a2 * sb_i2 - a2 * (phi_core(m, pb, log_s_i2) * sb_i2) + phi_core(m, p1, log_s_i2) * s1 -
           phi_1_i1 * s1 - k * (phi_core(m, p0, log_s_i2) * s0) + k * (phi_0_i1 * s0) +
           a1 * (phi_core(m, pb, m.log_s_i1) * sb_i1) - a1 * (psi_core(m, pb, at_i1) * sb_i1) +
           psi_core(m, p1, at_i1) * s1 - psi_core(m, p1, at_k) * s1 - k * (psi_core(m, p0, at_i1) * s0) +
           k * (psi_core(m, p0, at_k) * s0);
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
