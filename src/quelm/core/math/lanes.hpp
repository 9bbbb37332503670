// Lanes: the few operations quelm's elementary functions and array kernels need, written
// once for one double (`double`) and for 2, 4 or 8 doubles at a time (`lanes::F64<N>`), so
// that one template serves the scalar call and every SIMD lane with the same bits.
//
// Types, for a lane type V (double, F64<N>, or Twin<F64<N>>: two vectors stepped together,
// for latency-bound kernels):
//   U = lanes::bits_t<V>   64-bit unsigned integers, one per lane (std::uint64_t for double)
//   M = lanes::mask_t<V>   the result of comparing two V or two U (bool for double; for
//                          N lanes all ones or all zeros per lane)
// Operations: + - * / on V (a double operand is broadcast); + - & | ^ and shifts by a
// constant on U; == != < <= > >= on V and on U (giving M); and the functions below:
// to_bits / from_bits, select(m, a, b), any(m) / all(m), sra (arithmetic shift), gather
// (one table value per lane) and gather_row (several consecutive values per lane, one
// index), small_int_to_double, abs, sqrt, splat, load / store, concat, lane_bits, half_t;
// and for_lanes, a loop over an array a vector at a time.
// Every operation is one IEEE 754 operation per lane, exactly rounded, in the order the
// source gives: no contraction (the build passes -ffp-contract=off), no reassociation.
//
// With GCC or Clang the N-lane types are vector extensions (the compiler emits SSE2, or
// AVX2 / AVX-512 inside functions compiled for those targets); otherwise, or when
// QUELM_PORTABLE_ONLY is defined, a std::array loop with the same results.
#pragma once

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#if (defined(__GNUC__) || defined(__clang__)) && !defined(QUELM_PORTABLE_ONLY)
#define QUELM_LANES_VECTOR 1
#else
#define QUELM_LANES_VECTOR 0
#endif

// Passing 32- and 64-byte vectors by value warns that the ABI depends on -mavx; these
// functions are inline and never cross a library boundary.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace quelm::lanes {

#if QUELM_LANES_VECTOR

typedef double f64x2 __attribute__((vector_size(16)));
typedef double f64x4 __attribute__((vector_size(32)));
typedef double f64x8 __attribute__((vector_size(64)));
typedef std::uint64_t u64x2 __attribute__((vector_size(16)));
typedef std::uint64_t u64x4 __attribute__((vector_size(32)));
typedef std::uint64_t u64x8 __attribute__((vector_size(64)));
typedef std::int64_t s64x2 __attribute__((vector_size(16)));
typedef std::int64_t s64x4 __attribute__((vector_size(32)));
typedef std::int64_t s64x8 __attribute__((vector_size(64)));

#else

// The portable lane types: element-wise loops over std::array.
template <class T, int N>
struct Pack {
    std::array<T, N> v{};
    T& operator[](int i) { return v[static_cast<std::size_t>(i)]; }
    T operator[](int i) const { return v[static_cast<std::size_t>(i)]; }
};
using f64x2 = Pack<double, 2>;
using f64x4 = Pack<double, 4>;
using f64x8 = Pack<double, 8>;
using u64x2 = Pack<std::uint64_t, 2>;
using u64x4 = Pack<std::uint64_t, 4>;
using u64x8 = Pack<std::uint64_t, 8>;

template <class T, int N, class F>
Pack<T, N> map2(const Pack<T, N>& a, const Pack<T, N>& b, F f) {
    Pack<T, N> r;
    for (int i = 0; i < N; ++i) r[i] = f(a[i], b[i]);
    return r;
}
template <class T, int N>
Pack<T, N> splat_pack(T x) {
    Pack<T, N> r;
    r.v.fill(x);
    return r;
}

