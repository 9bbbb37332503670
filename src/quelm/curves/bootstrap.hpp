// Bootstrapping: the curve whose pillars (one per instrument, at the latest date it reads)
// reprice every quote. Sequential, one pillar at a time, where the interpolation is local
// (log-linear, flat-forward, linear in zero rates); a Newton solve of every pillar at once
// where it couples them (natural cubic, monotone convex), started from the log-linear
// curve, each Newton step solved by preconditioned GMRES with the Jacobian's products
// (bootstrap_jacobian.hpp), so a build takes time near-linear in the quotes' flows. Dual curves: a projection curve on a given discount curve. The curve keeps its
// inputs and the Jacobian of its repricing equations for bucketed risk (risk.hpp).
// Times are year fractions of the curve's day count from the reference date.
#pragma once

#include <memory>
#include <span>
#include <vector>

#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/curves/bootstrap_jacobian.hpp"
#include "quelm/curves/curve.hpp"
#include "quelm/curves/curve_options.hpp"
#include "quelm/curves/instrument.hpp"

namespace quelm::curves {

struct BootstrapSpec {
    dates::Serial reference = 0;
    std::vector<Instrument> instruments;
    dates::DayCount day_count{};  // act/365f
    BootstrapInterp interp = BootstrapInterp::LogLinear;
    Extrapolation extrapolate = Extrapolation::FlatForward;
    // The curve that discounts payments; none: the curve being built does both.
    std::shared_ptr<const YieldCurve> discount;
};

// The unknowns of a bootstrapped curve are its node values after t = 0: the log discount
// factor at 0 is fixed at 0, and a zero-rate curve's rate at 0 is its first pillar's.
struct BootstrapState {
    BootstrapSpec spec;
    std::vector<std::size_t> order;      // order[k]: the instrument of pillar k (its index in the inputs)
    std::vector<dates::Serial> pillars;  // ascending
    // ∂R/∂u: R_k = model quote - quote of pillar k's instrument, u_k = the value of node k+1.
    BootstrapJacobian jacobian;
    // ∂R/∂u_d (row-major, n × n_cross): the repricing equations in the unknowns of a
    // bootstrapped discount curve; empty otherwise.
    std::vector<double> cross;
    std::size_t n_cross = 0;
};

// A node-value gradient of a bootstrapped curve (one entry per node) as one in its unknowns.
void nodes_to_unknowns(const YieldCurve& curve, std::span<const double> node_grad, std::span<double> unknown_grad);

// Errors start "bootstrap: " and name the instrument at fault.
[[nodiscard]] Result<YieldCurve> bootstrap(BootstrapSpec spec, Cancel& cancel);

}  // namespace quelm::curves
