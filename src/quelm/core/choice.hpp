// String options read from tables: each option declares its accepted names once
// (name -> enum value); one parser matches them and writes the rejection message.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "quelm/core/text.hpp"

namespace quelm {

template <class E>
struct Alias {
    std::string_view name;
    E value;
};

// How a rejection lists the accepted names (the first alias of each value, in table order):
//   Quoted:   "<what> must be 'a' or 'b', got \"x\""  ('a', 'b', or 'c' for three)
//   Slashed:  "<what> must be one of a/b/c, got \"x\""
//   Expected: "unknown <what> \"x\" (expected \"a\" or \"b\")"
enum class Listing : unsigned char { Quoted, Slashed, Expected };

template <class E, std::size_t N>
struct Choices {
    std::string_view what;
    Listing listing;
    std::array<Alias<E>, N> aliases;
    bool fold_case = true;    // ASCII A-Z lowered before matching (no trimming)
    bool underscore = false;  // '_' read as '-'
};

// The text as matched: lowered and '_' -> '-' as the table asks.
[[nodiscard]] std::string normalise_choice(std::string_view text, bool fold_case, bool underscore);
// Whether text, normalised, equals name (no allocation).
[[nodiscard]] bool choice_matches(std::string_view text, std::string_view name, bool fold_case, bool underscore);
// The rejection message for the normalised text, given the names to list.
[[nodiscard]] std::string choice_message(std::string_view what, Listing listing, const std::string_view* shown,
                                         std::size_t n_shown, std::string_view normalised);

template <class E, std::size_t N>
[[nodiscard]] Parsed<E> parse_choice(const Choices<E, N>& c, std::string_view text) {
    for (const Alias<E>& a : c.aliases) {
        if (choice_matches(text, a.name, c.fold_case, c.underscore)) return a.value;
    }
    std::array<std::string_view, N> shown{};
    std::size_t n = 0;
    for (std::size_t i = 0; i < N; ++i) {
        bool first = true;
        for (std::size_t j = 0; j < i; ++j) first = first && c.aliases[j].value != c.aliases[i].value;
        if (first) shown[n++] = c.aliases[i].name;
    }
    return std::unexpected(
        choice_message(c.what, c.listing, shown.data(), n, normalise_choice(text, c.fold_case, c.underscore)));
}

}  // namespace quelm
