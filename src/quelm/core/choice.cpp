#include "quelm/core/choice.hpp"

namespace quelm {

namespace {

char normalise(char c, bool fold_case, bool underscore) {
    if (fold_case && c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
    if (underscore && c == '_') return '-';
    return c;
}

// 'a' or 'b' / 'a', 'b', or 'c' with the given quote character.
std::string english_list(const std::string_view* names, std::size_t n, char quote) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) out += n == 2 ? " or " : (i + 1 == n ? ", or " : ", ");
        out += quote;
        out += names[i];
        out += quote;
    }
    return out;
}

}  // namespace

std::string normalise_choice(std::string_view text, bool fold_case, bool underscore) {
    std::string out(text);
    for (char& c : out) c = normalise(c, fold_case, underscore);
    return out;
}

bool choice_matches(std::string_view text, std::string_view name, bool fold_case, bool underscore) {
    if (text.size() != name.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (normalise(text[i], fold_case, underscore) != name[i]) return false;
    }
    return true;
}

std::string choice_message(std::string_view what, Listing listing, const std::string_view* shown,
                           std::size_t n_shown, std::string_view normalised) {
    // Appended piece by piece: GCC 12 warns (falsely) on `"literal" + std::string`.
    std::string out;
    switch (listing) {
        case Listing::Quoted:
            out.append(what).append(" must be ").append(english_list(shown, n_shown, '\''));
            return out.append(", got ").append(quote_literal(normalised));
        case Listing::Slashed:
            out.append(what).append(" must be one of ");
            for (std::size_t i = 0; i < n_shown; ++i) out.append(i > 0 ? "/" : "").append(shown[i]);
            return out.append(", got ").append(quote_literal(normalised));
        case Listing::Expected: break;
    }
    out.append("unknown ").append(what).append(" ").append(quote_literal(normalised));
    return out.append(" (expected ").append(english_list(shown, n_shown, '"')).append(")");
}

}  // namespace quelm
