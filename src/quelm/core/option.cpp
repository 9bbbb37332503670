#include "quelm/core/option.hpp"

namespace quelm {

Parsed<OptionType> parse_option_type(std::string_view text) {
    const std::string s = ascii_lower(text);
    if (s == "call" || s == "c") return OptionType::Call;
    if (s == "put" || s == "p") return OptionType::Put;
    return std::unexpected("option_type must be 'call' or 'put', got " + quote_literal(s));
}

Status validate_vanilla(double strike, double spot, double vol, double expiry) {
    if (strike <= 0.0) return invalid("strike must be > 0");
    if (spot < 0.0) return invalid("spot must be >= 0");
    if (vol < 0.0) return invalid("volatility must be >= 0");
    if (expiry < 0.0) return invalid("time to expiry must be >= 0");
    return {};
}

}  // namespace quelm