#define QUELM_LANES_BINARY(op)                                                                    \
    template <class T, int N>                                                                     \
    Pack<T, N> operator op(const Pack<T, N>& a, const Pack<T, N>& b) {                            \
        return map2(a, b, [](T x, T y) { return static_cast<T>(x op y); });                       \
    }                                                                                             \
    template <class T, int N, class S>                                                            \
    Pack<T, N> operator op(const Pack<T, N>& a, S b) {                                            \
        return a op splat_pack<T, N>(static_cast<T>(b));                                          \
    }                                                                                             \
    template <class T, int N, class S>                                                            \
    Pack<T, N> operator op(S a, const Pack<T, N>& b) {                                            \
        return splat_pack<T, N>(static_cast<T>(a)) op b;                                          \
    }
QUELM_LANES_BINARY(+)
QUELM_LANES_BINARY(-)
QUELM_LANES_BINARY(*)
QUELM_LANES_BINARY(/)
QUELM_LANES_BINARY(&)
QUELM_LANES_BINARY(|)
QUELM_LANES_BINARY(^)
#undef QUELM_LANES_BINARY

template <class T, int N>
Pack<T, N>& operator+=(Pack<T, N>& a, const Pack<T, N>& b) {
    return a = a + b;
}
template <class T, int N>
Pack<T, N>& operator-=(Pack<T, N>& a, const Pack<T, N>& b) {
    return a = a - b;
}
template <class T, int N>
Pack<T, N>& operator*=(Pack<T, N>& a, const Pack<T, N>& b) {
    return a = a * b;
}
template <class T, int N>
Pack<T, N>& operator/=(Pack<T, N>& a, const Pack<T, N>& b) {
    return a = a / b;
}
template <class T, int N>
Pack<T, N> operator-(const Pack<T, N>& a) {
    Pack<T, N> r;
    for (int i = 0; i < N; ++i) r[i] = -a[i];
    return r;
}
template <class T, int N>
Pack<T, N> operator~(const Pack<T, N>& a) {
    Pack<T, N> r;
    for (int i = 0; i < N; ++i) r[i] = ~a[i];
    return r;
}
template <class T, int N>
Pack<T, N> operator<<(const Pack<T, N>& a, int s) {
    Pack<T, N> r;
    for (int i = 0; i < N; ++i) r[i] = a[i] << s;
    return r;
}
template <class T, int N>
Pack<T, N> operator>>(const Pack<T, N>& a, int s) {
    Pack<T, N> r;
    for (int i = 0; i < N; ++i) r[i] = a[i] >> s;
    return r;
}
// Comparisons give a mask: all ones where true, as the vector extensions do.
#define QUELM_LANES_COMPARE(op)                                                                   \
    template <class T, int N>                                                                     \
    Pack<std::uint64_t, N> operator op(const Pack<T, N>& a, const Pack<T, N>& b) {                \
        Pack<std::uint64_t, N> r;                                                                 \
        for (int i = 0; i < N; ++i) r[i] = a[i] op b[i] ? ~std::uint64_t{0} : 0;                  \
        return r;                                                                                 \
    }                                                                                             \
    template <class T, int N, class S>                                                            \
    Pack<std::uint64_t, N> operator op(const Pack<T, N>& a, S b) {                                \
        return a op splat_pack<T, N>(static_cast<T>(b));                                          \
    }
QUELM_LANES_COMPARE(==)
QUELM_LANES_COMPARE(!=)
QUELM_LANES_COMPARE(<)
QUELM_LANES_COMPARE(<=)
QUELM_LANES_COMPARE(>)
QUELM_LANES_COMPARE(>=)
#undef QUELM_LANES_COMPARE

#endif

