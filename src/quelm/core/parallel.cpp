#include "quelm/core/parallel.hpp"

#if defined(__linux__)
#include <sched.h>
#endif
#if !defined(_WIN32)
#include <pthread.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "quelm/core/portable.hpp"

namespace quelm {

namespace {

using Body = std::function<void(std::size_t, std::size_t)>;
using Clock = std::chrono::steady_clock;

// Beyond this a requested thread count only costs memory.
constexpr std::size_t kMaxThreads = 512;
constexpr auto kPollEvery = CancelPoller::kInterval;
// How long a thread spins on the next job (or on the workers' end) before it parks. Waking a
// parked thread can take longer than a short job itself, and trainers issue them back to back.
constexpr auto kSpinFor = std::chrono::microseconds(100);

// Spins until done() holds or kSpinFor has passed; true when done() holds.
template <class Done>
bool spin_until(Done&& done) {
    const auto start = Clock::now();
    for (unsigned i = 1;; ++i) {
        if (done()) return true;
        if ((i & 63) == 0 && Clock::now() - start > kSpinFor) return false;
        spin_pause();
    }
}

bool parse_positive(const char* text, std::size_t& out) {
    if (text == nullptr || *text == '\0') return false;
    std::size_t v = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        v = v * 10 + static_cast<std::size_t>(*p - '0');
        if (v > 1000000) v = 1000000;  // saturate; capped below anyway
    }
    if (v == 0) return false;
    out = v;
    return true;
}

std::size_t affinity_cpus() {
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof(set), &set) == 0) {
        const int c = CPU_COUNT(&set);
        return c > 0 ? static_cast<std::size_t>(c) : 1;
    }
#endif
    // Elsewhere (or if the mask cannot be read) every processor counts.
    const unsigned hw = std::thread::hardware_concurrency();
    return hw == 0 ? 1 : hw;
}

// CPU quota of the cgroup (v2 cpu.max, else v1 cfs files), rounded up; 0 when unlimited.
std::size_t cgroup_quota_cpus() {
    long long quota = -1, period = 0;
    {
        std::ifstream f("/sys/fs/cgroup/cpu.max");
        std::string q;
        if (f >> q >> period && q != "max") quota = std::atoll(q.c_str());
    }
    if (quota <= 0) {
        std::ifstream fq("/sys/fs/cgroup/cpu/cpu.cfs_quota_us");
        std::ifstream fp("/sys/fs/cgroup/cpu/cpu.cfs_period_us");
        if (!(fq >> quota && fp >> period)) quota = -1;
    }
    if (quota <= 0 || period <= 0) return 0;
    return static_cast<std::size_t>((quota + period - 1) / period);
}

std::size_t configured_size() {
    std::size_t n = 0;
    if (!parse_positive(std::getenv("RAYON_NUM_THREADS"), n) &&
        !parse_positive(std::getenv("RAYON_RS_NUM_CPUS"), n)) {
        n = affinity_cpus();
        const std::size_t quota = cgroup_quota_cpus();
        if (quota > 0) n = std::min(n, quota);
    }
    return std::clamp<std::size_t>(n, 1, kMaxThreads);
}

struct Job;

// The job whose chunk this thread is running, and whether this thread made the call.
struct Running {
    Job* job = nullptr;
    bool owner = false;
};
thread_local Running t_running;

struct Job {
    std::size_t n = 0;
    std::size_t chunk = 1;
    const Body* body = nullptr;
    CancelPoller* poller = nullptr;  // polled only on the thread that made the call
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    std::mutex error_mu;
    std::exception_ptr error;

    // On the calling thread: polls the token (rate-limited) and stops the job when asked.
    void poll_owner() {
        if (poller != nullptr && poller->check()) stop.store(true, std::memory_order_relaxed);
    }

    // Takes one chunk; false when none is left or the job was stopped.
    bool run_one(bool owner) {
        if (stop.load(std::memory_order_relaxed)) return false;
        const std::size_t begin = next.fetch_add(chunk, std::memory_order_relaxed);
        if (begin >= n) return false;
        const std::size_t end = std::min(n, begin + chunk);
        const Running outer = t_running;
        t_running = {this, owner};
        try {
            (*body)(begin, end);
        } catch (...) {
            std::lock_guard lock(error_mu);
            if (!error) error = std::current_exception();
            stop.store(true, std::memory_order_relaxed);
        }
        t_running = outer;
        return true;
    }
};

// Bumped in a child process after fork(): the workers of a pool started before it are gone.
std::atomic<std::uint64_t> g_fork_epoch{0};

thread_local bool t_is_worker = false;

class Pool {
public:
    explicit Pool(std::size_t size) {
        workers_.reserve(size - 1);
        for (std::size_t k = 1; k < size; ++k) {
            try {
                workers_.emplace_back([this] { loop(); });
            } catch (...) {
                break;  // fewer threads than asked; the work still gets done
            }
        }
    }

    [[nodiscard]] std::size_t size() const { return workers_.size() + 1; }

