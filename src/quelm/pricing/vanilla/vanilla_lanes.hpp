// The vanilla kernel: the Black-Scholes-Merton price, its Greeks and its vega for the
// implied-volatility solve, in forward / total standard deviation / discount form, written
// once over a lane type (math/lanes.hpp). The scalar calls are its one-lane instance and the
// array blocks its 2-, 4- or 8-lane instances, so every lane has the scalar call's bits.
//
// Inputs per lane: spot S and strike K > 0, rate r and dividend yield q (continuously
// compounded, per year), volatility sigma > 0 (annual), time t > 0 (years), and
// theta = +1 for a call, -1 for a put. With the discount factor D = e^(-rt) and the forward
// F = S e^((r-q)t), the price is theta (A Phi(theta d1) - B Phi(theta d2)) with A = D F =
// S e^(-qt), B = D K, s = sigma sqrt(t), x = ln(F/K), d1,2 = x/s +- s/2: no sigma^2 is
// formed, so a huge volatility reaches the limits A (call) and B (put).
#pragma once

#include <cmath>
#include <limits>

#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/lanes.hpp"
#include "quelm/pricing/option.hpp"

namespace quelm {

template <class V>
struct VanillaLanes {
    V spot, strike, rate, vol, t, q, theta;
};

// What does not depend on the volatility.
template <class V>
struct VanillaSetup {
    V sqrt_t, dr, dq, a, b, x;
};

// One option as the one-lane kernel takes it.
[[nodiscard]] inline VanillaLanes<double> vanilla_lanes(const OptionContract& o, const MarketInputs& m) {
    return {m.spot, o.strike, m.rate, m.vol, o.expiry, m.dividend_yield, theta_of(o.option_type)};
}

template <class V>
[[nodiscard]] inline VanillaSetup<V> vanilla_setup(const VanillaLanes<V>& in) {
    VanillaSetup<V> u;
    u.sqrt_t = lanes::sqrt(in.t);
    u.dr = discount_lanes(in.rate, in.t);
    // Most books have no dividend yield: e^0 = 1 needs no exponential.
    u.dq = lanes::any(in.q != 0.0) ? discount_lanes(in.q, in.t) : lanes::splat<V>(1.0);
    u.a = in.spot * u.dq;
    u.b = in.strike * u.dr;
    u.x = log_lanes(in.spot / in.strike) + (in.rate - in.q) * in.t;
    return u;
}

// At one volatility: s, d1, Phi(theta d1), Phi(theta d2) and e1 = e^(-d1^2/2) (the density's
// exponential, which Phi(theta d1) computed on the way).
template <class V>
struct VanillaAt {
    V s, d1, d2, n1, n2, e1;
};

template <class V>
[[nodiscard]] inline VanillaAt<V> vanilla_at(const VanillaSetup<V>& u, V vol, V theta) {
    VanillaAt<V> m;
    m.s = vol * u.sqrt_t;
    const V h = u.x / m.s;
    const V half = 0.5 * m.s;
    m.d1 = h + half;
    m.d2 = h - half;
    const V x1 = theta * m.d1;
    const V x2 = theta * m.d2;
    const V e1 = normal_cdf_exp_lanes(x1);
    const V e2 = normal_cdf_exp_lanes(x2);
    m.n1 = normal_cdf_given_exp_lanes(x1, e1);
    m.n2 = normal_cdf_given_exp_lanes(x2, e2);
    // Phi gives up its exponential where it saturates (|x| > 37); the density still wants it.
    const auto lost = lanes::mask_and(e1 != e1, x1 == x1);
    m.e1 = lanes::any(lost) ? lanes::select(lost, exp_lanes(-x1 * x1 / 2.0), e1) : e1;
    return m;
}

template <class V>
[[nodiscard]] inline V vanilla_price(const VanillaSetup<V>& u, const VanillaAt<V>& m, V theta) {
    return theta * (u.a * m.n1 - u.b * m.n2);
}

// d price / d sigma.
template <class V>
[[nodiscard]] inline V vanilla_vega(const VanillaSetup<V>& u, const VanillaAt<V>& m) {
    return u.a * normal_pdf_of_exp(m.e1) * u.sqrt_t;
}

// vega and rho per unit, theta per year of calendar time.
template <class V>
struct GreeksLanes {
    V delta, gamma, vega, theta, rho;
};

template <class V>
[[nodiscard]] inline GreeksLanes<V> vanilla_greeks(const VanillaLanes<V>& in, const VanillaSetup<V>& u,
                                                   const VanillaAt<V>& m) {
    const V pdf1 = normal_pdf_of_exp(m.e1);
    const V decay = -(u.a * pdf1) * in.vol / (2.0 * u.sqrt_t);
    GreeksLanes<V> g;
    g.delta = in.theta * (u.dq * m.n1);
    g.gamma = u.dq * pdf1 / (in.spot * m.s);
    g.vega = u.a * pdf1 * u.sqrt_t;
    g.theta = decay + in.theta * (in.q * u.a * m.n1 - in.rate * u.b * m.n2);
    g.rho = in.theta * (in.t * u.b * m.n2);
    return g;
}

// ---- The implied-volatility objective ----------------------------------------------------

// Newton's first guess: p sqrt(2 pi / t) / S clipped to [0.001, 3] (NaN gives 0.001).
template <class V>
[[nodiscard]] inline V implied_guess_lanes(V price, V spot, V t) {
    V guess = price * lanes::sqrt(6.283185307179586 / t) / spot;
    guess = lanes::select(guess >= 0.001, guess, lanes::splat<V>(0.001));
    return lanes::select(guess > 3.0, lanes::splat<V>(3.0), guess);
}

template <class V>
struct NewtonLanes {
    V sigma;               // the root, where ok
    V residual;            // price(sigma) - p there
    lanes::mask_t<V> ok;   // converged
};

// One Newton step on price(sigma) - p: the residual f at sigma, the next iterate, and
// whether the lane converged (sigma > 0 and |f| <= 1e-12) or failed (sigma not positive, a
// vega below machine epsilon, or a next iterate outside the finite numbers).
template <class V>
struct NewtonStep {
    V f, next;
    lanes::mask_t<V> converged, failed;
};
template <class V>
[[nodiscard]] inline NewtonStep<V> implied_newton_step(const VanillaSetup<V>& u, V theta, V price, V sigma) {
    constexpr double kTolerance = 1e-12;
    constexpr double kTinyVega = 2.220446049250313e-16;
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const auto positive = sigma > 0.0;
    const VanillaAt<V> m = vanilla_at(u, lanes::select(positive, sigma, lanes::splat<V>(1.0)), theta);
    NewtonStep<V> r;
    r.f = vanilla_price(u, m, theta) - price;
    r.converged = lanes::mask_and(positive, lanes::abs(r.f) <= kTolerance);
    const V g = vanilla_vega(u, m);
    r.next = sigma - r.f / g;
    r.failed = lanes::mask_or(lanes::mask_not(positive),
                              lanes::mask_or(lanes::abs(g) < kTinyVega, lanes::mask_not(lanes::abs(r.next) < kInf)));
    return r;
}

// The most steps a solve takes.
inline constexpr unsigned kNewtonSteps = 100;

// Where Newton fails, Brent on [kBrentLowVol, kBrentHighVol] to kBrentTolerance in at most
// kBrentSteps steps. Below kSmallQuote an answer must reprice the quote to kRepriceTolerance
// relative (else the exact solver answers): the absolute tolerance 1e-12 may leave more than
// 1e-9 of such a price unexplained.
inline constexpr double kBrentLowVol = 1e-9;
inline constexpr double kBrentHighVol = 10.0;
inline constexpr double kBrentTolerance = 1e-12;
inline constexpr unsigned kBrentSteps = 100;
inline constexpr double kSmallQuote = 1e-3;
inline constexpr double kRepriceTolerance = 1e-9;

// Whether an answer with this residual stands for quote p. A tiny quote can be matched to
// 1e-12 by a volatility far from its own (the first guess 0.001 prices F = 1, K = 1.5, T = 1
// at 0, within 1e-12 of 9e-27): such an answer gives way to the exact solver.
[[nodiscard]] inline bool implied_reprices(double p, double residual) {
    return !(p < kSmallQuote) || std::fabs(residual) <= kRepriceTolerance * p;
}

// Newton on price(sigma) - p from `guess`, in lock step over the lanes, each lane as
// quelm::newton runs it: a lane stops once it converged or failed (above), or after
// kNewtonSteps steps. A finished lane no longer changes.
template <class V>
[[nodiscard]] inline NewtonLanes<V> implied_newton_lanes(const VanillaSetup<V>& u, V theta, V price, V guess) {
    using M = lanes::mask_t<V>;
    const V one = lanes::splat<V>(1.0);
    NewtonLanes<V> r{guess, lanes::splat<V>(0.0), one != one};
    M active = one == one;
    for (unsigned iter = 0; iter < kNewtonSteps && lanes::any(active); ++iter) {
        const NewtonStep<V> step = implied_newton_step(u, theta, price, r.sigma);
        const M converged = lanes::mask_and(active, step.converged);
        r.ok = lanes::mask_or(r.ok, converged);
        r.residual = lanes::select(converged, step.f, r.residual);
        active = lanes::mask_and(active, lanes::mask_not(lanes::mask_or(converged, step.failed)));
        r.sigma = lanes::select(active, step.next, r.sigma);
    }
    return r;
}

}  // namespace quelm

