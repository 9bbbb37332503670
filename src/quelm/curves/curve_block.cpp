#include "quelm/curves/curve_block.hpp"

#include <cmath>
#include <type_traits>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/portable.hpp"
#include "quelm/core/simd.hpp"
#include "quelm/dates/day_count.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::curves {

namespace {

using Segment = NaturalCubicSpline::Segment;
static_assert(sizeof(Segment) == 3 * sizeof(double), "a segment is read as a row of three doubles");

// How the curve answers ln P(t) inside its pillars.
enum class Shape : unsigned char {
    Flat,        // -rate t
    Spline,      // -z t, z the natural cubic spline of the zero rates
    LinearZero,  // -z t, z linear in the zero rates
    LinearLog,   // linear in ln P (log-linear, flat forward)
    Other,       // left to the scalar call (monotone convex)
};

// What the lanes read of a curve: its pillars and, for extrapolation, the values the scalar
// call's outside() uses, computed here by the same scalar code.
struct CurveLanes {
    Shape shape = Shape::Other;
    const double* xs = nullptr;
    const double* ys = nullptr;
    const double* m = nullptr;    // the spline's second derivatives
    const double* seg = nullptr;  // the spline's segments, three doubles each
    std::size_t n = 0;
    double first = 0.0, last = 0.0, rate = 0.0;
    bool extrapolate = false;
    double z0 = 0.0, at_last = 0.0, end_forward = 0.0;
    double safe = 1.0;  // a time every shape answers inside its pillars (for idle lanes)
};

CurveLanes view_of(const YieldCurve& c) {
    CurveLanes v;
    if (c.is_flat()) {
        v.shape = Shape::Flat;
        v.rate = c.rate();
        return v;
    }
    const auto xs = c.times();
    const auto ys = c.values();
    v.xs = xs.data();
    v.ys = ys.data();
    v.n = xs.size();
    v.first = xs.front();
    v.last = xs.back();
    v.safe = v.last;
    switch (c.interp()) {
        case Interp::NaturalCubic:
            v.shape = Shape::Spline;
            v.m = c.spline()->second_derivatives().data();
            v.seg = reinterpret_cast<const double*>(c.spline()->segments().data());
            break;
        case Interp::Linear: v.shape = Shape::LinearZero; break;
        case Interp::LogLinear:
        case Interp::FlatForward: v.shape = Shape::LinearLog; break;
        case Interp::MonotoneConvex: v.shape = Shape::Other; return v;
    }
    if (c.extrapolation() != Extrapolation::None) {
        // As YieldCurve::outside: below the first pillar its zero rate holds, beyond the last
        // the forward there continues from ln P(last).
        const Result<double> at_last = c.log_discount(v.last);
        if (at_last) {
            v.extrapolate = true;
            v.z0 = c.on_log_discounts() ? -ys.front() / v.first : ys.front();
            v.at_last = *at_last;
            v.end_forward = c.end_forward();
        }
    }
    return v;
}

// Whether the lanes answer ln P(t) for this time as the scalar call does (t == 0 included).
bool answers(const CurveLanes& c, double t) {
    if (!(std::isfinite(t) && t >= 0.0) || c.shape == Shape::Other) return false;
    return c.shape == Shape::Flat || c.extrapolate || (t >= c.first && t <= c.last);
}

template <class V>
using Bits = lanes::bits_t<V>;

// An exact small non-negative integer held in a double, as table indices.
template <class V>
Bits<V> index_bits(V x) {
    return lanes::to_bits(x + lanes::kRoundShift) & std::uint64_t{0xffffffff};
}

// The segment of t as find_segment chooses it: k = the number of pillars <= t, segment
// k - 1 clamped into [0, n - 2]. Few pillars: every pillar compared, the count kept in
// integer lanes (one-cycle adds, so the comparisons overlap); many: the same branch-free
// bisection (its steps do not depend on t, so every lane takes them together).
template <class V>
Bits<V> segment_of(const CurveLanes& c, V t) {
    using U = Bits<V>;
    const std::uint64_t top = c.n - 2;
    if (c.n <= 48) {
        if constexpr (std::is_same_v<V, double>) {
            std::uint64_t k = 0;
            for (std::size_t j = 0; j < c.n; ++j) k += t >= c.xs[j] ? 1 : 0;
            const std::uint64_t i = k > 0 ? k - 1 : 0;
            return i > top ? top : i;
        } else {
            U k{};
            for (std::size_t j = 0; j < c.n; ++j) k = k - lanes::mask_bits<U>(t >= c.xs[j]);  // a true mask is -1
            const U zero{};
            const U i = lanes::select(k > zero, k - std::uint64_t{1}, zero);
            return lanes::select(i > top, zero + top, i);
        }
    }
    V lo = lanes::splat<V>(0.0);
    std::size_t len = c.n;
    while (len > 1) {
        const std::size_t half = len / 2;
        const V h = lanes::splat<V>(static_cast<double>(half));
        lo = lo + lanes::select(lanes::gather(c.xs, index_bits(lo + h)) <= t, h, lanes::splat<V>(0.0));
        len -= half;
    }
    const V k = lo + lanes::select(lanes::gather(c.xs, index_bits(lo)) <= t, lanes::splat<V>(1.0), lanes::splat<V>(0.0));
    const V i = lanes::select(k > 0.0, k - 1.0, lanes::splat<V>(0.0));
    return index_bits(lanes::select(i > static_cast<double>(top), lanes::splat<V>(static_cast<double>(top)), i));
}

// ln P(t) for lanes that answers() accepts (others get a value that is dropped).
template <class V>
V log_discount_lanes(const CurveLanes& c, V t) {
    if (c.shape == Shape::Flat) return lanes::select(t == 0.0, lanes::splat<V>(0.0), -c.rate * t);
    const Bits<V> i = segment_of(c, t);
    V x0, x1;
    lanes::gather_row(c.xs, i, x0, x1);
    V inside;
    if (c.shape == Shape::Spline) {
        V m0, m1, six_h, left, right;
        lanes::gather_row(c.m, i, m0, m1);
        lanes::gather_row(c.seg, i + i + i, six_h, left, right);
        const V a = t - x0;
        const V b = x1 - t;
        const V z = (m0 * b * b * b + m1 * a * a * a) / six_h + left * b + right * a;
        inside = -z * t;
    } else {
        V y0, y1;
        lanes::gather_row(c.ys, i, y0, y1);
        const V z = y0 + (y1 - y0) * (t - x0) / (x1 - x0);
        inside = c.shape == Shape::LinearZero ? -z * t : z;
    }
    if (c.extrapolate) {
        const V below = -c.z0 * t;
        const V beyond = c.at_last - c.end_forward * (t - c.last);
        inside = lanes::select(t < c.first, below, lanes::select(t > c.last, beyond, inside));
    }
    return lanes::select(t == 0.0, lanes::splat<V>(0.0), inside);
}

// P(t) as discount_at: 1 at t = 0, else exp(ln P). Always inlined: Clang's flatten does not
// reach it, and a call from an AVX2 entry point to a function built without AVX passes the
// vectors in registers the callee does not read (its upper lanes were garbage).
template <class V>
QUELM_ALWAYS_INLINE V discount_lanes(const CurveLanes& c, V t) {
    return lanes::select(t == 0.0, lanes::splat<V>(1.0), exp_lanes(log_discount_lanes(c, t)));
}

enum class Query : unsigned char { Discount, ZeroRate, Forward };

struct Job {
    Query query;
    const CurveLanes* curve;
    const double* t1;
    const double* t2;  // the forward's end
    const bool* use;
    std::size_t n;
    double* out;
};

template <Query Q, class V>
V answer(const CurveLanes& c, V t, V t2) {
    if constexpr (Q == Query::Discount) {
        return discount_lanes(c, t);
    } else if constexpr (Q == Query::ZeroRate) {
        return -log_lanes(discount_lanes(c, t)) / t;
    } else {
        return (log_lanes(discount_lanes(c, t)) - log_lanes(discount_lanes(c, t2))) / (t2 - t);
    }
}

template <Query Q, class V>
void groups(const Job& job) {
    constexpr std::size_t w = static_cast<std::size_t>(lanes::size_v<V>);
    const CurveLanes& c = *job.curve;
    double result[kCurveBlock + w];
    for (std::size_t j = 0; j < job.n; j += w) {
        bool any = false;
        double a[w], b[w];
        for (std::size_t k = 0; k < w; ++k) {
            const std::size_t i = j + k;
            const bool u = i < job.n && job.use[i];
            any = any || u;
            a[k] = u ? job.t1[i] : c.safe;
            b[k] = u && Q == Query::Forward ? job.t2[i] : c.safe;
        }
        if (any) lanes::store(result + j, answer<Q>(c, lanes::load<V>(a), lanes::load<V>(b)));
    }
    for (std::size_t i = 0; i < job.n; ++i)
        if (job.use[i]) job.out[i] = result[i];
}

template <class V>
void query_lanes(const Job& job) {
    switch (job.query) {
        case Query::Discount: groups<Query::Discount, V>(job); return;
        case Query::ZeroRate: groups<Query::ZeroRate, V>(job); return;
        case Query::Forward: groups<Query::Forward, V>(job); return;
    }
}

QUELM_SIMD_KERNEL(query_at_width, query_lanes)

void run(Query q, const CurveLanes& c, const double* t1, const double* t2, std::size_t n, double* out,
         const bool* use) {
    const Job job{q, &c, t1, t2, use, n, out};
    query_at_width(job);
}

}  // namespace

