// Bare single-threaded loops doing exactly the per-path arithmetic of the engines:
// no pool, no result structs, no validation. They are the floor the benchmarks
// compare the engines against, and the tests check they compute the same numbers.
#include "testing/registry.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/sample.hpp"
#include "quelm/core/random.hpp"

namespace quelm::testing {

namespace {

// European antithetic call: (discounted mean, discounted standard error).
PyObject* mc_floor(double S, double K, double r, double sigma, double T, std::uint64_t paths, std::uint64_t seed) {
    const double disc = quelm::exp(-r * T);
    const double drift = (r + (-0.5 * sigma) * sigma) * T;
    const double diff = std::sqrt(T) * sigma;
    std::vector<double> values(paths - paths / 2);
    for (std::size_t i = 0; i < values.size(); ++i) {
        Xoshiro256pp rng = seed_from_u64(derive_seed(seed, i));
        const double z = standard_normal(rng);
        const double up = S * quelm::exp(drift + diff * z);
        const double down = S * quelm::exp(drift - diff * z);
        values[i] = 0.5 * (std::max(down - K, 0.0) + std::max(up - K, 0.0));
    }
    const MeanSe ms = mean_and_se(values);
    return py::to_py_pair(disc * ms.mean, disc * ms.standard_error);
}

// Terminal values of antithetic pairs for gbm (mu, sigma), cir (kappa, theta, sigma)
// or heston (mu, kappa, theta, xi, rho, v0 in p[0..5]); returns their plain mean.
PyObject* terminal_floor(const std::string& model, const py::FloatSeq& params, double x0, double t,
                         std::uint64_t steps, std::uint64_t paths, std::uint64_t seed) {
    std::vector<double> p;
    p.assign(params.view().begin(), params.view().end());
    p.resize(6, 0.0);
    const std::uint64_t pairs = paths - paths / 2;
    const double dt = t / static_cast<double>(steps);
    const double sq = std::sqrt(dt);
    double total = 0.0;
    for (std::uint64_t i = 0; i < pairs; ++i) {
        Xoshiro256pp rng = seed_from_u64(derive_seed(seed, i));
        double x = x0, y = x0;
        if (model == "gbm") {
            const double drift = dt * (p[0] + (-0.5 * p[1]) * p[1]);
            const double s = sq * p[1];
            for (std::uint64_t k = 0; k < steps; ++k) {
                const double u = standard_normal(rng) * s;
                x = x * quelm::exp(drift + u);
                y = y * quelm::exp(drift - u);
            }
        } else if (model == "cir") {
            for (std::uint64_t k = 0; k < steps; ++k) {
                const double z = standard_normal(rng);
                const double px = std::max(x, 0.0), py_ = std::max(y, 0.0);
                x = x + (std::sqrt(px) * p[2] * sq * z + (p[1] - px) * p[0] * dt);
                y = y + ((p[1] - py_) * p[0] * dt - std::sqrt(py_) * p[2] * sq * z);
            }
            x = std::max(x, 0.0);
            y = std::max(y, 0.0);
        } else {
            const double mu = p[0], kappa = p[1], theta = p[2], xi = p[3], rho = p[4];
            const double c = std::sqrt(std::max(1.0 - rho * rho, 0.0));
            double vx = p[5], vy = p[5];
            for (std::uint64_t k = 0; k < steps; ++k) {
                const double z1 = standard_normal(rng);
                const double z2 = standard_normal(rng);
                const double zp = rho * z1 + c * z2;
                const double ux = std::max(vx, 0.0), uy = std::max(vy, 0.0);
                const double sx = std::sqrt(ux), sy = std::sqrt(uy);
                x = x * quelm::exp((mu + (-0.5) * ux) * dt + sq * sx * zp);
                y = y * quelm::exp((mu + (-0.5) * uy) * dt - sq * sy * zp);
                vx = vx + (sx * xi * sq * z1 + (theta - ux) * kappa * dt);
                vy = vy + ((theta - uy) * kappa * dt - sy * xi * sq * z1);
            }
        }
        total += x + y;
    }
    return py::to_py(total / static_cast<double>(2 * pairs));
}

constexpr py::FunctionDef def_mc_floor = py::function<mc_floor>(
    "mc_floor", {"spot", "strike", "rate", "vol", "t", "paths", "seed"}, "Bare-loop European antithetic call.");
QUELM_TESTING(def_mc_floor);
constexpr py::FunctionDef def_terminal_floor = py::function<terminal_floor>(
    "terminal_floor", {"model", "params", "x0", "t", "steps", "paths", "seed"}, "Bare-loop terminal mean.");
QUELM_TESTING(def_terminal_floor);


}  // namespace

}  // namespace quelm::testing
