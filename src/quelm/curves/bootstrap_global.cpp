#include "quelm/curves/bootstrap_global.hpp"

#include <algorithm>
#include <cmath>

#include "quelm/core/math/solvers.hpp"
#include "quelm/core/text.hpp"

namespace quelm::curves::detail {

namespace {

// A: each equation's derivatives in ln P at the queries it reads, at its last evaluation
// with derivatives (a query read twice, once).
SparseRows derivative_rows(const Problem& p) {
    const std::size_t nq = p.query_times.size();
    SparseRows a;
    SparseRowBuilder row(nq);
    for (const Equation& e : p.equations) {
        for (std::size_t i = 0; i < e.pq.size(); ++i) row.add(e.pq[i], e.gp[i] * e.dp[i]);
        if (!e.external)
            for (std::size_t i = 0; i < e.dq.size(); ++i) row.add(e.dq[i], e.gd[i] * e.dd[i]);
        row.end_row(a);
    }
    return a;
}

}  // namespace

Result<GlobalModel> GlobalModel::create(Interp interp, const Problem& p) {
    GlobalModel m{interp, &p, {}, {}, {}};
    const bool cubic = interp == Interp::NaturalCubic;
    QUELM_TRY(local, linear_rows(p.nodes, p.query_times, cubic ? Interp::Linear : Interp::LogLinear));
    m.preconditioning = std::move(local);
    if (cubic) {
        QUELM_TRY(w, SplineWeights::create(p.nodes));
        m.spline.emplace(std::move(w));
        return m;
    }
    // Monotone convex: a query between nodes j - 1 and j reads the integrals of the nodes
    // j - 2 .. j + 1, the unknowns j - 3 .. j (the values set at each evaluation); one on
    // a node, that node's own.
    const std::size_t nq = p.query_times.size(), n = p.nodes.size() - 1;
    std::size_t j = 0;
    for (std::size_t q = 0; q < nq; ++q) {
        const double t = p.query_times[q];
        while (j + 1 < p.nodes.size() && p.nodes[j] < t) ++j;
        if (!(t > 0.0)) {
            m.rows.push_pair(0, 0.0, 0, 0.0);
            continue;
        }
        const std::size_t a = p.nodes[j] == t ? j - 1 : (j >= 3 ? j - 3 : 0), b = std::min(j + 1, n);
        for (std::size_t c = a; c < b; ++c) {
            m.rows.col.push_back(static_cast<std::uint32_t>(c));
            m.rows.w.push_back(0.0);
        }
        m.rows.start.push_back(m.rows.col.size());
        m.rows.last.push_back(static_cast<int>(b - 1));
    }
    return m;
}


Status GlobalModel::evaluate(std::span<const double> u, std::vector<double>& L, std::vector<double>& D, bool with_rows) {
    const std::size_t n = u.size(), nq = p->query_times.size();
    L.assign(nq, 0.0);
    D.assign(nq, 1.0);
    if (interp == Interp::NaturalCubic) {
        QUELM_TRY(s, NaturalCubicSpline::create(p->nodes, node_values(u, true)));
        for (std::size_t m = 0; m < nq; ++m) {
            const double t = p->query_times[m];
            if (!(t > 0.0)) continue;
            QUELM_TRY(z, s.eval(t));
            L[m] = -t * z;
        }
    } else {
        std::vector<double> integrals(n + 1, 0.0);
        for (std::size_t k = 0; k < n; ++k) integrals[k + 1] = -u[k];
        QUELM_TRY(mc, MonotoneConvex::create(p->nodes, integrals));
        std::vector<double> node(with_rows ? n + 1 : 0, 0.0);
        for (std::size_t m = 0; m < nq; ++m) {
            const double t = p->query_times[m];
            if (t <= 0.0) continue;
            L[m] = -mc.integral(t);
            if (!with_rows) continue;
            mc.add_integral_gradient(t, 1.0, node);
            // Read and cleared over the row's own unknowns (and node 0, never one).
            for (std::size_t k = rows.start[m]; k < rows.start[m + 1]; ++k) {
                rows.w[k] = node[rows.col[k] + 1];
                node[rows.col[k] + 1] = 0.0;
            }
            node[0] = 0.0;
        }
    }
    for (std::size_t m = 0; m < nq; ++m) D[m] = exp_guarded(L[m]);
    return {};
}


Result<GlobalJacobian> GlobalModel::jacobian(const Problem& prob, Cancel& cancel) const {
    QUELM_TRY(pre, factor_jacobian(prob, preconditioning, cancel));
    SparseRows w;
    if (!spline) {
        w.start.assign(rows.start.begin(), rows.start.end());
        w.col = rows.col;
        w.value = rows.w;
    }
    return GlobalJacobian(derivative_rows(prob), prob.nodes, prob.query_times, spline, std::move(w),
                          std::move(pre));
}

// Newton on every pillar at once, each step solved with the Jacobian by preconditioned GMRES
// (near-linear in the quotes' flows), with a halving line search. Polls Ctrl-C between the
// evaluations.
Status solve_global(Problem& p, GlobalModel& model, std::vector<double>& u, Cancel& cancel) {
    const std::size_t n = u.size();
    std::vector<double> L, D, res(n), r_try(n);
    CancelPoller poller(cancel);
    // res: the residuals at the last point evaluated with derivatives, the one stepped from.
    const auto merit = [&](std::span<const double> at, bool derivatives) -> Result<double> {
        QUELM_CHECK(model.evaluate(at, L, D, derivatives));
        return residuals(p, D, derivatives ? res : r_try, derivatives);
    };
    const auto newton_step = [&](std::span<double> dx) -> Result<bool> {
        auto J = model.jacobian(p, cancel);
        if (!J) {
            if (J.error().kind != Kind::Numerical) return std::unexpected(J.error());
            return false;
        }
        for (std::size_t k = 0; k < n; ++k) dx[k] = -res[k];
        const Status solved = J->solve(dx, 1e-13, cancel);
        if (!solved) {
            if (solved.error().kind != Kind::Numerical) return std::unexpected(solved.error());
            return false;
        }
        return true;
    };
    QUELM_TRY(end, damped_newton_system(merit, newton_step, [&] { return poller.check(); }, u,
                                        {.tol = 1e-16, .max_iterations = 60, .max_halvings = 40}));
    const double worst = end.residual;
    if (!(worst <= 1e-12)) {
        std::size_t at = 0;
        for (std::size_t k = 0; k < n; ++k)
            if (!(std::fabs(res[k]) / p.equations[k].scale <= std::fabs(res[at]) / p.equations[at].scale)) at = k;
        return fail("the " + std::string(interp_name(model.interp)) + " curve does not reprice " +
                    describe(*p.equations[at].instrument) + " (a solution would need a discount factor that is " +
                    "not positive and finite, or the quotes are inconsistent)");
    }
    return {};
}

}  // namespace quelm::curves::detail
