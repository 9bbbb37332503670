// Compiler extensions used on hot paths, each with a standard C++ fallback for compilers
// without them. Both forms give the same results; defining QUELM_PORTABLE_ONLY selects the
// fallbacks on GCC and Clang too, so the test suite can run against them.
#pragma once

#include <cstdint>
#include <type_traits>

#if (defined(__GNUC__) || defined(__clang__)) && !defined(QUELM_PORTABLE_ONLY)
#define QUELM_GNU_EXTENSIONS 1
#else
#define QUELM_GNU_EXTENSIONS 0
#endif

namespace quelm {

// out = a * b for unsigned T; true when the product does not fit.
template <class T>
[[nodiscard]] inline bool mul_overflows(T a, T b, T& out) {
    static_assert(std::is_unsigned_v<T>);
#if QUELM_GNU_EXTENSIONS
    return __builtin_mul_overflow(a, b, &out);
#else
    out = static_cast<T>(a * b);
    return a != 0 && out / a != b;
#endif
}

// out = a + b for unsigned T; true when the sum does not fit.
template <class T>
[[nodiscard]] inline bool add_overflows(T a, T b, T& out) {
    static_assert(std::is_unsigned_v<T>);
#if QUELM_GNU_EXTENSIONS
    return __builtin_add_overflow(a, b, &out);
#else
    out = static_cast<T>(a + b);
    return out < a;
#endif
}

// The high 64 bits of the 128-bit product a * b (the low half is a * b modulo 2^64).
[[nodiscard]] inline std::uint64_t mul_high_u64(std::uint64_t a, std::uint64_t b) {
#if QUELM_GNU_EXTENSIONS && defined(__SIZEOF_INT128__)
    return static_cast<std::uint64_t>((static_cast<unsigned __int128>(a) * b) >> 64);
#else
    const std::uint64_t a_lo = a & 0xffffffffu, a_hi = a >> 32;
    const std::uint64_t b_lo = b & 0xffffffffu, b_hi = b >> 32;
    const std::uint64_t lo_lo = a_lo * b_lo, hi_lo = a_hi * b_lo, lo_hi = a_lo * b_hi;
    const std::uint64_t cross = (lo_lo >> 32) + (hi_lo & 0xffffffffu) + lo_hi;  // cannot overflow
    return a_hi * b_hi + (hi_lo >> 32) + (cross >> 32);
#endif
}

// x to the integer power n by binary powering: the same products, in the same order, as the
// GCC/Clang builtin's runtime routine, so both forms round identically.
[[nodiscard]] inline double powi(double x, int n) {
#if QUELM_GNU_EXTENSIONS
    return __builtin_powi(x, n);
#else
    unsigned m = n < 0 ? 0u - static_cast<unsigned>(n) : static_cast<unsigned>(n);
    double y = (m % 2u) != 0 ? x : 1.0;
    while ((m >>= 1) != 0) {
        x = x * x;
        if ((m % 2u) != 0) y = y * x;
    }
    return n < 0 ? 1.0 / y : y;
#endif
}

// A small function the compiler must inline into its caller's loop (where it would not on
// its own judgement, the loop becoming a call per item); plain inline elsewhere.
#if QUELM_GNU_EXTENSIONS
#define QUELM_ALWAYS_INLINE [[gnu::always_inline]] inline
#elif defined(_MSC_VER)
#define QUELM_ALWAYS_INLINE __forceinline
#else
#define QUELM_ALWAYS_INLINE inline
#endif

// Hints the processor that this thread is spinning; nothing where there is no such hint.
inline void spin_pause() {
#if QUELM_GNU_EXTENSIONS && (defined(__x86_64__) || defined(__i386__))
    __builtin_ia32_pause();
#endif
}

// Asks for the memory at p ahead of a read (a column of pointers to scattered objects);
// nothing where the compiler has no hint.
inline void prefetch(const void* p) {
#if QUELM_GNU_EXTENSIONS
    __builtin_prefetch(p);
#else
    (void)p;
#endif
}

}  // namespace quelm
