// Python binding: simulate_process.
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "bindings/string_options.hpp"
#include "quelm/stochastic/process.hpp"
#include "quelm/stochastic/result.hpp"
#include "quelm/stochastic/simulate.hpp"

namespace quelm::py {

constexpr Section kSection = Section::Processes;
constexpr std::string_view kGuide = "processes";  // the guide page of its names

namespace {

using stochastic::ProcessResult;

constinit const auto kProcessResult = record<ProcessResult>({
    {"process", member<&ProcessResult::process>,
     [] {
         return "Literal[\"gbm\", \"ornstein-uhlenbeck\", \"vasicek\", \"cir\", \"merton-jump\", \"heston\"]";
     }},
    QUELM_FIELD(ProcessResult, x0), QUELM_FIELD(ProcessResult, t), QUELM_FIELD(ProcessResult, paths),
    QUELM_FIELD(ProcessResult, steps), QUELM_FIELD(ProcessResult, sample_mean),
    QUELM_FIELD(ProcessResult, mean_std_error), QUELM_FIELD(ProcessResult, sample_std),
    QUELM_FIELD(ProcessResult, analytic_mean), QUELM_FIELD(ProcessResult, analytic_std),
    QUELM_FIELD(ProcessResult, mean_abs_error), QUELM_FIELD(ProcessResult, std_abs_error),
});
static_assert(kProcessResult.size() == aggregate_size<ProcessResult>());

}  // namespace

QUELM_RECORD(ProcessResult, kProcessResult, "ProcessResult");

namespace {

Result<ProcessResult> simulate_process_of(stochastic::ProcessKind kind, double x0, double t, std::uint64_t steps,
                                          std::uint64_t paths, std::uint64_t seed, double mu, double sigma,
                                          double kappa, double theta, double lambda, double jump_mean,
                                          double jump_std, double v0, double xi, double rho, Cancel& cancel) {
    const stochastic::ProcessParams p{mu, sigma, kappa, theta, lambda, jump_mean, jump_std, v0, xi, rho};
    return stochastic::simulate_report(kind, p, {paths, steps, seed}, x0, t, cancel);
}

constexpr FunctionDef def_simulate_process = typed<&simulate_process_of>(
    "simulate_process",
    {"process", {"x0", "100.0"}, {"t", "1.0"}, {"steps", "100"}, {"paths", "100000"}, {"seed", "42"},
     {"mu", "0.05"}, {"sigma", "0.20"}, {"kappa", "1.0"}, {"theta", "0.04"}, {"lambda_", "0.5"},
     {"jump_mean", "...", "-0.1"}, {"jump_std", "0.15"}, {"v0", "0.04"}, {"xi", "0.30"}, {"rho", "...", "-0.6"}},
    "Simulate a stochastic process and return a dict of its terminal moments");
QUELM_PUBLIC(def_simulate_process);

}  // namespace

}  // namespace quelm::py
