// A cap's derivatives in its discount factors: caplet k is worth N τ P_d(pay) B(f) with
// f = (P(start) / P(end) - 1) / τ on the projection curve, so it moves N τ B per unit of its
// payment's discount factor and N P_d B' / P(end) (start), -N P_d B' P(start) / P(end)² (end).
#include "quelm/rates/option_risk.hpp"

#include "quelm/rates/rate_dates.hpp"

namespace quelm::rates {

Result<OptionRisk> cap_risk(const CapFloor& c, const CurveArgs& on, const VolTerm& vol, const Quoting& q) {
    QUELM_TRY(ks, caplets(c, on, vol, q));
    QUELM_TRY(pair, pair_of(*on.curve, on.discount));
    const double theta = c.kind == CapKind::Cap ? 1.0 : -1.0;
    OptionRisk out;
    double sum = 0.0;
    for (const Caplet& k : ks) sum += k.price;  // as cap_price adds them
    out.value = sum;
    for (const Caplet& k : ks) {
        if (k.fixed) continue;
        QUELM_TRY(p0, pair.projection->discount_on(k.start));
        QUELM_TRY(p1, pair.projection->discount_on(k.end));
        QUELM_TRY(b, optionlet(q, k.forward, c.strike, k.vol, k.t, theta, "the caplet"));
        const double slope = optionlet_delta(q, k.forward, c.strike, k.vol, k.t, theta);
        out.discount.push_back({k.payment, c.notional * k.accrual * b});
        out.projection.push_back({k.start, c.notional * k.discount * slope / p1});
        out.projection.push_back({k.end, -c.notional * k.discount * slope * p0 / (p1 * p1)});
        out.vegas.push_back(
            {k.t, c.notional * k.accrual * k.discount * optionlet_vega(q, k.forward, c.strike, k.vol, k.t, theta)});
    }
    return out;
}

}  // namespace quelm::rates
