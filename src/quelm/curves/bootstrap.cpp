#include "quelm/curves/bootstrap.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numeric>
#include <string>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/interpolate.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/core/math/monotone_convex.hpp"
#include "quelm/core/text.hpp"
#include "quelm/curves/curve_gradient.hpp"
#include "quelm/curves/layout.hpp"
#include "quelm/curves/sensitivity.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::curves {

namespace {

using dates::Serial;

std::unexpected<Error> fail(const std::string& text) { return invalid("bootstrap: " + text); }

bool zero_rate_nodes(Interp i) { return i == Interp::Linear || i == Interp::NaturalCubic; }

// One repricing equation: an instrument's layout with its dates mapped to the queries of
// the curve being built (and, on dual curves, the discount factors read on the other).
struct Equation {
    const Instrument* instrument = nullptr;
    std::shared_ptr<const Layout> layout;  // kept by the instrument between builds
    double quote = 0.0;
    double scale = 1.0;              // of the quote: residuals are compared relative to it
    // Views into the problem's pools (one allocation each for every equation).
    std::span<std::uint32_t> pq;   // proj date -> query
    std::span<std::uint32_t> dq;   // disc date -> query (one curve)
    bool external = false;         // disc read on the discount curve (then dd holds it)
    // work space
    std::span<double> dp, dd, gp, gd;

    // R = model quote - quote from the queries' discount factors; with grad, the model
    // quote's derivatives in the discount factors land in gp, gd.
    double residual(std::span<const double> D, bool grad) {
        for (std::size_t i = 0; i < pq.size(); ++i) dp[i] = D[pq[i]];
        if (!external)
            for (std::size_t i = 0; i < dq.size(); ++i) dd[i] = D[dq[i]];
        if (grad) {
            std::fill(gp.begin(), gp.end(), 0.0);
            std::fill(gd.begin(), gd.end(), 0.0);
            return model_quote(*layout, dp, dd, 1.0, gp, gd) - quote;
        }
        return model_quote(*layout, dp, dd) - quote;
    }
};

// ln P at each query as a function of the unknowns: weight rows (CSR) for the
// interpolations that are linear in the node values.
struct Rows {
    std::vector<std::size_t> start{0};
    std::vector<std::uint32_t> col;
    std::vector<double> w;
    std::vector<int> last;  // the last unknown a row reads (-1: none)

    // A row of at most two weights, on unknowns a < b (zeros dropped, as push drops them).
    void push_pair(std::uint32_t a, double wa, std::uint32_t b, double wb) {
        int l = -1;
        if (wa != 0.0) {
            col.push_back(a);
            w.push_back(wa);
            l = static_cast<int>(a);
        }
        if (wb != 0.0) {
            col.push_back(b);
            w.push_back(wb);
            l = static_cast<int>(b);
        }
        start.push_back(col.size());
        last.push_back(l);
    }
    void push(std::span<const double> dense) {
        int l = -1;
        for (std::size_t j = 0; j < dense.size(); ++j) {
            if (dense[j] == 0.0) continue;
            col.push_back(static_cast<std::uint32_t>(j));
            w.push_back(dense[j]);
            l = static_cast<int>(j);
        }
        start.push_back(col.size());
        last.push_back(l);
    }
    [[nodiscard]] double dot(std::size_t m, std::span<const double> u) const {
        double s = 0.0;
        for (std::size_t k = start[m]; k < start[m + 1]; ++k) s += w[k] * u[col[k]];
        return s;
    }
    [[nodiscard]] double weight_of_last(std::size_t m) const { return w[start[m + 1] - 1]; }
};

// Node gradients (one per node) folded into the unknowns (one per pillar).
void fold(bool tied, std::span<const double> nodes, std::span<double> unknowns) {
    for (std::size_t k = 0; k < unknowns.size(); ++k) unknowns[k] = nodes[k + 1];
    if (tied) unknowns[0] += nodes[0];
}

// The rows of a local interpolation (log-linear, flat-forward, linear in zero rates): each
// query reads the two nodes of its segment.
Result<Rows> linear_rows(std::span<const double> nodes, std::span<const double> times, Interp interp) {
    const bool tied = zero_rate_nodes(interp);
    Rows rows;
    rows.start.reserve(times.size() + 1);
    rows.last.reserve(times.size());
    // Two nodes a row (node 0 is no unknown on log discounts, and folds into unknown 0 on
    // zero rates).
    rows.col.reserve(2 * times.size());
    rows.w.reserve(2 * times.size());
    for (double t : times) {
        if (!(t > 0.0)) {
            rows.push_pair(0, 0.0, 0, 0.0);
            continue;
        }
        QUELM_TRY(i, find_segment(nodes, t));
        const double w = (t - nodes[i]) / (nodes[i + 1] - nodes[i]);
        const double scale = tied ? -t : 1.0;
        const double left = 0.0 + scale * (1.0 - w), right = 0.0 + scale * w;
        if (i == 0) {
            rows.push_pair(0, tied ? right + left : right, 0, 0.0);
        } else {
            rows.push_pair(static_cast<std::uint32_t>(i - 1), left, static_cast<std::uint32_t>(i), right);
        }
    }
    return rows;
}

// Node values from the unknowns.
std::vector<double> node_values(std::span<const double> u, bool tied) {
    std::vector<double> y(u.size() + 1);
    y[0] = tied ? u[0] : 0.0;
    std::copy(u.begin(), u.end(), y.begin() + 1);
    return y;
}

// The set bits of a word (std::popcount is a library call without a popcount instruction).
constexpr std::uint32_t ones(std::uint64_t x) {
    x = x - ((x >> 1) & 0x5555555555555555ull);
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0full;
    return static_cast<std::uint32_t>((x * 0x0101010101010101ull) >> 56);
}

// The distinct dates of the layouts (proj, and disc when `with_disc`), ascending, and each
// one's position: one bit a day over their span (each layout's dates are ascending), or a
// sort where the span is too long for that.
struct DateIndex {
    std::vector<Serial> dates;
    Serial first = 0;
    std::vector<std::uint64_t> bits;
    std::vector<std::uint32_t> before;  // per word: the dates in earlier words

