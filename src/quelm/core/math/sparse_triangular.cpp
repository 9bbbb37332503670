#include "quelm/core/math/sparse_triangular.hpp"

#include <cmath>
#include <utility>

#include "quelm/core/memory.hpp"

namespace quelm {

Result<MatrixFactors> MatrixFactors::lower_triangular(SparseRows t) {
    const std::size_t n = t.rows();
    double scale = 0.0;
    for (double x : t.value) {
        if (!std::isfinite(x)) return numerical("lu: singular matrix");
        scale = std::fmax(scale, std::fabs(x));
    }
    const double floor = static_cast<double>(n) * 2.220446049250313e-16 * scale;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t e = t.start[i + 1];
        if (e == t.start[i] || t.col[e - 1] != i || !(std::fabs(t.value[e - 1]) > floor))
            return numerical("lu: singular matrix");
    }
    MatrixFactors f;
    f.n_ = n;
    f.t_ = std::move(t);
    return f;
}

Result<MatrixFactors> MatrixFactors::dense(std::vector<double> a, std::size_t n, const char* what) {
    QUELM_CHECK(check_fits_in_memory(doubles_bytes(static_cast<double>(n) * static_cast<double>(n)), what));
    QUELM_TRY(lu, LuFactors::factor(std::move(a), n));
    MatrixFactors f;
    f.n_ = n;
    f.dense_.emplace(std::move(lu));
    return f;
}

void MatrixFactors::solve(std::span<double> b) const {
    if (dense_) {
        dense_->solve(b);
        return;
    }
    for (std::size_t i = 0; i < n_; ++i) {
        double s = b[i];
        const std::size_t diag = t_.start[i + 1] - 1;
        for (std::size_t m = t_.start[i]; m < diag; ++m) s -= t_.value[m] * b[t_.col[m]];
        b[i] = s / t_.value[diag];
    }
}

void MatrixFactors::solve_transposed(std::span<double> b) const {
    if (dense_) {
        dense_->solve_transposed(b);
        return;
    }
    // Column by column from the last: each x_i, once known, leaves the rows above it.
    for (std::size_t i = n_; i-- > 0;) {
        const std::size_t diag = t_.start[i + 1] - 1;
        const double xi = b[i] / t_.value[diag];
        b[i] = xi;
        for (std::size_t m = t_.start[i]; m < diag; ++m) b[t_.col[m]] -= t_.value[m] * xi;
    }
}

}  // namespace quelm
