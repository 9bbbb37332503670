#include "quelm/portfolio/risk.hpp"

#include <algorithm>

#include "quelm/core/memory.hpp"
#include "quelm/core/portable.hpp"
#include "quelm/core/sizes.hpp"

namespace quelm::portfolio {

namespace {

// Two doubles per register: plain SSE2 on x86-64, so no host-specific build flags.
// Lane-wise multiply and add round exactly like the scalar operations.
#if QUELM_GNU_EXTENSIONS
typedef double v2 __attribute__((vector_size(16)));
#else
// The same lane-wise arithmetic, spelled out for compilers without vector extensions.
struct v2 {
    double lane[2];
    double operator[](std::size_t i) const { return lane[i]; }
    friend v2 operator*(v2 a, v2 b) { return {{a.lane[0] * b.lane[0], a.lane[1] * b.lane[1]}}; }
    v2& operator+=(v2 b) {
        lane[0] = lane[0] + b.lane[0];
        lane[1] = lane[1] + b.lane[1];
        return *this;
    }
};
#endif

constexpr std::size_t kBlock = 4;

// Centred series packed in panels of four assets, value (t, a) of panel p at
// panel[p][4 t + a]: a block of the matrix then streams through two panels.
// The four means of a panel are summed side by side (four independent running totals,
// each in index order), so the adder is not idle waiting on one chain.
std::vector<double> centred_panels(Series series, std::size_t t_len) {
    const std::size_t n_assets = series.size();
    const std::size_t panels = (n_assets + kBlock - 1) / kBlock;
    std::vector<double> out(checked_mul(checked_mul(panels, t_len), kBlock), 0.0);
    const double n = static_cast<double>(t_len);
    for (std::size_t p = 0; p < panels; ++p) {
        const std::size_t first = p * kBlock;
        const std::size_t count = std::min(kBlock, n_assets - first);
        double* base = out.data() + p * t_len * kBlock;
        if (count == kBlock) {
            const double* x0 = series[first].data();
            const double* x1 = series[first + 1].data();
            const double* x2 = series[first + 2].data();
            const double* x3 = series[first + 3].data();
            double s0 = -0.0, s1 = -0.0, s2 = -0.0, s3 = -0.0;
            for (std::size_t t = 0; t < t_len; ++t) {
                s0 += x0[t];
                s1 += x1[t];
                s2 += x2[t];
                s3 += x3[t];
            }
            const double m0 = s0 / n, m1 = s1 / n, m2 = s2 / n, m3 = s3 / n;
            for (std::size_t t = 0; t < t_len; ++t) {
                double* row = base + t * kBlock;
                row[0] = x0[t] - m0;
                row[1] = x1[t] - m1;
                row[2] = x2[t] - m2;
                row[3] = x3[t] - m3;
            }
            continue;
        }
        for (std::size_t a = 0; a < count; ++a) {
            const std::span<const double> x = series[first + a];
            double sum = -0.0;
            for (const double v : x) sum += v;
            const double mean = sum / n;
            for (std::size_t t = 0; t < t_len; ++t) base[t * kBlock + a] = x[t] - mean;
        }
    }
    return out;
}

// The 4 x 4 block of sums for panels pi and pj; each of the 16 sums runs over t in order.
void block_sums_sse2(const double* pi, const double* pj, std::size_t t_len, double out[kBlock][kBlock]) {
    const v2 z = {-0.0, -0.0};
    v2 a00 = z, a01 = z, a10 = z, a11 = z, a20 = z, a21 = z, a30 = z, a31 = z;
    for (std::size_t t = 0; t < t_len; ++t) {
        const double* xi = pi + t * kBlock;
        const double* xj = pj + t * kBlock;
        const v2 j0 = {xj[0], xj[1]};
        const v2 j1 = {xj[2], xj[3]};
        const v2 b0 = {xi[0], xi[0]};
        const v2 b1 = {xi[1], xi[1]};
        const v2 b2 = {xi[2], xi[2]};
        const v2 b3 = {xi[3], xi[3]};
        a00 += b0 * j0;
        a01 += b0 * j1;
        a10 += b1 * j0;
        a11 += b1 * j1;
        a20 += b2 * j0;
        a21 += b2 * j1;
        a30 += b3 * j0;
        a31 += b3 * j1;
    }
    const v2 acc[kBlock][2] = {{a00, a01}, {a10, a11}, {a20, a21}, {a30, a31}};
    for (std::size_t a = 0; a < kBlock; ++a) {
        out[a][0] = acc[a][0][0];
        out[a][1] = acc[a][0][1];
        out[a][2] = acc[a][1][0];
        out[a][3] = acc[a][1][1];
    }
}

#if QUELM_GNU_EXTENSIONS && (defined(__x86_64__) || defined(__i386__))
// The same sums four lanes wide where the processor has AVX2, for panel pi against the two
// panels pj and pk at once (eight independent running sums keep the adder busy). Only
// separate multiplies and adds are issued (no FMA), so every entry rounds exactly as in
// the SSE2 kernel.
typedef double v4 __attribute__((vector_size(32)));

__attribute__((target("avx2"))) void block_pair_avx2(const double* pi, const double* pj, const double* pk,
                                                     std::size_t t_len, double out_j[kBlock][kBlock],
                                                     double out_k[kBlock][kBlock]) {
    const v4 z = {-0.0, -0.0, -0.0, -0.0};
    v4 j0 = z, j1 = z, j2 = z, j3 = z, k0 = z, k1 = z, k2 = z, k3 = z;
    for (std::size_t t = 0; t < t_len; ++t) {
        const double* xi = pi + t * kBlock;
        v4 xj, xk;
        __builtin_memcpy(&xj, pj + t * kBlock, sizeof xj);
        __builtin_memcpy(&xk, pk + t * kBlock, sizeof xk);
        const v4 b0 = {xi[0], xi[0], xi[0], xi[0]};
        const v4 b1 = {xi[1], xi[1], xi[1], xi[1]};
        const v4 b2 = {xi[2], xi[2], xi[2], xi[2]};
        const v4 b3 = {xi[3], xi[3], xi[3], xi[3]};
        j0 += b0 * xj;
        j1 += b1 * xj;
        j2 += b2 * xj;
        j3 += b3 * xj;
        k0 += b0 * xk;
        k1 += b1 * xk;
        k2 += b2 * xk;
        k3 += b3 * xk;
    }
    const v4 acc_j[kBlock] = {j0, j1, j2, j3};
    const v4 acc_k[kBlock] = {k0, k1, k2, k3};
    for (std::size_t a = 0; a < kBlock; ++a)
        for (std::size_t b = 0; b < kBlock; ++b) {
            out_j[a][b] = acc_j[a][b];
            out_k[a][b] = acc_k[a][b];
        }
}

bool has_avx2() {
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}
#else
void block_pair_avx2(const double*, const double*, const double*, std::size_t, double[kBlock][kBlock],
                     double[kBlock][kBlock]) {}
bool has_avx2() { return false; }
#endif

// Stores the upper-triangle entries of block (p, q) and their mirrors.
void store_block(Matrix& cov, std::size_t p, std::size_t q, const double sums[kBlock][kBlock], double n) {
    const std::size_t n_assets = cov.size();
    for (std::size_t a = 0; a < kBlock; ++a) {
        const std::size_t i = p * kBlock + a;
        if (i >= n_assets) break;
        for (std::size_t b = 0; b < kBlock; ++b) {
            const std::size_t j = q * kBlock + b;
            if (j >= n_assets) break;
            if (j < i) continue;  // lower half of a diagonal block: set as the mirror
            const double c = sums[a][b] / n;
            cov[i][j] = c;
            cov[j][i] = c;
        }
    }
}

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
    const std::vector<double> panels = centred_panels(series, t_len);
    Matrix cov(n_assets, std::vector<double>(n_assets, 0.0));
    const std::size_t n_panels = (n_assets + kBlock - 1) / kBlock;
    const std::size_t stride = t_len * kBlock;
    double sums[kBlock][kBlock];
    double sums2[kBlock][kBlock];
    const bool wide = has_avx2();
    CancelPoller poller(cancel);
    for (std::size_t p = 0; p < n_panels; ++p) {
        if (poller.tick((n_panels - p) * (t_len + 1))) return cancelled();
        const double* pp = panels.data() + p * stride;
        std::size_t q = p;
        if (wide) {
            for (; q + 1 < n_panels; q += 2) {
                block_pair_avx2(pp, panels.data() + q * stride, panels.data() + (q + 1) * stride, t_len, sums,
                                sums2);
                store_block(cov, p, q, sums, n);
                store_block(cov, p, q + 1, sums2, n);
            }
        }
        for (; q < n_panels; ++q) {
            block_sums_sse2(pp, panels.data() + q * stride, t_len, sums);
            store_block(cov, p, q, sums, n);
        }
    }
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