    DateIndex(std::span<const std::shared_ptr<const Layout>> layouts, bool with_disc) {
        const auto each_list = [&](auto&& f) {
            for (const auto& l : layouts) {
                f(l->proj);
                if (with_disc) f(l->disc);
            }
        };
        Serial lo = 0, hi = 0;
        bool any = false;
        std::size_t total = 0;
        each_list([&](const std::vector<Serial>& v) {
            if (v.empty()) return;
            lo = any ? std::min(lo, v.front()) : v.front();
            hi = any ? std::max(hi, v.back()) : v.back();
            any = true;
            total += v.size();
        });
        if (!any) return;
        const auto span = static_cast<std::uint64_t>(std::int64_t{hi} - lo) + 1;
        if (span > (std::uint64_t{1} << 20)) {
            dates.reserve(total);
            each_list([&](const std::vector<Serial>& v) { dates.insert(dates.end(), v.begin(), v.end()); });
            std::sort(dates.begin(), dates.end());
            dates.erase(std::unique(dates.begin(), dates.end()), dates.end());
            return;
        }
        first = lo;
        bits.assign(static_cast<std::size_t>((span + 63) / 64), 0);
        each_list([&](const std::vector<Serial>& v) {
            for (Serial d : v) {
                const auto k = static_cast<std::uint32_t>(d - first);
                bits[k / 64] |= std::uint64_t{1} << (k % 64);
            }
        });
        before.resize(bits.size());
        std::uint32_t count = 0;
        for (std::size_t w = 0; w < bits.size(); ++w) {
            before[w] = count;
            count += ones(bits[w]);
        }
        dates.reserve(count);
        for (std::size_t w = 0; w < bits.size(); ++w)
            for (std::uint64_t b = bits[w]; b != 0; b &= b - 1)
                dates.push_back(first + static_cast<Serial>(w * 64 + static_cast<std::size_t>(std::countr_zero(b))));
    }

    [[nodiscard]] std::uint32_t index(Serial d) const {
        if (bits.empty())
            return static_cast<std::uint32_t>(std::lower_bound(dates.begin(), dates.end(), d) - dates.begin());
        const auto k = static_cast<std::uint32_t>(d - first);
        const std::uint64_t below = bits[k / 64] & ((std::uint64_t{1} << (k % 64)) - 1);
        return before[k / 64] + ones(below);
    }
};

struct Problem {
    Serial reference;
    std::vector<Serial> pillars;
    std::vector<double> nodes;        // node times, 0 first
    std::vector<double> query_times;  // ascending
    std::vector<Equation> equations;  // in pillar order
    std::vector<std::uint32_t> index_pool;
    std::vector<double> value_pool;
};

double exp_guarded(double y) { return quelm::exp(y); }

bool finite_positive(double d) { return std::isfinite(d) && d > 0.0; }

// A swap's residual while one pillar moves: the flows before the first one that reads a
// moving query keep their value, so their partial sums (the same additions, in the same
// order, as model_quote's) are taken once and each Newton step adds only the rest. The
// residual and the derivatives at the moving queries come out with model_quote's bits.
struct MovingSwap {
    const Layout* l = nullptr;
    std::size_t first_float = 0, first_fixed = 0;
    double floating_before = 0.0, annuity_before = 0.0;

