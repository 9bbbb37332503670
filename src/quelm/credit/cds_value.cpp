#include "quelm/credit/cds_value.hpp"

#include "quelm/credit/isda_legs.hpp"

namespace quelm::credit {

namespace {

Result<Legs> legs_of(const Cds& cds, const CreditCurve& credit, const curves::YieldCurve& discount) {
    return isda_legs(cds, credit, discount);
}

}  // namespace

Result<double> cds_npv(const Cds& cds, const CreditCurve& credit, const curves::YieldCurve& discount) {
    QUELM_TRY(l, legs_of(cds, credit, discount));
    return side_sign(cds) * cds.terms.notional * (l.protection - cds.terms.coupon * l.annuity);
}

Result<double> cds_par_spread(const Cds& cds, const CreditCurve& credit, const curves::YieldCurve& discount) {
    QUELM_TRY(l, legs_of(cds, credit, discount));
    const double rpv01 = clean_rpv01(l, accrued_fraction(cds));
    if (!(rpv01 > 0.0)) return numerical("cds: the risky annuity is not positive");
    return l.protection / l.settle_discount / rpv01;
}

Result<double> cds_upfront(const Cds& cds, const CreditCurve& credit, const curves::YieldCurve& discount, bool clean,
                           bool points) {
    QUELM_TRY(l, legs_of(cds, credit, discount));
    const double acc = accrued_fraction(cds);
    double u = clean_upfront(l, cds.terms.coupon, acc);
    if (!clean) u -= cds.terms.coupon * acc;
    return side_sign(cds) * (points ? 100.0 * u : cds.terms.notional * u);
}

double cds_accrued(const Cds& cds) {
    return side_sign(cds) * cds.terms.notional * cds.terms.coupon * accrued_fraction(cds);
}

Result<double> cds_rpv01(const Cds& cds, const CreditCurve& credit, const curves::YieldCurve& discount) {
    QUELM_TRY(l, legs_of(cds, credit, discount));
    return clean_rpv01(l, accrued_fraction(cds));
}

}  // namespace quelm::credit
