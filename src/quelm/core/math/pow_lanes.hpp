// x^y for lanes of x and y on quelm::pow's main path (elementary.hpp's pow_main, the source
// the scalar call runs, so each lane has its bits): x positive and normal (not 1) and
// 2^-65 <= |y| < 2^64. The two checks below say whether a lane is on it (the caller answers
// the others with quelm::pow).
#pragma once

#include <cstdint>

#include "quelm/core/math/elementary.hpp"
#include "quelm/core/math/lanes.hpp"

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace quelm {

// Whether quelm::pow(x, y) takes the main path: x positive, normal, finite and not 1;
// 2^-65 <= |y| < 2^64. For one lane or many.
template <class V>
[[nodiscard]] inline auto pow_exponent_on_main_path(V y) {
    const V ay = lanes::abs(y);
    return lanes::mask_and(ay >= 0x1p-65, ay < 0x1p64);
}
template <class V>
[[nodiscard]] inline auto pow_base_on_main_path(V x) {
    return lanes::mask_and(lanes::mask_and(x >= 0x1p-1022, x < elementary_detail::kInf), x != 1.0);
}

// x^y for lanes on the main path (others get a value the caller replaces).
template <class V>
[[nodiscard]] inline V pow_lanes(V x, V y) {
    return elementary_detail::pow_main<V>(lanes::to_bits(x), y);
}

}  // namespace quelm

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
