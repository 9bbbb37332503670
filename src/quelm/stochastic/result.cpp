#include "quelm/stochastic/result.hpp"

#include <cmath>

#include "quelm/core/math/sample.hpp"

namespace quelm::stochastic {

Result<ProcessResult> ProcessResult::from_simulation(const Process& process, const SimSettings& s,
                                                     const TerminalSample& sample, double x0, double t,
                                                     Cancel& cancel) {
    CancelPoller poller(cancel);
    QUELM_TRY(pm, mean_and_se(sample.pair_means, poller));

    const auto& v = sample.terminal;
    const std::size_t n = v.size();
    double total = 0.0;
    for (double x : v) {
        total += x;
        if (poller.tick()) return cancelled();
    }
    const double m = n > 0 ? total / static_cast<double>(n) : 0.0;
    double ss = 0.0;
    for (double x : v) {
        ss += (x - m) * (x - m);
        if (poller.tick()) return cancelled();
    }
    const double sample_std = n > 1 ? std::sqrt(ss / static_cast<double>(n - 1)) : 0.0;

    const Moments a = analytic_moments(process, x0, t);
    std::optional<double> astd;
    std::optional<double> std_err;
    if (a.variance) {
        astd = std::sqrt(*a.variance);
        std_err = std::fabs(sample_std - *astd);
    }
    return ProcessResult{canonical_name(process), x0, t, static_cast<std::uint64_t>(n), s.steps,
                         pm.mean, pm.standard_error, sample_std, a.mean, astd,
                         std::fabs(pm.mean - a.mean), std_err};
}

Result<ProcessResult> simulate_report(ProcessKind kind, const ProcessParams& params, const SimSettings& s,
                                      double x0, double t, Cancel& cancel) {
    const Process process = make_process(kind, params);
    QUELM_TRY(sample, simulate_terminal(process, s, x0, t, cancel));
    if (cancel.stopped()) return cancelled();
    return ProcessResult::from_simulation(process, s, sample, x0, t, cancel);
}

}  // namespace quelm::stochastic