    void start(const Equation& e, std::span<const std::uint8_t> moving_p, std::span<const std::uint8_t> moving_d) {
        l = e.layout.get();
        const auto& fl = l->floating;
        const auto& fx = l->fixed;
        first_float = 0;
        while (first_float < fl.size() && !moving_p[fl[first_float].start] && !moving_p[fl[first_float].end] &&
               !moving_d[fl[first_float].pay])
            ++first_float;
        first_fixed = 0;
        while (first_fixed < fx.size() && !moving_d[fx[first_fixed].pay]) ++first_fixed;
        floating_before = 0.0;
        for (std::size_t i = 0; i < first_float; ++i) {
            const FloatPeriod& p = fl[i];
            floating_before += (e.dp[p.start] / e.dp[p.end] - 1.0) * e.dd[p.pay];
        }
        annuity_before = 0.0;
        for (std::size_t i = 0; i < first_fixed; ++i) annuity_before += fx[i].accrual * e.dd[fx[i].pay];
    }

    // model_quote(*layout, dp, dd, 1.0, gp, gd) - quote, gp and gd exact at the moving entries.
    double residual(Equation& e) const {
        const std::span<const double> dp = e.dp, dd = e.dd;
        double floating = floating_before, annuity = annuity_before;
        const auto fl = std::span(l->floating).subspan(first_float);
        const auto fx = std::span(l->fixed).subspan(first_fixed);
        for (const FloatPeriod& p : fl) floating += (dp[p.start] / dp[p.end] - 1.0) * dd[p.pay];
        for (const FixedPeriod& p : fx) annuity += p.accrual * dd[p.pay];
        const double par = floating / annuity;
        std::fill(e.gp.begin(), e.gp.end(), 0.0);
        std::fill(e.gd.begin(), e.gd.end(), 0.0);
        const double w = 1.0 / annuity;
        for (const FloatPeriod& p : fl) {
            const double ratio = dp[p.start] / dp[p.end];
            e.gp[p.start] += w * dd[p.pay] / dp[p.end];
            e.gp[p.end] -= w * ratio * dd[p.pay] / dp[p.end];
            e.gd[p.pay] += w * (ratio - 1.0);
        }
        for (const FixedPeriod& p : fx) e.gd[p.pay] -= w * par * p.accrual;
        return par - e.quote;
    }
};

// Sequential: pillar k's unknown from equation k, the queries it reads up to pillar k known.
// D: the discount factor at each query read by a pillar, at the solved unknowns.
Status solve_sequential(Problem& p, const Rows& rows, bool tied, std::vector<double>& u, std::vector<double>& D,
                        Cancel& cancel) {
    const std::size_t n = p.equations.size(), nq = p.query_times.size();
    std::vector<double> L(nq, 0.0);
    D.assign(nq, 1.0);
    std::vector<std::vector<std::uint32_t>> finished_by(n);
    for (std::size_t m = 0; m < nq; ++m)
        if (rows.last[m] >= 0) finished_by[static_cast<std::size_t>(rows.last[m])].push_back(static_cast<std::uint32_t>(m));
    u.assign(n, 0.0);
    CancelPoller poller(cancel);
    std::vector<std::uint32_t> moving, moving_pi, moving_di;  // queries; indices into pq, dq
    std::vector<std::uint8_t> moving_p, moving_d;
    MovingSwap swap;
    for (std::size_t k = 0; k < n; ++k) {
        if (poller.tick(64)) return cancelled();
        Equation& e = p.equations[k];
        moving.clear();
        moving_pi.clear();
        moving_di.clear();
        for (std::size_t i = 0; i < e.pq.size(); ++i)
            if (rows.last[e.pq[i]] == static_cast<int>(k)) {
                moving.push_back(e.pq[i]);
                moving_pi.push_back(static_cast<std::uint32_t>(i));
            }
        if (!e.external)
            for (std::size_t i = 0; i < e.dq.size(); ++i)
                if (rows.last[e.dq[i]] == static_cast<int>(k)) {
                    moving.push_back(e.dq[i]);
                    moving_di.push_back(static_cast<std::uint32_t>(i));
                }
        std::sort(moving.begin(), moving.end());
        moving.erase(std::unique(moving.begin(), moving.end()), moving.end());
        // A swap reads its fixed queries once; each step gathers only the moving ones.
        const bool incremental = e.layout->form == Form::Swap;
        if (incremental) {
            for (std::size_t i = 0; i < e.pq.size(); ++i) e.dp[i] = D[e.pq[i]];
            if (!e.external)
                for (std::size_t i = 0; i < e.dq.size(); ++i) e.dd[i] = D[e.dq[i]];
            moving_p.assign(e.pq.size(), 0);
            moving_d.assign(e.dd.size(), 0);
            for (std::uint32_t i : moving_pi) moving_p[i] = 1;
            for (std::uint32_t i : moving_di) moving_d[i] = 1;
            swap.start(e, moving_p, moving_d);
        }
        // The guess: the last zero rate, or the last forward continued (the first pillar
        // starts from the quote, or 2 % for a bond).
        const double t_prev = p.nodes[k], t_k = p.nodes[k + 1];
        double first = e.layout->form == Form::Bond ? 0.02 : e.quote;
        if (!(std::fabs(first) < 1.0)) first = 0.02;
        double x = 0.0;
        if (tied) {
            x = k > 0 ? u[k - 1] : first;
        } else {
            double forward = first;
            if (k > 0) forward = -(u[k - 1] - (k > 1 ? u[k - 2] : 0.0)) / (t_prev - p.nodes[k - 1]);
            if (!(std::fabs(forward) < 1.0)) forward = first;
            x = (k > 0 ? u[k - 1] : 0.0) - forward * (t_k - t_prev);
        }
        const auto evaluate = [&](double value, double& slope) -> double {
            u[k] = value;
            double s = 0.0;
            for (std::uint32_t q : moving) {
                L[q] = rows.dot(q, u);
                D[q] = exp_guarded(L[q]);
                if (!finite_positive(D[q])) return NAN;
            }
            double r;
            if (incremental) {
                for (std::uint32_t i : moving_pi) e.dp[i] = D[e.pq[i]];
                for (std::uint32_t i : moving_di) e.dd[i] = D[e.dq[i]];
                r = swap.residual(e);
            } else {
                r = e.residual(D, true);
            }
            for (std::uint32_t i : moving_pi) s += e.gp[i] * e.dp[i] * rows.weight_of_last(e.pq[i]);
            for (std::uint32_t i : moving_di) s += e.gd[i] * e.dd[i] * rows.weight_of_last(e.dq[i]);
            slope = s;
            return r;
        };
        const double tol = 1e-15 * e.scale;
        double slope = 0.0;
        double r = evaluate(x, slope);
        bool ok = std::isfinite(r);
        for (int it = 0; ok && it < 100 && std::fabs(r) > tol; ++it) {
            if (!(std::isfinite(slope) && slope != 0.0)) {
                ok = false;
                break;
            }
            double step = -r / slope;
            bool accepted = false;
            double x_new = x, r_new = r, s_new = slope;
            for (int half = 0; half < 60; ++half) {
                x_new = x + step;
                r_new = evaluate(x_new, s_new);
                if (std::isfinite(r_new) && std::fabs(r_new) < std::fabs(r)) {
                    accepted = true;
                    break;
                }
                step *= 0.5;
            }
            if (!accepted) {
                r = evaluate(x, slope);  // restore the best point
                break;
            }
            x = x_new;
            r = r_new;
            slope = s_new;
            if (std::fabs(step) <= 1e-16 * std::fmax(1.0, std::fabs(x))) break;
        }
        if (!ok || !(std::fabs(r) <= 1e-12 * e.scale))
            return fail(describe(*e.instrument) + " cannot be repriced: no positive, finite discount factor on " +
                        dates::format_iso(p.pillars[k]) + " matches its quote");
        u[k] = x;
        for (std::uint32_t q : finished_by[k]) {
            L[q] = rows.dot(q, u);
            D[q] = exp_guarded(L[q]);
        }
    }
    return {};
}

constexpr const char* kJacobianMemory = "the bootstrap Jacobian";

// The Jacobian of the repricing equations in the unknowns, J = A W at the equations' last
// evaluation with derivatives (A: each equation's derivatives in ln P at the queries it reads;
// W: ln P at the queries in the unknowns, the rows of a local interpolation): lower
// triangular, each query reading unknowns up to its own pillar.
Result<MatrixFactors> factor_jacobian(const Problem& p, const Rows& local, Cancel& cancel) {
    const std::size_t n = p.equations.size();
    SparseRows T;
    T.start.reserve(n + 1);
    std::vector<double> acc(n, 0.0);
    std::vector<std::uint8_t> seen(n, 0);
    std::vector<std::uint32_t> touched;
    CancelPoller poller(cancel);
    for (std::size_t k = 0; k < n; ++k) {
        const Equation& e = p.equations[k];
        if (poller.tick(e.pq.size() + e.dq.size())) return cancelled();
        const auto add = [&](std::uint32_t q, double c) {
            if (c == 0.0) return;
            for (std::size_t m = local.start[q]; m < local.start[q + 1]; ++m) {
                const std::uint32_t j = local.col[m];
                if (!seen[j]) {
                    seen[j] = 1;
                    touched.push_back(j);
                }
                acc[j] += c * local.w[m];
            }
        };
        for (std::size_t i = 0; i < e.pq.size(); ++i) add(e.pq[i], e.gp[i] * e.dp[i]);
        if (!e.external)
            for (std::size_t i = 0; i < e.dq.size(); ++i) add(e.dq[i], e.gd[i] * e.dd[i]);
        // The diagonal, even where zero: the factoring names a zero pivot.
        if (!seen[k]) {
            seen[k] = 1;
            touched.push_back(static_cast<std::uint32_t>(k));
        }
        std::sort(touched.begin(), touched.end());
        for (std::uint32_t j : touched) {
            T.col.push_back(j);
            T.value.push_back(acc[j]);
            acc[j] = 0.0;
            seen[j] = 0;
        }
        T.end_row();
        touched.clear();
    }
    return MatrixFactors::lower_triangular(std::move(T));
}

// The same at the unknowns of a sequential solve, from the rows of its local interpolation
// (exact, not an approximation). D_solved: solve_sequential's discount factors (the same
// bits: the same rows at the same unknowns).
Result<MatrixFactors> jacobian_from_rows(Problem& p, const Rows& rows, std::span<const double> u,
                                         std::span<const double> D_solved, Cancel& cancel) {
    const std::size_t nq = p.query_times.size();
    std::vector<double> D(nq);
    for (std::size_t q = 0; q < nq; ++q) D[q] = rows.last[q] >= 0 ? D_solved[q] : exp_guarded(rows.dot(q, u));
    for (Equation& e : p.equations) (void)e.residual(D, true);
    return factor_jacobian(p, rows, cancel);
}

// A: each equation's derivatives in ln P at the queries it reads, at its last evaluation
// with derivatives (a query read twice, once).
SparseRows derivative_rows(const Problem& p) {
    const std::size_t nq = p.query_times.size();
    SparseRows a;
    std::vector<double> acc(nq, 0.0);
    std::vector<std::uint8_t> seen(nq, 0);
    std::vector<std::uint32_t> touched;
    for (const Equation& e : p.equations) {
        const auto add = [&](std::uint32_t q, double c) {
            if (!seen[q]) {
                seen[q] = 1;
                touched.push_back(q);
            }
            acc[q] += c;
        };
        for (std::size_t i = 0; i < e.pq.size(); ++i) add(e.pq[i], e.gp[i] * e.dp[i]);
        if (!e.external)
            for (std::size_t i = 0; i < e.dq.size(); ++i) add(e.dq[i], e.gd[i] * e.dd[i]);
        std::sort(touched.begin(), touched.end());
        for (std::uint32_t q : touched) {
            a.col.push_back(q);
            a.value.push_back(acc[q]);
            acc[q] = 0.0;
            seen[q] = 0;
        }
        a.end_row();
        touched.clear();
    }
    return a;
}

// ln P at every query of a global interpolation (natural cubic, monotone convex) in the
// unknowns, and its Jacobian (bootstrap_jacobian.hpp).
struct GlobalModel {
    Interp interp;
    const Problem* p;
    Rows preconditioning;                 // the local interpolation's rows
    std::optional<SplineWeights> spline;  // natural cubic: the nodes' weights
    Rows rows;                            // monotone convex: W's rows at the last evaluation

