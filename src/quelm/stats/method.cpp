#include "quelm/stats/method.hpp"

#include <string>

namespace quelm::stats {

Parsed<VarMethod> parse_var_method(std::string_view text) {
    const std::string s = ascii_lower(text);
    if (s == "historical" || s == "hist") return VarMethod::Historical;
    if (s == "parametric" || s == "gaussian") return VarMethod::Parametric;
    if (s == "cornish-fisher" || s == "cf") return VarMethod::CornishFisher;
    return std::unexpected("method must be 'historical', 'parametric', or 'cornish-fisher', got " + quote_literal(s));
}

Parsed<EsMethod> parse_es_method(std::string_view text) {
    const std::string s = ascii_lower(text);
    if (s == "historical" || s == "hist") return EsMethod::Historical;
    if (s == "parametric" || s == "gaussian") return EsMethod::Parametric;
    return std::unexpected("method must be 'historical' or 'parametric', got " + quote_literal(s));
}

}  // namespace quelm::stats