// ---- Twin: two vectors as one lane type of twice the width ------------------------------
//
// Every operation is issued on both halves, one after the other, so a kernel whose every
// step waits on the one before (a Newton or Brent iteration) runs two independent chains
// interleaved instruction by instruction: the processor fills one chain's waits with the
// other's work. Lane k of a Twin is lane k of lo (k < half) or of hi, with the same bits.
// (Code over lane types sets a struct's Twin members from expressions, not by copying a
// named Twin: see elementary.hpp's log_reduce.)
template <class H>
struct Twin {
    H lo, hi;
    // Lane k, to read or to set (for code that takes a lane at a time).
    using T = std::remove_cvref_t<decltype(H{}[0])>;
    static constexpr int kHalf = static_cast<int>(sizeof(H) / sizeof(T));
    struct Lane {
        Twin& t;
        int k;
        operator T() const { return k < kHalf ? t.lo[k] : t.hi[k - kHalf]; }
        Lane& operator=(T x) {
            if (k < kHalf) {
                t.lo[k] = x;
            } else {
                t.hi[k - kHalf] = x;
            }
            return *this;
        }
    };
    Lane operator[](int k) { return {*this, k}; }
    T operator[](int k) const { return k < kHalf ? lo[k] : hi[k - kHalf]; }
    Twin& operator+=(const Twin& b) { return *this = {lo + b.lo, hi + b.hi}; }
    Twin& operator-=(const Twin& b) { return *this = {lo - b.lo, hi - b.hi}; }
    Twin& operator*=(const Twin& b) { return *this = {lo * b.lo, hi * b.hi}; }
    Twin& operator/=(const Twin& b) { return *this = {lo / b.lo, hi / b.hi}; }
};
template <class T>
struct IsTwinT : std::false_type {};
template <class H>
struct IsTwinT<Twin<H>> : std::true_type {};
template <class T>
concept IsTwin = IsTwinT<T>::value;
#define QUELM_LANES_TWIN_BINARY(op)                                                               \
    template <class H>                                                                            \
    Twin<H> operator op(const Twin<H>& a, const Twin<H>& b) {                                     \
        return {a.lo op b.lo, a.hi op b.hi};                                                      \
    }                                                                                             \
    template <class H, class S>                                                                   \
        requires std::is_arithmetic_v<S>                                                          \
    Twin<H> operator op(const Twin<H>& a, S b) {                                                  \
        const auto e = static_cast<typename Twin<H>::T>(b);                                       \
        return {a.lo op e, a.hi op e};                                                            \
    }                                                                                             \
    template <class H, class S>                                                                   \
        requires std::is_arithmetic_v<S>                                                          \
    Twin<H> operator op(S a, const Twin<H>& b) {                                                  \
        const auto e = static_cast<typename Twin<H>::T>(a);                                       \
        return {e op b.lo, e op b.hi};                                                            \
    }
QUELM_LANES_TWIN_BINARY(+)
QUELM_LANES_TWIN_BINARY(-)
QUELM_LANES_TWIN_BINARY(*)
QUELM_LANES_TWIN_BINARY(/)
QUELM_LANES_TWIN_BINARY(&)
QUELM_LANES_TWIN_BINARY(|)
QUELM_LANES_TWIN_BINARY(^)
#undef QUELM_LANES_TWIN_BINARY
template <class H>
Twin<H> operator-(const Twin<H>& a) {
    return {-a.lo, -a.hi};
}
template <class H>
Twin<H> operator~(const Twin<H>& a) {
    return {~a.lo, ~a.hi};
}
template <class H>
Twin<H> operator<<(const Twin<H>& a, int s) {
    return {a.lo << s, a.hi << s};
}
template <class H>
Twin<H> operator>>(const Twin<H>& a, int s) {
    return {a.lo >> s, a.hi >> s};
}
#define QUELM_LANES_TWIN_COMPARE(op)                                                              \
    template <class H>                                                                            \
    auto operator op(const Twin<H>& a, const Twin<H>& b) {                                        \
        return Twin<decltype(a.lo op b.lo)>{a.lo op b.lo, a.hi op b.hi};                          \
    }                                                                                             \
    template <class H, class S>                                                                   \
        requires std::is_arithmetic_v<S>                                                          \
    auto operator op(const Twin<H>& a, S b) {                                                     \
        const auto e = static_cast<typename Twin<H>::T>(b);                                       \
        return Twin<decltype(a.lo op e)>{a.lo op e, a.hi op e};                                   \
    }
QUELM_LANES_TWIN_COMPARE(==)
QUELM_LANES_TWIN_COMPARE(!=)
QUELM_LANES_TWIN_COMPARE(<)
QUELM_LANES_TWIN_COMPARE(<=)
QUELM_LANES_TWIN_COMPARE(>)
QUELM_LANES_TWIN_COMPARE(>=)
#undef QUELM_LANES_TWIN_COMPARE