    static Result<GlobalModel> create(Interp interp, const Problem& p) {
        GlobalModel m{interp, &p, {}, {}, {}};
        const bool cubic = interp == Interp::NaturalCubic;
        QUELM_TRY(local, linear_rows(p.nodes, p.query_times, cubic ? Interp::Linear : Interp::LogLinear));
        m.preconditioning = std::move(local);
        if (cubic) {
            QUELM_TRY(w, SplineWeights::create(p.nodes));
            m.spline.emplace(std::move(w));
            return m;
        }
        // Monotone convex: a query between nodes j - 1 and j reads the integrals of the nodes
        // j - 2 .. j + 1, the unknowns j - 3 .. j (the values set at each evaluation); one on
        // a node, that node's own.
        const std::size_t nq = p.query_times.size(), n = p.nodes.size() - 1;
        std::size_t j = 0;
        for (std::size_t q = 0; q < nq; ++q) {
            const double t = p.query_times[q];
            while (j + 1 < p.nodes.size() && p.nodes[j] < t) ++j;
            if (!(t > 0.0)) {
                m.rows.push_pair(0, 0.0, 0, 0.0);
                continue;
            }
            const std::size_t a = p.nodes[j] == t ? j - 1 : (j >= 3 ? j - 3 : 0), b = std::min(j + 1, n);
            for (std::size_t c = a; c < b; ++c) {
                m.rows.col.push_back(static_cast<std::uint32_t>(c));
                m.rows.w.push_back(0.0);
            }
            m.rows.start.push_back(m.rows.col.size());
            m.rows.last.push_back(static_cast<int>(b - 1));
        }
        return m;
    }

