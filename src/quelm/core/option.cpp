#include "quelm/core/option.hpp"

namespace quelm {

Status validate_vanilla(double strike, double spot, double vol, double expiry) {
    if (strike <= 0.0) return invalid("strike must be > 0");
    if (spot < 0.0) return invalid("spot must be >= 0");
    if (vol < 0.0) return invalid("volatility must be >= 0");
    if (expiry < 0.0) return invalid("time to expiry must be >= 0");
    return {};
}

}  // namespace quelm
