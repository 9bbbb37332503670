#include "quelm/core/text.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace quelm {

namespace {

// Decode one UTF-8 code point starting at i; invalid bytes decode as themselves.
char32_t decode_utf8(std::string_view s, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    auto cont = [&](std::size_t k) -> int {
        if (i + k >= s.size()) return -1;
        const auto b = static_cast<unsigned char>(s[i + k]);
        return (b & 0xC0) == 0x80 ? (b & 0x3F) : -1;
    };
    if (b0 < 0x80) { ++i; return b0; }
    if ((b0 & 0xE0) == 0xC0) {
        const int c1 = cont(1);
        if (c1 >= 0) { i += 2; return static_cast<char32_t>(((b0 & 0x1F) << 6) | c1); }
    } else if ((b0 & 0xF0) == 0xE0) {
        const int c1 = cont(1), c2 = cont(2);
        if (c1 >= 0 && c2 >= 0) { i += 3; return static_cast<char32_t>(((b0 & 0x0F) << 12) | (c1 << 6) | c2); }
    } else if ((b0 & 0xF8) == 0xF0) {
        const int c1 = cont(1), c2 = cont(2), c3 = cont(3);
        if (c1 >= 0 && c2 >= 0 && c3 >= 0) {
            i += 4;
            return static_cast<char32_t>(((b0 & 0x07) << 18) | (c1 << 12) | (c2 << 6) | c3);
        }
    }
    ++i;
    return b0;
}

bool is_control(char32_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
           (c >= 0xD800 && c <= 0xDFFF) || c == 0xFEFF || (c >= 0x200B && c <= 0x200F);
}

}  // namespace

std::string single_quoted(std::string_view text) {
    std::string out(1, '\'');  // appended, not '+': GCC 12 warns falsely (-Wrestrict) on "'" + string
    out.append(text);
    out.push_back('\'');
    return out;
}

std::string quote_literal(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t start = i;
        const char32_t c = decode_utf8(text, i);
        switch (c) {
            case '"': out += "\\\""; continue;
            case '\\': out += "\\\\"; continue;
            case '\t': out += "\\t"; continue;
            case '\r': out += "\\r"; continue;
            case '\n': out += "\\n"; continue;
            case 0: out += "\\0"; continue;
            default: break;
        }
        if (is_control(c)) {
            char buf[16];
            std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(c));
            out += buf;
        } else {
            out.append(text.substr(start, i - start));
        }
    }
    out.push_back('"');
    return out;
}

std::string format_number(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    char buf[400];
    const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    return std::string(buf, res.ptr);
}

std::string short_number(double value) {
    if (!std::isfinite(value)) return format_number(value);
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

}  // namespace quelm
