#include "quelm/portfolio/risk.hpp"

#include "quelm/core/sizes.hpp"

namespace quelm::portfolio {

namespace {

// Two doubles per register: plain SSE2 on x86-64, so no host-specific build flags.
// Lane-wise multiply and add round exactly like the scalar operations.
typedef double v2 __attribute__((vector_size(16)));

constexpr std::size_t kBlock = 4;

// Centred series packed in panels of four assets, value (t, a) of panel p at
// panel[p][4 t + a]: a block of the matrix then streams through two panels.
std::vector<double> centred_panels(Series series, std::size_t t_len) {
    const std::size_t n_assets = series.size();
    const std::size_t panels = (n_assets + kBlock - 1) / kBlock;
    std::vector<double> out(checked_mul(checked_mul(panels, t_len), kBlock), 0.0);
    const double n = static_cast<double>(t_len);
    for (std::size_t i = 0; i < n_assets; ++i) {
        const std::span<const double> x = series[i];
        double sum = -0.0;
        for (const double v : x) sum += v;
        const double mean = sum / n;
        double* base = out.data() + (i / kBlock) * t_len * kBlock + i % kBlock;
        for (std::size_t t = 0; t < t_len; ++t) base[t * kBlock] = x[t] - mean;
    }
    return out;
}

// The 4 x 4 block of sums for panels pi and pj; each of the 16 sums runs over t in order.
void block_sums(const double* pi, const double* pj, std::size_t t_len, double out[kBlock][kBlock]) {
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

}  // namespace

Result<std::size_t> check_matrix(Series series) {
    if (series.empty()) return invalid("risk: no asset return series");
    const std::size_t t_len = series.front().size();
    if (t_len == 0) return invalid("risk: empty return series");
    for (const auto& s : series)
        if (s.size() != t_len) return invalid("risk: asset return series must be equal length");
    return t_len;
}

Result<Matrix> covariance_matrix(Series series) {
    QUELM_TRY(t_len, check_matrix(series));
    const std::size_t n_assets = series.size();
    const double n = static_cast<double>(t_len);
    // Centring once per asset yields the same differences the pairwise formula forms.
    const std::vector<double> panels = centred_panels(series, t_len);
    Matrix cov(n_assets, std::vector<double>(n_assets, 0.0));
    const std::size_t n_panels = (n_assets + kBlock - 1) / kBlock;
    const std::size_t stride = t_len * kBlock;
    double sums[kBlock][kBlock];
    for (std::size_t p = 0; p < n_panels; ++p) {
        for (std::size_t q = p; q < n_panels; ++q) {
            block_sums(panels.data() + p * stride, panels.data() + q * stride, t_len, sums);
            for (std::size_t a = 0; a < kBlock; ++a) {
                const std::size_t i = p * kBlock + a;
                if (i >= n_assets) break;
                for (std::size_t b = 0; b < kBlock; ++b) {
                    const std::size_t j = q * kBlock + b;
                    if (j >= n_assets) break;
                    if (j < i) continue;  // lower half of a diagonal block: mirrored below
                    const double c = sums[a][b] / n;
                    cov[i][j] = c;
                    cov[j][i] = c;
                }
            }
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
