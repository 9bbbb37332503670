#include "quelm/core/parallel.hpp"

#if !defined(_WIN32)
#include <pthread.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "quelm/core/cpus.hpp"
#include "quelm/core/portable.hpp"

namespace quelm {

namespace {

using Body = std::function<void(std::size_t, std::size_t)>;
using Clock = std::chrono::steady_clock;

// Beyond this a requested thread count only costs memory.
constexpr std::size_t kMaxThreads = 512;
constexpr auto kPollEvery = CancelPoller::kInterval;
// How long a thread spins on the next job (or on the helpers' end) before it parks. Waking a
// parked thread can take longer than a short job itself, and trainers issue them back to back.
// Spinning pays only while every thread has a processor of its own: see Pool::may_spin.
constexpr auto kSpinFor = std::chrono::microseconds(100);
// Each thread's budget halves after a spin that waited in vain, down to this, and doubles
// after one that paid: other processes may hold the processors the pool counts on.
constexpr auto kSpinAtLeast = std::chrono::microseconds(2);
thread_local Clock::duration t_spin_budget = kSpinFor;

// Spins until done() holds or the thread's budget has passed; true when done() holds.
template <class Done>
bool spin_until(Done&& done) {
    const auto start = Clock::now();
    for (unsigned i = 1;; ++i) {
        if (done()) {
            t_spin_budget = std::min<Clock::duration>(t_spin_budget * 2, kSpinFor);
            return true;
        }
        if ((i & 63) == 0 && Clock::now() - start > t_spin_budget) {
            t_spin_budget = std::max<Clock::duration>(t_spin_budget / 2, kSpinAtLeast);
            return false;
        }
        spin_pause();
    }
}

std::size_t clamp_threads(std::size_t n) { return std::clamp<std::size_t>(n, 1, kMaxThreads); }

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
    // Workers inside this job. Changed under the pool's lock; read by the owner's spin.
    std::atomic<std::size_t> helpers{0};
    std::mutex error_mu;
    std::exception_ptr error;

    // On the calling thread: polls the token (rate-limited) and stops the job when asked.
    void poll_owner() {
        if (poller != nullptr && poller->check()) stop.store(true, std::memory_order_relaxed);
    }

