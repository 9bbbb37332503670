#include "quelm/rates/hw_tree.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/core/text.hpp"
#include "quelm/dates/tenor.hpp"

namespace quelm::rates {

namespace {

// One step of the tree: its node range, spacing and the fitted alpha.
struct Step {
    std::ptrdiff_t jmin = 0;
    std::size_t size = 1;
    double dx = 0.0, dt = 0.0, alpha = 0.0;
    double decay = 1.0, variance = 0.0;  // over the step to the next
};

struct Branch {
    std::ptrdiff_t k;  // the middle child
    double pu, pm, pd;
};

Branch branch(const Step& s, const Step& next, std::ptrdiff_t j) {
    const double mean = static_cast<double>(j) * s.dx * s.decay;
    const double k = std::nearbyint(mean / next.dx);
    const double e = mean - k * next.dx;
    const double ev = e * e / s.variance;
    const double er = e / std::sqrt(3.0 * s.variance);
    return {static_cast<std::ptrdiff_t>(k), 1.0 / 6.0 + ev / 6.0 + er / 2.0, 2.0 / 3.0 - ev / 3.0,
            1.0 / 6.0 + ev / 6.0 - er / 2.0};
}

}  // namespace

Result<BermudanSwaption> as_bermudan(const Swaption& s, const curves::YieldCurve& curve) {
    if (s.settlement_days != 0 || s.settlement != Settlement::Physical)
        return invalid(describe(s) + ": the tree prices a European swaption physically settled on its expiry "
                                     "(settlement_days=0)");
    QUELM_TRY(terms, swaption_terms(s, {&curve, &curve}));
    QUELM_TRY(end, dates::advance(dates::Calendar::every_day(), terms.start, s.tenor, dates::Convention::Unadjusted,
                                  false));
    BermudanSwaption b;
    b.exercise_dates = {terms.start};
    b.maturity = end;
    b.strike = s.strike;
    b.kind = s.kind;
    b.fixed_frequency = s.fixed_frequency;
    b.fixed_day_count = s.fixed_day_count;
    b.notional = s.notional;
    b.calendar = s.calendar;
    return b;
}

Result<double> hw_bermudan_tree(const HullWhite& m, const BermudanSwaption& b, std::size_t steps, Cancel& cancel) {
    QUELM_CHECK(check(m));
    QUELM_CHECK(check(b));
    if (steps < 1 || steps > 100000) return invalid("HullWhite: steps must be in [1, 100000], got " + std::to_string(steps));
    if (!m.curve.dating().reference) return invalid("HullWhite: needs a curve with a reference date (the trade date)");
    QUELM_TRY(leg, fixed_leg(b));
    const dates::Serial reference = *m.curve.dating().reference;
    if (!(leg.exercises.front() > reference))
        return invalid(describe(b) + ": the first exercise date is not after the curve's reference date " +
                       dates::format_iso(reference));
    // The dates the tree must land on: exercises and payments, in curve time.
    std::vector<double> ex_t, pay_t;
    for (const dates::Serial d : leg.exercises) {
        QUELM_TRY(t, m.curve.time_of(d));
        ex_t.push_back(t);
    }
    for (const dates::Serial d : leg.ends) {
        QUELM_TRY(t, m.curve.time_of(d));
        pay_t.push_back(t);
    }
    std::vector<double> fixed = ex_t;
    fixed.insert(fixed.end(), pay_t.begin(), pay_t.end());
    fixed.push_back(0.0);
    std::sort(fixed.begin(), fixed.end());
    fixed.erase(std::unique(fixed.begin(), fixed.end()), fixed.end());
    const double horizon = fixed.back();
    const double dt_max = horizon / static_cast<double>(steps);
    std::vector<double> grid{0.0};
    for (std::size_t i = 1; i < fixed.size(); ++i) {
        const double span = fixed[i] - fixed[i - 1];
        const auto n = std::max<std::size_t>(1, static_cast<std::size_t>(std::llround(span / dt_max)));
        for (std::size_t k = 1; k < n; ++k) grid.push_back(fixed[i - 1] + span * static_cast<double>(k) / n);
        grid.push_back(fixed[i]);
    }
    const std::size_t n = grid.size() - 1;
    QUELM_CHECK(check_fits_in_memory(doubles_bytes(8.0 * static_cast<double>(n) * std::sqrt(static_cast<double>(n) + 1.0)),
                                     "the tree"));
    // Each grid time's payment (a fixed coupon, the face with the last) and exercise.
    std::vector<double> payment(n + 1, 0.0);
    std::vector<char> exercise(n + 1, 0);
    const auto at = [&](double t) {
        return static_cast<std::size_t>(std::lower_bound(grid.begin(), grid.end(), t) - grid.begin());
    };
    for (std::size_t i = 0; i < pay_t.size(); ++i) payment[at(pay_t[i])] += b.strike * leg.accruals[i];
    payment[n] += 1.0;
    for (const double t : ex_t) exercise[at(t)] = 1;

    // The steps' spacing and branching, then alpha by forward induction on Arrow-Debreu prices.
    std::vector<Step> step(n + 1);
    const double a = m.a, s2 = m.sigma * m.sigma;
    for (std::size_t i = 0; i < n; ++i) {
        Step& s = step[i];
        s.dt = grid[i + 1] - grid[i];
        s.decay = quelm::exp(-a * s.dt);
        const double x = 2.0 * a * s.dt;
        s.variance = s2 * s.dt * one_minus_exp_over(x);
        step[i + 1].dx = std::sqrt(3.0 * s.variance);
    }
    for (std::size_t i = 0; i < n; ++i) {
        std::ptrdiff_t lo = 0, hi = 0;
        for (std::size_t u = 0; u < step[i].size; ++u) {
            const Branch br = branch(step[i], step[i + 1], step[i].jmin + static_cast<std::ptrdiff_t>(u));
            if (u == 0) lo = br.k - 1;
            hi = br.k + 1;
        }
        step[i + 1].jmin = lo;
        step[i + 1].size = static_cast<std::size_t>(hi - lo + 1);
    }
    std::vector<double> q{1.0}, q_next;
    CancelPoller poll(cancel);
    for (std::size_t i = 0; i < n; ++i) {
        const Step& s = step[i];
        QUELM_TRY(p_next, m.curve.discount(grid[i + 1]));
        double sum = 0.0;
        for (std::size_t u = 0; u < s.size; ++u)
            sum += q[u] * quelm::exp(-static_cast<double>(s.jmin + static_cast<std::ptrdiff_t>(u)) * s.dx * s.dt);
        step[i].alpha = quelm::log(sum / p_next) / s.dt;
        q_next.assign(step[i + 1].size, 0.0);
        for (std::size_t u = 0; u < s.size; ++u) {
            const std::ptrdiff_t j = s.jmin + static_cast<std::ptrdiff_t>(u);
            const Branch br = branch(s, step[i + 1], j);
            const double d = q[u] * quelm::exp(-(static_cast<double>(j) * s.dx + step[i].alpha) * s.dt);
            const std::size_t c = static_cast<std::size_t>(br.k - step[i + 1].jmin);
            q_next[c - 1] += d * br.pd;
            q_next[c] += d * br.pm;
            q_next[c + 1] += d * br.pu;
        }
        q.swap(q_next);
        if (poll.tick(s.size)) return cancelled();
    }
    // Backward: the fixed leg with its face (u) and the option (v).
    const double theta = b.kind == SwaptionKind::Payer ? 1.0 : -1.0;
    std::vector<double> u(step[n].size, payment[n]), v(step[n].size, 0.0), u_prev, v_prev;
    for (std::size_t i = n; i-- > 0;) {
        const Step& s = step[i];
        u_prev.assign(s.size, 0.0);
        v_prev.assign(s.size, 0.0);
        for (std::size_t w = 0; w < s.size; ++w) {
            const std::ptrdiff_t j = s.jmin + static_cast<std::ptrdiff_t>(w);
            const Branch br = branch(s, step[i + 1], j);
            const double d = quelm::exp(-(static_cast<double>(j) * s.dx + s.alpha) * s.dt);
            const std::size_t c = static_cast<std::size_t>(br.k - step[i + 1].jmin);
            u_prev[w] = d * (br.pd * u[c - 1] + br.pm * u[c] + br.pu * u[c + 1]);
            v_prev[w] = d * (br.pd * v[c - 1] + br.pm * v[c] + br.pu * v[c + 1]);
            // Entering here: the floating leg at par against the later fixed payments.
            if (exercise[i]) v_prev[w] = std::fmax(v_prev[w], theta * (1.0 - u_prev[w]));
            u_prev[w] += payment[i];
        }
        u.swap(u_prev);
        v.swap(v_prev);
        if (poll.tick(s.size)) return cancelled();
    }
    return b.notional * v[0];
}

}  // namespace quelm::rates
