// The SIMD width of the array kernels, chosen once per process: the widest the processor
// runs (SSE2 / NEON: 2 doubles, AVX2: 4, AVX-512: 8), capped by the environment variable
// QUELM_SIMD (scalar, sse2, avx2, avx512). Every width gives the same bits: the kernels are
// lane templates (math/lanes.hpp) whose lanes each do the scalar call's operations.
#pragma once

#include <string>

#include "quelm/core/math/lanes.hpp"

namespace quelm {

enum class SimdLevel : unsigned char { Scalar, Sse2, Avx2, Avx512 };

struct SimdChoice {
    SimdLevel level;
    std::string warning;  // non-empty when QUELM_SIMD asked for a width this build or CPU lacks
};

// The choice, made at the first call (thread-safe) from the CPU and QUELM_SIMD.
[[nodiscard]] const SimdChoice& simd_choice();
[[nodiscard]] inline SimdLevel simd_level() { return simd_choice().level; }
// "scalar", "sse2" ("neon" on arm64), "avx2", "avx512".
[[nodiscard]] const char* simd_name(SimdLevel level);

// Chooses from a CPU's widest level and a QUELM_SIMD value (nullptr: unset); for tests.
[[nodiscard]] SimdChoice choose_simd(SimdLevel widest, const char* requested);

}  // namespace quelm

// Function attributes for the per-width entry points: the body (lane templates, inlined
// whole by `flatten`) is compiled for that instruction set. Never FMA: -ffp-contract=off
// would keep a*b+c unfused anyway, and the targets below do not include it.
#if QUELM_LANES_VECTOR && (defined(__x86_64__) || defined(__i386__))
#define QUELM_SIMD_X86 1
#define QUELM_TARGET_AVX2 __attribute__((target("avx2"), flatten))
#define QUELM_TARGET_AVX512 __attribute__((target("avx512f"), flatten))
#else
#define QUELM_SIMD_X86 0
#define QUELM_TARGET_AVX2
#define QUELM_TARGET_AVX512
#endif
#if QUELM_LANES_VECTOR
#define QUELM_TARGET_BASE __attribute__((flatten))
#else
#define QUELM_TARGET_BASE
#endif

// QUELM_SIMD_KERNEL(name, impl) defines name(args...), which runs impl<V>(args...) with the
// lane type of the chosen width (double for "scalar"), compiled for that width's
// instruction set. impl is a function template over the lane type returning void.
// QUELM_SIMD_KERNEL_TWIN does the same with two vectors per lane group (lanes::Twin) on
// SSE2 and AVX2, for kernels whose every step waits on the one before (iterative solves,
// the closed forms' chains of elementary functions): the two halves' chains interleave. (AVX-512 keeps one vector: its kernels are not measured
// on a machine that has it.)
#define QUELM_SIMD_KERNEL_OF(name, impl, wide, middle, narrow)                                        \
    template <class... A>                                                                             \
    QUELM_TARGET_AVX512 void name##_w8(A&... a) {                                                     \
        impl<wide>(a...);                                                                             \
    }                                                                                                 \
    template <class... A>                                                                             \
    QUELM_TARGET_AVX2 void name##_w4(A&... a) {                                                       \
        impl<middle>(a...);                                                                           \
    }                                                                                                 \
    template <class... A>                                                                             \
    QUELM_TARGET_BASE void name##_w2(A&... a) {                                                       \
        impl<narrow>(a...);                                                                           \
    }                                                                                                 \
    template <class... A>                                                                             \
    void name(A&&... a) {                                                                             \
        switch (::quelm::simd_level()) {                                                              \
            case ::quelm::SimdLevel::Avx512: name##_w8(a...); return;                                 \
            case ::quelm::SimdLevel::Avx2: name##_w4(a...); return;                                   \
            case ::quelm::SimdLevel::Sse2: name##_w2(a...); return;                                   \
            case ::quelm::SimdLevel::Scalar: impl<double>(a...); return;                              \
        }                                                                                             \
    }
#define QUELM_SIMD_KERNEL(name, impl) \
    QUELM_SIMD_KERNEL_OF(name, impl, ::quelm::lanes::f64x8, ::quelm::lanes::f64x4, ::quelm::lanes::f64x2)
#define QUELM_SIMD_KERNEL_TWIN(name, impl)                                                               \
    QUELM_SIMD_KERNEL_OF(name, impl, ::quelm::lanes::f64x8, ::quelm::lanes::Twin<::quelm::lanes::f64x4>, \
                         ::quelm::lanes::Twin<::quelm::lanes::f64x2>)
