// The SIMD width of the array kernels (core/simd.hpp), exported as C functions for ctypes:
// quelm.vec warns at import when QUELM_SIMD asked for a width it could not have.
#include "quelm/core/simd.hpp"

#if defined(_WIN32)
#define QUELM_C_API extern "C" __declspec(dllexport)
#else
#define QUELM_C_API extern "C" __attribute__((visibility("default")))
#endif

// "scalar", "sse2" ("neon"), "avx2" or "avx512": the width the array kernels use.
QUELM_C_API const char* quelm_simd(void) { return quelm::simd_name(quelm::simd_level()); }

// Why QUELM_SIMD was not followed, or "" when it was (or is unset).
QUELM_C_API const char* quelm_simd_warning(void) { return quelm::simd_choice().warning.c_str(); }
