// Cooperative cancellation token for long computations (Ctrl-C), and a poller that lets
// a long loop check it at a bounded cost. The core polls from the calling thread only;
// the binding wires the poll to the interpreter's signal check. Polling never changes a result.
#pragma once

#include <chrono>
#include <cstdint>

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

// For a long loop on the calling thread: report work as it is done, in units of roughly one
// cheap iteration. The clock is read once per kStride units and the token polled at most
// every kInterval, so a Ctrl-C lands within milliseconds whatever the loop's length.
class CancelPoller {
public:
    static constexpr std::uint64_t kStride = 4096;
    static constexpr auto kInterval = std::chrono::milliseconds(2);

    explicit CancelPoller(Cancel& cancel) : cancel_(cancel), last_(Clock::now()) {}

    // True once the caller asked to stop.
    bool tick(std::uint64_t work = 1) {
        work_ += work;
        if (work_ < kStride) return cancel_.stopped();
        return check();
    }
    // Reads the clock now; polls the token when kInterval has passed since the last poll.
    bool check() {
        work_ = 0;
        const auto now = Clock::now();
        if (now - last_ < kInterval) return cancel_.stopped();
        last_ = now;
        return cancel_.poll();
    }
    [[nodiscard]] bool stopped() const { return cancel_.stopped(); }

private:
    using Clock = std::chrono::steady_clock;
    Cancel& cancel_;
    Clock::time_point last_;
    std::uint64_t work_ = 0;
};

}  // namespace quelm
