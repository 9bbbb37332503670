#include "quelm/portfolio/risk.hpp"

#include <algorithm>
#include <memory>

#include "quelm/core/math/fixed_sum.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/core/parallel.hpp"
#include "quelm/core/portable.hpp"
#include "quelm/core/simd.hpp"
#include "quelm/core/sizes.hpp"

namespace quelm::portfolio {

namespace {

constexpr std::size_t kBlock = 4;

// Centred series packed in panels of four assets, the time steps of a panel grouped by
// their residue mod 8 (the partial sum each feeds: core/math/fixed_sum.hpp): residue k's
// steps k, k + 8, ... in order from row first_row(k). Value (t, a) of panel p is at
// panel[p][4 row(t) + a], so a block of the matrix streams through two panels once per
// residue. The means are the library's fixed sums, as the pairwise formula takes them.
std::size_t first_row(std::size_t t_len, std::size_t k) {
    std::size_t row = 0;
    for (std::size_t r = 0; r < k; ++r) row += r < t_len ? (t_len - r + kSumPartials - 1) / kSumPartials : 0;
    return row;
}

// Written a time step at a time, the four assets of a panel side by side: the reads are
// four forward streams and the writes eight (one per residue), where an asset at a time
// would store a double every 32 bytes across the whole panel.
std::unique_ptr<double[]> centred_panels(Series series, std::size_t t_len) {
    const std::size_t n_assets = series.size();
    const std::size_t panels = (n_assets + kBlock - 1) / kBlock;
    auto out = std::make_unique_for_overwrite<double[]>(checked_mul(checked_mul(panels, t_len), kBlock));
    const double n = static_cast<double>(t_len);
    std::size_t starts[kSumPartials];
    for (std::size_t k = 0; k < kSumPartials; ++k) starts[k] = first_row(t_len, k);
    // Panels are independent: the pool fills them side by side.
    parallel_for(panels, [&](std::size_t begin, std::size_t end) {
    for (std::size_t p = begin; p < end; ++p) {
        const std::size_t first = p * kBlock;
        const std::size_t count = std::min(kBlock, n_assets - first);
        double* base = out.get() + p * t_len * kBlock;
        const double* x[kBlock];
        double mean[kBlock];
        for (std::size_t a = 0; a < count; ++a) {
            const std::span<const double> s = series[first + a];
            x[a] = s.data();
            mean[a] = fixed_sum(t_len, [&](std::size_t t) { return s[t]; }) / n;
        }
        for (std::size_t t = 0; t < t_len; ++t) {
            double* row = base + (starts[t % kSumPartials] + t / kSumPartials) * kBlock;
            if (count == kBlock) {
                for (std::size_t a = 0; a < kBlock; ++a) row[a] = x[a][t] - mean[a];
            } else {
                for (std::size_t a = 0; a < kBlock; ++a) row[a] = a < count ? x[a][t] - mean[a] : 0.0;
            }
        }
    }
    }, never_cancel());
    return out;
}

// One row of blocks of the matrix: panel p against panels p, p + 1, ..., n_panels - 1.
struct RowJob {
    const double* panels;
    std::size_t n_panels, t_len, p;
    double n;
    Matrix* cov;
};

// Panels swept together at lane type V: enough that a time step feeds eight independent
// running sums (four assets of panel p times two vectors), which keep the adder busy.
template <class V>
inline constexpr std::size_t kGroup = lanes::size_v<V> >= 4 ? lanes::size_v<V> / 2 : 1;

// The next narrower lane type, for the panels left over after the last whole group.
template <class V>
using Narrower = lanes::F64<(lanes::size_v<V> >= 4 ? lanes::size_v<V> / 2 : 2)>;

// Lanes g w .. g w + w - 1 of time step t's values in the panels from `first` on, read as
// one row of 4 Q values (panel k's four at 4 k).
template <class V>
QUELM_ALWAYS_INLINE V group_lanes(const double* first, std::size_t stride, std::size_t g) {
    constexpr std::size_t w = static_cast<std::size_t>(lanes::size_v<V>);
    if constexpr (w <= kBlock) {
        const std::size_t lane = g * w;
        return lanes::load<V>(first + lane / kBlock * stride + lane % kBlock);
    } else {
        static_assert(w == 2 * kBlock);
        using H = lanes::F64<kBlock>;
        return lanes::concat(lanes::load<H>(first + 2 * g * stride), lanes::load<H>(first + (2 * g + 1) * stride));
    }
}

// The 4 x 4Q sums of panel p against panels q .. q + Q - 1, one lane per entry: entry (a, b)
// is the fixed sum over t of x_a[t] * y_b[t], as in the pairwise formula: one running total
// per residue of t mod 8 (its rows in order from -0.0), the eight combined in the fixed tree.
template <class V, std::size_t Q>
QUELM_ALWAYS_INLINE void block_sums(const RowJob& job, std::size_t q, double out[kBlock][kBlock * Q]) {
    constexpr std::size_t w = static_cast<std::size_t>(lanes::size_v<V>);
    constexpr std::size_t per_row = kBlock * Q / w;
    static_assert(per_row * w == kBlock * Q);
    const std::size_t stride = job.t_len * kBlock;
    const double* pi = job.panels + job.p * stride;
    const double* pj = job.panels + q * stride;
    V part[kSumPartials][kBlock][per_row];
    std::size_t row = 0;
    for (std::size_t k = 0; k < kSumPartials; ++k) {
        V acc[kBlock][per_row];
        for (std::size_t a = 0; a < kBlock; ++a)
            for (std::size_t g = 0; g < per_row; ++g) acc[a][g] = lanes::splat<V>(-0.0);
        const std::size_t rows = k < job.t_len ? (job.t_len - k + kSumPartials - 1) / kSumPartials : 0;
        for (const std::size_t end = row + rows; row < end; ++row) {
            const double* xi = pi + row * kBlock;
            V vals[per_row];
            for (std::size_t g = 0; g < per_row; ++g) vals[g] = group_lanes<V>(pj + row * kBlock, stride, g);
            // The double operand is broadcast where the product is formed, one broadcast load
            // per value: a splat made by a helper reaches the kernel as lane inserts, which
            // the compiler turns into one load of all four values and shuffles (half the speed).
            for (std::size_t a = 0; a < kBlock; ++a)
                for (std::size_t g = 0; g < per_row; ++g) acc[a][g] = acc[a][g] + xi[a] * vals[g];
        }
        for (std::size_t a = 0; a < kBlock; ++a)
            for (std::size_t g = 0; g < per_row; ++g) part[k][a][g] = acc[a][g];
    }
    for (std::size_t a = 0; a < kBlock; ++a)
        for (std::size_t g = 0; g < per_row; ++g) {
            const auto& c = part;
            const V total = ((c[0][a][g] + c[1][a][g]) + (c[2][a][g] + c[3][a][g])) +
                            ((c[4][a][g] + c[5][a][g]) + (c[6][a][g] + c[7][a][g]));
            lanes::store(&out[a][g * w], total);
        }
}

// Stores the upper-triangle entries of block (p, q) and their mirrors; sums[a * stride + b]
// is entry (a, b) of the block.
QUELM_ALWAYS_INLINE void store_block(Matrix& cov, std::size_t p, std::size_t q, const double* sums,
                                     std::size_t stride, double n) {
    const std::size_t n_assets = cov.size();
    for (std::size_t a = 0; a < kBlock; ++a) {
        const std::size_t i = p * kBlock + a;
        if (i >= n_assets) break;
        for (std::size_t b = 0; b < kBlock; ++b) {
            const std::size_t j = q * kBlock + b;
            if (j >= n_assets) break;
            if (j < i) continue;  // lower half of a diagonal block: set as the mirror
            const double c = sums[a * stride + b] / n;
            cov[i][j] = c;
            cov[j][i] = c;
        }
    }
}

// The blocks of the row from panel q on: whole groups at lane type V, then what is left at
// the narrower types (AVX2: pairs of panels, a last one at two lanes).
template <class V>
QUELM_ALWAYS_INLINE void blocks_from(const RowJob& job, std::size_t q) {
    constexpr std::size_t group = kGroup<V>;
    double sums[kBlock][kBlock * group];
    for (; q + group <= job.n_panels; q += group) {
        block_sums<V, group>(job, q, sums);
        for (std::size_t k = 0; k < group; ++k)
            store_block(*job.cov, job.p, q + k, &sums[0][k * kBlock], kBlock * group, job.n);
    }
    if constexpr (group > 1) blocks_from<Narrower<V>>(job, q);
}

template <class V>
void row_lanes(const RowJob& job) {
    blocks_from<V>(job, job.p);
}

// Four lanes on AVX-512 too: eight join two panels' halves at every load, and where 512-bit
// operations run as two 256-bit halves (AMD Zen 4, the benchmark machine) they are a third
// slower for no more throughput. The bits are the same at every width.
QUELM_SIMD_KERNEL_OF(row_at_width, row_lanes, lanes::f64x4, lanes::f64x4, lanes::f64x2)

}  // namespace

Result<std::size_t> check_matrix(Series series) {
    if (series.empty()) return invalid("risk: no asset return series");
    const std::size_t t_len = series.front().size();
    if (t_len == 0) return invalid("risk: empty return series");
    for (const auto& s : series)
        if (s.size() != t_len) return invalid("risk: asset return series must be equal length");
    return t_len;
}

Result<Matrix> covariance_matrix(Series series, Cancel& cancel) {
    QUELM_TRY(t_len, check_matrix(series));
    const std::size_t n_assets = series.size();
    const double n = static_cast<double>(t_len);
    // The n x n result (a vector per row) and the centred copy of the series.
    const double assets = static_cast<double>(n_assets);
    QUELM_TRY(memory, claim_memory(doubles_bytes(assets * assets + (assets + kBlock) * n) +
                                       assets * sizeof(std::vector<double>),
                                   "the covariance matrix"));
    // Centring once per asset yields the same differences the pairwise formula forms.
    const std::unique_ptr<double[]> panels = centred_panels(series, t_len);
    Matrix cov(n_assets, std::vector<double>(n_assets, 0.0));
    const std::size_t n_panels = (n_assets + kBlock - 1) / kBlock;
    // Work item j is row j of blocks and row n_panels - 1 - j, so every item sweeps the same
    // number of blocks and the threads finish together. Each entry is written by one row
    // only, from its own sums: the bits do not depend on the thread count.
    const std::size_t items = (n_panels + 1) / 2;
    const bool done = parallel_for(
        items,
        [&](std::size_t begin, std::size_t end) {
            for (std::size_t j = begin; j < end; ++j) {
                if (chunk_stopped((n_panels + 1) * (t_len + 1))) return;
                row_at_width(RowJob{panels.get(), n_panels, t_len, j, n, &cov});
                if (n_panels - 1 - j != j) row_at_width(RowJob{panels.get(), n_panels, t_len, n_panels - 1 - j, n, &cov});
            }
        },
        cancel);
    if (!done) return cancelled();
    return cov;
}

Result<std::vector<double>> portfolio_returns(Series series, std::span<const double> weights) {
    QUELM_TRY(t_len, check_matrix(series));
    if (weights.size() != series.size())
        return invalid("portfolio_returns: weights must match the number of assets");
    std::vector<double> r(t_len, 0.0);
    for (std::size_t i = 0; i < series.size(); ++i) {
        const std::span<const double> x = series[i];
        const double w = weights[i];
        for (std::size_t t = 0; t < t_len; ++t) r[t] = r[t] + x[t] * w;
    }
    return r;
}

Result<double> portfolio_variance(Series cov, std::span<const double> weights) {
    const std::size_t n = cov.size();
    bool square = n != 0 && n == weights.size();
    for (std::size_t i = 0; square && i < n; ++i) square = cov[i].size() == n;
    if (!square) return invalid("portfolio risk: covariance must be square and match weights");
    double s = 0.0;
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) s = s + (cov[i][j] * weights[i]) * weights[j];
    // Only a negative rounding residue is floored: NaN input must not read as zero risk.
    return s < 0.0 ? 0.0 : s;
}

}  // namespace quelm::portfolio