template <class V>
struct HalfT {
    using type = V;
};
template <class H>
struct HalfT<Twin<H>> {
    using type = H;
};
// A twin's half (other lane types: themselves).
template <class V>
using half_t = typename HalfT<V>::type;

// ---- Traits: for each lane type, its width, its integer twin and its mask type ---------

template <class T>
struct Traits {
    static constexpr int size = 0;  // not a lane type
};
template <>
struct Traits<double> {
    using F = double;
    using U = std::uint64_t;
    using M = bool;
    static constexpr int size = 1;
};
template <class F_, class U_, int N>
struct VectorTraits {
    using F = F_;
    using U = U_;
    using M = decltype(F_{} < F_{});
    static constexpr int size = N;
};
template <>
struct Traits<f64x2> : VectorTraits<f64x2, u64x2, 2> {};
template <>
struct Traits<f64x4> : VectorTraits<f64x4, u64x4, 4> {};
template <>
struct Traits<f64x8> : VectorTraits<f64x8, u64x8, 8> {};
template <>
struct Traits<u64x2> : VectorTraits<f64x2, u64x2, 2> {};
template <>
struct Traits<u64x4> : VectorTraits<f64x4, u64x4, 4> {};
template <>
struct Traits<u64x8> : VectorTraits<f64x8, u64x8, 8> {};
template <class H, bool Lanes = (Traits<H>::size > 1)>
struct TwinTraits {
    static constexpr int size = 0;  // a twin of masks is no lane type
};
template <class H>
struct TwinTraits<H, true> {
    using F = Twin<typename Traits<H>::F>;
    using U = Twin<typename Traits<H>::U>;
    using M = Twin<typename Traits<H>::M>;
    static constexpr int size = 2 * Traits<H>::size;
};
template <class H>
struct Traits<Twin<H>> : TwinTraits<H> {};

template <class V>
using bits_t = typename Traits<V>::U;
template <class V>
using mask_t = typename Traits<V>::M;
template <class V>
inline constexpr int size_v = Traits<V>::size;
// The N-lane types: F64<4> is f64x4.
template <int N>
struct ByWidth;
template <>
struct ByWidth<2> {
    using F = f64x2;
};
template <>
struct ByWidth<4> {
    using F = f64x4;
};
template <>
struct ByWidth<8> {
    using F = f64x8;
};
template <int N>
using F64 = typename ByWidth<N>::F;
template <class T>
concept Vector = (Traits<T>::size > 1) && std::is_same_v<T, typename Traits<T>::F> && !IsTwin<T>;
template <class T>
concept VectorBits = (Traits<T>::size > 1) && std::is_same_v<T, typename Traits<T>::U> && !IsTwin<T>;

// ---- One lane ------------------------------------------------------------------------

[[nodiscard]] inline std::uint64_t to_bits(double x) { return std::bit_cast<std::uint64_t>(x); }
[[nodiscard]] inline double from_bits(std::uint64_t u) { return std::bit_cast<double>(u); }
[[nodiscard]] inline double select(bool m, double a, double b) { return m ? a : b; }
[[nodiscard]] inline std::uint64_t select(bool m, std::uint64_t a, std::uint64_t b) { return m ? a : b; }
[[nodiscard]] inline bool any(bool m) { return m; }
[[nodiscard]] inline bool all(bool m) { return m; }
// Arithmetic right shift of the two's complement reading of u.
[[nodiscard]] inline std::uint64_t sra(std::uint64_t u, int s) {
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(u) >> s);
}
[[nodiscard]] inline double gather(const double* table, std::uint64_t i) { return table[i]; }
[[nodiscard]] inline std::uint64_t gather(const std::uint64_t* table, std::uint64_t i) { return table[i]; }
// Rows of a table with several values per entry: out_j = table[i + j], one index per lane.
template <class T>
inline void gather_row(const T* table, std::uint64_t i, T& a, T& b) {
    a = table[i];
    b = table[i + 1];
}
template <class T>
inline void gather_row(const T* table, std::uint64_t i, T& a, T& b, T& c) {
    a = table[i];
    b = table[i + 1];
    c = table[i + 2];
}
[[nodiscard]] inline double sqrt(double x) { return std::sqrt(x); }
template <class V>
[[nodiscard]] inline V splat(double x) {
    if constexpr (std::is_same_v<V, double>) {
        return x;
    } else if constexpr (IsTwin<V>) {
        return {splat<decltype(V{}.lo)>(x), splat<decltype(V{}.lo)>(x)};
    } else {
        V r{};
        for (int i = 0; i < size_v<V>; ++i) r[i] = x;
        return r;
    }
}

