#include "quelm/curves/bootstrap_problem.hpp"

#include <algorithm>

namespace quelm::curves::detail {

Result<Rows> linear_rows(std::span<const double> nodes, std::span<const double> times, Interp interp) {
    const bool tied = zero_rate_nodes(interp);
    Rows rows;
    rows.start.reserve(times.size() + 1);
    rows.last.reserve(times.size());
    // Two nodes a row (node 0 is no unknown on log discounts, and folds into unknown 0 on
    // zero rates).
    rows.col.reserve(2 * times.size());
    rows.w.reserve(2 * times.size());
    for (double t : times) {
        if (!(t > 0.0)) {
            rows.push_pair(0, 0.0, 0, 0.0);
            continue;
        }
        QUELM_TRY(i, find_segment(nodes, t));
        const double w = (t - nodes[i]) / (nodes[i + 1] - nodes[i]);
        const double scale = tied ? -t : 1.0;
        const double left = 0.0 + scale * (1.0 - w), right = 0.0 + scale * w;
        if (i == 0) {
            rows.push_pair(0, tied ? right + left : right, 0, 0.0);
        } else {
            rows.push_pair(static_cast<std::uint32_t>(i - 1), left, static_cast<std::uint32_t>(i), right);
        }
    }
    return rows;
}

std::vector<double> node_values(std::span<const double> u, bool tied) {
    std::vector<double> y(u.size() + 1);
    y[0] = tied ? u[0] : 0.0;
    std::copy(u.begin(), u.end(), y.begin() + 1);
    return y;
}

Result<MatrixFactors> factor_jacobian(const Problem& p, const Rows& local, Cancel& cancel) {
    const std::size_t n = p.equations.size();
    SparseRows T;
    SparseRowBuilder row(n);
    CancelPoller poller(cancel);
    for (std::size_t k = 0; k < n; ++k) {
        const Equation& e = p.equations[k];
        if (poller.tick(e.pq.size() + e.dq.size())) return cancelled();
        const auto add = [&](std::uint32_t q, double c) {
            if (c == 0.0) return;
            for (std::size_t m = local.start[q]; m < local.start[q + 1]; ++m) row.add(local.col[m], c * local.w[m]);
        };
        for (std::size_t i = 0; i < e.pq.size(); ++i) add(e.pq[i], e.gp[i] * e.dp[i]);
        if (!e.external)
            for (std::size_t i = 0; i < e.dq.size(); ++i) add(e.dq[i], e.gd[i] * e.dd[i]);
        // The diagonal, even where zero: the factoring names a zero pivot.
        row.touch(static_cast<std::uint32_t>(k));
        row.end_row(T);
    }
    return MatrixFactors::lower_triangular(std::move(T));
}

double residuals(Problem& p, std::span<const double> D, std::vector<double>& r, bool grad) {
    double worst = 0.0;
    for (std::size_t k = 0; k < p.equations.size(); ++k) {
        r[k] = p.equations[k].residual(D, grad);
        if (!std::isfinite(r[k])) return INFINITY;
        worst = std::fmax(worst, std::fabs(r[k]) / p.equations[k].scale);
    }
    return worst;
}

}  // namespace quelm::curves::detail
