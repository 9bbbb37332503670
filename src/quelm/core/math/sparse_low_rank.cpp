#include "quelm/core/math/sparse_low_rank.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "quelm/core/memory.hpp"

namespace quelm {

Result<SparseLowRank> SparseLowRank::factor(SparseRows t, SparseRows u, std::vector<double> v,
                                                    std::size_t r, const char* what, Cancel& cancel) {
    const std::size_t n = t.rows();
    if (u.rows() != n || v.size() != r * n) return bad_argument("sparse solve: inconsistent shapes");
    // V and T⁻¹ U, n × r each, and the r × r capacitance matrix with its factors.
    const double rn = static_cast<double>(r) * static_cast<double>(n);
    QUELM_CHECK(check_fits_in_memory(doubles_bytes(rn + 2.0 * static_cast<double>(r) * static_cast<double>(r)), what));
    double scale = 0.0;
    for (double x : t.value) {
        if (!std::isfinite(x)) return numerical("lu: singular matrix");
        scale = std::fmax(scale, std::fabs(x));
    }
    for (double x : u.value)
        if (!std::isfinite(x)) return numerical("lu: singular matrix");
    for (double x : v)
        if (!std::isfinite(x)) return numerical("lu: singular matrix");
    const double floor = static_cast<double>(n) * 2.220446049250313e-16 * scale;
    std::size_t kl = 0, ku = 0;
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t m = t.start[i]; m < t.start[i + 1]; ++m) {
            const std::size_t j = t.col[m];
            if (j < i) kl = std::max(kl, i - j);
            if (j > i) ku = std::max(ku, j - i);
        }
    // Lower triangular: each row ends at its diagonal, the pivot of the substitution.
    if (ku == 0)
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t e = t.start[i + 1];
            if (e == t.start[i] || t.col[e - 1] != i || !(std::fabs(t.value[e - 1]) > floor))
                return numerical("lu: singular matrix");
        }
    SparseLowRank f;
    f.n_ = n;
    f.r_ = r;
    f.t_ = std::move(t);
    f.u_ = std::move(u);
    f.v_ = std::move(v);
    if (ku > 0) {
        // Not triangular: a banded LU of T.
        QUELM_CHECK(check_fits_in_memory(doubles_bytes(BandedLu::storage(n, kl, ku)), what));
        f.band_.emplace(n, kl, ku);
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t m = f.t_.start[i]; m < f.t_.start[i + 1]; ++m) f.band_->at(i, f.t_.col[m]) += f.t_.value[m];
        if (cancel.poll()) return cancelled();
        QUELM_CHECK(f.band_->factor());
    }
    if (r == 0) return f;
    CancelPoller poller(cancel);
    // Z = T⁻¹ U.
    f.z_.assign(n * r, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t m = f.u_.start[i]; m < f.u_.start[i + 1]; ++m) f.z_[i * r + f.u_.col[m]] += f.u_.value[m];
    if (f.band_) {
        std::vector<double> column(n);
        for (std::size_t c = 0; c < r; ++c) {
            if (poller.tick(n * (kl + ku + 1) / 8 + 1)) return cancelled();
            for (std::size_t i = 0; i < n; ++i) column[i] = f.z_[i * r + c];
            f.band_->solve(column);
            for (std::size_t i = 0; i < n; ++i) f.z_[i * r + c] = column[i];
        }
    } else {
        // Row by row, every column at once.
        for (std::size_t i = 0; i < n; ++i) {
            if (poller.tick(r * (f.t_.start[i + 1] - f.t_.start[i]))) return cancelled();
            double* zi = &f.z_[i * r];
            const std::size_t diag = f.t_.start[i + 1] - 1;
            for (std::size_t m = f.t_.start[i]; m < diag; ++m) {
                const double w = f.t_.value[m];
                const double* zj = &f.z_[f.t_.col[m] * r];
                for (std::size_t c = 0; c < r; ++c) zi[c] -= w * zj[c];
            }
            const double d = f.t_.value[diag];
            for (std::size_t c = 0; c < r; ++c) zi[c] /= d;
        }
    }
    // C = I + V Z.
    std::vector<double> cap(r * r, 0.0);
    for (std::size_t a = 0; a < r; ++a) {
        const double* va = &f.v_[a * n];
        double* ca = &cap[a * r];
        for (std::size_t i = 0; i < n; ++i) {
            if (poller.tick(r)) return cancelled();
            if (va[i] == 0.0) continue;
            const double* zi = &f.z_[i * r];
            for (std::size_t b = 0; b < r; ++b) ca[b] += va[i] * zi[b];
        }
        ca[a] += 1.0;
    }
    if (poller.check()) return cancelled();
    QUELM_TRY(lu, LuFactors::factor(std::move(cap), r));
    f.c_.emplace(std::move(lu));
    return f;
}

