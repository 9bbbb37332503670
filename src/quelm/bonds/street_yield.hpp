// Prices and yields of dated cash flows on the street (ICMA) convention: a payment at
// time t (in coupon periods over the frequency, summed per period by the day count) is
// discounted by (1 + y/f)^(−f·t). The price is per the flows' own amounts.
#pragma once

#include <cstdint>
#include <vector>

#include "quelm/core/error.hpp"

namespace quelm::bonds {

struct StreetFlows {
    std::vector<double> times;    // years by the day count, increasing, the first >= 0
    std::vector<double> amounts;  // same length
    // Set by the builder when every step after the first is one coupon period exactly
    // (f × step == 1), so the discount factors follow each other by one multiplication.
    bool uniform = false;
};

[[nodiscard]] Result<double> street_price(const StreetFlows& flows, std::uint32_t frequency, double y);
// Σ t·a·v(t) / price (years) and Σ a·t·(t + 1/f)·v(t)·(1 + y/f)^−2 / price.
[[nodiscard]] Result<double> street_duration(const StreetFlows& flows, std::uint32_t frequency, double y);
[[nodiscard]] Result<double> street_convexity(const StreetFlows& flows, std::uint32_t frequency, double y);
// The yield whose price is `price`: Newton's method from `guess`, Brent on [−0.9, 2]
// when Newton leaves the domain or stalls.
[[nodiscard]] Result<double> street_yield(const StreetFlows& flows, std::uint32_t frequency, double price,
                                          double guess);

}  // namespace quelm::bonds
