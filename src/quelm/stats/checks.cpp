#include "quelm/stats/checks.hpp"

#include <string>

namespace quelm::stats {

Status check_confidence(double c) {
    // Written so that a NaN level fails too.
    if (!(c > 0.0 && c < 1.0)) return invalid("confidence level must be in (0, 1)");
    return {};
}

Status check_pair(std::string_view name, std::span<const double> a, std::span<const double> b) {
    if (a.size() != b.size()) {
        return invalid(std::string(name) + ": series length mismatch (" + std::to_string(a.size()) + " vs " +
                       std::to_string(b.size()) + ")");
    }
    if (a.empty()) return invalid(std::string(name) + ": empty series");
    return {};
}

}  // namespace quelm::stats