    // L, D at every query; with_rows: W's rows too (monotone convex).
    Status evaluate(std::span<const double> u, std::vector<double>& L, std::vector<double>& D, bool with_rows) {
        const std::size_t n = u.size(), nq = p->query_times.size();
        L.assign(nq, 0.0);
        D.assign(nq, 1.0);
        if (interp == Interp::NaturalCubic) {
            QUELM_TRY(s, NaturalCubicSpline::create(p->nodes, node_values(u, true)));
            for (std::size_t m = 0; m < nq; ++m) {
                const double t = p->query_times[m];
                if (!(t > 0.0)) continue;
                QUELM_TRY(z, s.eval(t));
                L[m] = -t * z;
            }
        } else {
            std::vector<double> integrals(n + 1, 0.0);
            for (std::size_t k = 0; k < n; ++k) integrals[k + 1] = -u[k];
            QUELM_TRY(mc, MonotoneConvex::create(p->nodes, integrals));
            std::vector<double> node(with_rows ? n + 1 : 0, 0.0);
            for (std::size_t m = 0; m < nq; ++m) {
                const double t = p->query_times[m];
                if (t <= 0.0) continue;
                L[m] = -mc.integral(t);
                if (!with_rows) continue;
                mc.add_integral_gradient(t, 1.0, node);
                // Read and cleared over the row's own unknowns (and node 0, never one).
                for (std::size_t k = rows.start[m]; k < rows.start[m + 1]; ++k) {
                    rows.w[k] = node[rows.col[k] + 1];
                    node[rows.col[k] + 1] = 0.0;
                }
                node[0] = 0.0;
            }
        }
        for (std::size_t m = 0; m < nq; ++m) D[m] = exp_guarded(L[m]);
        return {};
    }

