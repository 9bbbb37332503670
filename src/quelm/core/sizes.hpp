// Overflow-checked sizes and saturating conversions for counts that come from users.
// An impossible size throws std::bad_alloc, which the binding turns into MemoryError.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>

#include "quelm/core/portable.hpp"

namespace quelm {

// a * b, or std::bad_alloc when the product does not fit in size_t.
[[nodiscard]] inline std::size_t checked_mul(std::size_t a, std::size_t b) {
    std::size_t out = 0;
    if (mul_overflows(a, b, out)) throw std::bad_alloc();
    return out;
}

[[nodiscard]] inline std::size_t checked_add(std::size_t a, std::size_t b) {
    std::size_t out = 0;
    if (add_overflows(a, b, out)) throw std::bad_alloc();
    return out;
}

// u64 count -> size_t element count of doubles that can actually be addressed.
[[nodiscard]] inline std::size_t checked_count(std::uint64_t n, std::size_t elem_size = sizeof(double)) {
    if (n > std::numeric_limits<std::size_t>::max() / elem_size) throw std::bad_alloc();
    return static_cast<std::size_t>(n);
}

// double -> u64 with saturation: NaN and negatives give 0, too large gives the maximum.
[[nodiscard]] inline std::uint64_t saturating_u64(double x) {
    if (!(x > 0.0)) return 0;
    if (x >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(x);
}

}  // namespace quelm
