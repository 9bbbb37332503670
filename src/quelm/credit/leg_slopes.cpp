#include "quelm/credit/leg_slopes.hpp"

#include <cmath>

#include "quelm/core/math/elementary.hpp"

namespace quelm::credit {

namespace {

// E(x) = (1 - exp(-x)) / x and its first two derivatives: by their series below 0.1 in
// size (to x^13, a term of relative size 1e-24 next), where the closed forms cancel.
struct Shape {
    double e, d1, d2;
};

Shape shape(double x) {
    if (std::fabs(x) < 0.1) {
        Shape s{0.0, 0.0, 0.0};
        double c = 1.0;  // (-1)^n / (n + 1)!
        double p0 = 1.0, p1 = 0.0, p2 = 0.0;  // x^n, x^(n-1), x^(n-2)
        for (int n = 0; n <= 13; ++n) {
            s.e += c * p0;
            s.d1 += n * c * p1;
            s.d2 += n * (n - 1) * c * p2;
            p2 = p1;
            p1 = p0;
            p0 *= x;
            c = -c / (n + 2);
        }
        return s;
    }
    const double em = quelm::exp(-x);
    return {-quelm::expm1(-x) / x, (em * (1.0 + x) - 1.0) / (x * x), (2.0 - em * (x * x + 2.0 * x + 2.0)) / (x * x * x)};
}

// dH(t)/dh_j: the length of [0, t] inside node j's interval (the last one open-ended).
void add_hazard_slopes(std::span<const double> times, double t, double weight, std::span<double> out) {
    double t0 = 0.0;
    for (std::size_t j = 0; j < times.size(); ++j) {
        if (t <= t0) return;
        const bool last = j + 1 == times.size();
        const double len = (last ? t : std::min(t, times[j])) - t0;
        out[j] += weight * len;
        t0 = times[j];
    }
}

}  // namespace

Result<PricedGrid> priced_grid(const Cds& cds, const CreditCurve& credit, const curves::YieldCurve& discount) {
    if (credit.trade_date() != cds.terms.trade_date)
        return invalid("cds: the credit curve's trade date " + dates::format_iso(credit.trade_date()) +
                       " is not the contract's " + dates::format_iso(cds.terms.trade_date));
    DiscountNodes dnodes;
    discount_nodes(discount, dnodes);
    PricedGrid p;
    QUELM_TRY(g, leg_grid(cds, discount, credit.nodes(), dnodes.dates));
    p.grid = std::move(g);
    const Serial before = cds.terms.trade_date - 1;
    survivals(p.grid, credit.view(), before, p.survivals);
    p.legs = leg_sums(p.grid, p.survivals, before, true);
    return p;
}

void leg_slopes(const PricedGrid& p, std::span<const double> node_times, double wp, double wa,
                std::span<double> hazards, std::vector<curves::Flow>& discount) {
    const LegGrid& g = p.grid;
    const auto& pt = g.points;
    const auto& lq = p.survivals.log_q;
    const auto& pq = p.survivals.pq;
    std::vector<double> dlq(pt.size(), 0.0), dlp(pt.size(), 0.0);
    // A term pq(a) × hh × k(x), hh = lq(a) - lq(b), x = lp(a) - lp(b) + hh, pq(a) = exp(lp(a)
    // + lq(a)): its slopes in pq(a)'s exponent, hh and x, spread over both ends.
    const auto spread_term = [&](const LegGrid::Span& s, double w, double k, double dk) {
        const double hh = lq[s.a] - lq[s.b];
        const double ga = w * pq[s.a] * hh * k, gh = w * pq[s.a] * k, gx = w * pq[s.a] * hh * dk;
        dlq[s.a] += ga + gh + gx;
        dlq[s.b] -= gh + gx;
        dlp[s.a] += ga + gx;
        dlp[s.b] -= gx;
    };
    const auto x_of = [&](const LegGrid::Span& s) { return (pt[s.a].log_p - pt[s.b].log_p) + (lq[s.a] - lq[s.b]); };
    const double wprot = wp * g.loss, wacc = wa * 365.0 / 360.0;
    for (const auto& s : g.protection) {
        const Shape f = shape(x_of(s));
        spread_term(s, wprot, f.e, f.d1);
    }
    // The accrual's k(x) = lead E(x) - dt E'(x).
    for (const auto& s : g.accrual) {
        const Shape f = shape(x_of(s));
        const double dt = pt[s.b].t - pt[s.a].t, lead = pt[s.a].t - s.t_start;
        spread_term(s, wacc, lead * f.e - dt * f.d1, lead * f.d1 - dt * f.d2);
    }
    for (const auto& c : g.coupons) {
        const double q = quelm::exp(lq[c.obs]);
        dlq[c.obs] += wa * c.weight * q;
        if (c.payment > pt.front().date) discount.push_back({c.payment, wa * c.weight * q / c.discount});
    }
    // ln Q = -H(t); ln P to P.
    for (std::size_t k = 0; k < pt.size(); ++k) {
        if (dlq[k] != 0.0) add_hazard_slopes(node_times, pt[k].t, -dlq[k], hazards);
        if (dlp[k] != 0.0 && pt[k].date > pt.front().date)
            discount.push_back({pt[k].date, dlp[k] / quelm::exp(pt[k].log_p)});
    }
}

}  // namespace quelm::credit
