// The string options of curves: how a curve answers beyond its pillars, and the
// interpolations a bootstrap builds (each mapped onto the curve's Interp).
#pragma once

#include <cstdint>

#include "quelm/core/choice.hpp"
#include "quelm/core/math/interpolate.hpp"

namespace quelm::curves {

// None: a time outside the pillars is an error. FlatForward: after the last pillar the
// instantaneous forward there continues; before the first the first zero rate holds.
enum class Extrapolation : std::uint8_t { None, FlatForward };

inline constexpr Choices<Extrapolation, 2> kExtrapolations{
    "extrapolate", Listing::Quoted, {{{"none", Extrapolation::None}, {"flat-forward", Extrapolation::FlatForward}}},
    true, true};

[[nodiscard]] inline const char* extrapolation_name(Extrapolation e) {
    return e == Extrapolation::None ? "none" : "flat-forward";
}

enum class BootstrapInterp : std::uint8_t { LogLinear, LinearZero, NaturalCubic, MonotoneConvex, FlatForward };

inline constexpr Choices<BootstrapInterp, 5> kBootstrapInterps{
    "interp",
    Listing::Quoted,
    {{{"log-linear", BootstrapInterp::LogLinear},
      {"linear-zero", BootstrapInterp::LinearZero},
      {"natural-cubic", BootstrapInterp::NaturalCubic},
      {"monotone-convex", BootstrapInterp::MonotoneConvex},
      {"flat-forward", BootstrapInterp::FlatForward}}},
    true,
    true};

[[nodiscard]] constexpr Interp curve_interp(BootstrapInterp b) {
    switch (b) {
        case BootstrapInterp::LogLinear: return Interp::LogLinear;
        case BootstrapInterp::LinearZero: return Interp::Linear;
        case BootstrapInterp::NaturalCubic: return Interp::NaturalCubic;
        case BootstrapInterp::MonotoneConvex: return Interp::MonotoneConvex;
        case BootstrapInterp::FlatForward: return Interp::FlatForward;
    }
    return Interp::LogLinear;
}

[[nodiscard]] constexpr BootstrapInterp bootstrap_interp(Interp i) {
    switch (i) {
        case Interp::LogLinear: return BootstrapInterp::LogLinear;
        case Interp::Linear: return BootstrapInterp::LinearZero;
        case Interp::NaturalCubic: return BootstrapInterp::NaturalCubic;
        case Interp::MonotoneConvex: return BootstrapInterp::MonotoneConvex;
        case Interp::FlatForward: return BootstrapInterp::FlatForward;
    }
    return BootstrapInterp::LogLinear;
}

[[nodiscard]] constexpr const char* bootstrap_interp_name(BootstrapInterp b) {
    return kBootstrapInterps.aliases[static_cast<std::size_t>(b)].name.data();
}

}  // namespace quelm::curves
