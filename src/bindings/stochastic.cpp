// Python bindings: simulate_process.
#include "bindings/frame/args.hpp"
#include "bindings/frame/result.hpp"
#include "quelm/stochastic/process.hpp"
#include "quelm/stochastic/result.hpp"
#include "quelm/stochastic/simulate.hpp"

namespace quelm::py {

namespace {

PyObject* simulate_process_impl(Args& a) {
    using namespace quelm::stochastic;
    std::string name;
    double x0 = 100.0, t = 1.0;
    std::uint64_t steps = 100, paths = 100000, seed = 42;
    ProcessParams p;
    if (!a.all(name, x0, t, steps, paths, seed, p.mu, p.sigma, p.kappa, p.theta, p.lambda, p.jump_mean, p.jump_std,
               p.v0, p.xi, p.rho))
        return nullptr;
    ProcessKind kind;
    if (!parsed(parse_process_kind(name), kind)) return nullptr;
    const Process process = make_process(kind, p);
    const SimSettings settings{paths, steps, seed};
    Interrupt intr;
    const auto sample = simulate_terminal(process, settings, x0, t, intr.token());
    if (!sample || intr.interrupted()) return finish(sample, intr, [](const TerminalSample&) { return none(); });
    const auto result = ProcessResult::from_simulation(process, settings, *sample, x0, t, intr.token());
    return finish(result, intr, [&](const ProcessResult& r) {
        static const KeySet<12> keys({"process", "x0", "t", "paths", "steps", "sample_mean", "mean_std_error",
                                      "sample_std", "analytic_mean", "analytic_std", "mean_abs_error",
                                      "std_abs_error"});
        return make_dict(keys, {to_py(r.process), to_py(r.x0), to_py(r.t), to_py(r.paths), to_py(r.steps),
                                to_py(r.sample_mean), to_py(r.mean_std_error), to_py(r.sample_std),
                                to_py(r.analytic_mean), to_py(r.analytic_std), to_py(r.mean_abs_error),
                                to_py(r.std_abs_error)});
    });
}

}  // namespace

extern const FunctionDef def_simulate_process = {
    "simulate_process(process, x0=100.0, t=1.0, steps=100, paths=100000, seed=42, mu=0.05, sigma=0.20, kappa=1.0, theta=0.04, lambda_=0.5, jump_mean=..., jump_std=0.15, v0=0.04, xi=0.30, rho=...)\n--\n\n"
    "Simulate a stochastic process and return a dict of its terminal moments",
    &simulate_process_impl,
};

}  // namespace quelm::py
