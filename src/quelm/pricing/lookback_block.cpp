#include "quelm/pricing/lookback_block.hpp"

#include <cmath>

#include "quelm/core/math/distributions.hpp"
#include "quelm/core/math/pow_lanes.hpp"
#include "quelm/core/simd.hpp"

namespace quelm::pricing {

namespace {

bool finite(double x) { return std::isfinite(x); }

// lookback_price's cases: fixed strike (call with K >= S or below, put with K <= S or
// above) and floating strike (call, put).
enum Case : unsigned { FixedCallAbove, FixedCallBelow, FixedPutBelow, FixedPutAbove, FloatCall, FloatPut, kCases };

Case case_of(const LookbackBlock& b, std::size_t i) {
    const bool call = b.type[i] == OptionType::Call;
    if (b.strike_type[i] == StrikeType::Floating) return call ? FloatCall : FloatPut;
    if (call) return b.strike[i] >= b.spot[i] ? FixedCallAbove : FixedCallBelow;
    return b.strike[i] <= b.spot[i] ? FixedPutBelow : FixedPutAbove;
}

// The options lookback_price prices by formula: finite inputs, spot, vol and time > 0, a
// fixed strike > 0.
bool ordinary(const LookbackBlock& b, std::size_t i) {
    if (!(finite(b.spot[i]) && finite(b.strike[i]) && finite(b.rate[i]) && finite(b.vol[i]) &&
          finite(b.expiry[i]) && finite(b.dividend_yield[i])))
        return false;
    if (b.strike_type[i] == StrikeType::Fixed && !(b.strike[i] > 0.0)) return false;
    return b.spot[i] > 0.0 && b.vol[i] > 0.0 && b.expiry[i] > 0.0;
}

template <class V>
V N(V x) {
    return normal_cdf_given_exp_lanes(x, normal_cdf_exp_lanes(x));
}

// One lane group, every option of case `k`; `ok` clears the lanes the caller must price.
template <class V>
V lookback_lanes_price(Case k, V s, V strike, V r, V q, V vol, V t, V& ok) {
    V b = r - q;
    b = lanes::select(lanes::abs(b) < 1e-8, lanes::select(b < 0.0, lanes::splat<V>(-1e-8), lanes::splat<V>(1e-8)), b);
    const V v2 = vol * vol;
    const V dq = exp_lanes((b - r) * t);
    const V dr = exp_lanes(t * (-r));
    const V c = t * (0.5 * v2 + b);
    const V h = lanes::sqrt(t) * vol;
    const V w = (2.0 * b / v2) * h;
    const V x = v2 / (2.0 * b);
    const V g = exp_lanes(t * b);
    auto fine = lanes::splat<V>(1.0) == 1.0;
    // power_times_cdf(base, p, z) where its product is plain.
    const auto power_times_cdf = [&](V base, V p, V z) {
        const V pw = lanes::select(base == 1.0, lanes::splat<V>(1.0), pow_lanes(base, p));
        const V cdf = N(z);
        const auto main = lanes::mask_and(pow_exponent_on_main_path(p),
                                          lanes::mask_or(base == 1.0, pow_base_on_main_path(base)));
        const auto plain = lanes::mask_and(pw - pw == 0.0, lanes::mask_not(lanes::mask_and(pw > 1.0, cdf == 0.0)));
        fine = lanes::mask_and(fine, lanes::mask_and(main, plain));
        return pw * cdf;
    };
    V result;
    switch (k) {
        case FixedCallAbove:
        case FixedCallBelow:
        case FixedPutBelow:
        case FixedPutAbove: {
            const V p = -2.0 * b / v2;
            const V d1 = (log_lanes(s / strike) + c) / h;
            const V d2 = d1 - h;
            const V e1 = c / h;
            const V e2 = e1 - h;
            if (k == FixedCallAbove) {
                result = dq * s * N(d1) - strike * dr * N(d2) +
                         dr * s * x * (g * N(d1) - power_times_cdf(s / strike, p, d1 - w));
            } else if (k == FixedCallBelow) {
                result = (s - strike) * dr + dq * s * N(e1) - dr * s * N(e2) + dr * s * x * (g * N(e1) - N(e1 - w));
            } else if (k == FixedPutBelow) {
                result = strike * dr * N(-d2) - dq * s * N(-d1) +
                         dr * s * x * (power_times_cdf(s / strike, p, w - d1) - g * N(-d1));
            } else {
                result = (strike - s) * dr - dq * s * N(-e1) + dr * s * N(-e2) + dr * s * x * (N(w - e1) - g * N(-e1));
            }
            break;
        }
        case FloatCall:
        case FloatPut:
        case kCases: {
            const V a1 = c / h;
            const V a2 = a1 - h;
            if (k == FloatCall) {
                result = dq * s * N(a1) - dr * s * N(a2) + dr * s * x * (N(w - a1) - g * N(-a1));
            } else {
                result = dr * s * N(-a2) - dq * s * N(-a1) + dr * s * x * (g * N(a1) - N(a1 - w));
            }
            break;
        }
    }
    // A result outside the double range goes to the caller (the zero-volatility limit).
    ok = lanes::select(lanes::mask_and(fine, result - result == 0.0), ok, lanes::splat<V>(0.0));
    return lanes::select(result < 0.0, lanes::splat<V>(0.0), result);
}

template <class V>
void lookback_lanes(const LookbackBlock& b, double* out, bool* done) {
    constexpr std::size_t w = static_cast<std::size_t>(lanes::size_v<V>);
    // The options of each case packed into full lane groups.
    std::size_t list[kCases][kLookbackBlock], count[kCases] = {};
    for (std::size_t i = 0; i < b.n; ++i) {
        done[i] = false;
        if (!ordinary(b, i)) continue;
        const Case k = case_of(b, i);
        list[k][count[k]++] = i;
    }
    for (unsigned k = 0; k < kCases; ++k) {
        for (std::size_t j = 0; j < count[k]; j += w) {
            // An idle lane prices a harmless at-the-money option of the case.
            double s[w], strike[w], r[w], q[w], vol[w], t[w];
            for (std::size_t c = 0; c < w; ++c) {
                const bool u = j + c < count[k];
                const std::size_t i = u ? list[k][j + c] : 0;
                s[c] = u ? b.spot[i] : 100.0;
                strike[c] = u ? b.strike[i] : 100.0;
                r[c] = u ? b.rate[i] : 0.03;
                q[c] = u ? b.dividend_yield[i] : 0.0;
                vol[c] = u ? b.vol[i] : 0.2;
                t[c] = u ? b.expiry[i] : 1.0;
            }
            using lanes::load;
            V ok = lanes::splat<V>(1.0);
            const V p = lookback_lanes_price(static_cast<Case>(k), load<V>(s), load<V>(strike), load<V>(r),
                                             load<V>(q), load<V>(vol), load<V>(t), ok);
            double price[w], okay[w];
            lanes::store(price, p);
            lanes::store(okay, ok);
            for (std::size_t c = 0; c < w && j + c < count[k]; ++c) {
                if (okay[c] == 0.0) continue;
                out[list[k][j + c]] = price[c];
                done[list[k][j + c]] = true;
            }
        }
    }
}

QUELM_SIMD_KERNEL(lookback_at_width, lookback_lanes)

}  // namespace

void lookback_price_block(const LookbackBlock& block, double* out, bool* done) { lookback_at_width(block, out, done); }

}  // namespace quelm::pricing