void SparseLowRank::apply(std::span<const double> x, std::span<double> out) const {
    std::vector<double> vx(r_, 0.0);
    for (std::size_t a = 0; a < r_; ++a) {
        double s = 0.0;
        for (std::size_t i = 0; i < n_; ++i) s += v_[a * n_ + i] * x[i];
        vx[a] = s;
    }
    for (std::size_t i = 0; i < n_; ++i) {
        double s = 0.0;
        for (std::size_t m = t_.start[i]; m < t_.start[i + 1]; ++m) s += t_.value[m] * x[t_.col[m]];
        for (std::size_t m = u_.start[i]; m < u_.start[i + 1]; ++m) s += u_.value[m] * vx[u_.col[m]];
        out[i] = s;
    }
}

void SparseLowRank::apply_transposed(std::span<const double> x, std::span<double> out) const {
    std::fill(out.begin(), out.end(), 0.0);
    std::vector<double> ux(r_, 0.0);
    for (std::size_t i = 0; i < n_; ++i) {
        for (std::size_t m = t_.start[i]; m < t_.start[i + 1]; ++m) out[t_.col[m]] += t_.value[m] * x[i];
        for (std::size_t m = u_.start[i]; m < u_.start[i + 1]; ++m) ux[u_.col[m]] += u_.value[m] * x[i];
    }
    for (std::size_t a = 0; a < r_; ++a)
        for (std::size_t i = 0; i < n_; ++i) out[i] += v_[a * n_ + i] * ux[a];
}

void SparseLowRank::solve_t(std::span<double> x) const {
    if (band_) {
        band_->solve(x);
        return;
    }
    for (std::size_t i = 0; i < n_; ++i) {
        double s = x[i];
        const std::size_t diag = t_.start[i + 1] - 1;
        for (std::size_t m = t_.start[i]; m < diag; ++m) s -= t_.value[m] * x[t_.col[m]];
        x[i] = s / t_.value[diag];
    }
}

void SparseLowRank::solve_t_transposed(std::span<double> x) const {
    if (band_) {
        band_->solve_transposed(x);
        return;
    }
    for (std::size_t i = n_; i-- > 0;) {
        const std::size_t diag = t_.start[i + 1] - 1;
        const double xi = x[i] / t_.value[diag];
        x[i] = xi;
        for (std::size_t m = t_.start[i]; m < diag; ++m) x[t_.col[m]] -= t_.value[m] * xi;
    }
}

void SparseLowRank::solve_once(std::span<const double> b, std::span<double> x) const {
    // x = T⁻¹ b; then x -= Z C⁻¹ V x.
    std::copy(b.begin(), b.end(), x.begin());
    solve_t(x);
    if (r_ == 0) return;
    std::vector<double> w(r_, 0.0);
    for (std::size_t a = 0; a < r_; ++a) {
        double s = 0.0;
        for (std::size_t i = 0; i < n_; ++i) s += v_[a * n_ + i] * x[i];
        w[a] = s;
    }
    c_->solve(w);
    for (std::size_t i = 0; i < n_; ++i) {
        double s = 0.0;
        for (std::size_t c = 0; c < r_; ++c) s += z_[i * r_ + c] * w[c];
        x[i] -= s;
    }
}

