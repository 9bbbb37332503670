#include "quelm/curves/bootstrap.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numeric>
#include <string>

#include "quelm/core/math/solvers.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/core/text.hpp"
#include "quelm/curves/bootstrap_global.hpp"
#include "quelm/curves/bootstrap_problem.hpp"
#include "quelm/curves/curve_gradient.hpp"
#include "quelm/curves/layout.hpp"
#include "quelm/curves/sensitivity.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::curves {

namespace {

using namespace detail;

// The set bits of a word (std::popcount is a library call without a popcount instruction).
constexpr std::uint32_t ones(std::uint64_t x) {
    x = x - ((x >> 1) & 0x5555555555555555ull);
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0full;
    return static_cast<std::uint32_t>((x * 0x0101010101010101ull) >> 56);
}

// The distinct dates of the layouts (proj, and disc when `with_disc`), ascending, and each
// one's position: one bit a day over their span (each layout's dates are ascending), or a
// sort where the span is too long for that.
struct DateIndex {
    std::vector<Serial> dates;
    Serial first = 0;
    std::vector<std::uint64_t> bits;
    std::vector<std::uint32_t> before;  // per word: the dates in earlier words

    DateIndex(std::span<const std::shared_ptr<const Layout>> layouts, bool with_disc) {
        const auto each_list = [&](auto&& f) {
            for (const auto& l : layouts) {
                f(l->proj);
                if (with_disc) f(l->disc);
            }
        };
        Serial lo = 0, hi = 0;
        bool any = false;
        std::size_t total = 0;
        each_list([&](const std::vector<Serial>& v) {
            if (v.empty()) return;
            lo = any ? std::min(lo, v.front()) : v.front();
            hi = any ? std::max(hi, v.back()) : v.back();
            any = true;
            total += v.size();
        });
        if (!any) return;
        const auto span = static_cast<std::uint64_t>(std::int64_t{hi} - lo) + 1;
        if (span > (std::uint64_t{1} << 20)) {
            dates.reserve(total);
            each_list([&](const std::vector<Serial>& v) { dates.insert(dates.end(), v.begin(), v.end()); });
            std::sort(dates.begin(), dates.end());
            dates.erase(std::unique(dates.begin(), dates.end()), dates.end());
            return;
        }
        first = lo;
        bits.assign(static_cast<std::size_t>((span + 63) / 64), 0);
        each_list([&](const std::vector<Serial>& v) {
            for (Serial d : v) {
                const auto k = static_cast<std::uint32_t>(d - first);
                bits[k / 64] |= std::uint64_t{1} << (k % 64);
            }
        });
        before.resize(bits.size());
        std::uint32_t count = 0;
        for (std::size_t w = 0; w < bits.size(); ++w) {
            before[w] = count;
            count += ones(bits[w]);
        }
        dates.reserve(count);
        for (std::size_t w = 0; w < bits.size(); ++w)
            for (std::uint64_t b = bits[w]; b != 0; b &= b - 1)
                dates.push_back(first + static_cast<Serial>(w * 64 + static_cast<std::size_t>(std::countr_zero(b))));
    }

    [[nodiscard]] std::uint32_t index(Serial d) const {
        if (bits.empty())
            return static_cast<std::uint32_t>(std::lower_bound(dates.begin(), dates.end(), d) - dates.begin());
        const auto k = static_cast<std::uint32_t>(d - first);
        const std::uint64_t below = bits[k / 64] & ((std::uint64_t{1} << (k % 64)) - 1);
        return before[k / 64] + ones(below);
    }
};

// A swap's residual while one pillar moves: the flows before the first one that reads a
// moving query keep their value, so their partial sums (the same additions, in the same
// order, as model_quote's) are taken once and each Newton step adds only the rest. The
// residual and the derivatives at the moving queries come out with model_quote's bits.
struct MovingSwap {
    const Layout* l = nullptr;
    std::size_t first_float = 0, first_fixed = 0;
    double floating_before = 0.0, annuity_before = 0.0;

