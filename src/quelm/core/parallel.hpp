// The process-wide worker pool: runs a body over chunks of an index range.
// Created on first use, sized from RAYON_NUM_THREADS, then RAYON_RS_NUM_CPUS, then
// OMP_NUM_THREADS, else the processors available to the process; resizable at run time. The calling thread takes part.
// Several threads may call at once: each caller works on its own job and the workers share
// themselves between the jobs in flight.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "quelm/core/cancel.hpp"

namespace quelm {

// Runs body(begin, end) over disjoint chunks covering [0, n), in any order and on any
// thread. Returns false when `cancel` asked to stop (remaining chunks are skipped).
// The first exception thrown by a chunk is rethrown here after every thread stopped.
// Bodies must write only their own slots; a nested call runs serially. A chunk holds a
// multiple of `grain` indices (but the last), for bodies that work in batches; a range of
// one chunk runs on the calling thread without waking the pool.
bool parallel_for(std::size_t n, const std::function<void(std::size_t begin, std::size_t end)>& body,
                  Cancel& cancel, std::size_t grain = 1);

// For bodies whose chunks can run long (a path of 2^40 steps, pairs of costly steps): true
// once the running job was asked to stop (Ctrl-C, or another chunk failed), and the body may
// return early since its slots are then discarded. `work` is what the body did since its last
// call, in cheap iterations; on the calling thread it paces the polls of the token (see
// CancelPoller). Outside a job it is false.
[[nodiscard]] bool chunk_stopped(std::uint64_t work = CancelPoller::kStride);

// Threads that take part in a parallel_for, the caller included (>= 1). Before the pool has
// started, the size it will start with.
[[nodiscard]] std::size_t pool_size();

// Sets the pool size (the caller included; clamped to [1, 512]) from now on: the pool starts
// threads to grow and retires the extra ones as they finish their current job. A job in
// flight keeps the threads it has. Safe from any thread, never from inside a body.
void set_pool_size(std::size_t threads);

}  // namespace quelm
