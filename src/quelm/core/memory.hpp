// Whether a working set fits in the memory the process can still get, and claims on it.
// Engines claim what they are about to allocate (a tree, a path set, a copy of a panel) for
// as long as they hold it, so computations started at once cannot each count the same free
// memory: a request that cannot fit fails as a memory error naming it, instead of being
// zero-filled until the kernel kills the process. Sizes are bytes, as doubles (an estimate
// never wraps around).
#pragma once

#include <string>

#include "quelm/core/error.hpp"

namespace quelm {

// Bytes the process can use at most: physical memory, bounded by the cgroup memory limit
// (v2 or v1), the address-space limit and QUELM_MEMORY_LIMIT where set. Read once.
[[nodiscard]] double usable_memory_bytes();

// Bytes the process can still get now: the least of the system's MemAvailable, the cgroup
// limit less the group's usage (less its inactive file cache, which the kernel reclaims),
// the address-space limit less the address space in use, and QUELM_MEMORY_LIMIT less the
// resident size; less what the claims in flight have not taken yet. Reads the system's
// files at each call; +infinity where none can be read.
[[nodiscard]] double available_memory_bytes();

// Memory a computation holds a claim on; the claim ends with the object, on the thread that
// made it. A claim made while the same thread holds a larger one is part of that one.
class MemoryClaim {
public:
    MemoryClaim() = default;
    MemoryClaim(const MemoryClaim&) = delete;
    MemoryClaim& operator=(const MemoryClaim&) = delete;
    MemoryClaim(MemoryClaim&& o) noexcept : bytes_(o.bytes_) { o.bytes_ = 0.0; }
    MemoryClaim& operator=(MemoryClaim&& o) noexcept;
    ~MemoryClaim() { release(); }

    [[nodiscard]] double bytes() const { return bytes_; }
    void release();

private:
    friend Result<MemoryClaim> claim_memory(double bytes, const char* what);
    explicit MemoryClaim(double bytes) : bytes_(bytes) {}
    double bytes_ = 0.0;
};

// Claims `bytes`, a lower bound of what `what` will allocate. Fails with a memory error
// naming it when the request exceeds what the process can use at all ("cannot allocate 24.0
// GB for the binomial tree: the process can use at most 23.4 GB") or what it can still get
// beside the other claims ("cannot allocate 3.6 GB for the binomial tree: 2.1 GB is
// available (3.6 GB more is claimed by computations in progress)"). Requests under 64 MB
// are neither checked nor counted, so ordinary calls read no file.
[[nodiscard]] Result<MemoryClaim> claim_memory(double bytes, const char* what);

// claim_memory for an allocation made at once and not held (a copy handed on, a result).
[[nodiscard]] Status check_fits_in_memory(double bytes, const char* what);

// The message for an allocation the system refused after the checks passed: "out of memory:
// an allocation failed (1.2 GB is available)".
[[nodiscard]] std::string allocation_failure_message();

// Bytes of n doubles.
[[nodiscard]] constexpr double doubles_bytes(double n) { return n * static_cast<double>(sizeof(double)); }

}  // namespace quelm