    void start(const Equation& e, std::span<const std::uint8_t> moving_p, std::span<const std::uint8_t> moving_d) {
        l = e.layout.get();
        const auto& fl = l->floating;
        const auto& fx = l->fixed;
        first_float = 0;
        while (first_float < fl.size() && !moving_p[fl[first_float].start] && !moving_p[fl[first_float].end] &&
               !moving_d[fl[first_float].pay])
            ++first_float;
        first_fixed = 0;
        while (first_fixed < fx.size() && !moving_d[fx[first_fixed].pay]) ++first_fixed;
        floating_before = 0.0;
        for (std::size_t i = 0; i < first_float; ++i) {
            const FloatPeriod& p = fl[i];
            floating_before += (e.dp[p.start] / e.dp[p.end] - 1.0) * e.dd[p.pay];
        }
        annuity_before = 0.0;
        for (std::size_t i = 0; i < first_fixed; ++i) annuity_before += fx[i].accrual * e.dd[fx[i].pay];
    }

    // model_quote(*layout, dp, dd, 1.0, gp, gd) - quote, gp and gd exact at the moving entries.
    double residual(Equation& e) const {
        const std::span<const double> dp = e.dp, dd = e.dd;
        double floating = floating_before, annuity = annuity_before;
        const auto fl = std::span(l->floating).subspan(first_float);
        const auto fx = std::span(l->fixed).subspan(first_fixed);
        for (const FloatPeriod& p : fl) floating += (dp[p.start] / dp[p.end] - 1.0) * dd[p.pay];
        for (const FixedPeriod& p : fx) annuity += p.accrual * dd[p.pay];
        const double par = floating / annuity;
        std::fill(e.gp.begin(), e.gp.end(), 0.0);
        std::fill(e.gd.begin(), e.gd.end(), 0.0);
        const double w = 1.0 / annuity;
        for (const FloatPeriod& p : fl) {
            const double ratio = dp[p.start] / dp[p.end];
            e.gp[p.start] += w * dd[p.pay] / dp[p.end];
            e.gp[p.end] -= w * ratio * dd[p.pay] / dp[p.end];
            e.gd[p.pay] += w * (ratio - 1.0);
        }
        for (const FixedPeriod& p : fx) e.gd[p.pay] -= w * par * p.accrual;
        return par - e.quote;
    }
};

// Sequential: pillar k's unknown from equation k, the queries it reads up to pillar k known.
// D: the discount factor at each query read by a pillar, at the solved unknowns.
Status solve_sequential(Problem& p, const Rows& rows, bool tied, std::vector<double>& u, std::vector<double>& D,
                        Cancel& cancel) {
    const std::size_t n = p.equations.size(), nq = p.query_times.size();
    std::vector<double> L(nq, 0.0);
    D.assign(nq, 1.0);
    std::vector<std::vector<std::uint32_t>> finished_by(n);
    for (std::size_t m = 0; m < nq; ++m)
        if (rows.last[m] >= 0) finished_by[static_cast<std::size_t>(rows.last[m])].push_back(static_cast<std::uint32_t>(m));
    u.assign(n, 0.0);
    CancelPoller poller(cancel);
    std::vector<std::uint32_t> moving, moving_pi, moving_di;  // queries; indices into pq, dq
    std::vector<std::uint8_t> moving_p, moving_d;
    MovingSwap swap;
    for (std::size_t k = 0; k < n; ++k) {
        if (poller.tick(64)) return cancelled();
        Equation& e = p.equations[k];
        moving.clear();
        moving_pi.clear();
        moving_di.clear();
        for (std::size_t i = 0; i < e.pq.size(); ++i)
            if (rows.last[e.pq[i]] == static_cast<int>(k)) {
                moving.push_back(e.pq[i]);
                moving_pi.push_back(static_cast<std::uint32_t>(i));
            }
        if (!e.external)
            for (std::size_t i = 0; i < e.dq.size(); ++i)
                if (rows.last[e.dq[i]] == static_cast<int>(k)) {
                    moving.push_back(e.dq[i]);
                    moving_di.push_back(static_cast<std::uint32_t>(i));
                }
        std::sort(moving.begin(), moving.end());
        moving.erase(std::unique(moving.begin(), moving.end()), moving.end());
        // A swap reads its fixed queries once; each step gathers only the moving ones.
        const bool incremental = e.layout->form == Form::Swap;
        if (incremental) {
            for (std::size_t i = 0; i < e.pq.size(); ++i) e.dp[i] = D[e.pq[i]];
            if (!e.external)
                for (std::size_t i = 0; i < e.dq.size(); ++i) e.dd[i] = D[e.dq[i]];
            moving_p.assign(e.pq.size(), 0);
            moving_d.assign(e.dd.size(), 0);
            for (std::uint32_t i : moving_pi) moving_p[i] = 1;
            for (std::uint32_t i : moving_di) moving_d[i] = 1;
            swap.start(e, moving_p, moving_d);
        }
        // The guess: the last zero rate, or the last forward continued (the first pillar
        // starts from the quote, or 2 % for a bond).
        const double t_prev = p.nodes[k], t_k = p.nodes[k + 1];
        double first = e.layout->form == Form::Bond ? 0.02 : e.quote;
        if (!(std::fabs(first) < 1.0)) first = 0.02;
        double x = 0.0;
        if (tied) {
            x = k > 0 ? u[k - 1] : first;
        } else {
            double forward = first;
            if (k > 0) forward = -(u[k - 1] - (k > 1 ? u[k - 2] : 0.0)) / (t_prev - p.nodes[k - 1]);
            if (!(std::fabs(forward) < 1.0)) forward = first;
            x = (k > 0 ? u[k - 1] : 0.0) - forward * (t_k - t_prev);
        }
        const auto evaluate = [&](double value, double& slope) -> double {
            u[k] = value;
            double s = 0.0;
            for (std::uint32_t q : moving) {
                L[q] = rows.dot(q, u);
                D[q] = exp_guarded(L[q]);
                if (!finite_positive(D[q])) return NAN;
            }
            double r;
            if (incremental) {
                for (std::uint32_t i : moving_pi) e.dp[i] = D[e.pq[i]];
                for (std::uint32_t i : moving_di) e.dd[i] = D[e.dq[i]];
                r = swap.residual(e);
            } else {
                r = e.residual(D, true);
            }
            for (std::uint32_t i : moving_pi) s += e.gp[i] * e.dp[i] * rows.weight_of_last(e.pq[i]);
            for (std::uint32_t i : moving_di) s += e.gd[i] * e.dd[i] * rows.weight_of_last(e.dq[i]);
            slope = s;
            return r;
        };
        const NewtonEnd end = damped_newton(evaluate, x, {.tol = 1e-15 * e.scale, .max_iterations = 100,
                                                           .max_halvings = 60});
        // Short of its tolerance a pillar still stands if its quote reprices to 1e-12.
        if (end.status == SolveStatus::NonFinite || end.status == SolveStatus::Singular ||
            !(std::fabs(end.residual) <= 1e-12 * e.scale))
            return fail(describe(*e.instrument) + " cannot be repriced: no positive, finite discount factor on " +
                        dates::format_iso(p.pillars[k]) + " matches its quote");
        u[k] = x;
        for (std::uint32_t q : finished_by[k]) {
            L[q] = rows.dot(q, u);
            D[q] = exp_guarded(L[q]);
        }
    }
    return {};
}

// The same at the unknowns of a sequential solve, from the rows of its local interpolation
// (exact, not an approximation). D_solved: solve_sequential's discount factors (the same
// bits: the same rows at the same unknowns).
Result<MatrixFactors> jacobian_from_rows(Problem& p, const Rows& rows, std::span<const double> u,
                                         std::span<const double> D_solved, Cancel& cancel) {
    const std::size_t nq = p.query_times.size();
    std::vector<double> D(nq);
    for (std::size_t q = 0; q < nq; ++q) D[q] = rows.last[q] >= 0 ? D_solved[q] : exp_guarded(rows.dot(q, u));
    for (Equation& e : p.equations) (void)e.residual(D, true);
    return factor_jacobian(p, rows, cancel);
}

// The Jacobian of the repricing equations at the built curve, in its unknowns (and, on a
// bootstrapped discount curve, in that curve's unknowns).
Status jacobian(const Problem& p, const YieldCurve& curve, const YieldCurve* discount, bool tied,
                std::vector<double>& J, std::vector<double>& cross, std::size_t& n_cross) {
    const std::size_t n = p.equations.size();
    QUELM_TRY(grad, CurveGradient::create(curve));
    std::optional<CurveGradient> dgrad;
    const BootstrapState* dstate = discount ? discount->bootstrap_state().get() : nullptr;
    n_cross = dstate ? dstate->pillars.size() : 0;
    if (dstate) {
        QUELM_TRY(g, CurveGradient::create(*discount));
        dgrad.emplace(std::move(g));
    }
    QUELM_CHECK(check_fits_in_memory(
        doubles_bytes(static_cast<double>(n) * (2.0 * static_cast<double>(n) + static_cast<double>(n_cross))),
        kJacobianMemory));
    J.assign(n * n, 0.0);
    cross.assign(n * n_cross, 0.0);
    const CurvePair pair{&curve, discount ? discount : &curve};
    std::vector<double> node(n + 1), dnode(discount && !discount->is_flat() ? discount->values().size() : 0);
    for (std::size_t k = 0; k < n; ++k) {
        const Equation& e = p.equations[k];
        QUELM_TRY(reading, read_curves(*e.layout, pair));
        std::vector<double> gp(reading.dp.size(), 0.0), gd(reading.dd.size(), 0.0);
        (void)model_quote(*e.layout, reading.dp, reading.dd, 1.0, gp, gd);
        std::fill(node.begin(), node.end(), 0.0);
        QUELM_CHECK(chain_to_nodes(grad, reading.tp, reading.dp, gp, node));
        if (discount == nullptr) {
            QUELM_CHECK(chain_to_nodes(grad, reading.td, reading.dd, gd, node));
        } else if (dstate) {
            std::fill(dnode.begin(), dnode.end(), 0.0);
            QUELM_CHECK(chain_to_nodes(*dgrad, reading.td, reading.dd, gd, dnode));
            nodes_to_unknowns(*discount, dnode, std::span<double>(&cross[k * n_cross], n_cross));
        }
        fold(tied, node, std::span<double>(&J[k * n], n));
    }
    return {};
}

}  // namespace

