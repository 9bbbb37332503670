// Bucketed risk: the sensitivity of the value of each position of a book (instruments long
// their quotes, bonds held) to every quote the curve was bootstrapped from, by implicit
// differentiation of the bootstrap: dV/dq = ∂V/∂u · (∂R/∂u)^-1 (R = model quote - quote,
// u the curve's unknowns). On a projection curve built on a bootstrapped discount curve,
// the discount curve's quotes come first and the chain runs through both. Per unit of
// quote: rates as decimals, a future's rate (1 - price/100), a bond's clean price.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "quelm/bonds/dated_bond.hpp"
#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/curves/curve.hpp"
#include "quelm/curves/floating_note.hpp"
#include "quelm/curves/instrument.hpp"

namespace quelm::curves {

// A position: an instrument (its value long the quote, times its notional), a bond held
// (its present value) or a floating-rate note held (times its face).
using BookItem = std::variant<Instrument, bonds::DatedBond, FloatingRateNote>;

// The instruments behind the columns of the risk, in order.
[[nodiscard]] std::vector<const Instrument*> risk_quotes(const YieldCurve& curve);

struct RiskTable {
    std::size_t rows = 0, cols = 0;
    std::vector<double> values;  // row-major: one row per position, one column per quote
};

struct Layout;

// Fails for a curve that was not bootstrapped; errors name the position. `laid`, if not
// empty: a layout per position to use in place of its own (null: its own), for trades laid
// out with their fixings (a seasoned trade's past is constant: only its forward part moves).
[[nodiscard]] Result<RiskTable> bucketed_risk(const YieldCurve& curve, std::span<const BookItem> book, Cancel& cancel,
                                              std::span<const std::shared_ptr<const Layout>> laid = {});

// Positions given as layouts alone, each valued at weight 1 (cash flows a trade of another
// kind laid out on this curve, signed and scaled by their owner); errors name row r by
// names[r].
[[nodiscard]] Result<RiskTable> bucketed_risk(const YieldCurve& curve,
                                              std::span<const std::shared_ptr<const Layout>> layouts,
                                              std::span<const std::string> names, Cancel& cancel);

}  // namespace quelm::curves
