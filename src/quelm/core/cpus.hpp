// How many threads the process should run: the processors it may use (affinity mask and a
// container's CPU quota) and the thread count asked for in the environment.
#pragma once

#include <cstddef>

namespace quelm {

// Processors this process may run on now: its affinity mask, bounded by the cgroup CPU
// quota (rounded up). At least 1. Reads the system each call.
[[nodiscard]] std::size_t usable_cpus();

// RAYON_NUM_THREADS, else RAYON_RS_NUM_CPUS (positive decimal integers), else the first
// entry of OMP_NUM_THREADS, else usable_cpus().
[[nodiscard]] std::size_t requested_threads();

}  // namespace quelm
