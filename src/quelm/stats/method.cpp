#include "quelm/stats/method.hpp"

#include "quelm/stats/risk.hpp"

namespace quelm::stats {

Result<double> value_at_risk(std::span<const double> returns, double confidence, VarMethod method) {
    switch (method) {
        case VarMethod::Historical: return historical_var(returns, confidence);
        case VarMethod::Parametric: return parametric_var(returns, confidence);
        case VarMethod::CornishFisher: break;
    }
    return cornish_fisher_var(returns, confidence);
}

Result<double> expected_shortfall(std::span<const double> returns, double confidence, EsMethod method) {
    if (method == EsMethod::Historical) return historical_es(returns, confidence);
    return parametric_es(returns, confidence);
}

}  // namespace quelm::stats
