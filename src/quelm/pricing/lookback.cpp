#include "quelm/pricing/lookback.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/elementary.hpp"

namespace quelm::pricing {

namespace {

// No volatility (or no time): the path runs straight from S to the forward, so its
// extremes are the two ends.
double still_price(const OptionContract& o, const MarketInputs& m, StrikeType type) {
    const double s = m.spot, k = o.strike, r = m.rate, t = o.expiry;
    const bool call = o.option_type == OptionType::Call;
    const double fwd = quelm::exp((r - m.dividend_yield) * t) * s;
    const double hi = std::max(s, fwd), lo = std::min(s, fwd);
    double value;
    if (type == StrikeType::Fixed) {
        value = call ? std::max(hi - k, 0.0) : std::max(k - lo, 0.0);
    } else {
        value = call ? fwd - lo : hi - fwd;
    }
    return quelm::exp(t * (-r)) * value;
}

}  // namespace

Result<double> lookback_price(const OptionContract& o, const MarketInputs& m, StrikeType type) {
    const double s = m.spot, k = o.strike, r = m.rate, vol = m.vol, t = o.expiry;
    const bool fixed = type == StrikeType::Fixed;
    const bool call = o.option_type == OptionType::Call;
    if (s <= 0.0 || (fixed && k <= 0.0)) return invalid("spot and strike must be > 0");
    if (vol < 0.0 || t < 0.0) return invalid("volatility and expiry must be >= 0");

    if (any_nan(m, k, t)) return kNaN;
    if (vol == 0.0 || t == 0.0) return still_price(o, m, type);

    // A vanishing carry would blow up the sigma^2 / (2b) terms; keep it just off zero.
    double b = r - m.dividend_yield;
    if (std::fabs(b) < 1e-8) b = b < 0.0 ? -1e-8 : 1e-8;
    const double v2 = vol * vol;
    const double dq = quelm::exp((b - r) * t);
    const double dr = quelm::exp(t * (-r));
    const double c = t * (0.5 * v2 + b);
    const double h = std::sqrt(t) * vol;
    const double w = (2.0 * b / v2) * h;
    const double x = v2 / (2.0 * b);
    const double g = quelm::exp(t * b);
    auto N = [](double z) { return normal_cdf(z); };

    double result;
    if (fixed) {
        const double p = -2.0 * b / v2;
        const double d1 = (quelm::log(s / k) + c) / h;
        const double d2 = d1 - h;
        const double e1 = c / h;
        const double e2 = e1 - h;
        if (call) {
            if (k >= s) {
                result = dq * s * N(d1) - k * dr * N(d2) + dr * s * x * (g * N(d1) - power_times_cdf(s / k, p, d1 - w));
            } else {
                result = (s - k) * dr + dq * s * N(e1) - dr * s * N(e2) + dr * s * x * (g * N(e1) - N(e1 - w));
            }
        } else {
            if (k <= s) {
                result = k * dr * N(-d2) - dq * s * N(-d1) +
                         dr * s * x * (power_times_cdf(s / k, p, w - d1) - g * N(-d1));
            } else {
                result = (k - s) * dr - dq * s * N(-e1) + dr * s * N(-e2) + dr * s * x * (N(w - e1) - g * N(-e1));
            }
        }
    } else {
        const double a1 = c / h;
        const double a2 = a1 - h;
        if (call) {
            result = dq * s * N(a1) - dr * s * N(a2) + dr * s * x * (N(w - a1) - g * N(-a1));
        } else {
            result = dr * s * N(-a2) - dq * s * N(-a1) + dr * s * x * (g * N(a1) - N(a1 - w));
        }
    }
    // A volatility so small that the terms leave the double range (sigma^2 underflowing,
    // say) is indistinguishable from none.
    if (!std::isfinite(result)) return still_price(o, m, type);
    return std::max(result, 0.0);
}

}  // namespace quelm::pricing
