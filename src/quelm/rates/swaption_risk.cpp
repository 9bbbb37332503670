// A swaption's derivatives in its discount factors. With F = floating / A the forward swap
// rate (A the fixed leg's annuity on the discount curve) and B(F) the optionlet per unit of
// annuity, a physical swaption is V = N A B(F) and
//   dV/dx = N (B - F B') dA/dx + N B' dFloating/dx,
// a cash-settled one V = N P(start) C(F) B(F) (C the par-yield annuity) and
//   dV/dx = N C B dP(start)/dx + N P(start) (C' B + C B') (dFloating/dx - F dA/dx) / A.
#include "quelm/rates/option_risk.hpp"

#include <cmath>

#include "quelm/core/math/elementary.hpp"

namespace quelm::rates {

Result<OptionRisk> swaption_risk(const Swaption& s, const CurveArgs& on, double vol, const Quoting& q) {
    QUELM_CHECK(check_quoting(q));
    QUELM_TRY(r, swaption_reading(s, on));
    const SwaptionTerms& t = r.terms;
    const double theta = s.kind == SwaptionKind::Payer ? 1.0 : -1.0;
    auto p = optionlet(q, t.forward, s.strike, vol, t.t, theta, "the forward swap rate");
    if (!p) return std::unexpected(Error{p.error().kind, describe(s) + ": " + p.error().text});
    OptionRisk out;
    out.value = s.notional * t.annuity * *p;
    const double b = *p, slope = optionlet_delta(q, t.forward, s.strike, vol, t.t, theta);
    const curves::Layout& l = *r.layout;
    const auto& dp = r.reading.dp;
    const auto& dd = r.reading.dd;
    double annuity = 0.0;  // the fixed leg's, on the discount curve
    for (const curves::FixedPeriod& f : l.fixed) annuity += f.accrual * dd[f.pay];
    double per_annuity = 0.0, per_floating = 0.0;  // d value / d A and / d floating leg
    if (s.settlement == Settlement::Physical) {
        per_annuity = s.notional * (b - t.forward * slope);
        per_floating = s.notional * slope;
    } else {
        const double m = static_cast<double>(s.fixed_frequency);
        const double growth = quelm::log1p(t.forward / m);
        double years = 0.0, cash_slope = 0.0;
        for (const curves::FixedPeriod& f : l.fixed) {
            years += f.accrual;
            cash_slope -= f.accrual * quelm::exp(-m * years * growth) * m * years / (m + t.forward);
        }
        const double p_start = r.p_start;
        const double per_forward = s.notional * p_start * (cash_slope * b + r.cash * slope);
        per_floating = per_forward / annuity;
        per_annuity = -t.forward * per_forward / annuity;
        out.discount.push_back({t.start, s.notional * r.cash * b});
    }
    for (const curves::FixedPeriod& f : l.fixed) out.discount.push_back({l.disc[f.pay], per_annuity * f.accrual});
    for (const curves::FloatPeriod& f : l.floating) {
        const double ratio = f.growth * dp[f.start] / dp[f.end];
        out.discount.push_back({l.disc[f.pay], per_floating * (ratio - 1.0)});
        out.projection.push_back({l.proj[f.start], per_floating * f.growth * dd[f.pay] / dp[f.end]});
        out.projection.push_back({l.proj[f.end], -per_floating * ratio * dd[f.pay] / dp[f.end]});
    }
    out.vegas.push_back({t.t, s.notional * t.annuity * optionlet_vega(q, t.forward, s.strike, vol, t.t, theta)});
    return out;
}

}  // namespace quelm::rates