void SparseLowRank::solve_transposed_once(std::span<const double> b, std::span<double> x) const {
    // μ = C⁻ᵀ Zᵀ b; x = T⁻ᵀ (b - Vᵀ μ).
    std::copy(b.begin(), b.end(), x.begin());
    if (r_ > 0) {
        std::vector<double> mu(r_, 0.0);
        for (std::size_t i = 0; i < n_; ++i)
            for (std::size_t c = 0; c < r_; ++c) mu[c] += z_[i * r_ + c] * b[i];
        c_->solve_transposed(mu);
        for (std::size_t a = 0; a < r_; ++a)
            for (std::size_t i = 0; i < n_; ++i) x[i] -= v_[a * n_ + i] * mu[a];
    }
    solve_t_transposed(x);
}

void SparseLowRank::solve(std::span<double> b) const {
    std::vector<double> x(n_), res(n_), dx(n_);
    solve_once(b, x);
    if (r_ == 0 && !band_) {
        std::copy(x.begin(), x.end(), b.begin());
        return;
    }
    apply(x, res);
    for (std::size_t i = 0; i < n_; ++i) res[i] = b[i] - res[i];
    solve_once(res, dx);
    for (std::size_t i = 0; i < n_; ++i) b[i] = x[i] + dx[i];
}

void SparseLowRank::solve_transposed(std::span<double> b) const {
    std::vector<double> x(n_), res(n_), dx(n_);
    solve_transposed_once(b, x);
    if (r_ == 0 && !band_) {
        std::copy(x.begin(), x.end(), b.begin());
        return;
    }
    apply_transposed(x, res);
    for (std::size_t i = 0; i < n_; ++i) res[i] = b[i] - res[i];
    solve_transposed_once(res, dx);
    for (std::size_t i = 0; i < n_; ++i) b[i] = x[i] + dx[i];
}

std::vector<double> SparseLowRank::dense(const SparseRows& t, const SparseRows& u, std::span<const double> v,
                                             std::size_t r) {
    const std::size_t n = t.rows();
    std::vector<double> a(n * n, 0.0);
    for (std::size_t i = 0; i < n; ++i) {
        double* row = &a[i * n];
        for (std::size_t m = t.start[i]; m < t.start[i + 1]; ++m) row[t.col[m]] += t.value[m];
        for (std::size_t m = u.start[i]; m < u.start[i + 1]; ++m) {
            const double w = u.value[m];
            const double* va = &v[u.col[m] * n];
            for (std::size_t j = 0; j < n; ++j) row[j] += w * va[j];
        }
    }
    (void)r;
    return a;
}

Result<MatrixFactors> MatrixFactors::factor(const SparseRows& t, const SparseRows& u, std::vector<double> v,
                                            std::size_t r, const char* what, Cancel& cancel) {
    auto f = SparseLowRank::factor(t, u, v, r, what, cancel);
    MatrixFactors out;
    if (f) {
        out.sparse_.emplace(std::move(*f));
        return out;
    }
    if (f.error().kind != Kind::Numerical) return std::unexpected(f.error());
    const std::size_t n = t.rows();
    return factor_dense(SparseLowRank::dense(t, u, v, r), n, what);
}

Result<MatrixFactors> MatrixFactors::factor_dense(std::vector<double> a, std::size_t n, const char* what) {
    QUELM_CHECK(check_fits_in_memory(doubles_bytes(static_cast<double>(n) * static_cast<double>(n)), what));
    QUELM_TRY(lu, LuFactors::factor(std::move(a), n));
    MatrixFactors out;
    out.dense_.emplace(std::move(lu));
    return out;
}

void MatrixFactors::solve(std::span<double> b) const {
    if (sparse_) sparse_->solve(b);
    else dense_->solve(b);
}

void MatrixFactors::solve_transposed(std::span<double> b) const {
    if (sparse_) sparse_->solve_transposed(b);
    else dense_->solve_transposed(b);
}

std::size_t MatrixFactors::size() const { return sparse_ ? sparse_->size() : dense_->size(); }

}  // namespace quelm
