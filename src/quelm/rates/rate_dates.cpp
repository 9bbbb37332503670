#include "quelm/rates/rate_dates.hpp"

#include "quelm/curves/layout.hpp"
#include "quelm/curves/pricing.hpp"

namespace quelm::rates {

Result<curves::CurvePair> pair_of(const curves::YieldCurve& curve, const curves::YieldCurve* discount) {
    if (!curve.dating().reference) return invalid("needs a curve with a reference date (the trade date)");
    const curves::CurvePair pair = curves::pricing_curves(curve, discount);
    if (pair.discount->dating().reference != curve.dating().reference)
        return invalid("the discount curve's reference date differs from the curve's");
    return pair;
}

Result<dates::Serial> spot_date(const dates::Calendar& cal, dates::Serial reference, std::uint32_t days) {
    return curves::spot_date(cal, reference, days);
}

}  // namespace quelm::rates