void discount_block(const YieldCurve& c, const double* t, std::size_t n, double* out, bool* done) {
    const CurveLanes v = view_of(c);
    for (std::size_t i = 0; i < n; ++i) done[i] = answers(v, t[i]);
    run(Query::Discount, v, t, nullptr, n, out, done);
}

void zero_rate_block(const YieldCurve& c, const double* t, std::size_t n, double* out, bool* done) {
    const CurveLanes v = view_of(c);
    // At t = 0 the zero rate is a limit the scalar call takes from the pillars.
    for (std::size_t i = 0; i < n; ++i) done[i] = t[i] != 0.0 && answers(v, t[i]);
    run(Query::ZeroRate, v, t, nullptr, n, out, done);
}

void forward_rate_block(const YieldCurve& c, const double* t1, const double* t2, std::size_t n, double* out,
                        bool* done) {
    const CurveLanes v = view_of(c);
    for (std::size_t i = 0; i < n; ++i) done[i] = t1[i] < t2[i] && answers(v, t1[i]) && answers(v, t2[i]);
    run(Query::Forward, v, t1, t2, n, out, done);
}

void times_of_days(const YieldCurve& c, const std::int64_t* days, std::size_t n, double* t, bool* ok) {
    const auto& ref = c.dating().reference;
    for (std::size_t i = 0; i < n; ++i) {
        ok[i] = false;
        t[i] = 0.0;
        if (!ref || days[i] < dates::kFirstSerial || days[i] > dates::kLastSerial) continue;
        const auto d = static_cast<dates::Serial>(days[i]);
        if (d < *ref) continue;
        const Result<double> yf = dates::year_fraction(*ref, d, c.dating().day_count);
        if (!yf) continue;
        t[i] = *yf;
        ok[i] = true;
    }
}