    // Publishes the job, runs chunks on the caller, and waits for every worker.
    void run(Job& job) {
        const std::uint64_t epoch = g_fork_epoch.load(std::memory_order_relaxed);
        {
            std::lock_guard lock(mu_);
            job_ = &job;
            pending_ = workers_.size();
            ++generation_;
        }
        work_cv_.notify_all();
        while (job.run_one(true)) job.poll_owner();
        spin_until([&] { return pending_.load(std::memory_order_acquire) == 0; });
        std::unique_lock lock(mu_);
        while (pending_ > 0) {
            done_cv_.wait_for(lock, kPollEvery);
            if (pending_ == 0 || job.stop.load(std::memory_order_relaxed)) continue;
            // The poll may run interpreter code (even a fork); never hold the pool lock across it.
            lock.unlock();
            job.poll_owner();
            lock.lock();
        }
        job_ = nullptr;
        lock.unlock();
        if (g_fork_epoch.load(std::memory_order_relaxed) != epoch) {
            // A signal handler forked this process mid-job and the child carries on: the chunks
            // the parent's workers held are lost with them. Every chunk writes only its own
            // slots, so running them all again here gives the same values.
            job.next.store(0, std::memory_order_relaxed);
            while (job.run_one(true)) job.poll_owner();
        }
    }

    // In a fork child: the workers do not exist, and one may have held the lock.
    void orphan_after_fork() {
        new (&mu_) std::mutex;
        new (&work_cv_) std::condition_variable;
        new (&done_cv_) std::condition_variable;
        job_ = nullptr;
        pending_.store(0, std::memory_order_relaxed);
    }

private:
    void loop() {
        t_is_worker = true;
        std::uint64_t seen = 0;
        for (;;) {
            Job* job = nullptr;
            spin_until([&] { return generation_.load(std::memory_order_acquire) != seen; });
            {
                std::unique_lock lock(mu_);
                work_cv_.wait(lock, [&] { return generation_ != seen; });
                seen = generation_;
                job = job_;
            }
            if (job != nullptr) {
                while (job->run_one(false)) {
                }
            }
            {
                std::lock_guard lock(mu_);
                --pending_;
            }
            done_cv_.notify_one();
        }
    }

    std::vector<std::thread> workers_;
    std::mutex mu_;
    std::condition_variable work_cv_;
    std::condition_variable done_cv_;
    Job* job_ = nullptr;
    // Written under mu_; atomic so the spins can read them without it.
    std::atomic<std::size_t> pending_{0};
    std::atomic<std::uint64_t> generation_{0};
};

// The pool is deliberately never destroyed: its threads may still be parked at exit.
std::mutex g_create_mu;
std::mutex g_job_mu;  // one job on the pool at a time
Pool* g_pool = nullptr;

#if !defined(_WIN32)
// fork() may come from a signal handler that a poll ran on the calling thread, in the middle
// of a pooled job: the hooks must not wait for the job mutex that very thread holds. A child
// finds it held at worst and runs its jobs serially until it is released.
void before_fork() { g_create_mu.lock(); }
void after_fork_parent() { g_create_mu.unlock(); }
void after_fork_child() {
    // The parent's workers do not exist here; the child builds a fresh pool on first use.
    if (g_pool != nullptr) g_pool->orphan_after_fork();
    g_pool = nullptr;
    g_fork_epoch.fetch_add(1, std::memory_order_relaxed);
    g_create_mu.unlock();
}
#endif

Pool& pool() {
#if !defined(_WIN32)  // no fork() on Windows
    static std::once_flag atfork_once;
    std::call_once(atfork_once, [] { pthread_atfork(before_fork, after_fork_parent, after_fork_child); });
#endif
    std::lock_guard lock(g_create_mu);
    if (g_pool == nullptr) g_pool = new Pool(configured_size());
    return *g_pool;
}

void run_serial(Job& job) {
    const bool owner = !t_is_worker;
    while (job.run_one(owner)) {
        if (owner) job.poll_owner();
    }
}

}  // namespace

std::size_t pool_size() { return pool().size(); }

bool chunk_stopped(std::uint64_t work) {
    Job* job = t_running.job;
    if (job == nullptr) return false;
    if (t_running.owner && job->poller != nullptr && job->poller->tick(work))
        job->stop.store(true, std::memory_order_relaxed);
    return job->stop.load(std::memory_order_relaxed);
}

bool parallel_for(std::size_t n, const Body& body, Cancel& cancel) {
    if (cancel.stopped()) return false;
    if (n == 0) return true;
    Job job;
    job.n = n;
    job.body = &body;
    // Workers never poll: the token may only be polled on the thread that made the call.
    CancelPoller poller(cancel);
    if (!t_is_worker) job.poller = &poller;
    if (t_is_worker) {
        job.chunk = std::max<std::size_t>(1, std::min<std::size_t>(n, 1024));
        run_serial(job);
    } else {
        Pool& p = pool();
        const std::size_t threads = p.size();
        job.chunk = std::clamp<std::size_t>(n / (threads * 8), 1, 4096);
        std::unique_lock lock(g_job_mu, std::try_to_lock);
        if (threads == 1 || !lock.owns_lock()) {
            run_serial(job);
        } else {
            p.run(job);
        }
    }
    if (job.error) std::rethrow_exception(job.error);
    return !cancel.stopped();
}

}  // namespace quelm