// ---- N lanes -------------------------------------------------------------------------

template <Vector V>
[[nodiscard]] inline bits_t<V> to_bits(V x) {
#if QUELM_LANES_VECTOR
    return reinterpret_cast<bits_t<V>>(x);
#else
    bits_t<V> r;
    for (int i = 0; i < size_v<V>; ++i) r[i] = std::bit_cast<std::uint64_t>(x[i]);
    return r;
#endif
}
template <VectorBits U>
[[nodiscard]] inline typename Traits<U>::F from_bits(U u) {
#if QUELM_LANES_VECTOR
    return reinterpret_cast<typename Traits<U>::F>(u);
#else
    typename Traits<U>::F r;
    for (int i = 0; i < size_v<U>; ++i) r[i] = std::bit_cast<double>(u[i]);
    return r;
#endif
}
// A mask as lane bits (all ones or zero per lane).
template <class U, class M>
[[nodiscard]] inline U mask_bits(M m) {
#if QUELM_LANES_VECTOR
    return reinterpret_cast<U>(m);
#else
    return m;
#endif
}
template <class M, Vector V>
[[nodiscard]] inline V select(M m, V a, V b) {
#if QUELM_LANES_VECTOR
    if constexpr (sizeof(V) >= 32) {
        // One blend on AVX targets (a mask lane is all ones or zero: its sign decides).
        using S = std::conditional_t<sizeof(V) == 32, s64x4, s64x8>;
        return reinterpret_cast<S>(mask_bits<bits_t<V>>(m)) < 0 ? a : b;
    }
#endif
    const bits_t<V> k = mask_bits<bits_t<V>>(m);
    return from_bits((k & to_bits(a)) | (~k & to_bits(b)));
}
template <class M, VectorBits U>
[[nodiscard]] inline U select(M m, U a, U b) {
    const U k = mask_bits<U>(m);
    return (k & a) | (~k & b);
}
// (A one-lane mask combined with | or & is an int: it takes the bool forms above.)
#if QUELM_LANES_VECTOR && defined(__SSE2__)
// x86: the mask folded to two lanes (| for any, & for all), then one movmskpd.
namespace detail {
inline s64x2 fold_or(s64x2 m) { return m; }
inline s64x2 fold_or(s64x4 m) { return __builtin_shufflevector(m, m, 0, 1) | __builtin_shufflevector(m, m, 2, 3); }
inline s64x2 fold_or(s64x8 m) {
    return fold_or(s64x4{__builtin_shufflevector(m, m, 0, 1, 2, 3) | __builtin_shufflevector(m, m, 4, 5, 6, 7)});
}
inline s64x2 fold_and(s64x2 m) { return m; }
inline s64x2 fold_and(s64x4 m) { return __builtin_shufflevector(m, m, 0, 1) & __builtin_shufflevector(m, m, 2, 3); }
inline s64x2 fold_and(s64x8 m) {
    return fold_and(s64x4{__builtin_shufflevector(m, m, 0, 1, 2, 3) & __builtin_shufflevector(m, m, 4, 5, 6, 7)});
}
template <class M>
using Signed = std::conditional_t<sizeof(M) == 16, s64x2, std::conditional_t<sizeof(M) == 32, s64x4, s64x8>>;
}  // namespace detail
template <class M>
    requires(sizeof(M) >= 16 && !IsTwin<M>)
[[nodiscard]] inline bool any(M m) {
    const s64x2 f = detail::fold_or(reinterpret_cast<detail::Signed<M>>(m));
    return __builtin_ia32_movmskpd(reinterpret_cast<f64x2>(f)) != 0;
}
template <class M>
    requires(sizeof(M) >= 16 && !IsTwin<M>)