void discount_on_block(const YieldCurve& c, const std::int64_t* days, std::size_t n, double* out, bool* done) {
    double t[kCurveBlock];
    bool ok[kCurveBlock];
    times_of_days(c, days, n, t, ok);
    const CurveLanes v = view_of(c);
    for (std::size_t i = 0; i < n; ++i) done[i] = ok[i] && answers(v, t[i]);
    run(Query::Discount, v, t, nullptr, n, out, done);
}

void zero_rate_on_block(const YieldCurve& c, const std::int64_t* days, std::size_t n, double* out, bool* done) {
    double t[kCurveBlock];
    bool ok[kCurveBlock];
    times_of_days(c, days, n, t, ok);
    const CurveLanes v = view_of(c);
    for (std::size_t i = 0; i < n; ++i) done[i] = ok[i] && t[i] != 0.0 && answers(v, t[i]);
    run(Query::ZeroRate, v, t, nullptr, n, out, done);
}

void forward_rate_between_block(const YieldCurve& c, const std::int64_t* d1, const std::int64_t* d2, std::size_t n,
                                double* out, bool* done) {
    double t1[kCurveBlock], t2[kCurveBlock];
    bool ok1[kCurveBlock], ok2[kCurveBlock];
    times_of_days(c, d1, n, t1, ok1);
    times_of_days(c, d2, n, t2, ok2);
    const CurveLanes v = view_of(c);
    for (std::size_t i = 0; i < n; ++i)
        done[i] = ok1[i] && ok2[i] && t1[i] < t2[i] && answers(v, t1[i]) && answers(v, t2[i]);
    run(Query::Forward, v, t1, t2, n, out, done);
}

}  // namespace quelm::curves
