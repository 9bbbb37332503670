// The compute step: the one place where a binding runs its core function.
//
// Arguments are converted (with the interpreter lock held) before it, and the result is
// built after it. In between, compute() releases the lock, so other Python threads run
// while the core works, and hands the core a cancellation token that learns of Ctrl-C
// (see compute.cpp). A stopped computation comes back as the Cancelled error, which
// finish() raises as KeyboardInterrupt; nothing partial is returned.
//
// While the lock is released the core must touch no Python object: everything it reads
// is plain C++ data by then (a FloatSeq holds its buffer, so the memory stays alive).
#pragma once

#include "frame/ref.hpp"
#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"

#include <chrono>
#include <cstddef>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace quelm::py {

namespace detail {

// The calling thread's state while the lock is released, and what the poll has seen.
struct Unlocked {
    PyThreadState* state = nullptr;
    unsigned long long seen = 0;  // SIGINTs counted when the step began or last checked
    bool main = false;            // the interpreter's main thread, the one that runs handlers
    std::chrono::steady_clock::time_point checked{};  // the last full signal check
    bool kept = false;                                // keep_lock was on: the lock stays held
};

// With this on, every compute step keeps the lock, as calls did before the lock was
// released: the benchmark compares the two policies side by side in one process.
void keep_lock(bool on);

// Release the lock (recording the SIGINT count); take it back. Taking it back may end the
// thread, by unwinding its stack, when the interpreter is exiting (a daemon thread); so it
// is never done from a destructor or a handler that swallows exceptions.
void release(Unlocked& u);
void reacquire(Unlocked& u);

// The token's poll: a Ctrl-C since the step began stops the computation. Takes the lock
// back briefly when a SIGINT arrived (or when no watch is possible here), and on the main
// thread every 100 ms, so a handler of another signal (an alarm) still runs during the call.
bool poll(void* unlocked);

// A signal that arrived while the lock was held but before the step began would otherwise
// wait for the whole computation; checked here, with the lock, at the cost of a flag read.
[[nodiscard]] bool signal_pending();

// Called in a catch (...): lets the unwind that ends this thread go on instead of keeping
// it (rethrown; under libc++abi, which cannot rethrow it, the thread is parked for good).
// A no-op for any other exception.
void continue_thread_exit();

// Run call with the lock released; an exception it throws is rethrown once the lock is back.
template <class Call>
auto without_lock(Unlocked& u, Call&& call) {
    using R = std::remove_cvref_t<std::invoke_result_t<Call&>>;
    std::optional<R> r;
    std::exception_ptr failure;
    release(u);
    try {
        r.emplace(call());
    } catch (...) {
        continue_thread_exit();
        failure = std::current_exception();
    }
    reacquire(u);
    if (failure) std::rethrow_exception(failure);
    return std::move(*r);
}

}  // namespace detail

// Run f, the core call, without the interpreter lock. f takes a Cancel& when the computation
// is long enough to poll, and returns a Result. A stopped computation gives Cancelled.
template <class F>
[[nodiscard]] auto compute(F&& f) {
    detail::Unlocked u;
    if constexpr (std::is_invocable_v<F&, Cancel&>) {
        using R = std::remove_cvref_t<std::invoke_result_t<F&, Cancel&>>;
        if (detail::signal_pending()) return R(cancelled());
        Cancel token(&detail::poll, &u);
        R r = detail::without_lock(u, [&] { return f(token); });
        if (token.stopped()) return R(cancelled());
        return r;
    } else {
        return detail::without_lock(u, f);
    }
}

// Releasing the lock and taking it back costs about 0.1 us when no other thread wants it,
// and up to the interpreter's switch interval (5 ms) when one does. A pass over fewer
// elements than this is shorter than that, so it keeps the lock.
inline constexpr std::size_t kReleaseFrom = 4096;

// compute(f) for a pass over `elements` input values that does not poll: the lock is
// released only when the pass is long enough to be worth it.
template <class F>
[[nodiscard]] auto compute(std::size_t elements, F&& f) {
    static_assert(!std::is_invocable_v<F&, Cancel&>, "a polled computation always releases the lock");
    if (elements < kReleaseFrom) return f();
    return compute(std::forward<F>(f));
}

}  // namespace quelm::py
