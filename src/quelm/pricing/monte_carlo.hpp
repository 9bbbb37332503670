// European Monte Carlo under geometric Brownian motion with continuous dividend yield:
// terminal prices only, antithetic pairs, one random stream per pair index.
// Times in years, rates and yields continuously compounded.
#pragma once

#include <cstdint>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/core/option.hpp"

namespace quelm::pricing {

struct McInputs {
    double spot, strike, rate, vol, t;
    OptionType option_type;
    double dividend_yield;
    std::uint64_t paths;
    std::uint64_t seed;
};

struct McResult {
    double price;
    double standard_error;
};

// Input checks shared with the Longstaff-Schwartz engine, in this order.
[[nodiscard]] Status validate_inputs(double strike, double spot, double vol, double t, std::uint64_t paths);

[[nodiscard]] Result<McResult> monte_carlo_european(const McInputs& in, Cancel& cancel = never_cancel());

}  // namespace quelm::pricing
