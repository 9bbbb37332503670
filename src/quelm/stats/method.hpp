// The method names of Value-at-Risk and Expected Shortfall, matched after ASCII
// lower-casing (no trimming).
#pragma once

#include <string_view>

#include "quelm/core/text.hpp"

namespace quelm::stats {

enum class VarMethod { Historical, Parametric, CornishFisher };
enum class EsMethod { Historical, Parametric };

// "historical"/"hist", "parametric"/"gaussian", "cornish-fisher"/"cf".
[[nodiscard]] Parsed<VarMethod> parse_var_method(std::string_view text);
// "historical"/"hist", "parametric"/"gaussian".
[[nodiscard]] Parsed<EsMethod> parse_es_method(std::string_view text);

}  // namespace quelm::stats
