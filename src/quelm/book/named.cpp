#include "quelm/book/named.hpp"

namespace quelm::book {

std::string join_names(std::span<const std::string_view> names) {
    if (names.empty()) return "none";
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) text += ", ";
        text += names[i];
    }
    return text;
}

Error missing_name(std::string_view kind, std::string_view name, std::span<const std::string_view> names) {
    return {Kind::Argument, "no " + std::string(kind) + " " + std::string(name) + " in the market; it has " +
                                join_names(names)};
}

}  // namespace quelm::book
