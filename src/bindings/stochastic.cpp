// Python bindings: simulate_process.
#include "bindings/frame/args.hpp"
#include "bindings/frame/result.hpp"

namespace quelm::py {

namespace {

PyObject* simulate_process_impl(Args&) {
    return raise(Error{Kind::NotImplemented, "simulate_process"});
}

}  // namespace

extern const FunctionDef def_simulate_process = {
    "simulate_process(process, x0=100.0, t=1.0, steps=100, paths=100000, seed=42, mu=0.05, sigma=0.20, kappa=1.0, theta=0.04, lambda_=0.5, jump_mean=..., jump_std=0.15, v0=0.04, xi=0.30, rho=...)\n--\n\n"
    "Simulate a stochastic process and return a dict of its terminal moments",
    &simulate_process_impl,
};

}  // namespace quelm::py
