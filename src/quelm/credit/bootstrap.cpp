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

std::string name_of(const CdsQuote& q) { return "the quote maturing " + dates::format_iso(q.cds.terms.maturity); }

double residual_of(const CdsQuote& q, const Legs& l) {
    const double u = clean_upfront(l, quote_coupon(q), accrued_fraction(q.cds));
    return q.kind == QuoteKind::Spread ? u : u - q.value;
}

// A curve as it is built: nodes[0..n) solved but the last, whose hazard the search moves.
struct Building {
    Serial trade_date = 0;
    std::vector<Serial> nodes;
    std::vector<double> times, hazards, cumulative;
    void add(Serial node) {
        nodes.push_back(node);
        times.push_back(static_cast<double>(node - trade_date) / 365.0);
        hazards.push_back(0.0);
        cumulative.push_back(cumulative.empty() ? 0.0 : cumulative.back());
    }
    void set_last(double h) {
        const std::size_t n = times.size();
        hazards[n - 1] = h;
        const double t0 = n == 1 ? 0.0 : times[n - 2];
        const double h0 = n == 1 ? 0.0 : cumulative[n - 2];
        cumulative[n - 1] = h0 + h * (times[n - 1] - t0);
    }
    HazardView view() const { return {times, hazards, cumulative}; }
};

// The hazard on the last interval of the curve being built that zeroes the quote's
// residual. The terms on or before the previous node do not move with it: they are summed
// once, and each step re-evaluates the others only.
Result<double> solve_last(const CdsQuote& q, Building& b, const curves::YieldCurve& discount,
                          std::span<const Serial> dnodes, const char* who) {
    QUELM_TRY(grid, leg_grid(q.cds, discount, b.nodes, dnodes));
    const Serial after = b.nodes.size() > 1 ? b.nodes[b.nodes.size() - 2] : q.cds.terms.trade_date - 1;
    Survivals sv;
    b.set_last(0.0);
    survivals(grid, b.view(), q.cds.terms.trade_date - 1, sv);
    const Legs fixed = leg_sums(grid, sv, after, false);
    const auto f = [&](double h) -> double {
        b.set_last(h);
        survivals(grid, b.view(), after, sv);
        Legs l = leg_sums(grid, sv, after, true);
        l.protection += fixed.protection;
        l.annuity += fixed.annuity;
        return residual_of(q, l);
    };
    const double f0 = f(0.0);
    if (!std::isfinite(f0)) return numerical(std::string(who) + name_of(q) + " gives no finite value");
    if (f0 > 0.0)
        return invalid(std::string(who) + name_of(q) +
                       " is below what a zero hazard gives (the earlier quotes already price it)");
    // A first bracket from the credit triangle, spread ~ hazard × loss.
    const double years = std::max(b.times.back(), 0.25);
    const double spread = q.kind == QuoteKind::Spread ? q.value : q.cds.terms.coupon + q.value / years;
    double hi = std::clamp(2.0 * spread / (1.0 - q.cds.terms.recovery), 1e-6, kMaxHazard);
    double fhi = f(hi);
    while (std::isfinite(fhi) && fhi < 0.0 && hi < kMaxHazard) {
        hi = std::min(hi * 4.0, kMaxHazard);
        fhi = f(hi);
    }
    if (!std::isfinite(fhi)) return numerical(std::string(who) + name_of(q) + " gives no finite value");
    if (fhi < 0.0) return invalid(std::string(who) + name_of(q) + " is beyond what any hazard rate gives");
    auto root = brent(f, 0.0, hi, kTol, kMaxIter);
    if (!root) return numerical(std::string(who) + name_of(q) + ": the hazard rate search did not converge");
    b.set_last(*root);
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
    QUELM_TRY(l, isda_legs(q.cds, curve, discount));
    return residual_of(q, l);
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
    DiscountNodes dnodes;
    discount_nodes(*spec.discount, dnodes);
    Building b;
    b.trade_date = spec.trade_date;
    for (const CdsQuote& q : spec.quotes) {
        if (cancel.poll()) return cancelled();
        b.add(q.cds.terms.maturity);
        QUELM_TRY(h, solve_last(q, b, *spec.discount, dnodes.dates, "credit curve: "));
        (void)h;
    }
    QUELM_TRY(curve, CreditCurve::from_hazards(spec.trade_date, b.nodes, b.hazards));
    return curve.with_quotes(std::make_shared<const CurveQuotes>(std::move(spec)));
}

Result<CreditCurve> flat_fit(const CdsQuote& q, const curves::YieldCurve& discount) {
    QUELM_CHECK(check_quote(q, q.cds.terms.trade_date));
    DiscountNodes dnodes;
    discount_nodes(discount, dnodes);
    // One node at the maturity: a flat hazard to it and beyond.
    Building b;
    b.trade_date = q.cds.terms.trade_date;
    b.add(q.cds.terms.maturity);
    QUELM_TRY(h, solve_last(q, b, discount, dnodes.dates, "cds: "));
    return CreditCurve::from_hazards(q.cds.terms.trade_date, b.nodes, std::span<const double>(&h, 1));
}

}  // namespace quelm::credit
