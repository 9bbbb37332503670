// Option type, the two records every pricing engine takes (the contract and the market),
// and the price-with-error that the Monte Carlo engines return.
// Times in years; rates and dividend yields continuously compounded; vol annual.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <string_view>
#include <type_traits>

#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/lanes.hpp"
#include "quelm/core/text.hpp"

namespace quelm {

enum class OptionType : unsigned char { Call, Put };

struct OptionContract {
    double strike;
    double expiry;  // years
    OptionType option_type;
};

// A price with the standard error of its estimate (0 where nothing random is left).
struct PriceEstimate {
    double price;
    double standard_error;
};

struct MarketInputs {
    double spot;
    double rate;            // continuously compounded risk-free rate
    double vol;             // annual volatility
    double dividend_yield;  // continuous
};

// A vanilla option and its market, as the public calls give them: spot, strike, rate, vol,
// time to expiry, option type and dividend yield.
struct Vanilla {
    OptionContract contract;
    MarketInputs market;
};
[[nodiscard]] constexpr Vanilla vanilla(double spot, double strike, double rate, double vol, double t,
                                        OptionType type, double dividend_yield) {
    return {{.strike = strike, .expiry = t, .option_type = type},
            {.spot = spot, .rate = rate, .vol = vol, .dividend_yield = dividend_yield}};
}

// The contract and the market under the names the closed forms' formulas use.
struct VanillaTerms {
    double s, k, t, r, q, sigma;
    bool call;
};
[[nodiscard]] constexpr VanillaTerms vanilla_terms(const OptionContract& o, const MarketInputs& m) {
    return {m.spot, o.strike, o.expiry, m.rate, m.dividend_yield, m.vol, o.option_type == OptionType::Call};
}

// "call"/"c" or "put"/"p" after ASCII lower-casing.
inline constexpr Choices<OptionType, 4> kOptionTypes{
    "option_type", Listing::Quoted,
    {{{"call", OptionType::Call}, {"c", OptionType::Call}, {"put", OptionType::Put}, {"p", OptionType::Put}}}};

// +1 for a call, -1 for a put: the sign the forward-form formulas carry.
[[nodiscard]] constexpr double theta_of(OptionType t) { return t == OptionType::Call ? 1.0 : -1.0; }

[[nodiscard]] constexpr const char* option_type_name(OptionType t) {
    return t == OptionType::Call ? "call" : "put";
}

// The checks every vanilla pricer shares, in this order (NaN passes each):
// strike > 0, spot >= 0, vol >= 0, expiry >= 0.
[[nodiscard]] Status validate_vanilla(double strike, double spot, double vol, double expiry);

// A NaN input must reach the price: max(x - K, 0) would quietly turn it into 0. Every
// pricer answers NaN (and NaN standard error) for a NaN input its checks let through.
template <class... D>
[[nodiscard]] bool any_nan(D... x) {
    return (std::isnan(x) || ...);
}
[[nodiscard]] inline bool any_nan(const MarketInputs& m, double strike, double expiry) {
    return any_nan(m.spot, m.rate, m.vol, m.dividend_yield, strike, expiry);
}
inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// e^(-rate t), for a lane type (math/lanes.hpp) or one double. A zero rate over a finite time
// gives exactly 1 (as e^-0 does) without the call: most books have no dividend yield.
template <class V>
[[nodiscard]] inline V discount_lanes(V rate, V t) {
    if constexpr (std::is_same_v<V, double>) {
        if (rate == 0.0 && std::isfinite(t)) return 1.0;
        return quelm::exp(-rate * t);
    } else {
        const auto plain = lanes::mask_and(rate == 0.0, lanes::abs(t) < std::numeric_limits<double>::infinity());
        return lanes::select(plain, lanes::splat<V>(1.0), exp_lanes(-rate * t));
    }
}
[[nodiscard]] inline double discount_factor(double rate, double t) { return discount_lanes(rate, t); }

// With nothing random left the asset runs along its forward S e^((r - q) t). The best
// discounted payoff max(+-(S e^((r - q) t) - K), 0) e^(-r t) over the interior dates
// t_j = j T / steps, 0 < j < steps (0 when there are none). The discounted payoff,
// +-(S e^(-q t) - K e^(-r t)), turns at most once, so only the dates beside that turn
// and the two ends need pricing: O(1) work for any number of steps.
[[nodiscard]] double best_interior_exercise(OptionType type, double spot, double strike, double rate,
                                            double dividend_yield, double expiry, std::uint64_t steps);

// max(x - K, 0) for a call, max(K - x, 0) for a put.
[[nodiscard]] inline double payoff(OptionType t, double x, double strike) {
    const double v = t == OptionType::Call ? x - strike : strike - x;
    return v > 0.0 ? v : 0.0;
}

}  // namespace quelm