    // The Jacobian at the last evaluation (with derivatives, and rows on monotone convex).
    Result<GlobalJacobian> jacobian(const Problem& prob, Cancel& cancel) const {
        QUELM_TRY(pre, factor_jacobian(prob, preconditioning, cancel));
        SparseRows w;
        if (!spline) {
            w.start.assign(rows.start.begin(), rows.start.end());
            w.col = rows.col;
            w.value = rows.w;
        }
        return GlobalJacobian(derivative_rows(prob), prob.nodes, prob.query_times, spline, std::move(w),
                              std::move(pre));
    }
};

// max |R_k| / scale_k, or infinity when a residual is not finite; fills r.
double residuals(Problem& p, std::span<const double> D, std::vector<double>& r, bool grad) {
    double worst = 0.0;
    for (std::size_t k = 0; k < p.equations.size(); ++k) {
        r[k] = p.equations[k].residual(D, grad);
        if (!std::isfinite(r[k])) return INFINITY;
        worst = std::fmax(worst, std::fabs(r[k]) / p.equations[k].scale);
    }
    return worst;
}

// Newton on every pillar at once, each step solved with the Jacobian by preconditioned GMRES
// (near-linear in the quotes' flows), with a halving line search. Polls Ctrl-C between the
// evaluations.
Status solve_global(Problem& p, GlobalModel& model, std::vector<double>& u, Cancel& cancel) {
    const std::size_t n = u.size();
    std::vector<double> L, D, res(n), step(n), u_try(n), r_try(n);
    CancelPoller poller(cancel);
    QUELM_CHECK(model.evaluate(u, L, D, true));
    double worst = residuals(p, D, res, true);
    for (int it = 0; it < 60 && worst > 1e-16; ++it) {
        if (poller.check()) return cancelled();
        if (!std::isfinite(worst)) break;
        auto J = model.jacobian(p, cancel);
        if (!J) {
            if (J.error().kind != Kind::Numerical) return std::unexpected(J.error());
            break;
        }
        for (std::size_t k = 0; k < n; ++k) step[k] = -res[k];
        const Status solved = J->solve(step, 1e-13, cancel);
        if (!solved) {
            if (solved.error().kind != Kind::Numerical) return solved;
            break;
        }
        double alpha = 1.0, worst_try = INFINITY;
        for (int half = 0; half < 40; ++half, alpha *= 0.5) {
            if (poller.check()) return cancelled();
            for (std::size_t k = 0; k < n; ++k) u_try[k] = u[k] + alpha * step[k];
            QUELM_CHECK(model.evaluate(u_try, L, D, false));
            worst_try = residuals(p, D, r_try, false);
            if (worst_try < worst) break;
        }
        if (!(worst_try < worst)) break;
        double biggest = 0.0, size = 1.0;
        for (std::size_t k = 0; k < n; ++k) {
            biggest = std::fmax(biggest, std::fabs(alpha * step[k]));
            size = std::fmax(size, std::fabs(u_try[k]));
        }
        u = u_try;
        if (poller.check()) return cancelled();
        QUELM_CHECK(model.evaluate(u, L, D, true));
        worst = residuals(p, D, res, true);
        if (biggest <= 1e-16 * size) break;
    }
    if (!(worst <= 1e-12)) {
        std::size_t at = 0;
        for (std::size_t k = 0; k < n; ++k)
            if (!(std::fabs(res[k]) / p.equations[k].scale <= std::fabs(res[at]) / p.equations[at].scale)) at = k;
        return fail("the " + std::string(interp_name(model.interp)) + " curve does not reprice " +
                    describe(*p.equations[at].instrument) + " (a solution would need a discount factor that is " +
                    "not positive and finite, or the quotes are inconsistent)");
    }
    return {};
}

// The Jacobian of the repricing equations at the built curve, in its unknowns (and, on a
// bootstrapped discount curve, in that curve's unknowns).
Status jacobian(const Problem& p, const YieldCurve& curve, const YieldCurve* discount, bool tied,
                std::vector<double>& J, std::vector<double>& cross, std::size_t& n_cross) {
    const std::size_t n = p.equations.size();
    QUELM_TRY(grad, CurveGradient::create(curve));
    std::optional<CurveGradient> dgrad;
    const BootstrapState* dstate = discount ? discount->bootstrap_state().get() : nullptr;
    n_cross = dstate ? dstate->pillars.size() : 0;
    if (dstate) {
        QUELM_TRY(g, CurveGradient::create(*discount));
        dgrad.emplace(std::move(g));
    }
    QUELM_CHECK(check_fits_in_memory(
        doubles_bytes(static_cast<double>(n) * (2.0 * static_cast<double>(n) + static_cast<double>(n_cross))),
        kJacobianMemory));
    J.assign(n * n, 0.0);
    cross.assign(n * n_cross, 0.0);
    const CurvePair pair{&curve, discount ? discount : &curve};
    std::vector<double> node(n + 1), dnode(discount && !discount->is_flat() ? discount->values().size() : 0);
    for (std::size_t k = 0; k < n; ++k) {
        const Equation& e = p.equations[k];
        QUELM_TRY(reading, read_curves(*e.layout, pair));
        std::vector<double> gp(reading.dp.size(), 0.0), gd(reading.dd.size(), 0.0);
        (void)model_quote(*e.layout, reading.dp, reading.dd, 1.0, gp, gd);
        std::fill(node.begin(), node.end(), 0.0);
        QUELM_CHECK(chain_to_nodes(grad, reading.tp, reading.dp, gp, node));
        if (discount == nullptr) {
            QUELM_CHECK(chain_to_nodes(grad, reading.td, reading.dd, gd, node));
        } else if (dstate) {
            std::fill(dnode.begin(), dnode.end(), 0.0);
            QUELM_CHECK(chain_to_nodes(*dgrad, reading.td, reading.dd, gd, dnode));
            nodes_to_unknowns(*discount, dnode, std::span<double>(&cross[k * n_cross], n_cross));
        }
        fold(tied, node, std::span<double>(&J[k * n], n));
    }
    return {};
}

}  // namespace

