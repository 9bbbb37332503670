#include "quelm/core/math/subset_cholesky.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quelm {

SubsetCholesky::SubsetCholesky(std::span<const double> s, std::size_t n) : s_(s), n_(n), l_(n * n, 0.0) {
    order_.reserve(n);
    work_.resize(n);
}

void SubsetCholesky::assign(const SubsetCholesky& other) {
    const std::size_t m = other.order_.size();
    for (std::size_t r = 0; r < m; ++r) std::copy_n(other.l_.data() + r * n_, r + 1, l_.data() + r * n_);
    order_.assign(other.order_.begin(), other.order_.end());
    usable_ = other.usable_;
}

// A pivot that rounding alone could have left (S[F, F] singular, or as good as singular)
// is no pivot: solving with it would amplify the rounding into the solution.
bool SubsetCholesky::pivot_ok(double d, std::size_t i) const {
    const double diag = s_[i * n_ + i];
    const double m = static_cast<double>(order_.size() + 1);
    return diag > 0.0 && d > 16.0 * m * std::numeric_limits<double>::epsilon() * diag && std::isfinite(d);
}

bool SubsetCholesky::factor(std::span<const std::size_t> subset) {
    order_.clear();
    usable_ = true;
    for (const std::size_t i : subset)
        if (!append(i)) return false;
    return true;
}

bool SubsetCholesky::append(std::size_t i) {
    const std::size_t m = order_.size();
    double* row = l_.data() + m * n_;
    const double* si = s_.data() + i * n_;
    double d = si[i];
    for (std::size_t c = 0; c < m; ++c) {
        const double* lc = l_.data() + c * n_;
        double v = si[order_[c]];
        for (std::size_t k = 0; k < c; ++k) v -= row[k] * lc[k];
        v = v / lc[c];
        row[c] = v;
        d -= v * v;
    }
    if (!pivot_ok(d, i)) {
        usable_ = false;
        return false;
    }
    row[m] = std::sqrt(d);
    order_.push_back(i);
    return true;
}

void SubsetCholesky::remove(std::size_t i) {
    const std::size_t m = order_.size();
    const std::size_t p = static_cast<std::size_t>(std::find(order_.begin(), order_.end(), i) - order_.begin());
    if (p == m) return;
    // Row p and column p go; the rows after it move up a row and a column, and what column p
    // gave their products, x xᵀ, is folded back in by a rank-one update of the trailing block.
    double* x = work_.data();
    for (std::size_t j = p + 1; j < m; ++j) {
        x[j - 1] = at(j, p);
        double* dst = l_.data() + (j - 1) * n_;
        const double* src = l_.data() + j * n_;
        std::copy_n(src, p, dst);
        std::copy_n(src + p + 1, j - p, dst + p);
    }
    order_.erase(order_.begin() + static_cast<std::ptrdiff_t>(p));
    for (std::size_t k = p; k + 1 < m; ++k) {
        const double a = at(k, k), b = x[k];
        const double r = std::sqrt(a * a + b * b);
        const double c = r / a, s = b / a;
        at(k, k) = r;
        for (std::size_t j = k + 1; j + 1 < m; ++j) {
            const double v = (at(j, k) + s * x[j]) / c;
            at(j, k) = v;
            x[j] = c * x[j] - s * v;
        }
    }
}

void SubsetCholesky::solve(std::span<double> b) const {
    const std::size_t m = order_.size();
    for (std::size_t r = 0; r < m; ++r) {
        const double* lr = l_.data() + r * n_;
        double v = b[r];
        for (std::size_t k = 0; k < r; ++k) v -= lr[k] * b[k];
        b[r] = v / lr[r];
    }
    for (std::size_t r = m; r-- > 0;) {
        const double* lr = l_.data() + r * n_;
        const double v = b[r] / lr[r];
        b[r] = v;
        for (std::size_t k = 0; k < r; ++k) b[k] -= lr[k] * v;
    }
}

namespace {

// The substitutions over C columns at once; C a constant for the few an active set solves
// with (0: the run-time `count`), so the columns' values stay in registers.
template <std::size_t C>
void solve_columns(const double* l, std::size_t stride, std::size_t m, double* b, std::size_t count) {
    const std::size_t w = C == 0 ? count : C;
    for (std::size_t r = 0; r < m; ++r) {
        const double* lr = l + r * stride;
        double* br = b + r * w;
        double acc[C == 0 ? 1 : C];
        if constexpr (C == 0) {
            for (std::size_t k = 0; k < r; ++k)
                for (std::size_t j = 0; j < w; ++j) br[j] -= lr[k] * b[k * w + j];
            for (std::size_t j = 0; j < w; ++j) br[j] = br[j] / lr[r];
        } else {
            for (std::size_t j = 0; j < C; ++j) acc[j] = br[j];
            for (std::size_t k = 0; k < r; ++k)
                for (std::size_t j = 0; j < C; ++j) acc[j] -= lr[k] * b[k * C + j];
            for (std::size_t j = 0; j < C; ++j) br[j] = acc[j] / lr[r];
        }
    }
    for (std::size_t r = m; r-- > 0;) {
        const double* lr = l + r * stride;
        double* br = b + r * w;
        double v[C == 0 ? 1 : C];
        if constexpr (C == 0) {
            for (std::size_t j = 0; j < w; ++j) br[j] = br[j] / lr[r];
            for (std::size_t k = 0; k < r; ++k)
                for (std::size_t j = 0; j < w; ++j) b[k * w + j] -= lr[k] * br[j];
        } else {
            for (std::size_t j = 0; j < C; ++j) br[j] = v[j] = br[j] / lr[r];
            for (std::size_t k = 0; k < r; ++k)
                for (std::size_t j = 0; j < C; ++j) b[k * C + j] -= lr[k] * v[j];
        }
    }
}

}  // namespace

void SubsetCholesky::solve_many(std::span<double> b, std::size_t count) const {
    const std::size_t m = order_.size();
    switch (count) {
        case 1: solve_columns<1>(l_.data(), n_, m, b.data(), count); return;
        case 2: solve_columns<2>(l_.data(), n_, m, b.data(), count); return;
        case 3: solve_columns<3>(l_.data(), n_, m, b.data(), count); return;
        case 4: solve_columns<4>(l_.data(), n_, m, b.data(), count); return;
        default: solve_columns<0>(l_.data(), n_, m, b.data(), count); return;
    }
}

}  // namespace quelm
