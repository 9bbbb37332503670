// The one error type of every computation, and the Result alias that carries it.
// Errors are values: computations return Result<T> and never throw for bad input.
#pragma once

#include <expected>
#include <string>
#include <utility>

namespace quelm {

// Tag order is part of the interface. Memory (a working set larger than the process can
// have) renders without a prefix: the binding raises it as MemoryError. Cancelled is the
// outcome of a computation stopped by its caller (Ctrl-C): the binding raises
// KeyboardInterrupt, and nothing partial is returned. Argument (arguments that do not fit
// together, such as two sequences of different lengths) renders without a prefix too: the
// message reads as the caller's mistake, as a malformed option does.
enum class Kind : unsigned char {
    InvalidInput = 0,
    Numerical = 1,
    NotImplemented = 2,
    DataSource = 3,
    Memory = 4,
    Cancelled = 5,
    Argument = 6,
};

struct Error {
    Kind kind;
    std::string text;

    // Prefix of the kind followed by the text, nothing after.
    [[nodiscard]] std::string render() const;
};

template <class T>
using Result = std::expected<T, Error>;
using Status = std::expected<void, Error>;

[[nodiscard]] inline std::unexpected<Error> invalid(std::string text) {
    return std::unexpected(Error{Kind::InvalidInput, std::move(text)});
}
[[nodiscard]] inline std::unexpected<Error> numerical(std::string text) {
    return std::unexpected(Error{Kind::Numerical, std::move(text)});
}

[[nodiscard]] inline std::unexpected<Error> out_of_memory(std::string text) {
    return std::unexpected(Error{Kind::Memory, std::move(text)});
}

[[nodiscard]] inline std::unexpected<Error> bad_argument(std::string text) {
    return std::unexpected(Error{Kind::Argument, std::move(text)});
}

// The one way a computation reports that its caller stopped it.
[[nodiscard]] inline std::unexpected<Error> cancelled() {
    return std::unexpected(Error{Kind::Cancelled, "interrupted"});
}
[[nodiscard]] inline bool is_cancelled(const Error& e) { return e.kind == Kind::Cancelled; }

}  // namespace quelm

#define QUELM_CONCAT_IMPL(a, b) a##b
#define QUELM_CONCAT(a, b) QUELM_CONCAT_IMPL(a, b)

// QUELM_TRY(x, expr): evaluate a Result-returning expr; on error return it, else bind x to the value.
#define QUELM_TRY(var, expr)                                                   \
    auto QUELM_CONCAT(quelm_try_, __LINE__) = (expr);                          \
    if (!QUELM_CONCAT(quelm_try_, __LINE__))                                   \
        return std::unexpected(std::move(QUELM_CONCAT(quelm_try_, __LINE__).error())); \
    auto var = std::move(*QUELM_CONCAT(quelm_try_, __LINE__))

// QUELM_CHECK(expr): evaluate a Status-returning expr and return its error, if any.
#define QUELM_CHECK(expr)                                                      \
    do {                                                                       \
        auto quelm_check_ = (expr);                                            \
        if (!quelm_check_) return std::unexpected(std::move(quelm_check_.error())); \
    } while (0)