void nodes_to_unknowns(const YieldCurve& curve, std::span<const double> node_grad, std::span<double> unknown_grad) {
    fold(!curve.on_log_discounts(), node_grad, unknown_grad);
}

Result<YieldCurve> bootstrap(BootstrapSpec spec, Cancel& cancel) {
    const std::size_t n = spec.instruments.size();
    if (n == 0) return fail("need at least one instrument");
    const Serial ref = spec.reference;
    const YieldCurve* discount = spec.discount.get();
    if (discount) {
        const auto& dref = discount->dating().reference;
        if (!dref) return fail("the discount curve needs a reference date");
        if (*dref != ref)
            return fail("the discount curve's reference date " + dates::format_iso(*dref) + " differs from " +
                        dates::format_iso(ref));
    }
    for (const Instrument& i : spec.instruments) {
        const Status s = std::visit([](const auto& x) { return check(x); }, i);
        if (!s) return fail(describe(i) + ": " + s.error().text);
    }
    // Lay out, then order by the last date each reads on the curve being built.
    Problem p;
    p.reference = ref;
    std::vector<std::shared_ptr<const Layout>> layouts(n);
    std::vector<Serial> last(n);
    for (std::size_t i = 0; i < n; ++i) {
        auto l = lay_out_kept(spec.instruments[i], ref);
        if (!l) return fail(l.error().text);
        if (discount && (*l)->proj.empty())
            return fail(describe(spec.instruments[i]) +
                        " reads no forward: on a discount curve it cannot build a projection curve");
        last[i] = last_date(**l, discount != nullptr);
        layouts[i] = std::move(*l);
    }
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return last[a] < last[b]; });
    p.nodes.assign(1, 0.0);
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t i = order[k];
        if (k > 0 && last[i] == last[order[k - 1]])
            return fail(describe(spec.instruments[order[k - 1]]) + " and " + describe(spec.instruments[i]) +
                        " both end on " + dates::format_iso(last[i]) + ": each pillar needs its own instrument");
        QUELM_TRY(t, dates::year_fraction(ref, last[i], spec.day_count));
        if (!(t > p.nodes.back()))
            return fail(describe(spec.instruments[i]) + " ends on " + dates::format_iso(last[i]) +
                        (k == 0 ? ", not after the reference date" : ", at the curve time of the pillar before it"));
        p.nodes.push_back(t);
        p.pillars.push_back(last[i]);
    }
    // The queries: every date read on the curve being built, in order.
    const DateIndex queries(layouts, discount == nullptr);
    const std::vector<Serial>& qdates = queries.dates;
    p.query_times.reserve(qdates.size());
    for (Serial d : qdates) {
        QUELM_TRY(t, dates::year_fraction(ref, d, spec.day_count));
        p.query_times.push_back(t);
    }
    const auto query = [&](Serial d) { return queries.index(d); };
    p.equations.resize(n);
    std::size_t n_proj = 0, n_disc = 0;
    for (const auto& l : layouts) {
        n_proj += l->proj.size();
        n_disc += l->disc.size();
    }
    p.index_pool.assign(n_proj + (discount ? 0 : n_disc), 0);
    p.value_pool.assign(2 * n_proj + 2 * n_disc, 0.0);
    std::uint32_t* next_index = p.index_pool.data();
    double* next_value = p.value_pool.data();
    const auto take_values = [&](std::size_t count) {
        const std::span<double> out(next_value, count);
        next_value += count;
        return out;
    };
    for (std::size_t k = 0; k < n; ++k) {
        Equation& e = p.equations[k];
        const std::size_t i = order[k];
        e.instrument = &spec.instruments[i];
        e.layout = std::move(layouts[i]);
        e.quote = e.layout->quote;
        e.scale = std::fmax(1.0, std::fabs(e.quote));
        const std::size_t np = e.layout->proj.size(), nd = e.layout->disc.size();
        e.pq = std::span(next_index, np);
        next_index += np;
        for (std::size_t j = 0; j < np; ++j) e.pq[j] = query(e.layout->proj[j]);
        e.dp = take_values(np);
        e.gp = take_values(np);
        e.dd = take_values(nd);
        e.gd = take_values(nd);
        if (discount) {
            e.external = true;
            for (std::size_t j = 0; j < nd; ++j) {
                auto df = discount->discount_on(e.layout->disc[j]);
                if (!df) return fail(describe(*e.instrument) + ": discount curve: " + df.error().text);
                e.dd[j] = *df;
            }
        } else {
            e.dq = std::span(next_index, nd);
            next_index += nd;
            for (std::size_t j = 0; j < nd; ++j) e.dq[j] = query(e.layout->disc[j]);
        }
    }
    // Solve.
    const Interp interp = curve_interp(spec.interp);
    const bool tied = zero_rate_nodes(interp);
    std::vector<double> u, cross;
    std::size_t n_cross = 0;
    std::optional<Result<MatrixFactors>> factors;
    std::optional<GlobalJacobian> global;
    // On a bootstrapped discount curve the Jacobian also needs the cross terms: from the curves.
    const bool cross_terms = discount != nullptr && discount->bootstrap_state() != nullptr;
    if (interp == Interp::LogLinear || interp == Interp::FlatForward || interp == Interp::Linear) {
        QUELM_TRY(rows, linear_rows(p.nodes, p.query_times, interp));
        std::vector<double> D;
        QUELM_CHECK(solve_sequential(p, rows, tied, u, D, cancel));
        if (!cross_terms) factors.emplace(jacobian_from_rows(p, rows, u, D, cancel));
    } else {
        // Start from the log-linear curve through the same quotes.
        QUELM_TRY(rows, linear_rows(p.nodes, p.query_times, Interp::LogLinear));
        std::vector<double> D;
        QUELM_CHECK(solve_sequential(p, rows, false, u, D, cancel));
        if (interp == Interp::NaturalCubic)
            for (std::size_t k = 0; k < n; ++k) u[k] = -u[k] / p.nodes[k + 1];
        QUELM_TRY(model, GlobalModel::create(interp, p));
        QUELM_CHECK(solve_global(p, model, u, cancel));
        if (!cross_terms) {
            std::vector<double> L, r(n);
            QUELM_CHECK(model.evaluate(u, L, D, true));
            (void)residuals(p, D, r, true);
            auto g = model.jacobian(p, cancel);
            if (g) global.emplace(std::move(*g));
            else factors.emplace(std::unexpected(g.error()));
        }
    }
    const Dating dating{ref, spec.day_count};
    QUELM_TRY(curve, YieldCurve::from_nodes(p.nodes, node_values(u, tied), interp, spec.extrapolate, dating));
    // What risk needs: the Jacobian at the built curve.
    if (!factors && !global) {
        std::vector<double> J;
        QUELM_CHECK(jacobian(p, curve, discount, tied, J, cross, n_cross));
        factors.emplace(MatrixFactors::dense(std::move(J), n, kJacobianMemory));
    }
    if (factors && !*factors) {
        if ((*factors).error().kind != Kind::Numerical) return std::unexpected((*factors).error());
        return fail("the repricing equations are singular at the built curve (an instrument reads no pillar of its own)");
    }
    BootstrapJacobian kept = global ? BootstrapJacobian(std::move(*global)) : BootstrapJacobian(std::move(**factors));
    // The equations point into the inputs' instruments; they are not read after the inputs
    // move into the curve's state.
    auto state = std::make_shared<BootstrapState>(BootstrapState{
        std::move(spec), std::move(order), std::move(p.pillars), std::move(kept), std::move(cross), n_cross});
    return curve.with_state(std::move(state));
}

}  // namespace quelm::curves
