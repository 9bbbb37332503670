// Test hooks for the worker pool: several C++ threads calling parallel_for at once, nested
// calls, one caller's stop or failure beside another's job, and the run-time size.
#include "testing/registry.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "quelm/core/parallel.hpp"

namespace quelm::testing {

namespace {

// A value per (job, index) that takes a little work to compute, so chunks overlap in time.
std::uint64_t slot_value(std::uint64_t job, std::uint64_t i, std::uint64_t work) {
    std::uint64_t x = job * 0x9E3779B97F4A7C15ull + i;
    for (std::uint64_t k = 0; k <= work; ++k) {
        x ^= x >> 31;
        x *= 0xBF58476D1CE4E5B9ull;
        x ^= x >> 29;
    }
    return x;
}

// One caller's job: fills its slots, notes which threads ran its chunks.
struct Caller {
    std::vector<std::uint64_t> out;
    std::set<std::thread::id> threads;
    std::mutex mu;
    bool done = false;

    void run(std::uint64_t job, std::uint64_t n, std::uint64_t work, Cancel& cancel) {
        out.assign(n, 0);
        done = parallel_for(n, [&](std::size_t lo, std::size_t hi) {
            {
                std::lock_guard lock(mu);
                threads.insert(std::this_thread::get_id());
            }
            for (std::size_t i = lo; i < hi; ++i) out[i] = slot_value(job, i, work);
        }, cancel);
    }
    [[nodiscard]] bool correct(std::uint64_t job, std::uint64_t work) const {
        for (std::size_t i = 0; i < out.size(); ++i)
            if (out[i] != slot_value(job, i, work)) return false;
        return done;
    }
};

PyObject* list_of(const std::vector<std::uint64_t>& values) {
    return py::make_list(values.size(), [&](std::size_t i) { return py::to_py(values[i]); });
}

// Runs `callers` jobs of n slots from as many threads at once, with the interpreter lock
// released. Returns [correct (0/1), distinct threads that ran its chunks] per caller.
PyObject* pool_concurrent_jobs(std::uint64_t callers, std::uint64_t n, std::uint64_t work) {
    std::vector<Caller> jobs(callers);
    Py_BEGIN_ALLOW_THREADS
    std::vector<std::thread> threads;
    for (std::uint64_t c = 0; c < callers; ++c)
        threads.emplace_back([&, c] { jobs[c].run(c, n, work, never_cancel()); });
    for (auto& t : threads) t.join();
    Py_END_ALLOW_THREADS
    std::vector<std::uint64_t> flat;
    for (std::uint64_t c = 0; c < callers; ++c) {
        flat.push_back(jobs[c].correct(c, work) ? 1 : 0);
        flat.push_back(jobs[c].threads.size());
    }
    return list_of(flat);
}

// A long job, then a short one from a second thread while the first runs (the pool warmed
// up and parked beforehand). Returns [both correct, threads that ran the short job]: a worker
// busy in the long job should move over to the newcomer.
PyObject* pool_late_job(std::uint64_t n_long, std::uint64_t n_short, std::uint64_t work) {
    Caller first, late;
    Py_BEGIN_ALLOW_THREADS
    first.run(0, 64, 0, never_cancel());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::atomic<bool> started{false};
    std::thread a([&] {
        first.out.assign(n_long, 0);
        first.done = parallel_for(n_long, [&](std::size_t lo, std::size_t hi) {
            started = true;
            for (std::size_t i = lo; i < hi; ++i) first.out[i] = slot_value(5, i, work);
        }, never_cancel());
    });
    while (!started) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    late.run(6, n_short, work, never_cancel());
    a.join();
    Py_END_ALLOW_THREADS
    bool ok = first.done && late.correct(6, work);
    for (std::size_t i = 0; i < first.out.size(); ++i) ok = ok && first.out[i] == slot_value(5, i, work);
    return list_of({ok ? 1u : 0u, late.threads.size()});
}

// One job from the calling thread with the interpreter lock released: Python threads calling
// it run concurrent jobs. Returns the slots' values in index order.
PyObject* pool_job(std::uint64_t job, std::uint64_t n, std::uint64_t work) {
    Caller c;
    Py_BEGIN_ALLOW_THREADS
    c.run(job, n, work, never_cancel());
    Py_END_ALLOW_THREADS
    if (!c.correct(job, work)) return py::raise_value_error("pool job gave wrong slots");
    return list_of(c.out);
}

// The reference for pool_job, computed without the pool.
PyObject* serial_job(std::uint64_t job, std::uint64_t n, std::uint64_t work) {
    std::vector<std::uint64_t> out(n);
    for (std::uint64_t i = 0; i < n; ++i) out[i] = slot_value(job, i, work);
    return list_of(out);
}

// An outer job whose every chunk runs an inner job: the inner one must run serially on the
// thread of the outer chunk and give every slot. Returns [all correct, inner chunks on a
// foreign thread].
PyObject* pool_nested(std::uint64_t n, std::uint64_t inner) {
    std::atomic<std::uint64_t> wrong{0}, foreign{0};
    std::vector<std::uint64_t> outer(n, 0);
    Py_BEGIN_ALLOW_THREADS
    const bool ok = parallel_for(n, [&](std::size_t lo, std::size_t hi) {
        const auto me = std::this_thread::get_id();
        for (std::size_t i = lo; i < hi; ++i) {
            // Odd outer slots are light, so a thread that ran one is soon free to join an inner
            // job if one were ever published.
            const std::size_t m = i % 2 == 0 ? inner : 1;
            std::vector<std::uint64_t> in(m, 0);
            const bool done = parallel_for(m, [&](std::size_t a, std::size_t b) {
                if (std::this_thread::get_id() != me) foreign.fetch_add(1);
                for (std::size_t k = a; k < b; ++k) in[k] = slot_value(i, k, 2);
            }, never_cancel());
            std::uint64_t sum = 0;
            for (std::size_t k = 0; k < m; ++k) {
                if (in[k] != slot_value(i, k, 2)) wrong.fetch_add(1);
                sum += in[k];
            }
            outer[i] = done ? sum : 0;
        }
    }, never_cancel());
    if (!ok) wrong.fetch_add(1);
    for (std::uint64_t i = 0; i < n; ++i) {
        std::uint64_t sum = 0;
        for (std::uint64_t k = 0; k < (i % 2 == 0 ? inner : 1); ++k) sum += slot_value(i, k, 2);
        if (outer[i] != sum) wrong.fetch_add(1);
    }
    Py_END_ALLOW_THREADS
    return list_of({wrong.load() == 0 ? 1u : 0u, foreign.load()});
}

// A long job whose caller asks to stop, beside a second caller's job. Returns [stopped job
// reported false, stopped job skipped slots, other job complete and correct].
PyObject* pool_stop_one(std::uint64_t n, std::uint64_t work) {
    Caller stopped, other;
    std::atomic<bool> other_done{false};
    // Asks to stop at its first poll: the job must end long before its n slots are done.
    Cancel stop_now([](void*) { return true; }, nullptr);
    Py_BEGIN_ALLOW_THREADS
    std::thread a([&] { stopped.run(1, n * 64, work, stop_now); });
    std::thread b([&] {
        other.run(2, n, work, never_cancel());
        other_done = true;
    });
    a.join();
    b.join();
    Py_END_ALLOW_THREADS
    std::uint64_t skipped = 0;
    for (std::size_t i = 0; i < stopped.out.size(); ++i)
        if (stopped.out[i] != slot_value(1, i, work)) ++skipped;
    return list_of({stopped.done ? 0u : 1u, skipped > 0 ? 1u : 0u, other.correct(2, work) ? 1u : 0u});
}

// A job whose chunk throws beside a second caller's job. Returns [the throwing caller saw
// the error, other job complete and correct].
PyObject* pool_fail_one(std::uint64_t n, std::uint64_t work) {
    Caller other;
    bool threw = false;
    Py_BEGIN_ALLOW_THREADS
    std::thread a([&] {
        try {
            (void)parallel_for(n, [&](std::size_t lo, std::size_t hi) {
                for (std::size_t i = lo; i < hi; ++i)
                    if (i == n / 2) throw std::runtime_error("chunk failed");
            }, never_cancel());
        } catch (const std::runtime_error&) {
            threw = true;
        }
    });
    std::thread b([&] { other.run(3, n, work, never_cancel()); });
    a.join();
    b.join();
    Py_END_ALLOW_THREADS
    return list_of({threw ? 1u : 0u, other.correct(3, work) ? 1u : 0u});
}

PyObject* pool_size_fn() { return py::to_py(static_cast<std::uint64_t>(pool_size())); }
PyObject* set_pool_size_fn(std::uint64_t threads) {
    set_pool_size(static_cast<std::size_t>(threads));
    Py_RETURN_NONE;
}

constexpr py::FunctionDef d1 = py::function<pool_concurrent_jobs>(
    "pool_concurrent_jobs", {"callers", "n", "work"},
    "Jobs from several threads at once: [correct, threads used] per caller.");
constexpr py::FunctionDef d2 =
    py::function<pool_job>("pool_job", {"job", "n", "work"}, "One pooled job, lock released: its slots.");
constexpr py::FunctionDef d3 =
    py::function<serial_job>("serial_job", {"job", "n", "work"}, "pool_job's slots computed serially.");
constexpr py::FunctionDef d4 = py::function<pool_nested>(
    "pool_nested", {"n", "inner"}, "Nested jobs: [correct, inner chunks on another thread].");
constexpr py::FunctionDef d5 = py::function<pool_stop_one>(
    "pool_stop_one", {"n", "work"}, "A stopped job beside another: [stopped, skipped, other correct].");
constexpr py::FunctionDef d6 = py::function<pool_fail_one>(
    "pool_fail_one", {"n", "work"}, "A failing job beside another: [raised, other correct].");
constexpr py::FunctionDef d7 = py::function<pool_size_fn>("pool_size", {}, "Threads of the pool.");
constexpr py::FunctionDef d8 =
    py::function<set_pool_size_fn>("set_pool_size", {"threads"}, "Resize the pool.");
constexpr py::FunctionDef d9 = py::function<pool_late_job>(
    "pool_late_job", {"n_long", "n_short", "work"}, "A job arriving during another: [correct, its threads].");
Register r1(py::callable<d1>), r2(py::callable<d2>), r3(py::callable<d3>), r4(py::callable<d4>), r5(py::callable<d5>), r6(py::callable<d6>), r7(py::callable<d7>), r8(py::callable<d8>), r9(py::callable<d9>);

}  // namespace

}  // namespace quelm::testing
