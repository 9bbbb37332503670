#include "quelm/stochastic/simulate.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/core/parallel.hpp"
#include "quelm/core/sizes.hpp"

namespace quelm::stochastic {

namespace {

// Steps between two looks at the job's stop flag: a single path may be 2^40 steps long.
constexpr std::uint64_t kStopCheckMask = 4095;
bool stop_at(std::uint64_t k) { return (k & kStopCheckMask) == 0 && chunk_stopped(); }

// Jumps of one step are drawn one by one up to this count; beyond it their sum, normal with
// mean c * jump_mean and deviation sqrt(c) * jump_std, is drawn in one go, so a huge
// intensity costs two draws per step instead of a loop of lambda * dt draws.
constexpr std::uint64_t kJumpsOneByOne = std::uint64_t{1} << 16;
// Mean jump count of one step beyond which the count itself is drawn from its normal limit.
constexpr double kCountFromNormal = 1e9;

double compound_jump(double count, const MertonJump& m, Xoshiro256pp& rng) {
    return std::sqrt(count) * m.jump_std * standard_normal(rng) + count * m.jump_mean;
}

// Log jump factor of one step: the Poisson count, then the sum of that many normal jumps.
double step_jumps(const std::optional<Poisson>& jumps, double step_mean, const MertonJump& m, Xoshiro256pp& rng) {
    if (!jumps) {  // the count's normal limit
        const double c = std::floor(std::sqrt(step_mean) * standard_normal(rng) + step_mean + 0.5);
        return c > 0.0 ? compound_jump(c, m, rng) : 0.0;
    }
    const std::uint64_t c = jumps->sample(rng);
    if (c > kJumpsOneByOne) return compound_jump(static_cast<double>(c), m, rng);
    double j = 0.0;
    for (std::uint64_t n = 0; n < c; ++n) j = j + (standard_normal(rng) * m.jump_std + m.jump_mean);
    return j;
}

// Writes entry k of both paths, or nothing when only the terminal values are kept.
struct Sink {
    double* plus;   // nullptr: terminal only
    double* minus;
    void put(std::size_t k, double p, double q) const {
        if (plus != nullptr) {
            plus[k] = p;
            minus[k] = q;
        }
    }
};

// Keep: whether the paths are kept (else only the terminal values), fixed for the whole loop
// so that a step carries no test of it.
template <bool Keep>
struct Stepper {
    std::uint64_t steps;
    Xoshiro256pp& rng;
    double x0, dt, sq;
    Sink sink;
    double* last_p;
    double* last_q;

    void put(std::size_t k, double p, double q) const {
        if constexpr (Keep) sink.put(k, p, q);
    }

    void finish(double p, double q) const {
        *last_p = p;
        *last_q = q;
    }

    void operator()(const Gbm& m) const {
        const double drift = dt * (m.mu + (-0.5 * m.sigma) * m.sigma);
        const double s = sq * m.sigma;
        double p = x0, q = x0;
        for (std::uint64_t k = 1; k <= steps; ++k) {
            const double u = standard_normal(rng) * s;
            p = p * quelm::exp(drift + u);
            q = q * quelm::exp(drift - u);
            put(k, p, q);
            if (stop_at(k)) return;
        }
        finish(p, q);
    }

    void reverting(double kappa, double theta, double sigma) const {
        const double a = quelm::exp(dt * (-kappa));
        const double b = (1.0 - a) * theta;
        const double s = std::sqrt((1.0 - a * a) / (kappa + kappa)) * sigma;
        double p = x0, q = x0;
        for (std::uint64_t k = 1; k <= steps; ++k) {
            const double zs = standard_normal(rng) * s;
            p = p * a + b + zs;
            q = q * a + b - zs;
            put(k, p, q);
            if (stop_at(k)) return;
        }
        finish(p, q);
    }
    void operator()(const OrnsteinUhlenbeck& m) const { reverting(m.kappa, m.theta, m.sigma); }
    void operator()(const Vasicek& m) const { reverting(m.kappa, m.theta, m.sigma); }

