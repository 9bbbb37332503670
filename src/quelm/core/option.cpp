#include "quelm/core/option.hpp"

namespace quelm {

Parsed<OptionType> parse_option_type(std::string_view text) {
    const std::string s = ascii_lower(text);
    if (s == "call" || s == "c") return OptionType::Call;
    if (s == "put" || s == "p") return OptionType::Put;
    return std::unexpected("option_type must be 'call' or 'put', got " + quote_literal(s));
}

}  // namespace quelm
