#include "quelm/fx/delta.hpp"

#include <cmath>
#include <string>

#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/erf.hpp"
#include "quelm/core/math/solvers.hpp"
#include "quelm/core/text.hpp"
#include "quelm/fx/delta_terms.hpp"

namespace quelm::fx {

namespace {

constexpr double kLogSqrtTwoPi = 0.91893853320467274178;  // ln sqrt(2 pi)
constexpr double kTol = 1e-15;                          // Brent: in ln K / F and in ln delta
constexpr unsigned kMaxIter = 200;

Status validate_market(const FxMarket& m, bool positive) {
    if (positive) {
        if (m.spot <= 0.0) return invalid("spot must be > 0");
        if (m.vol <= 0.0) return invalid("volatility must be > 0");
        if (m.t <= 0.0) return invalid("time to expiry must be > 0");
        return {};
    }
    if (m.spot <= 0.0) return invalid("spot must be > 0");
    if (m.vol < 0.0) return invalid("volatility must be >= 0");
    if (m.t < 0.0) return invalid("time to expiry must be >= 0");
    return {};
}

bool spot_type(DeltaType d) { return d == DeltaType::Spot || d == DeltaType::SpotPa; }

// ln of the premium-adjusted forward delta's size, (K / F) N(theta d2), at k = ln(K / F).
double log_pa_delta(double k, double s, double theta) {
    const double d2 = (-k - s * s / 2.0) / s;
    return k + log_normal_cdf(theta * d2);
}

// A root of an increasing f, bracketed by stepping outward from [lo, hi].
template <class F>
Result<double> rising_root(F&& f, double lo, double hi, double step) {
    for (double h = step; f(lo) > 0.0; h *= 2.0) lo -= h;
    for (double h = step; f(hi) < 0.0; h *= 2.0) hi += h;
    return brent(f, lo, hi, kTol, kMaxIter);
}

std::string range_error(const char* range, OptionType type, DeltaType d, double delta) {
    return std::string("delta must be in ") + range + " for a " + option_type_name(type) + "'s " +
           delta_type_name(d) + " delta, got " + format_number(delta);
}

}  // namespace

const char* delta_type_name(DeltaType d) {
    switch (d) {
        case DeltaType::Spot: return "spot";
        case DeltaType::Forward: return "forward";
        case DeltaType::SpotPa: return "spot-pa";
        case DeltaType::ForwardPa: return "forward-pa";
    }
    return "";
}

double delta_of(const FxGreeks& g, DeltaType d) {
    switch (d) {
        case DeltaType::Spot: return g.spot_delta;
        case DeltaType::Forward: return g.forward_delta;
        case DeltaType::SpotPa: return g.spot_delta_pa;
        case DeltaType::ForwardPa: return g.forward_delta_pa;
    }
    return kNaN;
}

Result<double> fx_delta(const FxMarket& m, double strike, OptionType type, DeltaType d) {
    if (m.spot <= 0.0) return invalid("spot must be > 0");
    QUELM_CHECK(validate_vanilla(strike, m.spot, m.vol, m.t));
    if (any_nan(m.spot, m.domestic_rate, m.foreign_rate, m.vol, m.t, strike)) return kNaN;
    const FourDeltas x = four_deltas(m, strike, type);
    switch (d) {
        case DeltaType::Spot: return x.spot;
        case DeltaType::Forward: return x.forward;
        case DeltaType::SpotPa: return x.spot_pa;
        case DeltaType::ForwardPa: return x.forward_pa;
    }
    return kNaN;
}

MaxDelta max_pa_call_delta(const FxMarket& m, DeltaType d) {
    const double s = m.vol * std::sqrt(m.t);
    const double f = forward_of(m);
    // d/dk of ln((K / F) N(d2)) vanishes where s N(d2) = n(d2); in logs, increasing in d2 past -s.
    const auto h = [s](double x) { return quelm::log(s) + log_normal_cdf(x) + x * x / 2.0 + kLogSqrtTwoPi; };
    double hi = 0.0;
    while (h(hi) < 0.0) hi += 1.0;
    const Result<double> d2 = brent(h, -s, hi, kTol, kMaxIter);
    const double x = d2 ? *d2 : -s;
    const double k = -x * s - s * s / 2.0;
    const double scale = spot_type(d) ? quelm::exp(-m.foreign_rate * m.t) : 1.0;
    return {f * quelm::exp(k), scale * quelm::exp(k) * normal_cdf(x)};
}

Result<double> d1_of_delta(double delta, const FxMarket& m, OptionType type, DeltaType d) {
    const double theta = theta_of(type);
    const double scale = spot_type(d) ? quelm::exp(-m.foreign_rate * m.t) : 1.0;
    const double size = theta * delta / scale;
    if (!(size > 0.0 && size < 1.0)) {
        const std::string bound = format_number(scale);
        const std::string range = type == OptionType::Call ? "(0, " + bound + ")" : "(-" + bound + ", 0)";
        return invalid(range_error(range.c_str(), type, d, delta));
    }
    return theta * normal_quantile_fast(size);
}

double strike_of_d1(double forward, double d1, double s) { return forward * quelm::exp(-d1 * s + s * s / 2.0); }

Result<double> fx_strike_from_delta(double delta, const FxMarket& m, OptionType type, DeltaType d) {
    QUELM_CHECK(validate_market(m, true));
    if (any_nan(delta, m.spot, m.domestic_rate, m.foreign_rate, m.vol, m.t)) return kNaN;
    const double theta = theta_of(type);
    const bool call = type == OptionType::Call;
    const double scale = spot_type(d) ? quelm::exp(-m.foreign_rate * m.t) : 1.0;
    const double s = m.vol * std::sqrt(m.t);
    const double f = forward_of(m);
    const double size = theta * delta / scale;  // the forward delta's size

    if (!premium_adjusted(d)) {
        QUELM_TRY(d1, d1_of_delta(delta, m, type, d));
        return strike_of_d1(f, d1, s);
    }

    if (!call) {
        if (!(size > 0.0)) return invalid(range_error("(-inf, 0)", type, d, delta));
        const double target = quelm::log(size);
        // Rises strictly with k from -inf to +inf.
        const auto g = [&](double k) { return log_pa_delta(k, s, -1.0) - target; };
        QUELM_TRY(k, rising_root(g, -s, s, 1.0 + s));
        return f * quelm::exp(k);
    }

    const MaxDelta top = max_pa_call_delta(m, d);
    const double top_size = top.delta / scale;
    if (!(size > 0.0 && size <= top_size * (1.0 + 1e-15))) {
        return invalid(range_error(("(0, " + format_number(top.delta) + "]").c_str(), type, d, delta));
    }
    const double k_top = quelm::log(top.strike / f);
    if (size >= top_size) return top.strike;
    const double target = quelm::log(size);
    // Above the maximising strike ln delta falls strictly to -inf.
    const auto g = [&](double k) { return log_pa_delta(k, s, 1.0) - target; };
    double hi = k_top + s;
    for (double step = 1.0 + s; g(hi) > 0.0; step *= 2.0) hi += step;
    QUELM_TRY(k, brent(g, k_top, hi, kTol, kMaxIter));
    return f * quelm::exp(k);
}

Result<double> fx_atm_strike(const FxMarket& m, AtmType atm, DeltaType d) {
    QUELM_CHECK(validate_market(m, false));
    if (any_nan(m.spot, m.domestic_rate, m.foreign_rate, m.vol, m.t)) return kNaN;
    const double f = forward_of(m);
    switch (atm) {
        case AtmType::Spot: return m.spot;
        case AtmType::Forward: return f;
        case AtmType::Dns: {
            const double half_var = m.vol * m.vol * m.t / 2.0;
            return f * quelm::exp(premium_adjusted(d) ? -half_var : half_var);
        }
    }
    return kNaN;
}

}  // namespace quelm::fx
