// The pieces a bootstrap is made of, shared by its sequential and global solves: the
// repricing equations, the queries' rows of a local interpolation, the problem they form,
// and the Jacobian of a local interpolation (lower triangular). Internal to the bootstrap.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/interpolate.hpp"
#include "quelm/core/math/sparse_triangular.hpp"
#include "quelm/curves/instrument.hpp"
#include "quelm/curves/layout.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::curves::detail {

using dates::Serial;

inline std::unexpected<Error> fail(const std::string& text) { return invalid("bootstrap: " + text); }

inline bool zero_rate_nodes(Interp i) { return i == Interp::Linear || i == Interp::NaturalCubic; }

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
inline void fold(bool tied, std::span<const double> nodes, std::span<double> unknowns) {
    for (std::size_t k = 0; k < unknowns.size(); ++k) unknowns[k] = nodes[k + 1];
    if (tied) unknowns[0] += nodes[0];
}

// The rows of a local interpolation (log-linear, flat-forward, linear in zero rates): each
// query reads the two nodes of its segment.
[[nodiscard]] Result<Rows> linear_rows(std::span<const double> nodes, std::span<const double> times, Interp interp);

// Node values from the unknowns.
[[nodiscard]] std::vector<double> node_values(std::span<const double> u, bool tied);

struct Problem {
    Serial reference;
    std::vector<Serial> pillars;
    std::vector<double> nodes;        // node times, 0 first
    std::vector<double> query_times;  // ascending
    std::vector<Equation> equations;  // in pillar order
    std::vector<std::uint32_t> index_pool;
    std::vector<double> value_pool;
};

inline double exp_guarded(double y) { return quelm::exp(y); }

inline bool finite_positive(double d) { return std::isfinite(d) && d > 0.0; }

inline constexpr const char* kJacobianMemory = "the bootstrap Jacobian";

// The Jacobian of the repricing equations in the unknowns, J = A W at the equations' last
// evaluation with derivatives (A: each equation's derivatives in ln P at the queries it reads;
// W: ln P at the queries in the unknowns, the rows of a local interpolation): lower
// triangular, each query reading unknowns up to its own pillar.
[[nodiscard]] Result<MatrixFactors> factor_jacobian(const Problem& p, const Rows& local, Cancel& cancel);

// max |R_k| / scale_k, or infinity when a residual is not finite; fills r.
double residuals(Problem& p, std::span<const double> D, std::vector<double>& r, bool grad);

}  // namespace quelm::curves::detail
