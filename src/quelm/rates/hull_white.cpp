#include "quelm/rates/hull_white.hpp"

#include <cmath>
#include <vector>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/solvers.hpp"
#include "quelm/core/text.hpp"
#include "quelm/curves/layout.hpp"
#include "quelm/dates/serial.hpp"
#include "quelm/pricing/black/black.hpp"
#include "quelm/rates/rate_dates.hpp"

namespace quelm::rates {

namespace {

// sigma_P of the option at `expiry` on the bond to `maturity`.
double bond_deviation(const HullWhite& m, double expiry, double maturity) {
    const double b = hw_b(m.a, expiry, maturity);
    return m.sigma * b * std::sqrt(expiry * one_minus_exp_over(2.0 * m.a * expiry));
}

// The curve's instantaneous forward at t: the log discount's central difference (one-sided
// at the curve's start).
Result<double> instantaneous_forward(const curves::YieldCurve& c, double t) {
    constexpr double h = 1e-5;
    const double lo = std::fmax(t - h, 0.0), hi = t + h;
    QUELM_TRY(l0, c.log_discount(lo));
    QUELM_TRY(l1, c.log_discount(hi));
    return -(l1 - l0) / (hi - lo);
}

// ln A(t, T).
Result<double> log_a(const HullWhite& m, double t, double T) {
    QUELM_TRY(lt, m.curve.log_discount(t));
    QUELM_TRY(lT, m.curve.log_discount(T));
    QUELM_TRY(f, instantaneous_forward(m.curve, t));
    const double b = hw_b(m.a, t, T);
    return lT - lt + b * f - m.sigma * m.sigma * t * one_minus_exp_over(2.0 * m.a * t) / 2.0 * b * b;
}

Result<double> time_of(const HullWhite& m, dates::Serial d) { return m.curve.time_of(d); }

std::unexpected<Error> named(const std::string& who, const Error& e) {
    return std::unexpected(Error{e.kind, who + ": " + e.text});
}

}  // namespace

double one_minus_exp_over(double x) { return x == 0.0 ? 1.0 : -quelm::expm1(-x) / x; }

double hw_b(double a, double t, double T) { return (T - t) * one_minus_exp_over(a * (T - t)); }

Status check(const HullWhite& m) {
    if (!(m.a > 0.0) || !std::isfinite(m.a)) return invalid("HullWhite: a must be finite and > 0, got " + short_number(m.a));
    if (!(m.sigma > 0.0) || !std::isfinite(m.sigma))
        return invalid("HullWhite: sigma must be finite and > 0, got " + short_number(m.sigma));
    return {};
}

Result<double> hw_zero_bond(const HullWhite& m, double t, double T, double short_rate) {
    if (!(t >= 0.0) || !(T >= t) || !std::isfinite(T))
        return invalid("HullWhite.zero_bond: needs 0 <= t <= T, got t = " + short_number(t) + ", T = " + short_number(T));
    if (!std::isfinite(short_rate)) return invalid("HullWhite.zero_bond: short_rate must be finite");
    QUELM_TRY(la, log_a(m, t, T));
    return quelm::exp(la - hw_b(m.a, t, T) * short_rate);
}

Result<double> hw_zero_bond_option(const HullWhite& m, double expiry, double maturity, double strike, double theta) {
    if (!(expiry >= 0.0) || !(maturity >= expiry) || !std::isfinite(maturity))
        return invalid("HullWhite.zero_bond_option: needs 0 <= expiry <= maturity, got " + short_number(expiry) +
                       " and " + short_number(maturity));
    if (!(strike > 0.0) || !std::isfinite(strike))
        return invalid("HullWhite.zero_bond_option: strike must be finite and > 0, got " + short_number(strike));
    QUELM_TRY(pt, m.curve.discount(expiry));
    QUELM_TRY(pT, m.curve.discount(maturity));
    return pt * black(pT / pt, strike, bond_deviation(m, expiry, maturity), theta);
}

Result<double> hw_cap_price(const HullWhite& m, const CapFloor& c) {
    QUELM_CHECK(check(c));
    // The strip's dates and accruals (its Bachelier prices at zero vol are not used).
    QUELM_TRY(ks, caplets(c, {&m.curve, &m.curve}, VolTerm{{}, {0.0}}, {VolModel::Bachelier, 0.0}));
    // A caplet pays (1 + K tau) (1 / (1 + K tau) - P(s, e))^+ at s: a put on the bond.
    const double theta = c.kind == CapKind::Cap ? -1.0 : 1.0;
    double sum = 0.0;
    for (const Caplet& k : ks) {
        if (k.fixed) continue;
        QUELM_TRY(ts, time_of(m, k.start));
        QUELM_TRY(te, time_of(m, k.end));
        const double scale = 1.0 + c.strike * k.accrual;
        if (!(scale > 0.0)) return named(describe(c), {Kind::InvalidInput, "1 + strike × accrual is not positive"});
        QUELM_TRY(o, hw_zero_bond_option(m, ts, te, 1.0 / scale, theta));
        sum += c.notional * scale * o;
    }
    return sum;
}

Result<double> hw_swaption_price(const HullWhite& m, const Swaption& s) {
    QUELM_CHECK(check(s));
    if (s.settlement != Settlement::Physical)
        return named(describe(s), {Kind::InvalidInput, "HullWhite prices physically settled swaptions only"});
    QUELM_TRY(terms, swaption_terms(s, {&m.curve, &m.curve}));
    const dates::Serial reference = *m.curve.dating().reference;
    curves::Swap swap;
    swap.tenor = s.tenor;
    swap.rate = s.strike;
    swap.terms = {s.fixed_day_count, s.calendar, s.settlement_days, dates::Convention::ModifiedFollowing};
    swap.fixed_frequency = s.fixed_frequency;
    swap.float_tenor = s.float_tenor;
    swap.trade.effective = terms.start;
    swap.memo = s.memo;
    QUELM_TRY(kept, curves::lay_out_kept(swap, reference));
    QUELM_TRY(te, time_of(m, terms.expiry));
    QUELM_TRY(t0, time_of(m, terms.start));
    // The fixed leg's amounts (the face with the last) at their times.
    std::vector<double> times, amounts;
    for (const curves::FixedPeriod& p : kept->fixed) {
        QUELM_TRY(t, time_of(m, kept->disc[p.pay]));
        times.push_back(t);
        amounts.push_back(s.strike * p.accrual);
    }
    amounts.back() += 1.0;
    std::vector<double> la(times.size()), b(times.size());
    for (std::size_t i = 0; i < times.size(); ++i) {
        QUELM_TRY(x, log_a(m, te, times[i]));
        la[i] = x;
        b[i] = hw_b(m.a, te, times[i]);
    }
    QUELM_TRY(la0, log_a(m, te, t0));
    const double b0 = hw_b(m.a, te, t0);
    // r*: the fixed leg worth the bond to the start, sum c_i A_i e^(-B_i r) = A_0 e^(-B_0 r);
    // in units of the latter the left side falls in r, so the root is one.
    const auto f = [&](double r, double& slope) {
        double v = 0.0, dv = 0.0;
        for (std::size_t i = 0; i < times.size(); ++i) {
            const double x = amounts[i] * quelm::exp(la[i] - la0 - (b[i] - b0) * r);
            v += x;
            dv -= (b[i] - b0) * x;
        }
        slope = dv;
        return v - 1.0;
    };
    double r = 0.0;
    const NewtonEnd end = damped_newton(f, r, NewtonSettings{1e-15, 100, 60, 1e-16});
    if (end.status != SolveStatus::Converged && std::fabs(end.residual) > 1e-12)
        return named(describe(s), {Kind::Numerical, "HullWhite: no short rate r* equates the fixed leg and the bond"});
    const double theta = s.kind == SwaptionKind::Payer ? -1.0 : 1.0;
    double value = 0.0;
    for (std::size_t i = 0; i < times.size(); ++i) {
        const double strike = quelm::exp(la[i] - b[i] * r);
        QUELM_TRY(o, hw_zero_bond_option(m, te, times[i], strike, theta));
        value += amounts[i] * o;
    }
    if (t0 > te) {
        QUELM_TRY(o, hw_zero_bond_option(m, te, t0, quelm::exp(la0 - b0 * r), theta));
        value -= o;
    }
    return s.notional * value;
}

Result<double> hw_futures_convexity(const HullWhite& m, double start, double end) {
    if (!(start >= 0.0) || !(end > start) || !std::isfinite(end))
        return invalid("HullWhite.futures_convexity: needs 0 <= start < end, got " + short_number(start) + " and " +
                       short_number(end));
    const double a = m.a, s2 = m.sigma * m.sigma;
    const double b12 = hw_b(a, start, end), b01 = hw_b(a, 0.0, start);
    // (1 - e^(-2 a t1)) / (4 a) = t1 (1 - e^(-2 a t1)) / (2 a t1) / 2, and 2 a B^2 / (4 a) = B^2 / 2.
    return b12 / (end - start) * (b12 * start * one_minus_exp_over(2.0 * a * start) / 2.0 + b01 * b01 / 2.0) * s2;
}

}  // namespace quelm::rates