    void operator()(const Cir& m) const {
        // The state may dip below zero; only its positive part drives and is recorded.
        double xp = x0, xq = x0;
        double rp = std::max(x0, 0.0), rq = rp;
        for (std::uint64_t k = 1; k <= steps; ++k) {
            const double z = standard_normal(rng);
            const double pp = std::max(xp, 0.0);
            const double pq = std::max(xq, 0.0);
            const double drift_p = (m.theta - pp) * m.kappa * dt;
            const double diff_p = std::sqrt(pp) * m.sigma * sq * z;
            const double drift_q = (m.theta - pq) * m.kappa * dt;
            const double diff_q = std::sqrt(pq) * m.sigma * sq * z;
            xp = xp + (diff_p + drift_p);
            xq = xq + (drift_q - diff_q);
            rp = std::max(xp, 0.0);
            rq = std::max(xq, 0.0);
            put(k, rp, rq);
            if (stop_at(k)) return;
        }
        finish(rp, rq);
    }

    void operator()(const MertonJump& m) const {
        const double drift = dt * (m.mu + (-0.5 * m.sigma) * m.sigma);
        const double s = sq * m.sigma;
        // Over a zero horizon no jump can occur, so no sampler is built for a zero mean.
        const double step_mean = dt * m.lambda;
        const bool jumping = m.lambda > 0.0 && step_mean > 0.0;
        std::optional<Poisson> jumps;
        if (jumping && step_mean <= kCountFromNormal) jumps.emplace(step_mean);
        double p = x0, q = x0;
        for (std::uint64_t k = 1; k <= steps; ++k) {
            const double u = standard_normal(rng) * s;
            p = p * quelm::exp(drift + u);
            q = q * quelm::exp(drift - u);
            if (jumping) {
                // No jump (or a zero sum) leaves both paths as they are: exp(0) is exactly 1.
                const double j = step_jumps(jumps, step_mean, m, rng);
                if (j != 0.0) {
                    const double factor = quelm::exp(j);
                    p = p * factor;
                    q = q * factor;
                }
            }
            put(k, p, q);
            if (stop_at(k)) return;
        }
        finish(p, q);
    }

    void operator()(const Heston& m) const {
        const double c = std::sqrt(std::max(1.0 - m.rho * m.rho, 0.0));
        double p = x0, q = x0, vp = m.v0, vq = m.v0;
        for (std::uint64_t k = 1; k <= steps; ++k) {
            const double z1 = standard_normal(rng);
            const double z2 = standard_normal(rng);
            const double zp = m.rho * z1 + c * z2;
            const double up = std::max(vp, 0.0);
            const double uq = std::max(vq, 0.0);
            const double sp = std::sqrt(up);
            const double sq_ = std::sqrt(uq);
            p = p * quelm::exp((m.mu + (-0.5) * up) * dt + sq * sp * zp);
            q = q * quelm::exp((m.mu + (-0.5) * uq) * dt - sq * sq_ * zp);
            const double drift_p = (m.theta - up) * m.kappa * dt;
            const double diff_p = sp * m.xi * sq * z1;
            const double drift_q = (m.theta - uq) * m.kappa * dt;
            const double diff_q = sq_ * m.xi * sq * z1;
            vp = vp + (diff_p + drift_p);
            vq = vq + (drift_q - diff_q);
            put(k, p, q);
            if (stop_at(k)) return;
        }
        finish(p, q);
    }
};

void run_pair(const Process& process, std::uint64_t steps, Xoshiro256pp& rng, double x0, double t, Sink sink,
              double& last_p, double& last_q) {
    const double dt = t / static_cast<double>(steps);
    const double sq = std::sqrt(dt);
    sink.put(0, x0, x0);
    if (sink.plus != nullptr) {
        std::visit(Stepper<true>{steps, rng, x0, dt, sq, sink, &last_p, &last_q}, process);
    } else {
        std::visit(Stepper<false>{steps, rng, x0, dt, sq, sink, &last_p, &last_q}, process);
    }
}

bool positive_x0(const Process& p) {
    return std::holds_alternative<Gbm>(p) || std::holds_alternative<MertonJump>(p) || std::holds_alternative<Heston>(p);
}

}  // namespace

Status validate(const Process& process, std::uint64_t paths, std::uint64_t steps, double x0, double t) {
    QUELM_CHECK(validate(process));
    if (!std::isfinite(x0)) return invalid("x0 must be finite");
    if (positive_x0(process) && !(x0 > 0.0)) return invalid("x0 must be > 0 for this process");
    if (std::holds_alternative<Cir>(process) && !(x0 >= 0.0)) return invalid("x0 must be >= 0 for CIR");
    if (!(std::isfinite(t) && t >= 0.0)) return invalid("t must be >= 0");
    if (paths < 1) return invalid("paths must be >= 1");
    if (steps < 1) return invalid("steps must be >= 1");
    return {};
}

PathPair simulate_pair(const Process& process, std::uint64_t steps, Xoshiro256pp& rng, double x0, double t) {
    const std::size_t len = checked_add(checked_count(steps), 1);
    PathPair out{std::vector<double>(len), std::vector<double>(len)};
    double lp = 0.0, lq = 0.0;
    run_pair(process, steps, rng, x0, t, Sink{out.plus.data(), out.minus.data()}, lp, lq);
    return out;
}

namespace {

double paths_bytes(const SimSettings& s) {
    return doubles_bytes(2.0 * static_cast<double>(pair_count(s.paths)) * (static_cast<double>(s.steps) + 1.0));
}

}  // namespace

Result<PathShape> plan_paths(const Process& process, const SimSettings& s, double x0, double t) {
    QUELM_CHECK(validate(process, s.paths, s.steps, x0, t));
    QUELM_CHECK(check_fits_in_memory(paths_bytes(s), "the simulated paths"));
    return PathShape{checked_mul(checked_count(pair_count(s.paths)), 2), checked_add(checked_count(s.steps), 1)};
}

Status fill_paths(const Process& process, const SimSettings& s, double x0, double t, std::span<double> out,
                  Cancel& cancel) {
    const std::size_t pairs = checked_count(pair_count(s.paths));
    const std::size_t len = checked_add(checked_count(s.steps), 1);
    if (out.size() != checked_mul(checked_mul(pairs, 2), len)) return bad_argument("the output must hold every path");
    double* base = out.data();
    const bool done = parallel_for(
        pairs,
        [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                if (chunk_stopped(len)) return;
                Xoshiro256pp rng = keyed_stream(s.seed, i);
                double* plus = base + (2 * i) * len;
                double lp = 0.0, lq = 0.0;
                run_pair(process, s.steps, rng, x0, t, Sink{plus, plus + len}, lp, lq);
            }
        },
        cancel);
    if (!done) return cancelled();
    return {};
}

