// The antithetic path engine: pairs of paths of any process on a uniform grid,
// one random stream per pair index, run on the worker pool. Time in years.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "quelm/core/buffer.hpp"
#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"
#include "quelm/core/random.hpp"
#include "quelm/stochastic/process.hpp"

namespace quelm::stochastic {

struct SimSettings {
    std::uint64_t paths;
    std::uint64_t steps;
    std::uint64_t seed;
};

struct PathPair {
    std::vector<double> plus, minus;  // steps + 1 entries each, entry 0 = x0
};

// Paths of every pair, flattened: pair i's plus path then its minus path.
struct PathSet {
    std::size_t path_len = 0;       // steps + 1
    std::size_t count = 0;          // 2 * pairs
    DoubleBuffer values;            // count * path_len, row-major
    [[nodiscard]] std::span<const double> path(std::size_t k) const {
        return values.view().subspan(k * path_len, path_len);
    }
};

struct TerminalSample {
    std::vector<double> terminal;    // plus_0, minus_0, plus_1, ...
    std::vector<double> pair_means;  // (plus_i + minus_i) * 0.5
};

[[nodiscard]] Status validate(const Process& process, std::uint64_t paths, std::uint64_t steps, double x0, double t);

// One pair from the given stream, both paths written in full (steps >= 1).
[[nodiscard]] PathPair simulate_pair(const Process& process, std::uint64_t steps, Xoshiro256pp& rng, double x0,
                                     double t);

// Rows (2 * pairs paths) and columns (steps + 1 values) of a path set.
struct PathShape {
    std::size_t count = 0;
    std::size_t path_len = 0;
};

// Checks the inputs and that the path set fits in memory, before anyone allocates it.
[[nodiscard]] Result<PathShape> plan_paths(const Process& process, const SimSettings& s, double x0, double t);

// Writes the path set planned by plan_paths into out (count * path_len values, row-major:
// pair i's plus path then its minus path), on the worker pool.
[[nodiscard]] Status fill_paths(const Process& process, const SimSettings& s, double x0, double t,
                                std::span<double> out, Cancel& cancel = never_cancel());

[[nodiscard]] Result<PathSet> simulate_paths(const Process& process, const SimSettings& s, double x0, double t,
                                             Cancel& cancel = never_cancel());

// The most steps simulate_terminal takes over all its paths (2 per pair): 2^50, days of work.
inline constexpr double kMaxTerminalWork = 1125899906842624.0;

[[nodiscard]] Result<TerminalSample> simulate_terminal(const Process& process, const SimSettings& s, double x0,
                                                       double t, Cancel& cancel = never_cancel());

}  // namespace quelm::stochastic
