// The method names of Value-at-Risk and Expected Shortfall, matched after ASCII
// lower-casing (no trimming), and the measures by method.
#pragma once

#include <span>
#include <string_view>

#include "quelm/core/choice.hpp"
#include "quelm/core/error.hpp"

namespace quelm::stats {

enum class VarMethod { Historical, Parametric, CornishFisher };
enum class EsMethod { Historical, Parametric };

inline constexpr Choices<VarMethod, 6> kVarMethods{
    "method", Listing::Quoted,
    {{{"historical", VarMethod::Historical}, {"hist", VarMethod::Historical},
      {"parametric", VarMethod::Parametric}, {"gaussian", VarMethod::Parametric},
      {"cornish-fisher", VarMethod::CornishFisher}, {"cf", VarMethod::CornishFisher}}}};

inline constexpr Choices<EsMethod, 4> kEsMethods{
    "method", Listing::Quoted,
    {{{"historical", EsMethod::Historical}, {"hist", EsMethod::Historical},
      {"parametric", EsMethod::Parametric}, {"gaussian", EsMethod::Parametric}}}};

// The measure of that method (see risk.hpp).
[[nodiscard]] Result<double> value_at_risk(std::span<const double> returns, double confidence, VarMethod method);
[[nodiscard]] Result<double> expected_shortfall(std::span<const double> returns, double confidence, EsMethod method);

}  // namespace quelm::stats