[[nodiscard]] inline bool all(M m) {
    const s64x2 f = detail::fold_and(reinterpret_cast<detail::Signed<M>>(m));
    return __builtin_ia32_movmskpd(reinterpret_cast<f64x2>(f)) == 3;
}
#else
template <class M>
    requires(sizeof(M) >= 16 && !IsTwin<M>)
[[nodiscard]] inline bool any(M m) {
    constexpr int n = sizeof(m) / 8;
    std::uint64_t acc = 0;
    for (int i = 0; i < n; ++i) acc |= static_cast<std::uint64_t>(m[i]);
    return acc != 0;
}
template <class M>
    requires(sizeof(M) >= 16 && !IsTwin<M>)
[[nodiscard]] inline bool all(M m) {
    constexpr int n = sizeof(m) / 8;
    std::uint64_t acc = ~std::uint64_t{0};
    for (int i = 0; i < n; ++i) acc &= static_cast<std::uint64_t>(m[i]);
    return acc != 0;
}
#endif
template <VectorBits U>
[[nodiscard]] inline U sra(U u, int s) {
#if QUELM_LANES_VECTOR
    typedef std::int64_t S __attribute__((vector_size(sizeof(U))));
    return reinterpret_cast<U>(reinterpret_cast<S>(u) >> s);
#else
    U r;
    for (int i = 0; i < size_v<U>; ++i) r[i] = sra(u[i], s);
    return r;
#endif
}
// A table look-up per lane (the compiler makes it a gather where the target has one).
template <VectorBits U>
[[nodiscard]] inline typename Traits<U>::F gather(const double* table, U i) {
    typename Traits<U>::F r{};
    for (int k = 0; k < size_v<U>; ++k) r[k] = table[i[k]];
    return r;
}
template <VectorBits U>
[[nodiscard]] inline U gather(const std::uint64_t* table, U i) {
    U r{};
    for (int k = 0; k < size_v<U>; ++k) r[k] = table[i[k]];
    return r;
}
template <VectorBits U, class R>
inline void gather_row(const typename std::remove_cvref_t<decltype(R{}[0])>* table, U i, R& a, R& b) {
#if QUELM_LANES_VECTOR
    using T = std::remove_cvref_t<decltype(R{}[0])>;
    if constexpr (size_v<U> == 4 && sizeof(T) == 8) {
        // Each row as one 16-byte load, then transposed: fewer instructions than a load
        // per value (the same values).
        typedef T T2 __attribute__((vector_size(16)));
        T2 r0, r1, r2, r3;
        __builtin_memcpy(&r0, table + i[0], 16);
        __builtin_memcpy(&r1, table + i[1], 16);
        __builtin_memcpy(&r2, table + i[2], 16);
        __builtin_memcpy(&r3, table + i[3], 16);
        const T2 a01 = __builtin_shufflevector(r0, r1, 0, 2), b01 = __builtin_shufflevector(r0, r1, 1, 3);
        const T2 a23 = __builtin_shufflevector(r2, r3, 0, 2), b23 = __builtin_shufflevector(r2, r3, 1, 3);
        a = __builtin_shufflevector(a01, a23, 0, 1, 2, 3);
        b = __builtin_shufflevector(b01, b23, 0, 1, 2, 3);
        return;
    }
#endif
    for (int k = 0; k < size_v<U>; ++k) {
        const auto* row = table + i[k];
        a[k] = row[0];
        b[k] = row[1];
    }
}
template <VectorBits U, class R>
inline void gather_row(const typename std::remove_cvref_t<decltype(R{}[0])>* table, U i, R& a, R& b, R& c) {
#if QUELM_LANES_VECTOR
    using T = std::remove_cvref_t<decltype(R{}[0])>;
    if constexpr (size_v<U> == 4 && sizeof(T) == 8) {
        gather_row(table, i, a, b);
        c = R{table[i[0] + 2], table[i[1] + 2], table[i[2] + 2], table[i[3] + 2]};
        return;
    }
#endif
    for (int k = 0; k < size_v<U>; ++k) {
        const auto* row = table + i[k];
        a[k] = row[0];
        b[k] = row[1];
        c[k] = row[2];
    }
}
template <Vector V>
[[nodiscard]] inline V sqrt(V x) {
    for (int k = 0; k < size_v<V>; ++k) x[k] = std::sqrt(x[k]);
    return x;
}

