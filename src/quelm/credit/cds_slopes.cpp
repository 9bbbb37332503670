#include "quelm/credit/cds_slopes.hpp"

#include <cmath>

#include "quelm/credit/bootstrap.hpp"
#include "quelm/credit/leg_slopes.hpp"

namespace quelm::credit {

Result<CdsSlopes> cds_slopes(const Cds& cds, const CreditCurve& credit, const curves::YieldCurve& discount) {
    const std::span<const double> times = credit.view().times;
    const std::size_t n = times.size();
    CdsSlopes out;
    QUELM_TRY(priced, priced_grid(cds, credit, discount));
    const double size = side_sign(cds) * cds.terms.notional;
    std::vector<double> dv(n, 0.0);
    leg_slopes(priced, times, size, -size * cds.terms.coupon, dv, out.discount);
    const auto& spec = credit.quotes();
    if (!spec) return out;
    if (spec->discount.get() != &discount && !(*spec->discount == discount))
        return invalid("cds: the credit curve was bootstrapped on another discount curve than the one the contract "
                       "discounts on: its risk needs that curve");
    // Row k of dG/dh, dG_k/dq_k, and G_k's slopes in the discount factors.
    std::vector<double> jacobian(n * n, 0.0), by_quote(n, 0.0);
    std::vector<std::vector<curves::Flow>> by_discount(n);
    for (std::size_t k = 0; k < n; ++k) {
        const CdsQuote& q = spec->quotes[k];
        QUELM_TRY(p, priced_grid(q.cds, credit, *spec->discount));
        const Legs& l = p.legs;
        const double c = quote_coupon(q), s = l.settle_discount;
        leg_slopes(p, times, 1.0 / s, -c / s, std::span<double>(jacobian).subspan(k * n, n), by_discount[k]);
        by_discount[k].push_back({p.grid.settlement, -(l.protection - c * l.annuity) / (s * s)});
        by_quote[k] = q.kind == QuoteKind::Spread ? -l.annuity / s + accrued_fraction(q.cds) : -1.0;
    }
    // (dG/dh)^T λ = dV/dh, upper triangular: from the last pillar back.
    std::vector<double> lambda(n, 0.0);
    for (std::size_t k = n; k-- > 0;) {
        double r = dv[k];
        for (std::size_t j = k + 1; j < n; ++j) r -= jacobian[j * n + k] * lambda[j];
        const double pivot = jacobian[k * n + k];
        if (!(std::fabs(pivot) > 0.0) || !std::isfinite(pivot))
            return numerical("cds: the quote maturing " + dates::format_iso(spec->quotes[k].cds.terms.maturity) +
                             " does not move with its hazard rate: its risk is not defined");
        lambda[k] = r / pivot;
    }
    out.quotes.resize(n);
    for (std::size_t k = 0; k < n; ++k) {
        out.quotes[k] = -lambda[k] * by_quote[k];
        for (const curves::Flow& f : by_discount[k]) out.discount.push_back({f.date, -lambda[k] * f.amount});
    }
    return out;
}

}  // namespace quelm::credit
