// Option type and the two records the vanilla pricing cores take.
// Times in years; rates and dividend yields continuously compounded; vol annual.
#pragma once

#include <string_view>

#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"
#include "quelm/core/text.hpp"

namespace quelm {

enum class OptionType : unsigned char { Call, Put };

struct OptionContract {
    double strike;
    double expiry;  // years
    OptionType option_type;
};

struct MarketInputs {
    double spot;
    double rate;            // continuously compounded risk-free rate
    double vol;             // annual volatility
    double dividend_yield;  // continuous
};

// "call"/"c" or "put"/"p" after ASCII lower-casing.
inline constexpr Choices<OptionType, 4> kOptionTypes{
    "option_type", Listing::Quoted,
    {{{"call", OptionType::Call}, {"c", OptionType::Call}, {"put", OptionType::Put}, {"p", OptionType::Put}}}};

[[nodiscard]] constexpr const char* option_type_name(OptionType t) {
    return t == OptionType::Call ? "call" : "put";
}

// The checks every vanilla pricer shares, in this order (NaN passes each):
// strike > 0, spot >= 0, vol >= 0, expiry >= 0.
[[nodiscard]] Status validate_vanilla(double strike, double spot, double vol, double expiry);

// max(x - K, 0) for a call, max(K - x, 0) for a put.
[[nodiscard]] inline double payoff(OptionType t, double x, double strike) {
    const double v = t == OptionType::Call ? x - strike : strike - x;
    return v > 0.0 ? v : 0.0;
}

}  // namespace quelm
