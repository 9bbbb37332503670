#include "quelm/core/simd.hpp"

#include <cstdlib>
#include <string_view>

#include "quelm/core/text.hpp"

namespace quelm {

namespace {

SimdLevel widest_on_this_cpu() {
#if QUELM_SIMD_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f")) return SimdLevel::Avx512;
    if (__builtin_cpu_supports("avx2")) return SimdLevel::Avx2;
    return SimdLevel::Sse2;
#elif QUELM_LANES_VECTOR
    return SimdLevel::Sse2;  // NEON on arm64, SSE2 elsewhere: two doubles
#else
    // Portable lane types: loops over arrays, the same results at every width.
    return SimdLevel::Avx512;
#endif
}

bool parse_level(std::string_view text, SimdLevel& out) {
    std::string s(text);
    for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (s == "scalar") out = SimdLevel::Scalar;
    else if (s == "sse2" || s == "neon") out = SimdLevel::Sse2;
    else if (s == "avx2") out = SimdLevel::Avx2;
    else if (s == "avx512") out = SimdLevel::Avx512;
    else return false;
    return true;
}

}  // namespace

const char* simd_name(SimdLevel level) {
    switch (level) {
        case SimdLevel::Scalar: return "scalar";
#if defined(__aarch64__) || defined(_M_ARM64)
        case SimdLevel::Sse2: return "neon";
#else
        case SimdLevel::Sse2: return "sse2";
#endif
        case SimdLevel::Avx2: return "avx2";
        case SimdLevel::Avx512: return "avx512";
    }
    return "scalar";
}

SimdChoice choose_simd(SimdLevel widest, const char* requested) {
    if (requested == nullptr || *requested == '\0') return {widest, {}};
    SimdLevel asked{};
    if (!parse_level(requested, asked)) {
        return {widest, std::string("QUELM_SIMD=") + quote_literal(requested) +
                            " is not one of 'scalar', 'sse2', 'avx2', 'avx512'; using " + simd_name(widest)};
    }
    if (asked > widest) {
        return {widest, std::string("QUELM_SIMD=") + simd_name(asked) + " is not supported here; using " +
                            simd_name(widest)};
    }
    return {asked, {}};
}

const SimdChoice& simd_choice() {
    static const SimdChoice choice = choose_simd(widest_on_this_cpu(), std::getenv("QUELM_SIMD"));
    return choice;
}

}  // namespace quelm
