#include "quelm/curves/bootstrap_jacobian.hpp"

#include <algorithm>
#include <string>
#include <utility>

#include "quelm/core/math/gmres.hpp"

namespace quelm::curves {

namespace {

constexpr std::size_t kRestart = 40;
constexpr std::size_t kCycles = 12;

}  // namespace

GlobalJacobian::GlobalJacobian(SparseRows a, std::vector<double> nodes, std::vector<double> query_times,
                               std::optional<SplineWeights> spline, SparseRows w, MatrixFactors preconditioner)
    : n_(a.rows()), a_(std::move(a)), nodes_(std::move(nodes)), query_times_(std::move(query_times)),
      spline_(std::move(spline)), w_(std::move(w)), pre_(std::move(preconditioner)) {}

void GlobalJacobian::w_times(std::span<const double> x, std::span<double> lq) const {
    const std::size_t nq = query_times_.size();
    if (spline_) {
        // ln P = -t s(t), s the spline through the node values (node 0 tied to unknown 0).
        std::vector<double> y(n_ + 1);
        y[0] = x[0];
        std::copy(x.begin(), x.end(), y.begin() + 1);
        auto s = NaturalCubicSpline::create(nodes_, y);
        for (std::size_t q = 0; q < nq; ++q) {
            const double t = query_times_[q];
            lq[q] = 0.0;
            if (!(t > 0.0) || !s) continue;
            auto v = s->eval(t);
            lq[q] = v ? -t * *v : 0.0;
        }
        return;
    }
    for (std::size_t q = 0; q < nq; ++q) {
        double s = 0.0;
        for (std::size_t m = w_.start[q]; m < w_.start[q + 1]; ++m) s += w_.value[m] * x[w_.col[m]];
        lq[q] = s;
    }
}

void GlobalJacobian::w_transposed(std::span<const double> g, std::span<double> out) const {
    std::fill(out.begin(), out.end(), 0.0);
    const std::size_t nq = query_times_.size();
    if (spline_) {
        std::vector<double> scales(nq), node(n_ + 1, 0.0);
        for (std::size_t q = 0; q < nq; ++q) scales[q] = query_times_[q] > 0.0 ? -query_times_[q] * g[q] : 0.0;
        spline_->add_many(query_times_, scales, node);
        for (std::size_t k = 0; k < n_; ++k) out[k] = node[k + 1];
        out[0] += node[0];
        return;
    }
    for (std::size_t q = 0; q < nq; ++q)
        for (std::size_t m = w_.start[q]; m < w_.start[q + 1]; ++m) out[w_.col[m]] += w_.value[m] * g[q];
}

void GlobalJacobian::apply(std::span<const double> x, std::span<double> out) const {
    std::vector<double> lq(query_times_.size());
    w_times(x, lq);
    for (std::size_t k = 0; k < n_; ++k) {
        double s = 0.0;
        for (std::size_t m = a_.start[k]; m < a_.start[k + 1]; ++m) s += a_.value[m] * lq[a_.col[m]];
        out[k] = s;
    }
}

void GlobalJacobian::apply_transposed(std::span<const double> x, std::span<double> out) const {
    std::vector<double> g(query_times_.size(), 0.0);
    for (std::size_t k = 0; k < n_; ++k)
        for (std::size_t m = a_.start[k]; m < a_.start[k + 1]; ++m) g[a_.col[m]] += a_.value[m] * x[k];
    w_transposed(g, out);
}

Status GlobalJacobian::solve(std::span<double> b, double tol, Cancel& cancel) const {
    const std::vector<double> rhs(b.begin(), b.end());
    std::fill(b.begin(), b.end(), 0.0);
    return gmres([&](std::span<const double> x, std::span<double> out) { apply(x, out); },
                 [&](std::span<double> v) { pre_.solve(v); }, rhs, b, tol, kRestart, kCycles, cancel);
}

Status GlobalJacobian::solve_transposed(std::span<double> b, double tol, Cancel& cancel, double* achieved) const {
    const std::vector<double> rhs(b.begin(), b.end());
    std::fill(b.begin(), b.end(), 0.0);
    return gmres([&](std::span<const double> x, std::span<double> out) { apply_transposed(x, out); },
                 [&](std::span<double> v) { pre_.solve_transposed(v); }, rhs, b, tol, kRestart, kCycles, cancel,
                 achieved);
}

Status BootstrapJacobian::solve_transposed(std::span<double> b) const {
    if (const auto* f = std::get_if<MatrixFactors>(&j_)) {
        f->solve_transposed(b);
        return {};
    }
    // Risk polls Ctrl-C between its rows; a solve is a few milliseconds. The iteration stops
    // at 1e-15 or at the rounding floor of the products; far above that floor it stalled.
    constexpr double kAccepted = 1e-10;
    double achieved = 0.0;
    const Status s = std::get<GlobalJacobian>(j_).solve_transposed(b, 1e-15, never_cancel(), &achieved);
    if (!s) return s;
    if (!(achieved <= kAccepted))
        return numerical("the curve's sensitivities did not converge (relative residual " +
                         std::to_string(achieved) + ")");
    return {};
}

}  // namespace quelm::curves
