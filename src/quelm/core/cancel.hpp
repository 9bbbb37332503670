// Cooperative cancellation token for long computations (Ctrl-C).
// The core polls it from the calling thread only; the binding wires the poll
// to the interpreter's signal check. Polling never changes a result.
#pragma once

namespace quelm {

class Cancel {
public:
    using Poll = bool (*)(void* context);  // true when the caller asked to stop

    constexpr Cancel() = default;
    constexpr Cancel(Poll poll, void* context) : poll_(poll), context_(context) {}

    // Call only on the thread that made the call into the library.
    bool poll() {
        if (!stopped_ && poll_ != nullptr && poll_(context_)) stopped_ = true;
        return stopped_;
    }
    [[nodiscard]] bool stopped() const { return stopped_; }

private:
    Poll poll_ = nullptr;
    void* context_ = nullptr;
    bool stopped_ = false;
};

// A token that never stops; for C++ callers and tests.
inline Cancel& never_cancel() {
    thread_local Cancel token;
    return token;
}

}  // namespace quelm
