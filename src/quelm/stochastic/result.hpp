// Sample terminal moments of a simulation set beside the model's closed forms.
#pragma once

#include <optional>
#include <string>

#include "quelm/stochastic/process.hpp"
#include "quelm/stochastic/simulate.hpp"

namespace quelm::stochastic {

struct ProcessResult {
    std::string process;  // canonical model name
    double x0, t;
    std::uint64_t paths;  // number of terminal values (2 * pairs)
    std::uint64_t steps;
    double sample_mean, mean_std_error, sample_std;
    double analytic_mean;
    std::optional<double> analytic_std;
    double mean_abs_error;
    std::optional<double> std_abs_error;

    // Passes over the sample poll `cancel`; a stopped one fails as cancelled.
    [[nodiscard]] static Result<ProcessResult> from_simulation(const Process& process, const SimSettings& s,
                                                               const TerminalSample& sample, double x0, double t,
                                                               Cancel& cancel = never_cancel());
};

// Simulate the terminal sample of `kind` with `params`, then report its moments.
[[nodiscard]] Result<ProcessResult> simulate_report(ProcessKind kind, const ProcessParams& params,
                                                    const SimSettings& s, double x0, double t,
                                                    Cancel& cancel = never_cancel());

}  // namespace quelm::stochastic
