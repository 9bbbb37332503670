// How an iterative solve ended, in the one vocabulary of the solvers here (the damped Newton
// forms of solvers.hpp, the least-squares fit). The solvers report; each caller decides from
// the status, and the residual reached, what it accepts and how it names a failure.
#pragma once

namespace quelm {

enum class SolveStatus {
    Converged,      // the tolerance was met
    MaxIterations,  // the iteration limit came first
    Stalled,        // no step lowers the residual any more (or the steps fell below rounding)
    NonFinite,      // a residual or a derivative was not finite
    Singular,       // the derivative (the Jacobian) gives no step
};

}  // namespace quelm
