// An instrument priced on curves at their reference date (the trade date): its par rate,
// its quote as the market gives it, and the value of the position long the quote
// (layout.hpp). Forwards come from `curve`, payments discount on `discount`: by default
// the curve `curve` was bootstrapped on, else `curve` itself.
#pragma once

#include <cstdint>

#include "quelm/core/error.hpp"
#include "quelm/curves/curve.hpp"
#include "quelm/curves/instrument.hpp"
#include "quelm/curves/sensitivity.hpp"

namespace quelm::curves {

enum class Measure : std::uint8_t {
    ParRate,       // the rate that prices at par: a future's rate; a bond's yield at its model price
    ImpliedQuote,  // as quoted: a rate, a futures price, a bond's clean price
    Value,         // the position long the quote, times the trade's notional (a bond: per its face)
};

// The curves an instrument reads: `discount` if given, else the one `curve` was built on,
// else `curve`.
[[nodiscard]] CurvePair pricing_curves(const YieldCurve& curve, const YieldCurve* discount);

// Errors name the instrument.
[[nodiscard]] Result<double> measure(const Instrument& instrument, const YieldCurve& curve, const YieldCurve* discount,
                                     Measure m);

}  // namespace quelm::curves
