#include "quelm/curves/bond_off_curve.hpp"

#include <cmath>
#include <string>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/solvers.hpp"
#include "quelm/core/text.hpp"

namespace quelm::curves {

namespace {

Error naming(const Error& e, const std::string& what) { return Error{e.kind, "bond: " + what + ": " + e.text}; }

double price_at(const DiscountedPayments& d, double spread) {
    double sum = 0.0;
    for (std::size_t i = 0; i < d.times.size(); ++i) sum += d.weights[i] * quelm::exp(-spread * d.times[i]);
    return sum;
}

}  // namespace

Result<std::pair<double, double>> bond_price_off_curve(const bonds::FixedRateBond& bond, const YieldCurve& curve,
                                                       Cancel& cancel) {
    double dirty = 0.0;
    CancelPoller poller(cancel);
    for (const bonds::Cashflow& c : bond.cashflows()) {
        if (poller.tick(8)) return cancelled();  // a curve lookup is several cheap steps
        const Result<double> p = curve.discount(c.time);
        if (!p) return std::unexpected(naming(p.error(), "cash flow at t=" + format_number(c.time)));
        dirty += c.amount * *p;
    }
    return std::pair{dirty, dirty - bond.accrued()};
}

Result<DiscountedPayments> discounted_payments(const bonds::DatedBond& bond, dates::Serial settle,
                                               const YieldCurve& curve) {
    QUELM_TRY(payments, bond.payments_after(settle));
    const std::optional<dates::Serial> reference = curve.dating().reference;
    // Times are the curve's own: from its reference date in its day count (through
    // time_of and discount, so that an error names the time as the curve saw it).
    double settle_time = 0.0, settle_discount = 1.0;
    if (reference) {
        if (*reference > settle)
            return invalid("bond: the curve's reference date " + dates::format_iso(*reference) +
                           " is after the settlement date " + dates::format_iso(settle));
        const Result<double> t = curve.time_of(settle);
        if (!t) return std::unexpected(naming(t.error(), "settlement date " + dates::format_iso(settle)));
        const Result<double> df = curve.discount(*t);
        if (!df) return std::unexpected(naming(df.error(), "settlement date " + dates::format_iso(settle)));
        settle_time = *t;
        settle_discount = *df;
    }
    DiscountedPayments out;
    out.times.reserve(payments.size());
    out.weights.reserve(payments.size());
    for (const bonds::Payment& p : payments) {
        double t = static_cast<double>(p.date - settle) / 365.0;
        if (reference) {
            const Result<double> at = curve.time_of(p.date);
            if (!at) return std::unexpected(naming(at.error(), "cash flow on " + dates::format_iso(p.date)));
            t = *at;
        }
        const Result<double> df = curve.discount(t);
        if (!df) return std::unexpected(naming(df.error(), "cash flow on " + dates::format_iso(p.date)));
        out.times.push_back(t - settle_time);
        out.weights.push_back(p.amount * (*df / settle_discount));
    }
    return out;
}

Result<BondCurvePrice> bond_price_off_curve(const bonds::DatedBond& bond, const YieldCurve& curve,
                                            dates::Serial settle, double spread) {
    if (!std::isfinite(spread)) return invalid("bond: spread must be finite");
    QUELM_TRY(accrued, bond.accrued_at(settle));
    QUELM_TRY(flows, discounted_payments(bond, settle, curve));
    const double dirty = price_at(flows, spread);
    return BondCurvePrice{dirty - accrued, dirty};
}

Result<double> bond_z_spread(const bonds::DatedBond& bond, double clean_price, dates::Serial settle,
                             const YieldCurve& curve) {
    QUELM_TRY(accrued, bond.accrued_at(settle));
    if (std::isnan(clean_price)) return clean_price;
    if (!(std::isfinite(clean_price) && clean_price > 0.0)) return invalid("bond: clean price must be positive");
    QUELM_TRY(flows, discounted_payments(bond, settle, curve));
    const double dirty = clean_price + accrued;
    return brent([&](double s) { return price_at(flows, s) - dirty; }, -1.0, 2.0, 1e-12, 200);
}

}  // namespace quelm::curves
