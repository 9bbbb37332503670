#include "quelm/pricing/barrier.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "quelm/core/math/distributions.hpp"
#include "quelm/pricing/black_scholes.hpp"

namespace quelm::pricing {

namespace {

bool is_down(BarrierType t) { return t == BarrierType::DownIn || t == BarrierType::DownOut; }
bool is_in(BarrierType t) { return t == BarrierType::DownIn || t == BarrierType::UpIn; }

struct Terms {
    double s, k, h, dq, dr, p1, p2, x1, x2, y1, y2, vol_t;

    double ab(double phi, double x) const {
        return dq * (s * phi) * normal_cdf(phi * x) - dr * (k * phi) * normal_cdf(phi * x - phi * vol_t);
    }
    double cd(double phi, double eta, double y) const {
        return p1 * dq * (s * phi) * normal_cdf(eta * y) - p2 * dr * (k * phi) * normal_cdf(eta * y - eta * vol_t);
    }
    double A(double phi) const { return ab(phi, x1); }
    double B(double phi) const { return ab(phi, x2); }
    double C(double phi, double eta) const { return cd(phi, eta, y1); }
    double D(double phi, double eta) const { return cd(phi, eta, y2); }
};

}  // namespace

double knock_in_price(const OptionContract& o, const MarketInputs& m, bool down, double barrier) {
    const double s = m.spot, k = o.strike, h = barrier, t = o.expiry, vol = m.vol, r = m.rate;
    const double b = r - m.dividend_yield;
    const double vt = std::sqrt(t) * vol;
    const double mu = ((-0.5 * vol) * vol + b) / (vol * vol);
    const double lambda = 1.0 + mu;
    Terms x{s, k, h,
            std::exp((b - r) * t), std::exp(-t * r),
            std::pow(h / s, 2.0 * lambda), std::pow(h / s, 2.0 * mu),
            std::log(s / k) / vt + lambda * vt, std::log(s / h) / vt + lambda * vt,
            std::log(h * h / (s * k)) / vt + lambda * vt, std::log(h / s) / vt + lambda * vt,
            vt};
    const bool call = o.option_type == OptionType::Call;
    const bool k_above = k >= h;
    if (down) {
        if (call) return k_above ? x.C(1, 1) : (x.A(1) - x.B(1)) + x.D(1, 1);
        return k_above ? (x.B(-1) - x.C(-1, 1)) + x.D(-1, 1) : x.A(-1);
    }
    if (call) return k_above ? x.A(1) : (x.B(1) - x.C(1, -1)) + x.D(1, -1);
    return k_above ? (x.A(-1) - x.B(-1)) + x.D(-1, -1) : x.C(-1, -1);
}

Result<double> barrier_price(const OptionContract& o, const MarketInputs& m, BarrierType type, double barrier) {
    const double s = m.spot, h = barrier, t = o.expiry;
    if (!(h > 0.0 && s > 0.0 && o.strike > 0.0)) return invalid("spot, strike, and barrier must be > 0");
    if (m.vol < 0.0 || t < 0.0) return invalid("volatility and expiry must be >= 0");
    const bool down = is_down(type);
    const bool in = is_in(type);

    if (m.vol == 0.0 || t == 0.0) {
        // The path runs straight from S to the forward; it touches H only in between.
        const double fwd = std::exp((m.rate - m.dividend_yield) * t) * s;
        const bool touched = down ? h >= std::min(s, fwd) : h <= std::max(s, fwd);
        const double value = std::exp(-t * m.rate) * payoff(o.option_type, fwd, o.strike);
        if (in) return touched ? value : 0.0;
        return touched ? 0.0 : value;
    }

    const bool breached = down ? s <= h : s >= h;
    if (breached) {
        if (!in) return 0.0;
        return black_scholes(o, m);
    }
    const double knock_in = knock_in_price(o, m, down, h);
    if (in) return knock_in;
    QUELM_TRY(vanilla, black_scholes(o, m));
    return std::max(vanilla - knock_in, 0.0);
}

}  // namespace quelm::pricing