void nodes_to_unknowns(const YieldCurve& curve, std::span<const double> node_grad, std::span<double> unknown_grad) {
    fold(!curve.on_log_discounts(), node_grad, unknown_grad);
}

Result<YieldCurve> bootstrap(BootstrapSpec spec, Cancel& cancel) {
    const std::size_t n = spec.instruments.size();
    if (n == 0) return fail("need at least one instrument");
    const Serial ref = spec.reference;
    const YieldCurve* discount = spec.discount.get();
    if (discount) {
        const auto& dref = discount->dating().reference;
        if (!dref) return fail("the discount curve needs a reference date");
        if (*dref != ref)
            return fail("the discount curve's reference date " + dates::format_iso(*dref) + " differs from " +
                        dates::format_iso(ref));
    }
    for (const Instrument& i : spec.instruments) {
        const Status s = std::visit([](const auto& x) { return check(x); }, i);
        if (!s) return fail(describe(i) + ": " + s.error().text);
    }
    // Lay out, then order by the last date each reads on the curve being built.
    Problem p;
    p.reference = ref;
    std::vector<std::shared_ptr<const Layout>> layouts(n);
    std::vector<Serial> last(n);
    for (std::size_t i = 0; i < n; ++i) {
        auto l = lay_out_kept(spec.instruments[i], ref);
        if (!l) return fail(l.error().text);
        if (discount && (*l)->proj.empty())
            return fail(describe(spec.instruments[i]) +
                        " reads no forward: on a discount curve it cannot build a projection curve");
        last[i] = last_date(**l, discount != nullptr);
        layouts[i] = std::move(*l);
    }
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return last[a] < last[b]; });
    p.nodes.assign(1, 0.0);
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t i = order[k];
        if (k > 0 && last[i] == last[order[k - 1]])
            return fail(describe(spec.instruments[order[k - 1]]) + " and " + describe(spec.instruments[i]) +
                        " both end on " + dates::format_iso(last[i]) + ": each pillar needs its own instrument");
        QUELM_TRY(t, dates::year_fraction(ref, last[i], spec.day_count));
        if (!(t > p.nodes.back()))
            return fail(describe(spec.instruments[i]) + " ends on " + dates::format_iso(last[i]) +
                        (k == 0 ? ", not after the reference date" : ", at the curve time of the pillar before it"));
        p.nodes.push_back(t);
        p.pillars.push_back(last[i]);
    }
    // The queries: every date read on the curve being built, in order.
    const DateIndex queries(layouts, discount == nullptr);
    const std::vector<Serial>& qdates = queries.dates;
    p.query_times.reserve(qdates.size());
    for (Serial d : qdates) {
        QUELM_TRY(t, dates::year_fraction(ref, d, spec.day_count));
        p.query_times.push_back(t);
    }
    const auto query = [&](Serial d) { return queries.index(d); };
    p.equations.resize(n);
    std::size_t n_proj = 0, n_disc = 0;
    for (const auto& l : layouts) {
        n_proj += l->proj.size();
        n_disc += l->disc.size();
    }
    p.index_pool.assign(n_proj + (discount ? 0 : n_disc), 0);
    p.value_pool.assign(2 * n_proj + 2 * n_disc, 0.0);
    std::uint32_t* next_index = p.index_pool.data();
    double* next_value = p.value_pool.data();
    const auto take_values = [&](std::size_t count) {
        const std::span<double> out(next_value, count);
        next_value += count;
        return out;
    };
    for (std::size_t k = 0; k < n; ++k) {
        Equation& e = p.equations[k];
        const std::size_t i = order[k];
        e.instrument = &spec.instruments[i];
        e.layout = std::move(layouts[i]);
        e.quote = e.layout->quote;
        e.scale = std::fmax(1.0, std::fabs(e.quote));
        const std::size_t np = e.layout->proj.size(), nd = e.layout->disc.size();
        e.pq = std::span(next_index, np);
        next_index += np;
        for (std::size_t j = 0; j < np; ++j) e.pq[j] = query(e.layout->proj[j]);
        e.dp = take_values(np);
        e.gp = take_values(np);
        e.dd = take_values(nd);
        e.gd = take_values(nd);
        if (discount) {
            e.external = true;
            for (std::size_t j = 0; j < nd; ++j) {
                auto df = discount->discount_on(e.layout->disc[j]);
                if (!df) return fail(describe(*e.instrument) + ": discount curve: " + df.error().text);
                e.dd[j] = *df;
            }
        } else {
            e.dq = std::span(next_index, nd);
            next_index += nd;
            for (std::size_t j = 0; j < nd; ++j) e.dq[j] = query(e.layout->disc[j]);
        }
    }
    // Solve.
    const Interp interp = curve_interp(spec.interp);
    const bool tied = zero_rate_nodes(interp);
    std::vector<double> u, cross;
    std::size_t n_cross = 0;
    std::optional<Result<MatrixFactors>> factors;
    std::optional<GlobalJacobian> global;
    // On a bootstrapped discount curve the Jacobian also needs the cross terms: from the curves.
    const bool cross_terms = discount != nullptr && discount->bootstrap_state() != nullptr;
    if (interp == Interp::LogLinear || interp == Interp::FlatForward || interp == Interp::Linear) {
        QUELM_TRY(rows, linear_rows(p.nodes, p.query_times, interp));
        std::vector<double> D;
        QUELM_CHECK(solve_sequential(p, rows, tied, u, D, cancel));
        if (!cross_terms) factors.emplace(jacobian_from_rows(p, rows, u, D, cancel));
    } else {
        // Start from the log-linear curve through the same quotes.
        QUELM_TRY(rows, linear_rows(p.nodes, p.query_times, Interp::LogLinear));
        std::vector<double> D;
        QUELM_CHECK(solve_sequential(p, rows, false, u, D, cancel));
        if (interp == Interp::NaturalCubic)
            for (std::size_t k = 0; k < n; ++k) u[k] = -u[k] / p.nodes[k + 1];
        QUELM_TRY(model, GlobalModel::create(interp, p));
        QUELM_CHECK(solve_global(p, model, u, cancel));
        if (!cross_terms) {
            std::vector<double> L, r(n);
            QUELM_CHECK(model.evaluate(u, L, D, true));
            (void)residuals(p, D, r, true);
            auto g = model.jacobian(p, cancel);
            if (g) global.emplace(std::move(*g));
            else factors.emplace(std::unexpected(g.error()));
        }
    }
    const Dating dating{ref, spec.day_count};
    QUELM_TRY(curve, YieldCurve::from_nodes(p.nodes, node_values(u, tied), interp, spec.extrapolate, dating));
    // What risk needs: the Jacobian at the built curve.
    if (!factors && !global) {
        std::vector<double> J;
        QUELM_CHECK(jacobian(p, curve, discount, tied, J, cross, n_cross));
        factors.emplace(MatrixFactors::dense(std::move(J), n, kJacobianMemory));
    }
    if (factors && !*factors) {
        if ((*factors).error().kind != Kind::Numerical) return std::unexpected((*factors).error());
        return fail("the repricing equations are singular at the built curve (an instrument reads no pillar of its own)");
    }
    BootstrapJacobian kept = global ? BootstrapJacobian(std::move(*global)) : BootstrapJacobian(std::move(**factors));
    // The equations point into the inputs' instruments; they are not read after the inputs
    // move into the curve's state.
    auto state = std::make_shared<BootstrapState>(BootstrapState{
        std::move(spec), std::move(order), std::move(p.pillars), std::move(kept), std::move(cross), n_cross});
    return curve.with_state(std::move(state));
}

}  // namespace quelm::curves
