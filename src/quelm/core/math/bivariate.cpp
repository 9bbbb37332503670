#include "quelm/core/math/bivariate.hpp"

#include <array>
#include <cmath>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/erf.hpp"
#include "quelm/core/math/gauss_legendre.hpp"
#include "quelm/core/math/lanes.hpp"
#include "quelm/core/simd.hpp"

namespace quelm {

namespace {

constexpr std::size_t kNodes = 20;
constexpr double kPi = 3.14159265358979323846;

struct Nodes {
    double rho = std::nan("");
    double half = 0.0;
    std::array<double, kNodes> sn{}, inv2c2{};
};

// theta = asin(rho) (1 + x_i) / 2 at each node: sin theta and 1 / (2 cos^2 theta) (the
// integrand multiplies by it: a division per node and value would cost more than the
// exponential's polynomial).
Nodes nodes_for(const GaussLegendreRule& g, double rho) {
    Nodes n;
    n.rho = rho;
    n.half = quelm::atan2(rho, std::sqrt((1.0 - rho) * (1.0 + rho))) / 2.0;
    for (std::size_t i = 0; i < kNodes; ++i) {
        n.sn[i] = quelm::sin(n.half * (g.nodes[i] + 1.0));
        n.inv2c2[i] = 1.0 / (2.0 * ((1.0 - n.sn[i]) * (1.0 + n.sn[i])));
    }
    return n;
}

// The nodes depend on rho alone, and callers (Bjerksund-Stensland) ask for few values of
// it, by turns rho and -rho: the last two sets of sines are kept per thread (the same
// numbers either way).
const Nodes& nodes(const GaussLegendreRule& g, double rho) {
    thread_local Nodes kept[2]{};
    thread_local unsigned last = 0;  // the slot returned last: a new set goes in the other
    if (kept[last].rho == rho) return kept[last];
    last ^= 1u;
    if (!(kept[last].rho == rho)) kept[last] = nodes_for(g, rho);
    return kept[last];
}

const GaussLegendreRule& rule() {
    static const GaussLegendreRule g = gauss_legendre_rule(kNodes);
    return g;
}

// Where the integral is not needed: a NaN, or an infinite bound.
bool special(double a, double b, double rho, double& out) {
    if (std::isnan(a) || std::isnan(b) || std::isnan(rho)) {
        out = std::nan("");
        return true;
    }
    if (std::isinf(a) || std::isinf(b)) {
        if (a == -INFINITY || b == -INFINITY) out = 0.0;
        else if (a == INFINITY) out = normal_cdf_accurate(b);
        else out = normal_cdf_accurate(a);
        return true;
    }
    return false;
}

}  // namespace

double bivariate_normal_cdf(double a, double b, double rho) {
    double done = 0.0;
    if (special(a, b, rho, done)) return done;
    const GaussLegendreRule& g = rule();
    // M = Phi(a) Phi(b) + (1/2pi) int_0^asin(rho) exp(-(a^2 + b^2 - 2ab sin t) / (2 cos^2 t)) dt
    const Nodes& cached = nodes(g, rho);
    const double half = cached.half;
    const double sum_squares = a * a + b * b;
    double integral = 0.0;
    for (std::size_t i = 0; i < kNodes; ++i) {
        const double sn = cached.sn[i];
        integral += g.weights[i] * quelm::exp((2.0 * a * b * sn - sum_squares) * cached.inv2c2[i]);
    }
    return normal_cdf_accurate(a) * normal_cdf_accurate(b) + integral * half / (2.0 * kPi);
}

namespace {

// The four integrals, lane j over its own nodes: the scalar call's operations per lane.
template <class V>
void integrals4(const double* a, const double* b, const Nodes* const* n, const double* weights, double* sums) {
    const V va = lanes::load<V>(a), vb = lanes::load<V>(b);
    const V sum_squares = va * va + vb * vb;
    V integral = lanes::splat<V>(0.0);
    for (std::size_t i = 0; i < kNodes; ++i) {
        V sn, inv2c2;
        for (int j = 0; j < 4; ++j) {
            sn[j] = n[j]->sn[i];
            inv2c2[j] = n[j]->inv2c2[i];
        }
        integral = integral + weights[i] * exp_lanes<V>((2.0 * va * vb * sn - sum_squares) * inv2c2);
    }
    lanes::store(sums, integral);
}

QUELM_TARGET_AVX2 void integrals4_avx2(const double* a, const double* b, const Nodes* const* n, const double* w,
                                       double* sums) {
    integrals4<lanes::f64x4>(a, b, n, w, sums);
}
QUELM_TARGET_BASE void integrals4_base(const double* a, const double* b, const Nodes* const* n, const double* w,
                                       double* sums) {
    integrals4<lanes::f64x4>(a, b, n, w, sums);
}

}  // namespace

void bivariate_normal_cdf4(const double (&a)[4], const double (&b)[4], const double (&rho)[4], double (&out)[4]) {
    // Lanes need every value plain and at most two correlations (the sets of nodes kept at a
    // time); otherwise, or with SIMD off, one value at a time: the same bits.
    bool plain = simd_level() != SimdLevel::Scalar;
    for (int j = 0; j < 4 && plain; ++j) {
        double done = 0.0;
        plain = !special(a[j], b[j], rho[j], done) && (rho[j] == rho[0] || rho[j] == rho[2]);
    }
    if (!plain) {
        for (int j = 0; j < 4; ++j) out[j] = bivariate_normal_cdf(a[j], b[j], rho[j]);
        return;
    }
    const GaussLegendreRule& g = rule();
    // The second lookup never replaces the set the first returned.
    const Nodes* first = &nodes(g, rho[0]);
    const Nodes* second = rho[2] == rho[0] ? first : &nodes(g, rho[2]);
    const Nodes* n[4];
    for (int j = 0; j < 4; ++j) n[j] = rho[j] == rho[0] ? first : second;
    double sums[4];
    if (simd_level() >= SimdLevel::Avx2 && QUELM_SIMD_X86) integrals4_avx2(a, b, n, g.weights.data(), sums);
    else integrals4_base(a, b, n, g.weights.data(), sums);
    for (int j = 0; j < 4; ++j)
        out[j] = normal_cdf_accurate(a[j]) * normal_cdf_accurate(b[j]) + sums[j] * n[j]->half / (2.0 * kPi);
}

}  // namespace quelm
