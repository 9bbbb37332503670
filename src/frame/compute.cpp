#include "frame/compute.hpp"

#include <atomic>
#include <mutex>

#if defined(__unix__) || defined(__APPLE__)
#include <signal.h>
#define QUELM_SIGNAL_WATCH 1
#endif

// glibc ends a thread by unwinding its stack with an exception that must not be kept.
// libstdc++ names it; for libc++abi it is a foreign (non-C++) exception, the only one
// that can reach us, and one libc++abi cannot throw on: its rethrow starts a new search
// for a handler, finds none above the interpreter's frames, and terminates the process.
#if defined(__GLIBCXX__) && defined(__linux__)
#include <cxxabi.h>
#define QUELM_FORCED_UNWIND 1
#elif defined(_LIBCPP_VERSION) && defined(__linux__)
#include <cxxabi.h>
#include <thread>
#define QUELM_FOREIGN_UNWIND 1
#endif

namespace quelm::py::detail {

namespace {

// Counts SIGINTs, so a computation running without the interpreter lock learns of a
// Ctrl-C without taking the lock at every poll. The interpreter's own handler only sets a
// flag that it reads between bytecodes; ours sits in front of it, counts, and calls it.
std::atomic<unsigned long long> g_sigints{0};

using Clock = std::chrono::steady_clock;
// Other signals are rare and their handlers not urgent: the main thread runs them at this pace.
constexpr auto kFullCheckEvery = std::chrono::milliseconds(100);

#if QUELM_SIGNAL_WATCH
static_assert(std::atomic<unsigned long long>::is_always_lock_free, "counted in a signal handler");

struct sigaction g_next{};  // the handler ours forwards to; written before ours is installed
std::mutex g_install;

void count_then_forward(int sig, siginfo_t* info, void* context) {
    g_sigints.fetch_add(1, std::memory_order_relaxed);
    if ((g_next.sa_flags & SA_SIGINFO) != 0) {
        g_next.sa_sigaction(sig, info, context);
    } else if (g_next.sa_handler != SIG_DFL && g_next.sa_handler != SIG_IGN) {
        g_next.sa_handler(sig);
    }
}

bool is_function(const struct sigaction& a) {
    if ((a.sa_flags & SA_SIGINFO) != 0) return a.sa_sigaction != nullptr;
    return a.sa_handler != SIG_DFL && a.sa_handler != SIG_IGN && a.sa_handler != nullptr;
}

// Puts the counter in front of the current SIGINT handler unless it is already there.
// Returns false when the counter cannot see every SIGINT from now on: the handler is the
// default or ignored (nothing for the interpreter to report), or it could not be read.
// `fresh` is set when the counter was (re)installed just now, so earlier SIGINTs went uncounted.
bool watch(bool& fresh) {
    fresh = false;
    std::lock_guard<std::mutex> guard(g_install);
    struct sigaction current{};
    if (sigaction(SIGINT, nullptr, &current) != 0) return false;
    if ((current.sa_flags & SA_SIGINFO) != 0 && current.sa_sigaction == &count_then_forward) return true;
    if (!is_function(current)) return false;  // the interpreter does not raise for this SIGINT
    // The interpreter (or a user) replaced ours, or this is the first watch: forward to it.
    g_next = current;
    struct sigaction ours = current;
    ours.sa_flags |= SA_SIGINFO;
    ours.sa_sigaction = &count_then_forward;
    if (sigaction(SIGINT, &ours, nullptr) != 0) return false;
    fresh = true;
    return true;
}
#endif

// True while the interpreter exits: taking the lock back would end this thread there.
bool finalizing() {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0;
#else
    return _Py_IsFinalizing() != 0;
#endif
}

// The interpreter's signal check, with the lock taken back for it. Off the main thread it
// runs no handler and reports nothing, which is right: the main thread will raise.
bool check_with_lock(Unlocked& u) {
    if (finalizing()) return false;
    reacquire(u);
    const bool stop = PyErr_CheckSignals() != 0;
    release(u);
    return stop;
}

// The interpreter's main thread, asked with the lock held; 0 when it cannot be told. Asking
// runs Python code, which may let another thread in, so the answer is cached in an atomic
// (two threads may both ask; they get the same answer) rather than behind a static guard
// that a thread holding the lock could wait on.
unsigned long main_thread() {
    static std::atomic<unsigned long> cached{0};
    static std::atomic<bool> known{false};
    if (known.load(std::memory_order_acquire)) return cached.load(std::memory_order_relaxed);
    unsigned long id = 0;
    Ref threading(PyImport_ImportModule("threading"));
    Ref main(threading ? PyObject_CallMethod(threading.get(), "main_thread", nullptr) : nullptr);
    Ref value(main ? PyObject_GetAttrString(main.get(), "ident") : nullptr);
    if (value) id = PyLong_AsUnsignedLong(value.get());
    if (PyErr_Occurred()) {
        PyErr_Clear();
        id = 0;
    }
    cached.store(id, std::memory_order_relaxed);
    known.store(true, std::memory_order_release);
    return id;
}

std::atomic<bool> g_keep_lock{false};

}  // namespace

void keep_lock(bool on) { g_keep_lock.store(on, std::memory_order_relaxed); }

void release(Unlocked& u) {
    if (u.state == nullptr && !u.kept) u.kept = g_keep_lock.load(std::memory_order_relaxed);
    if (u.kept) return;
    u.seen = g_sigints.load(std::memory_order_relaxed);
    // Asked at the step's start only: a later release may follow a raised KeyboardInterrupt.
    if (u.state == nullptr) u.main = main_thread() != 0 && PyThread_get_thread_ident() == main_thread();
    u.checked = Clock::now();
    u.state = PyEval_SaveThread();
}

void reacquire(Unlocked& u) {
    if (!u.kept) PyEval_RestoreThread(u.state);
}

bool poll(void* unlocked) {
    auto& u = *static_cast<Unlocked*>(unlocked);
    if (u.kept) return PyErr_CheckSignals() != 0;  // the lock is held: ask directly
    const bool due = u.main && Clock::now() - u.checked >= kFullCheckEvery;
#if QUELM_SIGNAL_WATCH
    bool fresh = false;
    const bool watched = watch(fresh);  // false: SIGINT ignored or left to its default action
    // Installed just now, a SIGINT since the step began may have gone uncounted: check once.
    const bool sigint = watched && (fresh || g_sigints.load(std::memory_order_relaxed) != u.seen);
    if (!sigint && !due) return false;
    return check_with_lock(u);
#else
    // No way to watch the signal without the lock here: on the main thread, the only one
    // that runs handlers, take it at every poll.
    (void)due;
    return u.main && check_with_lock(u);
#endif
}

bool signal_pending() { return PyErr_CheckSignals() != 0; }

void continue_thread_exit() {
#if QUELM_FORCED_UNWIND
    try {
        throw;
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
    }
#elif QUELM_FOREIGN_UNWIND
    // Ending the catch would destroy the unwind, which glibc treats as fatal. The thread
    // holds no lock and the interpreter is going away: it waits, untouched, for the
    // process to end, as newer interpreters do with such threads themselves.
    if (abi::__cxa_current_exception_type() == nullptr) {
        for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
    }
#endif
}

}  // namespace quelm::py::detail
