// The network's vector kernels over a lane type (core/math/lanes.hpp), for the entry points
// of mlp.cpp and the gradient passes of backprop.cpp, which call them at the width they were
// dispatched at (core/simd.hpp). Each dot product runs left to right from zero in column
// order, whatever the loop nest or width.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>

#include "quelm/core/math/lanes.hpp"
#include "quelm/core/portable.hpp"
#include "quelm/ml/mlp.hpp"

namespace quelm::ml {

// Register blocks of the matrix kernels: the accumulators of up to 2 * kBlock outputs stay
// in registers, enough independent sums to hide the latency of the additions.
inline constexpr std::size_t kBlock = 16;

// out[k] = sum over i < n, in order i = 0, 1, ..., of m[i * stride + k] * s[i], for k < B:
// B / w vectors of running sums.
template <class V, std::size_t B>
QUELM_ALWAYS_INLINE void block_sums(const double* m, std::size_t stride, const double* s, std::size_t n,
                                    double* out) {
    constexpr auto w = static_cast<std::size_t>(lanes::size_v<V>);
    constexpr std::size_t per = B / w;
    static_assert(per * w == B);
    V acc[per];
    for (std::size_t g = 0; g < per; ++g) acc[g] = lanes::splat<V>(0.0);
    for (std::size_t i = 0; i < n; ++i, m += stride) {
        const double si = s[i];
        for (std::size_t g = 0; g < per; ++g) acc[g] = acc[g] + lanes::load<V>(m + g * w) * si;
    }
    for (std::size_t g = 0; g < per; ++g) lanes::store(out + g * w, acc[g]);
}

// All padded outputs of a block kernel, then the first `count` of them copied out.
template <class V>
QUELM_ALWAYS_INLINE void blocked(const double* m, std::size_t stride, const double* s, std::size_t n,
                                 std::size_t padded, std::size_t count, double* out) {
    double tmp[2 * kBlock];
    for (std::size_t b = 0; b < padded;) {
        std::size_t width = kBlock;
        if (padded - b >= 2 * kBlock) {
            width = 2 * kBlock;
            block_sums<V, 2 * kBlock>(m + b, stride, s, n, tmp);
        } else {
            block_sums<V, kBlock>(m + b, stride, s, n, tmp);
        }
        const std::size_t c = std::min(width, count - std::min(count, b));
        for (std::size_t k = 0; k < c; ++k) out[b + k] = tmp[k];
        b += width;
    }
}

// out = W x (matvec in mlp.hpp).
template <class V>
QUELM_ALWAYS_INLINE void matvec_lanes(const Layer& W, std::span<const double> x, std::span<double> out) {
    const std::size_t rows = W.rows, cols = std::min(W.cols, x.size()), rp = W.rp;
    double* o = out.data();
    if (rows < 4) {  // narrow output: plain running sums
        for (std::size_t r = 0; r < rows; ++r) {
            const double* row = W.row(r);
            double sum = 0.0;
            for (std::size_t c = 0; c < cols; ++c) sum += row[c] * x[c];
            o[r] = sum;
        }
        return;
    }
    // Blocks of rows, columns in order: each output still sums its terms left to right.
    blocked<V>(W.wt.data(), rp, x.data(), cols, rp, rows, o);
}

// out = W^T v (matvec_t).
template <class V>
QUELM_ALWAYS_INLINE void matvec_t_lanes(const Layer& W, std::span<const double> v, std::span<double> out) {
    const std::size_t rows = std::min(W.rows, v.size()), cols = W.cols, cp = W.cp;
    double* o = out.data();
    if (cols < 4) {  // narrow input: one running sum per column over the rows
        for (std::size_t c = 0; c < cols; ++c) {
            const double* col = W.wt.data() + c * W.rp;
            double sum = 0.0;
            for (std::size_t i = 0; i < rows; ++i) sum += v[i] * col[i];
            o[c] = sum;
        }
        return;
    }
    // Blocks of columns, rows in order: entry c accumulates W[i][c] * v[i] for i = 0, 1, ...
    blocked<V>(W.wp.data(), cp, v.data(), rows, cp, cols, o);
}

// G += a b^T (accum_outer).
template <class V>
QUELM_ALWAYS_INLINE void accum_outer_lanes(std::span<double> G, std::size_t cols, std::span<const double> a,
                                           std::span<const double> b) {
    const std::size_t n = std::min(cols, b.size());
    if (n == 1 && cols == 1) {  // a first layer of one input: one column, a loop down it
        double* g = G.data();
        const double* ap = a.data();
        const double b0 = b[0];
        lanes::for_lanes<V>(a.size(), [&]<class L>(std::size_t i) {
            lanes::store(g + i, lanes::load<L>(g + i) + lanes::load<L>(ap + i) * b0);
        });
        return;
    }
    const double* bj = b.data();
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double ai = a[i];
        double* g = G.data() + i * cols;
        lanes::for_lanes<V>(n, [&]<class L>(std::size_t j) {
            lanes::store(g + j, lanes::load<L>(g + j) + ai * lanes::load<L>(bj + j));
        });
    }
}

}  // namespace quelm::ml
