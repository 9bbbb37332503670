// Text helpers shared by every string option and message: quoting of rejected
// strings, and the shortest round-trip number format.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace quelm {

// A parse of a string option: the value, or the full message (no kind prefix).
template <class T>
using Parsed = std::expected<T, std::string>;

// Double-quoted literal: backslash before '"' and '\\'; \t \r \n \0 escaped;
// other control or non-printable characters as \u{hex}.
[[nodiscard]] std::string quote_literal(std::string_view text);

// 'text' as a repr shows a name it already checked (no escaping): 'act/360', '5Y'.
[[nodiscard]] std::string single_quoted(std::string_view text);

// Shortest decimal that reads back to the same double, positional notation
// (never an exponent), no ".0" on whole numbers; "NaN", "inf", "-inf".
[[nodiscard]] std::string format_number(double value);

// The shortest text that reads back as the value, exponent allowed ("1e-300", not 300
// zeros): for messages about values far out of range.
[[nodiscard]] std::string short_number(double value);

}  // namespace quelm