// ---- Twins: each function on both halves ----------------------------------------------

template <class H>
[[nodiscard]] inline auto to_bits(Twin<H> x) {
    return Twin<decltype(to_bits(x.lo))>{to_bits(x.lo), to_bits(x.hi)};
}
template <class H>
[[nodiscard]] inline auto from_bits(Twin<H> u) {
    return Twin<decltype(from_bits(u.lo))>{from_bits(u.lo), from_bits(u.hi)};
}
template <class MH, class H>
[[nodiscard]] inline Twin<H> select(Twin<MH> m, Twin<H> a, Twin<H> b) {
    return {select(m.lo, a.lo, b.lo), select(m.hi, a.hi, b.hi)};
}
template <class MH>
[[nodiscard]] inline bool any(Twin<MH> m) {
    return any(m.lo | m.hi);
}
template <class MH>
[[nodiscard]] inline bool all(Twin<MH> m) {
    return all(m.lo & m.hi);
}
template <class H>
[[nodiscard]] inline Twin<H> sra(Twin<H> u, int s) {
    return {sra(u.lo, s), sra(u.hi, s)};
}
template <class T, class H>
[[nodiscard]] inline auto gather(const T* table, Twin<H> i) {
    return Twin<decltype(gather(table, i.lo))>{gather(table, i.lo), gather(table, i.hi)};
}
template <class T, class H, class R>
inline void gather_row(const T* table, Twin<H> i, Twin<R>& a, Twin<R>& b) {
    R alo, blo, ahi, bhi;  // whole halves assigned below: see the Twin note above
    gather_row(table, i.lo, alo, blo);
    gather_row(table, i.hi, ahi, bhi);
    a = Twin<R>{alo, ahi};
    b = Twin<R>{blo, bhi};
}
template <class T, class H, class R>
inline void gather_row(const T* table, Twin<H> i, Twin<R>& a, Twin<R>& b, Twin<R>& c) {
    R alo, blo, clo, ahi, bhi, chi;
    gather_row(table, i.lo, alo, blo, clo);
    gather_row(table, i.hi, ahi, bhi, chi);
    a = Twin<R>{alo, ahi};
    b = Twin<R>{blo, bhi};
    c = Twin<R>{clo, chi};
}
template <class H>
[[nodiscard]] inline Twin<H> sqrt(Twin<H> x) {
    return {sqrt(x.lo), sqrt(x.hi)};
}

// ---- Built on the above, for every lane type ------------------------------------------

// Masks combined for every lane type (a one-lane mask is a bool, where ~ and & would give
// an int).
template <class M>
[[nodiscard]] inline M mask_not(M m) {
    if constexpr (std::is_same_v<M, bool>) {
        return !m;
    } else {
        return ~m;
    }
}
template <class M>
[[nodiscard]] inline M mask_and(M a, M b) {
    if constexpr (std::is_same_v<M, bool>) {
        return a && b;
    } else {
        return a & b;
    }
}
template <class M>
[[nodiscard]] inline M mask_or(M a, M b) {
    if constexpr (std::is_same_v<M, bool>) {
        return a || b;
    } else {
        return a | b;
    }
}

// |x|, exactly.
template <class V>
[[nodiscard]] inline V abs(V x) {
    return from_bits(to_bits(x) & 0x7fffffffffffffffULL);
}
// The integer nearest x (ties to even) for |x| < 2^51, as a double and as the low bits of
// an integer: x + 1.5 * 2^52 rounds once, and its low mantissa bits are that integer.
inline constexpr double kRoundShift = 0x1.8p52;
// A small signed integer held in U (|i| < 2^51) as a double, exactly (one conversion for a
// single lane; for N lanes through the rounding constant, as AVX2 has no such conversion).
template <class U>
[[nodiscard]] inline auto small_int_to_double(U i) {
    if constexpr (std::is_same_v<U, std::uint64_t>) {
        return static_cast<double>(static_cast<std::int64_t>(i));
    } else {
        return from_bits(i + to_bits(kRoundShift)) - kRoundShift;
    }
}

