#include "quelm/credit/bootstrap.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "quelm/core/math/solvers.hpp"
#include "quelm/credit/isda_legs.hpp"

namespace quelm::credit {

namespace {

// Hazard rates are searched in [0, kMaxHazard]: far beyond any traded name (a hazard of
// 100 leaves exp(-100 × 3/365) ~ 44% survival after a quarter's first three days).
constexpr double kMaxHazard = 1.0e4;
constexpr double kTol = 1e-15;
constexpr unsigned kMaxIter = 300;

Result<double> residual_of(const CdsQuote& q, const CreditCurve& curve, const curves::YieldCurve& discount,
                           const std::vector<Serial>& dnodes) {
    QUELM_TRY(l, isda_legs(q.cds, curve, discount, dnodes));
    const double coupon = q.kind == QuoteKind::Spread ? q.value : q.cds.terms.coupon;
    const double u = clean_upfront(l, coupon, accrued_fraction(q.cds));
    return q.kind == QuoteKind::Spread ? u : u - q.value;
}

std::string name_of(const CdsQuote& q) { return "the quote maturing " + dates::format_iso(q.cds.terms.maturity); }

// The hazard on the last interval of `nodes` that zeroes the quote's residual, the
// earlier intervals' hazards fixed.
Result<double> solve_last(const CdsQuote& q, Serial trade_date, const std::vector<Serial>& nodes,
                          std::vector<double>& hazards, const curves::YieldCurve& discount,
                          const std::vector<Serial>& dnodes, const char* who) {
    Error failure{Kind::Numerical, ""};
    const auto f = [&](double h) -> double {
        hazards.back() = h;
        auto curve = CreditCurve::from_hazards(trade_date, nodes, hazards);
        if (!curve) {
            failure = curve.error();
            return std::nan("");
        }
        auto r = residual_of(q, *curve, discount, dnodes);
        if (!r) {
            failure = r.error();
            return std::nan("");
        }
        return *r;
    };
    const double f0 = f(0.0);
    if (std::isnan(f0)) return std::unexpected(failure);
    if (f0 > 0.0)
        return invalid(std::string(who) + name_of(q) +
                       " is below what a zero hazard gives (the earlier quotes already price it)");
    double hi = 1.0, fhi = f(hi);
    while (!std::isnan(fhi) && fhi < 0.0 && hi < kMaxHazard) {
        hi *= 8.0;
        fhi = f(hi);
    }
    if (std::isnan(fhi)) return std::unexpected(failure);
    if (fhi < 0.0) return invalid(std::string(who) + name_of(q) + " is beyond what any hazard rate gives");
    auto root = brent(f, 0.0, hi, kTol, kMaxIter);
    if (!root) return numerical(std::string(who) + name_of(q) + ": the hazard rate search did not converge");
    hazards.back() = *root;
    return *root;
}

Status check_quote(const CdsQuote& q, Serial trade_date) {
    if (q.cds.terms.trade_date != trade_date)
        return invalid("credit curve: " + name_of(q) + " is traded on " + dates::format_iso(q.cds.terms.trade_date) +
                       ", not the curve's trade date");
    if (!std::isfinite(q.value)) return invalid("credit curve: " + name_of(q) + " is not finite");
    if (q.kind == QuoteKind::Spread && (q.value < 0.0 || q.value > 10.0))
        return invalid("credit curve: " + name_of(q) + ": a spread must be in [0, 10]");
    if (q.kind == QuoteKind::Upfront && (q.value <= -1.0 || q.value >= 1.0))
        return invalid("credit curve: " + name_of(q) + ": an upfront is a fraction of notional in (-1, 1)");
    return {};
}

}  // namespace

Result<double> quote_residual(const CdsQuote& q, const CreditCurve& curve, const curves::YieldCurve& discount) {
    return residual_of(q, curve, discount, discount_nodes(discount));
}

Result<CreditCurve> bootstrap_credit(CurveQuotes spec, Cancel& cancel) {
    if (spec.quotes.empty()) return invalid("credit curve: needs at least one quote");
    if (!spec.discount) return invalid("credit curve: needs a discount curve");
    if (!std::isfinite(spec.recovery) || spec.recovery < 0.0 || spec.recovery >= 1.0)
        return invalid("credit curve: recovery must be in [0, 1)");
    for (CdsQuote& q : spec.quotes) {
        QUELM_CHECK(check_quote(q, spec.trade_date));
        q.cds.terms.recovery = spec.recovery;
    }
    std::stable_sort(spec.quotes.begin(), spec.quotes.end(), [](const CdsQuote& a, const CdsQuote& b) {
        return a.cds.terms.maturity < b.cds.terms.maturity;
    });
    for (std::size_t i = 1; i < spec.quotes.size(); ++i)
        if (spec.quotes[i].cds.terms.maturity == spec.quotes[i - 1].cds.terms.maturity)
            return invalid("credit curve: two quotes mature on " + dates::format_iso(spec.quotes[i].cds.terms.maturity));
    const std::vector<Serial> dnodes = discount_nodes(*spec.discount);
    std::vector<Serial> nodes;
    std::vector<double> hazards;
    for (const CdsQuote& q : spec.quotes) {
        if (cancel.poll()) return cancelled();
        nodes.push_back(q.cds.terms.maturity);
        hazards.push_back(0.0);
        QUELM_TRY(h, solve_last(q, spec.trade_date, nodes, hazards, *spec.discount, dnodes, "credit curve: "));
        hazards.back() = h;
    }
    QUELM_TRY(curve, CreditCurve::from_hazards(spec.trade_date, nodes, hazards));
    return curve.with_quotes(std::make_shared<const CurveQuotes>(std::move(spec)));
}

Result<CreditCurve> flat_fit(const CdsQuote& q, const curves::YieldCurve& discount) {
    QUELM_CHECK(check_quote(q, q.cds.terms.trade_date));
    const std::vector<Serial> dnodes = discount_nodes(discount);
    // One node at the maturity: a flat hazard to it and beyond.
    std::vector<Serial> nodes{q.cds.terms.maturity};
    std::vector<double> hazards{0.0};
    QUELM_TRY(h, solve_last(q, q.cds.terms.trade_date, nodes, hazards, discount, dnodes, "cds: "));
    hazards.back() = h;
    return CreditCurve::from_hazards(q.cds.terms.trade_date, nodes, hazards);
}

}  // namespace quelm::credit
