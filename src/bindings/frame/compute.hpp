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

#include "bindings/frame/ref.hpp"
#include "quelm/core/cancel.hpp"
#include "quelm/core/error.hpp"

#include <cstddef>
#include <type_traits>
#include <utility>

namespace quelm::py {

namespace detail {

// Releases the interpreter lock for its lifetime (re-taken even when the core throws).
class Released {
public:
    Released() : state_(PyEval_SaveThread()) {}
    Released(const Released&) = delete;
    Released& operator=(const Released&) = delete;
    ~Released() { PyEval_RestoreThread(state_); }

    // The token's poll: a Ctrl-C since the step began stops the computation. Takes the
    // lock back briefly only when a signal arrived (or when no watch is possible here).
    [[nodiscard]] Cancel token() { return Cancel(&poll, this); }

private:
    static bool poll(void* self);
    PyThreadState* state_;
    unsigned long long seen_ = signal_count();

    static unsigned long long signal_count();
};

// A signal that arrived while the lock was held but before the step began would otherwise
// wait for the whole computation; checked here, with the lock, at the cost of a flag read.
[[nodiscard]] bool signal_pending();

}  // namespace detail

// Run f, the core call, without the interpreter lock. f takes a Cancel& when the computation
// is long enough to poll, and returns a Result. A stopped computation gives Cancelled.
template <class F>
[[nodiscard]] auto compute(F&& f) {
    if constexpr (std::is_invocable_v<F&, Cancel&>) {
        using R = std::remove_cvref_t<std::invoke_result_t<F&, Cancel&>>;
        if (detail::signal_pending()) return R(cancelled());
        detail::Released unlocked;
        Cancel token = unlocked.token();
        R r = f(token);
        if (token.stopped()) return R(cancelled());
        return r;
    } else {
        detail::Released unlocked;
        return f();
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
