#include "quelm/credit/isda_legs.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "quelm/core/math/elementary.hpp"
#include "quelm/credit/leg_slopes.hpp"
#include "quelm/curves/bootstrap.hpp"

namespace quelm::credit {

namespace {

// The Taylor branch's bound on |f + h| over an interval.
constexpr double kTaylor = 1e-4;

// Dates strictly inside (a, b) of the sorted node list, appended to out.
void inside(std::span<const Serial> nodes, Serial a, Serial b, std::vector<Serial>& out) {
    auto it = std::upper_bound(nodes.begin(), nodes.end(), a);
    for (; it != nodes.end() && *it < b; ++it) out.push_back(*it);
}

class Layout {
public:
    Layout(const Cds& cds, const curves::YieldCurve& discount, LegGrid& g)
        : discount_(discount), g_(g), trade_(cds.terms.trade_date) {}
    // A point at d, the last one again when it is at d (consecutive periods share their
    // boundary day).
    Result<std::uint32_t> point(Serial d) {
        if (!g_.points.empty() && g_.points.back().date == d) return static_cast<std::uint32_t>(g_.points.size() - 1);
        QUELM_TRY(tp, discount_.time_of(d));
        QUELM_TRY(lp, discount_.log_discount(tp));
        g_.points.push_back({d, static_cast<double>(d - trade_) / 365.0, lp});
        return static_cast<std::uint32_t>(g_.points.size() - 1);
    }
    // The points of [a, b] cut at the nodes inside it, as consecutive spans.
    Status spans(std::span<const Serial> nodes, Serial a, Serial b, double t_start, std::vector<LegGrid::Span>& out) {
        dates_.clear();
        dates_.push_back(a);
        inside(nodes, a, b, dates_);
        dates_.push_back(b);
        QUELM_TRY(first, point(dates_[0]));
        std::uint32_t prev = first;
        for (std::size_t i = 1; i < dates_.size(); ++i) {
            QUELM_TRY(k, point(dates_[i]));
            out.push_back({prev, k, t_start});
            prev = k;
        }
        return {};
    }

private:
    const curves::YieldCurve& discount_;
    LegGrid& g_;
    Serial trade_;
    std::vector<Serial> dates_;
};

}  // namespace

void discount_nodes(const curves::YieldCurve& discount, DiscountNodes& out) {
    out.owned.clear();
    out.dates = {};
    if (const auto& state = discount.bootstrap_state()) {
        out.dates = state->pillars;
        return;
    }
    const curves::Dating& dating = discount.dating();
    if (!dating.reference || dating.day_count.kind != dates::DayCountKind::Act365F || discount.is_flat()) return;
    for (const double t : discount.times()) {
        const double days = std::nearbyint(t * 365.0);
        if (days > 0.0 && days < 4.0e6) out.owned.push_back(*dating.reference + static_cast<Serial>(days));
    }
    out.dates = out.owned;
}

Result<LegGrid> leg_grid(const Cds& cds, const curves::YieldCurve& discount, std::span<const Serial> credit_nodes,
                         std::span<const Serial> dnodes) {
    const CdsTerms& terms = cds.terms;
    if (!discount.dating().reference) return invalid("cds: the discount curve needs a reference date");
    std::vector<Serial> nodes;
    nodes.reserve(dnodes.size() + credit_nodes.size());
    std::merge(dnodes.begin(), dnodes.end(), credit_nodes.begin(), credit_nodes.end(), std::back_inserter(nodes));
    nodes.erase(std::unique(nodes.begin(), nodes.end()), nodes.end());
    LegGrid g;
    g.loss = 1.0 - terms.recovery;
    const std::size_t n_periods = cds.periods.size();
    g.points.reserve(3 * n_periods + 2 * nodes.size() + 4);
    g.accrual.reserve(n_periods + nodes.size());
    g.protection.reserve(nodes.size() + 1);
    g.coupons.reserve(n_periods);
    Layout lay(cds, discount, g);
    // Protection from the end of the trade date (the start of the step-in day) to the maturity.
    QUELM_CHECK(lay.spans(nodes, terms.trade_date, terms.maturity, 0.0, g.protection));
    // Coupons, each paid if the name survives to the start of its period's last day, and
    // the coupon accrued to the default day, paid on default.
    const double half = terms.half_day ? 0.5 / 365.0 : 0.0;
    for (const CouponPeriod& period : cds.periods) {
        if (period.end - 1 <= terms.trade_date) continue;
        QUELM_TRY(tp, discount.time_of(period.payment));
        QUELM_TRY(lp, discount.log_discount(tp));
        const Serial a = std::max(period.start, cds.step_in) - 1;
        const double t_start = static_cast<double>(period.start - 1 - terms.trade_date) / 365.0 - half;
        QUELM_CHECK(lay.spans(nodes, a, period.end - 1, t_start, g.accrual));
        QUELM_TRY(obs, lay.point(period.end - 1));
        const double p = quelm::exp(lp);
        g.coupons.push_back({period.accrual * p, obs, period.payment, p});
    }
    QUELM_TRY(ts, discount.time_of(cds.cash_settlement));
    QUELM_TRY(ls, discount.log_discount(ts));
    g.settle_discount = quelm::exp(ls);
    g.settlement = cds.cash_settlement;
    return g;
}

void survivals(const LegGrid& g, const HazardView& h, Serial after, Survivals& s) {
    s.log_q.resize(g.points.size());
    s.pq.resize(g.points.size());
    for (std::size_t k = 0; k < g.points.size(); ++k) {
        if (g.points[k].date <= after) continue;
        const double lq = -h.integrated(g.points[k].t);
        s.log_q[k] = lq;
        s.pq[k] = quelm::exp(g.points[k].log_p + lq);
    }
}

Legs leg_sums(const LegGrid& g, const Survivals& sv, Serial after, bool moving) {
    const auto& pt = g.points;
    const auto& log_q = sv.log_q;
    const auto& pq = sv.pq;
    const auto takes = [&](std::uint32_t b) { return (pt[b].date > after) == moving; };
    double protection = 0.0;
    for (const auto& s : g.protection) {
        if (!takes(s.b)) continue;
        const double hh = log_q[s.a] - log_q[s.b];
        const double fh = (pt[s.a].log_p - pt[s.b].log_p) + hh;
        const double pq0 = pq[s.a];
        if (std::fabs(fh) < kTaylor) {
            const double fh2 = fh * fh;
            protection += pq0 * hh * (1.0 - 0.5 * fh + fh2 / 6.0 - fh2 * fh / 24.0 + fh2 * fh2 / 120.0);
        } else {
            protection += hh / fh * (pq0 - pq[s.b]);
        }
    }
    double premium = 0.0;
    for (const auto& c : g.coupons)
        if (takes(c.obs)) premium += c.weight * quelm::exp(log_q[c.obs]);
    double accrual = 0.0;
    for (const auto& s : g.accrual) {
        if (!takes(s.b)) continue;
        const double hh = log_q[s.a] - log_q[s.b];
        const double fh = (pt[s.a].log_p - pt[s.b].log_p) + hh;
        const double pq0 = pq[s.a], pq1 = pq[s.b];
        const double dt = pt[s.b].t - pt[s.a].t, lead = pt[s.a].t - s.t_start;
        if (std::fabs(fh) < kTaylor) {
            const double fh2 = fh * fh;
            accrual += hh * pq0 *
                       (lead * (1.0 - 0.5 * fh + fh2 / 6.0 - fh2 * fh / 24.0) +
                        dt * (0.5 - fh / 3.0 + fh2 / 8.0 - fh2 * fh / 30.0));
        } else {
            const double dq = pq0 - pq1;
            accrual += hh / fh * (dt * (dq / fh - pq1) + lead * dq);
        }
    }
    return {g.loss * protection, premium + accrual * 365.0 / 360.0, g.settle_discount};
}

Result<Legs> isda_legs(const Cds& cds, const CreditCurve& credit, const curves::YieldCurve& discount) {
    QUELM_TRY(p, priced_grid(cds, credit, discount));
    return p.legs;
}

}  // namespace quelm::credit