    [[nodiscard]] bool has_work() const {
        return !stop.load(std::memory_order_relaxed) && next.load(std::memory_order_relaxed) < n;
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

// Workers and the jobs in flight. Each caller publishes its job, works on it, unpublishes it
// once no chunk is left to hand out, and waits for the workers still inside it. An idle worker
// joins a published job with work left, taking the jobs in turn; when another job is published
// the workers leave theirs between chunks and choose again, so they spread over the jobs.
class Pool {
public:
    explicit Pool(std::size_t size) { resize(size); }

    [[nodiscard]] std::size_t size() const { return threads_.load(std::memory_order_relaxed); }

    void resize(std::size_t size) {
        size = clamp_threads(size);
        const std::size_t cpus = usable_cpus();  // reads files: not under the lock
        {
            std::lock_guard lock(mu_);
            workers_.reserve(size - 1);
            while (workers_.size() + 1 < size) {
                auto* w = new Worker;
                try {
                    std::thread([this, w] { loop(w); }).detach();
                } catch (...) {
                    delete w;
                    break;  // fewer threads than asked; the work still gets done
                }
                workers_.push_back(w);
            }
            // A retired worker frees itself; after this store the pool never touches it.
            while (workers_.size() + 1 > size) {
                workers_.back()->retire.store(true, std::memory_order_relaxed);
                workers_.pop_back();
            }
            threads_.store(workers_.size() + 1, std::memory_order_relaxed);
            cpus_.store(cpus, std::memory_order_relaxed);
        }
        work_cv_.notify_all();
    }

    // Publishes the job, runs chunks on the caller, and waits for the workers inside it.
    void run(Job& job) {
        const std::uint64_t epoch = g_fork_epoch.load(std::memory_order_relaxed);
        std::size_t wake = 0;
        bool wake_all = false;
        {
            std::lock_guard lock(mu_);
            jobs_.push_back(&job);
            owners_.store(jobs_.size(), std::memory_order_relaxed);
            published_.fetch_add(1, std::memory_order_release);
            // Wake no more workers than there are processors left beside the callers: on a
            // shared processor a helper only adds switches, and the caller does the work anyway.
            const std::size_t cpus = cpus_.load(std::memory_order_relaxed);
            wake = std::min(workers_.size(), cpus - std::min(cpus, jobs_.size()));
            // nor more than there are chunks beside the caller's first
            wake = std::min(wake, (job.n - 1) / job.chunk);
            wake_all = wake == workers_.size();
        }
        if (wake_all) {
            work_cv_.notify_all();
        } else {
            for (std::size_t k = 0; k < wake; ++k) work_cv_.notify_one();
        }
        while (job.run_one(true)) job.poll_owner();
        std::unique_lock lock(mu_);
        if (auto it = std::find(jobs_.begin(), jobs_.end(), &job); it != jobs_.end()) jobs_.erase(it);
        owners_.store(jobs_.size(), std::memory_order_relaxed);
        if (job.helpers.load(std::memory_order_relaxed) > 0 && may_spin()) {
            lock.unlock();
            spin_until([&] { return job.helpers.load(std::memory_order_acquire) == 0; });
            lock.lock();
        }
        while (job.helpers.load(std::memory_order_relaxed) > 0 &&
               g_fork_epoch.load(std::memory_order_relaxed) == epoch) {
            done_cv_.wait_for(lock, kPollEvery);
            if (job.helpers.load(std::memory_order_relaxed) == 0 || job.stop.load(std::memory_order_relaxed))
                continue;
            // The poll may run interpreter code (even a fork); never hold the pool lock across it.
            lock.unlock();
            job.poll_owner();
            lock.lock();
        }
        lock.unlock();
        if (g_fork_epoch.load(std::memory_order_relaxed) != epoch) {
            // A signal handler forked this process mid-job and the child carries on: the chunks
            // the parent's workers held are lost with them. Every chunk writes only its own
            // slots, so running them all again here gives the same values.
            job.next.store(0, std::memory_order_relaxed);
            while (job.run_one(true)) job.poll_owner();
        }
    }

    // In a fork child: the workers do not exist, and one may have held the lock. What they
    // left half-changed is abandoned, not freed.
    void orphan_after_fork() {
        new (&mu_) std::mutex;
        new (&work_cv_) std::condition_variable;
        new (&done_cv_) std::condition_variable;
        new (&workers_) std::vector<Worker*>;
        new (&jobs_) std::vector<Job*>;
        owners_.store(0, std::memory_order_relaxed);
    }

private:
    struct Worker {
        std::atomic<bool> retire{false};
    };

    // Spinning only pays when every running thread has a processor: a spinning thread that
    // shares one with the thread it waits for holds it back for a whole time slice.
    [[nodiscard]] bool may_spin() const {
        // The workers, and the callers: in a job or not, a caller is running.
        const std::size_t running = threads_.load(std::memory_order_relaxed) - 1 +
                                    std::max<std::size_t>(1, owners_.load(std::memory_order_relaxed));
        return running <= cpus_.load(std::memory_order_relaxed);
    }

    // Under mu_: the next published job with chunks left, the jobs taken in turn.
    Job* pick_locked() {
        for (std::size_t k = 0; k < jobs_.size(); ++k) {
            const std::size_t i = (turn_ + k) % jobs_.size();
            if (jobs_[i]->has_work()) {
                turn_ = i + 1;
                return jobs_[i];
            }
        }
        return nullptr;
    }

    void loop(Worker* self) {
        t_is_worker = true;
        for (;;) {
            Job* job = nullptr;
            std::uint64_t seen = 0;
            {
                std::unique_lock lock(mu_);
                for (;;) {
                    if (self->retire.load(std::memory_order_relaxed)) {
                        lock.unlock();
                        delete self;
                        return;
                    }
                    seen = published_.load(std::memory_order_relaxed);
                    if ((job = pick_locked()) != nullptr) break;
                    if (may_spin()) {
                        lock.unlock();
                        spin_until([&] {
                            return published_.load(std::memory_order_acquire) != seen ||
                                   self->retire.load(std::memory_order_relaxed);
                        });
                        lock.lock();
                    }
                    work_cv_.wait(lock, [&] {
                        return published_.load(std::memory_order_relaxed) != seen ||
                               self->retire.load(std::memory_order_relaxed);
                    });
                }
                job->helpers.fetch_add(1, std::memory_order_relaxed);
            }
            // Leave between chunks when another job arrives, to choose again.
            while (published_.load(std::memory_order_relaxed) == seen && job->run_one(false)) {
            }
            {
                std::lock_guard lock(mu_);
                // Under the lock: the owner cannot see zero and return before this ends.
                job->helpers.fetch_sub(1, std::memory_order_release);
            }
            done_cv_.notify_all();
        }
    }

    std::mutex mu_;
    std::condition_variable work_cv_;
    std::condition_variable done_cv_;
    std::vector<Worker*> workers_;  // under mu_
    std::vector<Job*> jobs_;        // published jobs, under mu_
    std::size_t turn_ = 0;          // under mu_
    // Written under mu_; atomic so the spins and size() can read them without it.
    std::atomic<std::uint64_t> published_{0};
    std::atomic<std::size_t> threads_{1};
    std::atomic<std::size_t> owners_{0};
    std::atomic<std::size_t> cpus_{1};
};

// The pool is deliberately never destroyed: its threads may still be parked at exit.
std::mutex g_create_mu;
Pool* g_pool = nullptr;
std::size_t g_size = 0;  // under g_create_mu: the size set at run time, 0 before any

#if !defined(_WIN32)
// fork() may come from a signal handler that a poll ran on the calling thread, in the middle
// of a pooled job: the hooks take only the creation lock, which no poll runs under.
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

void install_fork_hooks() {
#if !defined(_WIN32)  // no fork() on Windows
    static std::once_flag atfork_once;
    std::call_once(atfork_once, [] { pthread_atfork(before_fork, after_fork_parent, after_fork_child); });
#endif
}

// Under g_create_mu.
std::size_t size_to_start() { return g_size != 0 ? g_size : clamp_threads(requested_threads()); }

Pool& pool() {
    install_fork_hooks();
    std::lock_guard lock(g_create_mu);
    if (g_pool == nullptr) g_pool = new Pool(size_to_start());
    return *g_pool;
}

void run_serial(Job& job) {
    const bool owner = !t_is_worker;
    while (job.run_one(owner)) {
        if (owner) job.poll_owner();
    }
}

}  // namespace

std::size_t pool_size() {
    std::lock_guard lock(g_create_mu);
    return g_pool != nullptr ? g_pool->size() : size_to_start();
}

void set_pool_size(std::size_t threads) {
    install_fork_hooks();
    std::lock_guard lock(g_create_mu);
    g_size = clamp_threads(threads);
    if (g_pool != nullptr) g_pool->resize(g_size);
}

bool chunk_stopped(std::uint64_t work) {
    Job* job = t_running.job;
    if (job == nullptr) return false;
    if (t_running.owner && job->poller != nullptr && job->poller->tick(work))
        job->stop.store(true, std::memory_order_relaxed);
    return job->stop.load(std::memory_order_relaxed);
}

bool parallel_for(std::size_t n, const Body& body, Cancel& cancel, std::size_t grain) {
    if (cancel.stopped()) return false;
    if (n == 0) return true;
    Job job;
    job.n = n;
    job.body = &body;
    // Workers never poll: the token may only be polled on the thread that made the call.
    CancelPoller poller(cancel);
    if (!t_is_worker) job.poller = &poller;
    if (t_is_worker || t_running.job != nullptr) {
        // Nested in a chunk: the pool's threads are already busy with the outer job.
        job.chunk = std::max<std::size_t>(1, std::min<std::size_t>(n, 1024));
        run_serial(job);
    } else {
        Pool& p = pool();
        const std::size_t threads = p.size();
        grain = std::max<std::size_t>(grain, 1);
        job.chunk = (std::clamp<std::size_t>(n / (threads * 8), 1, 4096) + grain - 1) / grain * grain;
        if (threads == 1 || n <= job.chunk) {
            run_serial(job);
        } else {
            p.run(job);
        }
    }
    if (job.error) std::rethrow_exception(job.error);
    return !cancel.stopped();
}

}  // namespace quelm
