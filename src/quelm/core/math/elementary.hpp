// quelm's own elementary functions: every transcendental function whose bits reach a
// result. New code calls these, never the C library's, so that results do not depend on
// the platform's libm.
//
// Interim: these forward to the C library while the own implementations are written.
#pragma once

#include <cmath>

namespace quelm {

[[nodiscard]] inline double exp(double x) { return std::exp(x); }
[[nodiscard]] inline double log(double x) { return std::log(x); }
[[nodiscard]] inline double expm1(double x) { return std::expm1(x); }
[[nodiscard]] inline double log1p(double x) { return std::log1p(x); }
[[nodiscard]] inline double pow(double x, double y) { return std::pow(x, y); }
[[nodiscard]] inline double sin(double x) { return std::sin(x); }
[[nodiscard]] inline double cos(double x) { return std::cos(x); }
[[nodiscard]] inline double atan2(double y, double x) { return std::atan2(y, x); }

}  // namespace quelm