// Loads N lanes from memory and stores them back.
template <class V>
[[nodiscard]] inline V load(const double* p) {
    if constexpr (std::is_same_v<V, double>) {
        return *p;
    } else if constexpr (IsTwin<V>) {
        using H = decltype(V{}.lo);
        return {load<H>(p), load<H>(p + size_v<H>)};
    } else {
        V r{};
        for (int i = 0; i < size_v<V>; ++i) r[i] = p[i];
        return r;
    }
}
template <class V>
inline void store(double* p, V x) {
    if constexpr (std::is_same_v<V, double>) {
        *p = x;
    } else if constexpr (IsTwin<V>) {
        store(p, x.lo);
        store(p + size_v<decltype(x.lo)>, x.hi);
    } else {
        for (int i = 0; i < size_v<V>; ++i) p[i] = x[i];
    }
}

// Two N-lane vectors as one of 2N lanes, lo's lanes first (rows of two separate arrays
// filling one wider register).
template <Vector H>
    requires(size_v<H> <= 4)
[[nodiscard]] inline F64<2 * size_v<H>> concat(H lo, H hi) {
#if QUELM_LANES_VECTOR
    if constexpr (size_v<H> == 2) {
        return __builtin_shufflevector(lo, hi, 0, 1, 2, 3);
    } else {
        return __builtin_shufflevector(lo, hi, 0, 1, 2, 3, 4, 5, 6, 7);
    }
#else
    F64<2 * size_v<H>> r;
    for (int i = 0; i < size_v<H>; ++i) {
        r[i] = lo[i];
        r[i + size_v<H>] = hi[i];
    }
    return r;
#endif
}

// A loop over n elements a vector at a time: f.template operator()<V>(i) at i = 0, w, 2w, ...
// while a whole vector fits, then f.template operator()<double>(i) at each index left; f is
// a generic lambda over its lane type, [&]<class L>(std::size_t i) { ... }. Each element
// gets the same operations whichever of the two reaches it.
template <class V, class F>
#if QUELM_LANES_VECTOR
[[gnu::always_inline]]
#endif
inline void for_lanes(std::size_t n, F&& f) {
    constexpr auto w = static_cast<std::size_t>(size_v<V>);
    std::size_t i = 0;
    for (; i + w <= n; i += w) f.template operator()<V>(i);
    for (; i < n; ++i) f.template operator()<double>(i);
}

// N bytes from memory, each widened to its lane's integer (one vector conversion, so no
// lane is assembled through memory).
template <class V>
[[nodiscard]] inline bits_t<V> load_bytes(const unsigned char* p) {
    if constexpr (std::is_same_v<V, double>) {
        return *p;
    } else if constexpr (IsTwin<V>) {
        using H = decltype(V{}.lo);
        return {load_bytes<H>(p), load_bytes<H>(p + size_v<H>)};
    } else {
#if QUELM_LANES_VECTOR
        typedef unsigned char B __attribute__((vector_size(size_v<V>)));
        B b;
        __builtin_memcpy(&b, p, sizeof b);
        return __builtin_convertvector(b, bits_t<V>);
#else
        bits_t<V> r;
        for (int i = 0; i < size_v<V>; ++i) r[i] = p[i];
        return r;
#endif
    }
}

// A mask as an integer: bit k set where lane k is true.
template <class M>
[[nodiscard]] inline unsigned lane_bits(M m) {
    if constexpr (std::is_integral_v<M>) {
        return m ? 1u : 0u;
    } else if constexpr (IsTwin<M>) {
        return lane_bits(m.lo) | lane_bits(m.hi) << (sizeof(m.lo) / 8);
    } else {
        constexpr int n = sizeof(m) / 8;
        unsigned r = 0;
        for (int i = 0; i < n; ++i) r |= static_cast<unsigned>(m[i] & 1) << i;
        return r;
    }
}

}  // namespace quelm::lanes

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
