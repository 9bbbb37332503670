#include "quelm/pricing/barrier.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/pricing/black/black_scholes.hpp"

namespace quelm::pricing {

namespace {


struct Terms {
    double s, k, h, dq, dr, p1, p2, x1, x2, y1, y2, vol_t;
    double log_p1, log_p2;  // for small volatility, where p1 or p2 overflows

    double ab(double phi, double x) const {
        return dq * (s * phi) * normal_cdf(phi * x) - dr * (k * phi) * normal_cdf(phi * x - phi * vol_t);
    }
    double cd(double phi, double eta, double y) const {
        const double z1 = eta * y, z2 = eta * y - eta * vol_t;
        const double n1 = normal_cdf(z1), n2 = normal_cdf(z2);
        const double a = plain_power_product(p1, n1) ? p1 * dq * (s * phi) * n1
                                                     : dq * (s * phi) * power_cdf_in_logs(log_p1, z1);
        const double b = plain_power_product(p2, n2) ? p2 * dr * (k * phi) * n2
                                                     : dr * (k * phi) * power_cdf_in_logs(log_p2, z2);
        return a - b;
    }
    double A(double phi) const { return ab(phi, x1); }
    double B(double phi) const { return ab(phi, x2); }
    double C(double phi, double eta) const { return cd(phi, eta, y1); }
    double D(double phi, double eta) const { return cd(phi, eta, y2); }
};

// No volatility (or no time): the path runs straight from S to the forward and touches
// H only in between.
double still_price(const OptionContract& o, const MarketInputs& m, bool down, bool in, double h) {
    const double s = m.spot, t = o.expiry;
    const double fwd = quelm::exp((m.rate - m.dividend_yield) * t) * s;
    const bool touched = down ? h >= std::min(s, fwd) : h <= std::max(s, fwd);
    const double value = quelm::exp(-t * m.rate) * payoff(o.option_type, fwd, o.strike);
    if (in) return touched ? value : 0.0;
    return touched ? 0.0 : value;
}

}  // namespace

double knock_in_price(const OptionContract& o, const MarketInputs& m, bool down, double barrier) {
    const double s = m.spot, k = o.strike, h = barrier, t = o.expiry, vol = m.vol, r = m.rate;
    const double b = r - m.dividend_yield;
    const double vt = std::sqrt(t) * vol;
    const double mu = ((-0.5 * vol) * vol + b) / (vol * vol);
    const double lambda = 1.0 + mu;
    // With sigma^2 underflowing, mu is infinite and the terms below are meaningless (yet
    // may come out finite); NaN sends the caller to the zero-volatility limit.
    if (!std::isfinite(mu)) return kNaN;
    Terms x{s, k, h,
            quelm::exp((b - r) * t), quelm::exp(-t * r),
            quelm::pow(h / s, 2.0 * lambda), quelm::pow(h / s, 2.0 * mu),
            quelm::log(s / k) / vt + lambda * vt, quelm::log(s / h) / vt + lambda * vt,
            quelm::log(h * h / (s * k)) / vt + lambda * vt, quelm::log(h / s) / vt + lambda * vt,
            vt, 2.0 * lambda * quelm::log(h / s), 2.0 * mu * quelm::log(h / s)};
    const bool call = o.option_type == OptionType::Call;
    const bool k_above = k >= h;
    if (down) {
        if (call) return k_above ? x.C(1, 1) : (x.A(1) - x.B(1)) + x.D(1, 1);
        return k_above ? (x.B(-1) - x.C(-1, 1)) + x.D(-1, 1) : x.A(-1);
    }
    if (call) return k_above ? x.A(1) : (x.B(1) - x.C(1, -1)) + x.D(1, -1);
    return k_above ? (x.A(-1) - x.B(-1)) + x.D(-1, -1) : x.C(-1, -1);
}

Result<double> barrier_price(const OptionContract& o, const MarketInputs& m, const BarrierSettings& b) {
    const BarrierType type = b.type;
    const double s = m.spot, h = b.level, t = o.expiry;
    if (!(h > 0.0 && s > 0.0 && o.strike > 0.0)) return invalid("spot, strike, and barrier must be > 0");
    if (m.vol < 0.0 || t < 0.0) return invalid("volatility and expiry must be >= 0");
    if (any_nan(m, o.strike, t)) return kNaN;
    const bool down = is_down(type);
    const bool in = is_in(type);

    if (m.vol == 0.0 || t == 0.0) return still_price(o, m, down, in, h);

    const bool breached = down ? s <= h : s >= h;
    if (breached) {
        if (!in) return 0.0;
        return black_scholes(o, m);
    }
    const double knock_in = knock_in_price(o, m, down, h);
    // A volatility so small that the formula's terms leave the double range is
    // indistinguishable from none.
    if (!std::isfinite(knock_in)) return still_price(o, m, down, in, h);
    if (in) return knock_in;
    QUELM_TRY(vanilla, black_scholes(o, m));
    return std::max(vanilla - knock_in, 0.0);
}

}  // namespace quelm::pricing
