#include "quelm/fd/grid.hpp"

#include <algorithm>
#include <cmath>

#include "quelm/core/math/elementary.hpp"

namespace quelm::fd {

namespace {

double sinh_of(double u) { return 0.5 * (quelm::exp(u) - quelm::exp(-u)); }

// asinh by its logarithm, odd by construction so that both sides of the centre agree.
double asinh_of(double y) {
    const double a = std::fabs(y);
    const double v = quelm::log(a + std::sqrt(a * a + 1.0));
    return y < 0.0 ? -v : v;
}

}  // namespace

std::vector<double> sinh_grid(double lo, double hi, double centre, double alpha, std::size_t steps,
                              std::span<const double> knots) {
    std::vector<double> ends{lo};
    for (double k : knots)
        if (k > lo && k < hi) ends.push_back(k);
    std::sort(ends.begin() + 1, ends.end());
    ends.erase(std::unique(ends.begin(), ends.end()), ends.end());
    ends.push_back(hi);
    const auto u_of = [&](double x) { return asinh_of((x - centre) / alpha); };
    const double total = u_of(hi) - u_of(lo);
    std::vector<double> x;
    x.reserve(steps + ends.size() + 1);
    x.push_back(lo);
    for (std::size_t p = 0; p + 1 < ends.size(); ++p) {
        const double u0 = u_of(ends[p]), u1 = u_of(ends[p + 1]);
        const double share = static_cast<double>(steps) * (u1 - u0) / total;
        const std::size_t m = std::max<std::size_t>(1, static_cast<std::size_t>(std::lround(share)));
        for (std::size_t i = 1; i < m; ++i) {
            const double u = u0 + (u1 - u0) * (static_cast<double>(i) / static_cast<double>(m));
            x.push_back(centre + alpha * sinh_of(u));
        }
        x.push_back(ends[p + 1]);
    }
    return x;
}

std::size_t nearest_node(std::span<const double> nodes, double x) {
    const auto it = std::lower_bound(nodes.begin(), nodes.end(), x);
    if (it == nodes.begin()) return 0;
    if (it == nodes.end()) return nodes.size() - 1;
    const auto i = static_cast<std::size_t>(it - nodes.begin());
    return x - nodes[i - 1] <= nodes[i] - x ? i - 1 : i;
}

Interpolated cubic_at(std::span<const double> nodes, std::span<const double> values, double x) {
    const std::size_t n = nodes.size();
    const auto it = std::upper_bound(nodes.begin(), nodes.end(), x);
    std::size_t i = it == nodes.begin() ? 0 : static_cast<std::size_t>(it - nodes.begin()) - 1;
    // Four nodes i-1 .. i+2 around the interval [x_i, x_i+1].
    std::size_t s = i >= 1 ? i - 1 : 0;
    if (s + 4 > n) s = n - 4;
    const double* xs = nodes.data() + s;
    const double* ys = values.data() + s;
    Interpolated r{0.0, 0.0, 0.0};
    for (std::size_t j = 0; j < 4; ++j) {
        // The Lagrange basis polynomial l_j and its two derivatives at x.
        double den = 1.0;
        double d[3];
        std::size_t k = 0;
        for (std::size_t m = 0; m < 4; ++m) {
            if (m == j) continue;
            den *= xs[j] - xs[m];
            d[k++] = x - xs[m];
        }
        const double l = d[0] * d[1] * d[2];
        const double l1 = d[1] * d[2] + d[0] * d[2] + d[0] * d[1];
        const double l2 = 2.0 * (d[0] + d[1] + d[2]);
        r.value += ys[j] * (l / den);
        r.first += ys[j] * (l1 / den);
        r.second += ys[j] * (l2 / den);
    }
    return r;
}

Span barrier_span(double lo, double hi, double log_strike, std::optional<double> log_barrier, bool down, bool in,
                  double reach) {
    Span span{lo, hi, {log_strike}};
    if (!log_barrier) return span;
    const double xb = *log_barrier;
    if (in) {
        span.knots.push_back(xb);
        if (down) span.lo = std::min(span.lo, xb - reach);
        else span.hi = std::max(span.hi, xb + reach);
    } else if (down) {
        span.lo = xb;
    } else {
        span.hi = xb;
    }
    return span;
}

}  // namespace quelm::fd