Result<PathSet> simulate_paths(const Process& process, const SimSettings& s, double x0, double t, Cancel& cancel) {
    QUELM_CHECK(validate(process, s.paths, s.steps, x0, t));
    // Held while the paths are written; the caller's claim, if any, already covers them.
    QUELM_TRY(memory, claim_memory(paths_bytes(s), "the simulated paths"));
    QUELM_TRY(shape, plan_paths(process, s, x0, t));
    PathSet set;
    set.path_len = shape.path_len;
    set.count = shape.count;
    // Every entry is written by its pair's worker.
    set.values = DoubleBuffer(checked_count(checked_mul(set.count, set.path_len)));
    QUELM_CHECK(fill_paths(process, s, x0, t, {set.values.data(), set.values.size()}, cancel));
    return set;
}

Result<TerminalSample> simulate_terminal(const Process& process, const SimSettings& s, double x0, double t,
                                         Cancel& cancel) {
    QUELM_CHECK(validate(process, s.paths, s.steps, x0, t));
    // Nothing is stored per step, so memory cannot bound the work as it bounds a path set's:
    // the steps of every path are capped instead (a request past the cap would run for weeks).
    if (2.0 * static_cast<double>(pair_count(s.paths)) * static_cast<double>(s.steps) > kMaxTerminalWork)
        return invalid("steps * paths must be at most 2^50 (the steps simulated over every path)");
    // Two terminal values and one mean per pair.
    QUELM_TRY(memory, claim_memory(doubles_bytes(3.0 * static_cast<double>(pair_count(s.paths))),
                                   "the simulated terminal values"));
    const std::size_t pairs = checked_count(pair_count(s.paths));
    // Per-pair terminal values only; no path is ever stored.
    std::vector<double> last(checked_mul(pairs, 2));
    double* out = last.data();
    const bool done = parallel_for(
        pairs,
        [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                if (chunk_stopped(s.steps)) return;
                Xoshiro256pp rng = keyed_stream(s.seed, i);
                run_pair(process, s.steps, rng, x0, t, Sink{nullptr, nullptr}, out[2 * i], out[2 * i + 1]);
            }
        },
        cancel);
    if (!done) return cancelled();
    TerminalSample sample;
    sample.pair_means.resize(pairs);
    CancelPoller poller(cancel);
    for (std::size_t i = 0; i < pairs; ++i) {
        if (poller.tick()) return cancelled();
        sample.pair_means[i] = (last[2 * i] + last[2 * i + 1]) * 0.5;
    }
    sample.terminal = std::move(last);
    return sample;
}

}  // namespace quelm::stochastic
