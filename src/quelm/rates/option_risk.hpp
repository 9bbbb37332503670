// A swaption's or a cap's value with its first derivatives in everything it reads: each
// discount factor of the projection curve (through the forwards) and of the discount curve
// (payments, annuity), and each optionlet's vol. The value has the bits of swaption_price
// and cap_price on the same inputs. The vols are held fixed: a flat vol, a term structure
// or a cube's smile (which keeps the forwards it was calibrated on) does not read the curves.
#pragma once

#include <vector>

#include "quelm/core/error.hpp"
#include "quelm/curves/layout.hpp"
#include "quelm/rates/cap_floor.hpp"
#include "quelm/rates/swaption.hpp"

namespace quelm::rates {

struct OptionletVega {
    double t = 0.0;     // the optionlet's vol time
    double vega = 0.0;  // d value / d its vol, per unit of vol
};

struct OptionRisk {
    double value = 0.0;
    // d value / d discount factor, per date (a date may appear more than once: amounts add).
    std::vector<curves::Flow> projection, discount;
    std::vector<OptionletVega> vegas;  // one per live optionlet, in date order
};

[[nodiscard]] Result<OptionRisk> swaption_risk(const Swaption& s, const CurveArgs& on, double vol, const Quoting& q);
[[nodiscard]] Result<OptionRisk> cap_risk(const CapFloor& c, const CurveArgs& on, const VolTerm& vol, const Quoting& q);

}  // namespace quelm::rates
