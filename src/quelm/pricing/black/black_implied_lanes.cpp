// implied_otm_call_volatilities: Jaeckel's solve (black_implied.cpp) for a lane of quotes at
// once. Every lane does the scalar solve's operations: the two prices that place the quote
// in its region, the first guesses (the rational cubics, and below the lower region's map
// through Phi and Phi^-1, its power taken lane by lane), and the Householder steps on the
// region's objective run in lanes (the regions as masks); the upper region's first guess,
// rare in practice, is the scalar function, called per lane.
#include <cmath>
#include <limits>

#include "quelm/pricing/black/black_implied.hpp"
#include "quelm/pricing/black/black_lanes.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/erf.hpp"
#include "quelm/core/math/lanes.hpp"
#include "quelm/core/math/pow_lanes.hpp"
#include "quelm/core/math/rational_cubic.hpp"
#include "quelm/core/simd.hpp"

namespace quelm {

namespace {

// As black_implied.cpp.
constexpr double kEps = 2.220446049250313e-16;
constexpr double kTiny = 2.2250738585072014e-308;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kMaxSteps = 2;
constexpr double kConverged = 1e-6;

template <class V>
using Mask = lanes::mask_t<V>;

template <class V>
V householder_factor(V newton, V halley, V hh3) {
    return (1.0 + 0.5 * halley * newton) / (1.0 + newton * (halley + hh3 * newton / 6.0));
}

// rational_cubic, and below its r_for_left and _for_right (without the shape preference).
template <class V>
V cubic(V x, V x_l, V x_r, V y_l, V y_r, V d_l, V d_r, V r) {
    const V h = x_r - x_l;
    const V t = (x - x_l) / h;
    const V u = 1.0 - t;
    const V t2 = t * t;
    const V u2 = u * u;
    const V curve = (y_r * t2 * t + (r * y_r - h * d_r) * t2 * u + (r * y_l + h * d_l) * t * u2 + y_l * u2 * u) /
                    (1.0 + (r - 3.0) * t * u);
    const V line = y_r * t + y_l * u;
    const V flat = (y_l + y_r) / 2.0;
    return lanes::select(lanes::mask_not(lanes::abs(h) > 0.0), flat, lanes::select(r >= kRationalCubicMaxR, line, curve));
}
template <class V>
V r_from(V numerator, V denominator) {
    const V zero = lanes::splat<V>(0.0);
    const V bound = lanes::select(numerator > 0.0, lanes::splat<V>(kRationalCubicMaxR), lanes::splat<V>(kRationalCubicMinR));
    return lanes::select(numerator == 0.0, zero, lanes::select(denominator == 0.0, bound, numerator / denominator));
}
// rational_cubic_r_for_right where `right` holds, _for_left elsewhere (their numerators agree).
template <class V>
V r_for_either(Mask<V> right, V x_l, V x_r, V y_l, V y_r, V d_l, V d_r, double second) {
    const V h = x_r - x_l;
    const V slope = (y_r - y_l) / h;
    return r_from(0.5 * h * second + (d_r - d_l), lanes::select(right, d_r - slope, slope - d_l));
}
// The middle regions' first guess at beta: the cubic through (b_1, s_1), (b_c, s_c) below
// b_c, through (b_c, s_c), (b_1, s_1) above it, with slopes 1/vega.
template <class V>
V middle_cubic(V beta, Mask<V> below, V b_c, V s_c, V v_c, V b_1, V s_1, V v_1) {
    const V x_l = lanes::select(below, b_1, b_c);
    const V x_r = lanes::select(below, b_c, b_1);
    const V y_l = lanes::select(below, s_1, s_c);
    const V y_r = lanes::select(below, s_c, s_1);
    const V d_l = lanes::select(below, 1.0 / v_1, 1.0 / v_c);
    const V d_r = lanes::select(below, 1.0 / v_c, 1.0 / v_1);
    const V r = r_for_either(below, x_l, x_r, y_l, y_r, d_l, d_r, 0.0);
    return cubic(beta, x_l, x_r, y_l, y_r, d_l, d_r, r);
}
// std::max(a, b) and std::min(a, b), NaN and all.
template <class V>
V max_of(V a, V b) {
    return lanes::select(a < b, b, a);
}
template <class V>
V min_of(V a, V b) {
    return lanes::select(b < a, b, a);
}

// A mask as doubles (1 where it holds), for the lanes read one by one.
template <class V>
void store_mask(double* out, Mask<V> m) {
    lanes::store(out, lanes::select(m, lanes::splat<V>(1.0), lanes::splat<V>(0.0)));
}

// Phi(z) with relative accuracy in the lower tail (normal_cdf_accurate).
template <class V>
V cdf_accurate(V z) {
    constexpr double kOneOverSqrt2 = 0.70710678118654752440;
    const V y = -z * kOneOverSqrt2;
    const Mask<V> far = z < -0.6629126073623883;
    V a{}, b{};
    if (lanes::any(far)) a = 0.5 * black_lanes::erfc_positive(y, far);
    if (!lanes::all(far)) b = 0.5 * black_lanes::erfc_lanes(y, lanes::mask_not(far));
    return lanes::select(far, a, b);
}

// normal_quantile_fast for 0 < p < 1 (a lane outside takes the scalar function).
template <class V>
V quantile(V p) {
    using namespace acklam;
    const Mask<V> inside = lanes::mask_and(p > 0.0, p < 1.0);
    const V pp = lanes::select(inside, p, lanes::splat<V>(0.5));
    const Mask<V> tail = lanes::mask_or(pp < kLow, pp > 1.0 - kLow);
    V xt{}, xc{};
    if (lanes::any(tail)) {
        const V tl = lanes::select(pp < kLow, pp, 1.0 - pp);
        const V q = lanes::sqrt(-2.0 * log_lanes(tl));
        xt = (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
             ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1.0);
        xt = lanes::select(pp > kLow, -xt, xt);
    }
    if (!lanes::all(tail)) {
        const V q = pp - 0.5;
        const V r = q * q;
        xc = (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
             (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1.0);
    }
    const V x = lanes::select(tail, xt, xc);
    const Mask<V> negative = x <= 0.0;
    const V phi = cdf_accurate(lanes::select(negative, x, -x));
    const V e = lanes::select(negative, phi - pp, (1.0 - pp) - phi);
    const V u = e * 2.5066282746310002 * exp_lanes(x * x / 2.0);
    const V refined = x - u / (1.0 + x * u / 2.0);
    V out = lanes::select(lanes::abs(refined) < kInf, refined, x);
    if (!lanes::all(inside)) {
        constexpr int w = lanes::size_v<V>;
        double ps[w], os[w], ins[w];
        lanes::store(ps, p);
        lanes::store(os, out);
        store_mask<V>(ins, inside);
        for (int k = 0; k < w; ++k)
            if (ins[k] == 0.0) os[k] = normal_quantile_fast(ps[k]);
        out = lanes::load<V>(os);
    }
    return out;
}

// rational_cubic_min_r with the shape preferred.
template <class V>
V min_r(V d_l, V d_r, V slope) {
    const V lowest = lanes::splat<V>(-1e308);
    const V most = lanes::splat<V>(kRationalCubicMaxR);
    const Mask<V> monotonic = lanes::mask_and(d_l * slope >= 0.0, d_r * slope >= 0.0);
    const Mask<V> convex = lanes::mask_and(d_l <= slope, slope <= d_r);
    const Mask<V> concave = lanes::mask_and(d_l >= slope, slope >= d_r);
    const Mask<V> shaped = lanes::mask_or(convex, concave);
    const V r1 = lanes::select(monotonic, lanes::select(slope != 0.0, (d_r + d_l) / slope, most), lowest);
    const V right = d_r - slope;
    const V left = slope - d_l;
    const V r2_shaped = lanes::select(lanes::mask_and(right != 0.0, left != 0.0),
                                      max_of(lanes::abs((d_r - d_l) / right), lanes::abs((d_r - d_l) / left)), most);
    const V r2 = lanes::select(shaped, r2_shaped, lanes::select(monotonic, most, lowest));
    const V r = max_of(lanes::splat<V>(kRationalCubicMinR), max_of(r1, r2));
    return lanes::select(lanes::mask_or(monotonic, shaped), r, lanes::splat<V>(kRationalCubicMinR));
}

// implied_lower_guess: the lower map at s_l, its rational cubic in beta, and the map's inverse.
template <class V>
V lower_guess(V beta, V x, V s, V b_l, Mask<V> lower) {
    constexpr double kTwoPi = 6.283185307179586;
    constexpr double kSqrtThree = 1.7320508075688772;
    constexpr double kTwoPiOverSqrt27 = 1.2091995761561452;
    constexpr double kSqrtThreeOverCbrtTwoPi = 0.9379427491379235;
    const V ax = lanes::abs(x);
    const V z = ax / (kSqrtThree * s);
    const V y = z * z;
    const V s2 = s * s;
    const V phi_minus = cdf_accurate(-z);
    const V density = 0.3989422804014327 * exp_lanes(-y / 2.0);
    const V grow = exp_lanes(y + 0.125 * s2);
    const V fpp =
        kTwoPi * y / s * phi_minus * (grow * grow) * (2.0 * z + (0.25 * s2 - 2.0 - 2.0 * y) * phi_minus / density);
    const Mask<V> tiny = s < kTiny;
    const V phi2 = phi_minus * phi_minus;
    const V fp = lanes::select(tiny, lanes::splat<V>(1.0), kTwoPi * y * phi2 * grow);
    const V f_l = lanes::select(tiny, lanes::splat<V>(0.0), kTwoPiOverSqrt27 * ax * phi2 * phi_minus);
    // rational_cubic_r_for_right(0, b_l, 0, f_l, 1, fp, fpp, true)
    const V zero = lanes::splat<V>(0.0);
    const V one = lanes::splat<V>(1.0);
    const V h = b_l - 0.0;
    const V numerator = 0.5 * h * fpp + (fp - 1.0);
    const V denominator = fp - (f_l - 0.0) / h;
    const V r_plain = r_from(numerator, denominator);
    const Mask<V> shaped = lanes::mask_and(numerator != 0.0, denominator != 0.0);
    const V r = lanes::select(shaped, max_of(r_plain, min_r(one, fp, (f_l - 0.0) / h)), r_plain);
    V f = cubic(beta, zero, b_l, zero, f_l, one, fp, r);
    const V t = beta / b_l;
    f = lanes::select(f > 0.0, f, (f_l * t + b_l * (1.0 - t)) * t);
    // inverse_lower_map(x, f): the power in lanes on pow's main path, lane by lane off it.
    const V ratio = f / lanes::abs(x);
    const Mask<V> main = lanes::mask_and(lower, pow_base_on_main_path(ratio));
    V root = lanes::select(main, pow_lanes(ratio, lanes::splat<V>(1.0 / 3.0)), lanes::splat<V>(0.5));
    if (!lanes::all(lanes::mask_or(main, lanes::mask_not(lower)))) {
        constexpr int w = lanes::size_v<V>;
        double rs[w], roots[w], use[w];
        lanes::store(rs, ratio);
        lanes::store(roots, root);
        store_mask<V>(use, lanes::mask_and(lower, lanes::mask_not(main)));
        for (int k = 0; k < w; ++k)
            if (use[k] != 0.0) roots[k] = quelm::pow(rs[k], 1.0 / 3.0);
        root = lanes::load<V>(roots);
    }
    const V inverse = lanes::abs(x / (kSqrtThree * quantile(kSqrtThreeOverCbrtTwoPi * root)));
    return lanes::select(f > 0.0, inverse, zero);
}

// The Householder steps of black_implied.cpp's refine, lane by lane; lower and upper say
// which objective a lane solves (neither: the middle one).
template <class V>
V refine(V beta, V x, V half, V s, V s_left, V s_right, V b_max, Mask<V> lower, Mask<V> upper) {
    const bool any_outer = lanes::any(lanes::mask_or(lower, upper));
    const V ln_beta = lanes::any(lower) ? lanes::select(lower, log_lanes(beta), lanes::splat<V>(0.0)) : lanes::splat<V>(0.0);
    V ds = lanes::splat<V>(-kInf);
    Mask<V> active = s == s;
    active = lanes::mask_or(active, lanes::mask_not(active));  // every lane, NaN or not
    for (int i = 0; i < kMaxSteps; ++i) {
        active = lanes::mask_and(active, lanes::abs(ds) > kEps * s);
        if (!lanes::any(active)) break;
        const black_lanes::BlackAndVega<V> bv = black_lanes::black_otm_and_vega(x, s, half);
        const V b = bv.b;
        const V bp = bv.vega;
        const Mask<V> right = lanes::mask_and(b > beta, s < s_right);
        const Mask<V> left = lanes::mask_and(lanes::mask_not(right), lanes::mask_and(b < beta, s > s_left));
        s_right = lanes::select(lanes::mask_and(active, right), s, s_right);
        s_left = lanes::select(lanes::mask_and(active, left), s, s_left);
        // shape(x, s)
        const V hs = x / s;
        const V sh_halley = hs * hs / s - s / 4.0;
        const V sh_hh3 = sh_halley * sh_halley - 3.0 * (hs / s) * (hs / s) - 0.25;
        const V gap = b_max - b;
        // One logarithm per lane: ln b for the lower objective, ln((b_max - beta) / gap) for the upper.
        const V ln = any_outer ? log_lanes(lanes::select(lower, b, (b_max - beta) / gap)) : gap;
        V ds_lower{}, ds_upper{}, ds_middle{};
        if (lanes::any(lower)) {
            const Mask<V> bisect = lanes::mask_or(lanes::mask_not(b > 0.0), lanes::mask_not(bp > 0.0));
            const V ln_b = ln;
            const V p = bp / b;
            const V newton = (ln_beta - ln_b) * ln_b / ln_beta / p;
            const V halley = sh_halley - p * (1.0 + 2.0 / ln_b);
            const V hh3 = sh_hh3 + 2.0 * p * p * (1.0 + 3.0 / ln_b * (1.0 + 1.0 / ln_b)) -
                          3.0 * sh_halley * p * (1.0 + 2.0 / ln_b);
            ds_lower = lanes::select(bisect, 0.5 * (s_left + s_right) - s, newton * householder_factor(newton, halley, hh3));
        }
        if (lanes::any(upper)) {
            const Mask<V> bisect = lanes::mask_or(lanes::mask_not(b < b_max), lanes::mask_not(bp > kTiny));
            const V g = ln;
            const V gp = bp / gap;
            const V newton = -g / gp;
            const V halley = sh_halley + gp;
            const V hh3 = sh_hh3 + gp * (2.0 * gp + 3.0 * sh_halley);
            ds_upper = lanes::select(bisect, 0.5 * (s_left + min_of(s_right, 2.0 * s + 1.0)) - s,
                                     newton * householder_factor(newton, halley, hh3));
        }
        if (!lanes::all(lanes::mask_or(lower, upper))) {
            const Mask<V> bisect = lanes::mask_not(bp > 0.0);
            const V newton = (beta - b) / bp;
            ds_middle =
                lanes::select(bisect, 0.5 * (s_left + s_right) - s, newton * householder_factor(newton, sh_halley, sh_hh3));
        }
        V d = lanes::select(lower, ds_lower, lanes::select(upper, ds_upper, ds_middle));
        d = max_of(-0.5 * s, d);
        const V next = s + d;
        s = lanes::select(active, next, s);
        ds = lanes::select(active, d, ds);
        active = lanes::mask_and(active, lanes::mask_not(lanes::abs(d) <= kConverged * next));
    }
    return s;
}

// implied_otm_call for the lanes of (beta, x): 0 < beta < e^(x/2), x <= 0.
template <class V>
V solve(V beta, V x) {
    constexpr int w = lanes::size_v<V>;
    const V b_max = exp_lanes(0.5 * x);
    const V s_c = lanes::sqrt(lanes::abs(2.0 * x));
    const black_lanes::BlackAndVega<V> c = black_lanes::black_otm_and_vega(x, s_c, b_max);
    const V b_c = c.b;
    const V v_c = c.vega;
    const Mask<V> below = beta < b_c;
    const V s_l = s_c - b_c / v_c;
    const V s_u = lanes::select(v_c > kTiny, s_c + (b_max - b_c) / v_c, s_c);
    const V s_1 = lanes::select(below, s_l, s_u);
    const black_lanes::BlackAndVega<V> one = black_lanes::black_otm_and_vega(x, s_1, b_max);
    const V b_1 = one.b;
    const V v_1 = one.vega;
    const Mask<V> lower = lanes::mask_and(below, beta < b_1);
    const Mask<V> upper = lanes::mask_and(lanes::mask_not(below), lanes::mask_not(beta <= b_1));
    // The middle regions: the cubic through (b_l, s_l), (b_c, s_c) below b_c, through
    // (b_c, s_c), (b_u, s_u) above it.
    V s = middle_cubic(beta, below, b_c, s_c, v_c, b_1, s_1, v_1);
    V s_left = lanes::select(below, s_l, s_c);
    V s_right = lanes::select(below, s_c, s_u);
    if (lanes::any(lower)) s = lanes::select(lower, lower_guess(beta, x, s_1, b_1, lower), s);
    const Mask<V> outer = lanes::mask_or(lower, upper);
    if (lanes::any(outer)) {
        double bs[w], xs[w], s1s[w], b1s[w], bms[w], ls[w], us[w], ss[w];
        lanes::store(bs, beta);
        lanes::store(xs, x);
        lanes::store(s1s, s_1);
        lanes::store(b1s, b_1);
        lanes::store(bms, b_max);
        lanes::store(ss, s);
        store_mask<V>(ls, lower);
        store_mask<V>(us, upper);
        for (int k = 0; k < w; ++k) {
            if (us[k] != 0.0) ss[k] = implied_upper_guess(bs[k], xs[k], s1s[k], b1s[k], bms[k]);
        }
        s = lanes::load<V>(ss);
        s_left = lanes::select(lower, lanes::splat<V>(0.0), s_left);
        s_right = lanes::select(lower, s_l, s_right);
        s_left = lanes::select(upper, s_u, s_left);
        s_right = lanes::select(upper, lanes::splat<V>(kInf), s_right);
    }
    return refine(beta, x, b_max, s, s_left, s_right, b_max, lower, upper);
}

// ---- Lanes regrouped by region ---------------------------------------------------------
//
// A lane type computes a branch (the Taylor or the Cody form of the price, the lower region's
// first guess, the logarithm of an outer objective) whenever one of its lanes needs it, so
// quotes of different regions sharing a vector pay for both. A batch of quotes is therefore
// solved in stages, and before each stage its quotes are put in the order of what decides
// that stage's branches: the form of the price at s_c = sqrt(2|x|), then at s_l or s_u,
// then the region and the form at the first guess for the Householder steps. Each lane still does its own
// quote's operations, so the order changes no bits, only the work.

constexpr std::size_t kBatch = 64;

// The quotes' indices grouped by class (0 .. kClasses - 1), in their order within a class:
// a counting sort, without a branch that depends on the data.
constexpr std::size_t kClasses = 6;
inline void group_by(const unsigned char* cls, std::size_t n, unsigned char* idx) {
    std::size_t start[kClasses + 1] = {};
    for (std::size_t i = 0; i < n; ++i) ++start[cls[i] + 1];
    for (std::size_t c = 1; c <= kClasses; ++c) start[c] += start[c - 1];
    for (std::size_t i = 0; i < n; ++i) idx[start[cls[i]]++] = static_cast<unsigned char>(i);
}
// Whether the price at s takes the Taylor form (t = s/2 below black_lanes::kSmallT), as a
// class bit; NaN counts as not.
inline unsigned char taylor_class(double s) { return s < 2.0 * black_lanes::kSmallT ? 0 : 1; }

// An ordered list padded to whole vectors: the lanes past its end repeat its last quote (its
// branches, no others; they write that quote's own values back).
constexpr std::size_t kPadded = kBatch + 8;
template <class V>
void pad(unsigned char* idx, std::size_t m) {
    constexpr std::size_t w = static_cast<std::size_t>(lanes::size_v<V>);
    for (std::size_t k = m; k % w != 0; ++k) idx[k] = idx[m - 1];
}
// Lanes j.. of an ordered list from a per-quote array, and back.
template <class V>
V gather_at(const double* a, const unsigned char* idx, std::size_t j) {
    V v{};
    for (int k = 0; k < lanes::size_v<V>; ++k) v[k] = a[idx[j + static_cast<std::size_t>(k)]];
    return v;
}
template <class V>
void scatter_at(double* a, const unsigned char* idx, std::size_t j, V v) {
    for (int k = 0; k < lanes::size_v<V>; ++k) a[idx[j + static_cast<std::size_t>(k)]] = v[k];
}

// Per quote of a batch: what each stage leaves for the next.
struct Batch {
    double b_max[kBatch], s_c[kBatch], b_c[kBatch], v_c[kBatch], s_l[kBatch], s_u[kBatch];
    double s_1[kBatch], b_1[kBatch];
    double s[kBatch], s_left[kBatch], s_right[kBatch], region[kBatch];
    unsigned char cls[kBatch];
};
constexpr double kLowerRegion = 1.0, kUpperRegion = 2.0;

// solve() for n <= kBatch quotes, in the stages above.
template <class V>
void solve_batch(const double* beta, const double* x, std::size_t n, double* out) {
    constexpr std::size_t w = static_cast<std::size_t>(lanes::size_v<V>);
    Batch q;
    unsigned char idx[kPadded];
    // The price and vega at s_c, and the points s_l and s_u: functions of x alone.
    for (std::size_t i = 0; i < n; ++i) q.cls[i] = taylor_class(std::sqrt(std::fabs(2.0 * x[i])));
    group_by(q.cls, n, idx);
    pad<V>(idx, n);
    for (std::size_t j = 0; j < n; j += w) {
        const V xv = gather_at<V>(x, idx, j);
        const V b_max = exp_lanes(0.5 * xv);
        const V s_c = lanes::sqrt(lanes::abs(2.0 * xv));
        const black_lanes::BlackAndVega<V> c = black_lanes::black_otm_and_vega(xv, s_c, b_max);
        scatter_at(q.b_max, idx, j, b_max);
        scatter_at(q.s_c, idx, j, s_c);
        scatter_at(q.b_c, idx, j, c.b);
        scatter_at(q.v_c, idx, j, c.vega);
        scatter_at(q.s_l, idx, j, s_c - c.b / c.vega);
        scatter_at(q.s_u, idx, j, lanes::select(c.vega > kTiny, s_c + (b_max - c.b) / c.vega, s_c));
    }
    // The price at s_1 (s_l below b_c, s_u above), the region, and the middle regions' cubic.
    for (std::size_t i = 0; i < n; ++i) q.s_1[i] = beta[i] < q.b_c[i] ? q.s_l[i] : q.s_u[i];
    for (std::size_t i = 0; i < n; ++i) q.cls[i] = taylor_class(q.s_1[i]);
    group_by(q.cls, n, idx);
    pad<V>(idx, n);
    std::size_t n_lower = 0, n_upper = 0;
    unsigned char lower_idx[kPadded], upper_idx[kBatch];
    for (std::size_t j = 0; j < n; j += w) {
        const V bv = gather_at<V>(beta, idx, j);
        const V xv = gather_at<V>(x, idx, j);
        const V b_max = gather_at<V>(q.b_max, idx, j);
        const V s_c = gather_at<V>(q.s_c, idx, j);
        const V b_c = gather_at<V>(q.b_c, idx, j);
        const V v_c = gather_at<V>(q.v_c, idx, j);
        const V s_1 = gather_at<V>(q.s_1, idx, j);
        const black_lanes::BlackAndVega<V> one = black_lanes::black_otm_and_vega(xv, s_1, b_max);
        const V b_1 = one.b;
        const V v_1 = one.vega;
        const Mask<V> below = bv < b_c;
        const Mask<V> lower = lanes::mask_and(below, bv < b_1);
        const Mask<V> upper = lanes::mask_and(lanes::mask_not(below), lanes::mask_not(bv <= b_1));
        scatter_at(q.s, idx, j, middle_cubic(bv, below, b_c, s_c, v_c, b_1, s_1, v_1));
        scatter_at(q.s_left, idx, j, lanes::select(below, s_1, s_c));
        scatter_at(q.s_right, idx, j, lanes::select(below, s_c, s_1));
        scatter_at(q.b_1, idx, j, b_1);
        const V region = lanes::select(lower, lanes::splat<V>(kLowerRegion),
                                       lanes::select(upper, lanes::splat<V>(kUpperRegion), lanes::splat<V>(0.0)));
        scatter_at(q.region, idx, j, region);
    }
    for (std::size_t k = 0; k < n; ++k) {
        const unsigned char i = idx[k];
        if (q.region[i] == kLowerRegion) lower_idx[n_lower++] = i;
        if (q.region[i] == kUpperRegion) upper_idx[n_upper++] = i;
    }
    // The outer regions' first guesses: the lower one in lanes of lower quotes only.
    if (n_lower > 0) pad<V>(lower_idx, n_lower);
    for (std::size_t j = 0; j < n_lower; j += w) {
        const V bv = gather_at<V>(beta, lower_idx, j);
        const V xv = gather_at<V>(x, lower_idx, j);
        const V s_1 = gather_at<V>(q.s_1, lower_idx, j);
        const V b_1 = gather_at<V>(q.b_1, lower_idx, j);
        scatter_at(q.s, lower_idx, j, lower_guess(bv, xv, s_1, b_1, lanes::mask_or(bv == bv, bv != bv)));
    }
    for (std::size_t k = 0; k < n_lower; ++k) {
        const unsigned char i = lower_idx[k];
        q.s_right[i] = q.s_1[i];  // s_l
        q.s_left[i] = 0.0;
    }
    for (std::size_t k = 0; k < n_upper; ++k) {
        const unsigned char i = upper_idx[k];
        q.s[i] = implied_upper_guess(beta[i], x[i], q.s_1[i], q.b_1[i], q.b_max[i]);
        q.s_left[i] = q.s_1[i];  // s_u
        q.s_right[i] = kInf;
    }
    // The Householder steps, grouped by region and the form of the price at the first guess.
    for (std::size_t i = 0; i < n; ++i)
        q.cls[i] = static_cast<unsigned char>(2 * static_cast<int>(q.region[i]) + taylor_class(q.s[i]));
    group_by(q.cls, n, idx);
    pad<V>(idx, n);
    for (std::size_t j = 0; j < n; j += w) {
        const V region = gather_at<V>(q.region, idx, j);
        const V b_max = gather_at<V>(q.b_max, idx, j);
        const V s = refine(gather_at<V>(beta, idx, j), gather_at<V>(x, idx, j), b_max, gather_at<V>(q.s, idx, j),
                           gather_at<V>(q.s_left, idx, j), gather_at<V>(q.s_right, idx, j), b_max,
                           region == kLowerRegion, region == kUpperRegion);
        scatter_at(out, idx, j, s);
    }
}

template <class V>
void solve_all(const double*& beta, const double*& x, std::size_t& n, double*& out) {
    if constexpr (lanes::size_v<V> == 1) {
        for (std::size_t i = 0; i < n; ++i) out[i] = solve(beta[i], x[i]);
    } else {
        for (std::size_t i = 0; i < n; i += kBatch) {
            const std::size_t m = n - i < kBatch ? n - i : kBatch;
            solve_batch<V>(beta + i, x + i, m, out + i);
        }
    }
}

QUELM_SIMD_KERNEL_TWIN(solve_at_width, solve_all)

}  // namespace

void implied_otm_call_volatilities(const double* beta, const double* x, std::size_t n, double* out) {
    solve_at_width(beta, x, n, out);
}

}  // namespace quelm
