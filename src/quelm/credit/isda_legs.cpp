#include "quelm/credit/isda_legs.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "quelm/core/math/elementary.hpp"
#include "quelm/curves/bootstrap.hpp"

namespace quelm::credit {

namespace {

// The Taylor branch's bound on |f + h| over an interval.
constexpr double kTaylor = 1e-4;

// ln P and -H at a date: one point of the integrals.
struct Point {
    double t, log_p, log_q, pq;
};

class Integrand {
public:
    Integrand(const CreditCurve& credit, const curves::YieldCurve& discount) : credit_(credit), discount_(discount) {}
    Result<Point> at(Serial d) const {
        QUELM_TRY(tp, discount_.time_of(d));
        QUELM_TRY(lp, discount_.log_discount(tp));
        const double t = credit_.time_of(d);
        const double lq = -credit_.integrated_hazard(t);
        return Point{t, lp, lq, quelm::exp(lp + lq)};
    }

private:
    const CreditCurve& credit_;
    const curves::YieldCurve& discount_;
};

// Dates strictly inside (a, b) of the sorted node list, appended to out.
void inside(const std::vector<Serial>& nodes, Serial a, Serial b, std::vector<Serial>& out) {
    auto it = std::upper_bound(nodes.begin(), nodes.end(), a);
    for (; it != nodes.end() && *it < b; ++it) out.push_back(*it);
}

}  // namespace

std::vector<Serial> discount_nodes(const curves::YieldCurve& discount) {
    std::vector<Serial> out;
    if (const auto& state = discount.bootstrap_state()) return state->pillars;
    const curves::Dating& dating = discount.dating();
    if (!dating.reference || dating.day_count.kind != dates::DayCountKind::Act365F || discount.is_flat()) return out;
    for (const double t : discount.times()) {
        const double days = std::nearbyint(t * 365.0);
        if (days > 0.0 && days < 4.0e6) out.push_back(*dating.reference + static_cast<Serial>(days));
    }
    return out;
}

Result<Legs> isda_legs(const Cds& cds, const CreditCurve& credit, const curves::YieldCurve& discount,
                       const std::vector<Serial>& dnodes) {
    const CdsTerms& terms = cds.terms;
    if (credit.trade_date() != terms.trade_date)
        return invalid("cds: the credit curve's trade date " + dates::format_iso(credit.trade_date()) +
                       " is not the contract's " + dates::format_iso(terms.trade_date));
    if (!discount.dating().reference) return invalid("cds: the discount curve needs a reference date");
    // Both curves' nodes, merged.
    std::vector<Serial> nodes;
    nodes.reserve(dnodes.size() + credit.nodes().size());
    std::merge(dnodes.begin(), dnodes.end(), credit.nodes().begin(), credit.nodes().end(), std::back_inserter(nodes));
    nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
    const Integrand f(credit, discount);
    Legs legs;

    // Protection from the end of the trade date (the start of the step-in day) to the maturity.
    std::vector<Serial> grid{terms.trade_date};
    inside(nodes, terms.trade_date, terms.maturity, grid);
    grid.push_back(terms.maturity);
    {
        QUELM_TRY(p0, f.at(grid[0]));
        double sum = 0.0;
        for (std::size_t i = 1; i < grid.size(); ++i) {
            QUELM_TRY(p1, f.at(grid[i]));
            const double fh = (p0.log_p - p1.log_p) + (p0.log_q - p1.log_q);
            const double hh = p0.log_q - p1.log_q;
            if (std::fabs(fh) < kTaylor) {
                const double fh2 = fh * fh;
                sum += p0.pq * hh * (1.0 - 0.5 * fh + fh2 / 6.0 - fh2 * fh / 24.0 + fh2 * fh2 / 120.0);
            } else {
                sum += hh / fh * (p0.pq - p1.pq);
            }
            p0 = p1;
        }
        legs.protection = (1.0 - terms.recovery) * sum;
    }

    // Coupons, each paid if the name survives to the start of its period's last day, and
    // the coupon accrued to the default day, paid on default.
    double annuity = 0.0;
    const double half = terms.half_day ? 0.5 / 365.0 : 0.0;
    for (const CouponPeriod& period : cds.periods) {
        if (period.end - 1 <= terms.trade_date) continue;
        QUELM_TRY(tp, discount.time_of(period.payment));
        QUELM_TRY(lp, discount.log_discount(tp));
        const double q_end = quelm::exp(-credit.integrated_hazard(credit.time_of(period.end - 1)));
        annuity += period.accrual * quelm::exp(lp) * q_end;

        const Serial a = std::max(period.start, cds.step_in) - 1;
        const Serial b = period.end - 1;
        const double t_start = credit.time_of(period.start - 1) - half;
        grid.clear();
        grid.push_back(a);
        inside(nodes, a, b, grid);
        grid.push_back(b);
        QUELM_TRY(p0, f.at(grid[0]));
        double sum = 0.0;
        for (std::size_t i = 1; i < grid.size(); ++i) {
            QUELM_TRY(p1, f.at(grid[i]));
            const double fh = (p0.log_p - p1.log_p) + (p0.log_q - p1.log_q);
            const double hh = p0.log_q - p1.log_q;
            const double dt = p1.t - p0.t, lead = p0.t - t_start;
            if (std::fabs(fh) < kTaylor) {
                const double fh2 = fh * fh;
                sum += hh * p0.pq *
                       (lead * (1.0 - 0.5 * fh + fh2 / 6.0 - fh2 * fh / 24.0) +
                        dt * (0.5 - fh / 3.0 + fh2 / 8.0 - fh2 * fh / 30.0));
            } else {
                const double dq = p0.pq - p1.pq;
                sum += hh / fh * (dt * (dq / fh - p1.pq) + lead * dq);
            }
            p0 = p1;
        }
        annuity += sum * 365.0 / 360.0;
    }
    legs.annuity = annuity;
    QUELM_TRY(ts, discount.time_of(cds.cash_settlement));
    QUELM_TRY(ls, discount.log_discount(ts));
    legs.settle_discount = quelm::exp(ls);
    return legs;
}

}  // namespace quelm::credit
