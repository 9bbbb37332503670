// Whether a working set fits in the memory the process can have. Engines ask before they
// allocate one, so a request larger than the machine fails as a memory error naming what
// was asked for, instead of being zero-filled until the kernel kills the process.
#pragma once

#include "quelm/core/error.hpp"

namespace quelm {

// Bytes the process can use: physical memory, bounded by the cgroup memory limit (v2 or v1)
// and the address-space limit where either is set. Read once per process.
[[nodiscard]] double usable_memory_bytes();

// Fails with a memory error ("cannot allocate 24.0 GB for the binomial tree: the process can
// use at most 23.4 GB") when `bytes`, a lower bound of what `what` will allocate, cannot fit.
// Sizes are doubles so that an estimate never wraps around.
[[nodiscard]] Status check_fits_in_memory(double bytes, const char* what);

// Bytes of n doubles.
[[nodiscard]] constexpr double doubles_bytes(double n) { return n * static_cast<double>(sizeof(double)); }

}  // namespace quelm
