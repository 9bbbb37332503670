// The method names of Value-at-Risk and Expected Shortfall, matched after ASCII
// lower-casing (no trimming).
#pragma once

#include <string_view>

#include "quelm/core/choice.hpp"

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

}  // namespace quelm::stats
