// Bonds priced off a yield curve. A FixedRateBond: each cash flow at its time discounted on
// the curve. A dated bond: each payment after settlement discounted to the
// settlement date, D(payment) / D(settlement), and shifted by a continuously compounded
// spread s as e^(−s·t), t the years from settlement to the payment. A curve with a
// reference date reads dates through its own day count and must not start after
// settlement; a curve without one reads t as act/365f years from settlement.
#pragma once

#include <utility>
#include <vector>

#include "quelm/bonds/bond.hpp"
#include "quelm/bonds/dated_bond.hpp"
#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/curves/curve.hpp"

namespace quelm::curves {

// (dirty, clean) of a FixedRateBond, its flows discounted on the curve at their times.
[[nodiscard]] Result<std::pair<double, double>> bond_price_off_curve(const bonds::FixedRateBond& bond,
                                                                     const YieldCurve& curve,
                                                                     Cancel& cancel = never_cancel());

struct BondCurvePrice {
    double clean;
    double dirty;
};

// The payments after settlement as the curve sees them: weights[i] is the amount times its
// discount factor to settlement, times[i] its years from settlement.
struct DiscountedPayments {
    std::vector<double> times;
    std::vector<double> weights;
};

[[nodiscard]] Result<DiscountedPayments> discounted_payments(const bonds::DatedBond& bond, dates::Serial settle,
                                                             const YieldCurve& curve);

// Clean and dirty price per the bond's face at settlement, at `spread` over the curve.
[[nodiscard]] Result<BondCurvePrice> bond_price_off_curve(const bonds::DatedBond& bond, const YieldCurve& curve,
                                                          dates::Serial settle, double spread);

// The spread over the curve whose clean price is `clean_price`.
[[nodiscard]] Result<double> bond_z_spread(const bonds::DatedBond& bond, double clean_price, dates::Serial settle,
                                           const YieldCurve& curve);

}  // namespace quelm::curves
