// The credit curve that reprices CDS quotes, one hazard rate per quote on the interval
// ending at its maturity (the ISDA standard model's bootstrap): a par spread (the coupon
// at which the contract's clean upfront is zero) or a clean upfront, per unit notional,
// for a contract paying its own coupon. Upfront quotes bootstrap distressed names, whose
// hazard rates exceed 1.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/credit/cds.hpp"
#include "quelm/credit/credit_curve.hpp"
#include "quelm/curves/curve.hpp"
#include "quelm/dates/tenor.hpp"

namespace quelm::credit {

enum class QuoteKind : std::uint8_t { Spread, Upfront };

struct CdsQuote {
    Cds cds;  // on the curve's trade date; its recovery is the curve's
    QuoteKind kind = QuoteKind::Spread;
    double value = 0.0;
    std::optional<dates::Tenor> tenor;  // the maturity as quoted, when a tenor ("5Y")
};

// The coupon a quote's contract is priced at: the spread itself, or the contract's own.
[[nodiscard]] inline double quote_coupon(const CdsQuote& q) {
    return q.kind == QuoteKind::Spread ? q.value : q.cds.terms.coupon;
}

// What a bootstrapped curve keeps: its quotes and discount curve, so that it can be rebuilt
// on shifted quotes (risk.hpp).
struct CurveQuotes {
    Serial trade_date = 0;
    std::vector<CdsQuote> quotes;  // by maturity
    double recovery = 0.4;
    std::shared_ptr<const curves::YieldCurve> discount;
};

// The residual of a quote on a curve: the clean upfront per unit notional (its coupon the
// spread, for a spread quote) less the quoted one.
[[nodiscard]] Result<double> quote_residual(const CdsQuote& q, const CreditCurve& curve,
                                            const curves::YieldCurve& discount);

// Errors start "credit curve: " and name the quote at fault by its maturity.
[[nodiscard]] Result<CreditCurve> bootstrap_credit(CurveQuotes spec, Cancel& cancel);

// The flat hazard rate at which one quote reprices (the quote converter's curve).
[[nodiscard]] Result<CreditCurve> flat_fit(const CdsQuote& q, const curves::YieldCurve& discount);

}  // namespace quelm::credit
