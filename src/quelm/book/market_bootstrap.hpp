// A market whose curves are bootstrapped from quotes, each curve by name: a projection
// curve (say "eur-euribor-6m" off swaps) is built after the curve it discounts on ("eur-estr"
// off OIS quotes) and discounts on that very curve, shared. Each curve is what
// curves::bootstrap builds from the same inputs, so it has the bits of the same bootstrap
// done curve by curve.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "quelm/book/market.hpp"
#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/curves/curve_options.hpp"
#include "quelm/curves/instrument.hpp"
#include "quelm/dates/day_count.hpp"

namespace quelm::book {

// The quotes of one curve and how to build it (curves::bootstrap's options).
struct CurveQuotes {
    std::string name;
    std::vector<curves::Instrument> instruments;
    dates::DayCount day_count{};  // act/365f
    curves::BootstrapInterp interp = curves::BootstrapInterp::LogLinear;
    curves::Extrapolation extrapolate = curves::Extrapolation::FlatForward;
    // The curve payments discount on: another curve of the market, by name, or one given
    // whole; neither: the curve discounts on itself.
    std::optional<std::string> discount_name;
    std::shared_ptr<const curves::YieldCurve> discount_curve;
};

// The market of `parts` with the curves built from `quotes` added, at parts.reference. A
// discount name may be a curve built here or one of parts.curves; an unknown name and a
// loop of discount curves are errors naming them, as is a failed build (its message after
// the curve's name).
[[nodiscard]] Result<Market> bootstrap_market(MarketParts parts, std::vector<CurveQuotes> quotes, Cancel& cancel);

}  // namespace quelm::book
