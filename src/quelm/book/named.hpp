// A table of named immutable values (a market's curves, its surfaces): each value shared,
// never copied, by every copy of the table and whoever asked for it; names sorted, so a
// lookup is a binary search and the names list in one order whatever order they came in.
#pragma once

#include <algorithm>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quelm/core/error.hpp"

namespace quelm::book {

template <class T>
struct Named {
    std::string name;
    std::shared_ptr<const T> value;
};

// "a, b, c", or "none": what a lookup's error lists.
[[nodiscard]] std::string join_names(std::span<const std::string_view> names);

// The error of a name the market lacks: "no <kind> <name> in the market; it has a, b".
[[nodiscard]] Error missing_name(std::string_view kind, std::string_view name,
                                 std::span<const std::string_view> names);

template <class T>
class NamedTable {
public:
    // `kind` names an entry in messages ("curve", "surface"). Empty names, duplicates and
    // missing values are errors.
    [[nodiscard]] static Result<NamedTable> make(std::vector<Named<T>> items, std::string_view kind) {
        std::sort(items.begin(), items.end(), [](const Named<T>& a, const Named<T>& b) { return a.name < b.name; });
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (items[i].name.empty()) return bad_argument(std::string(kind) + " names must not be empty");
            if (items[i].value == nullptr) return bad_argument(std::string(kind) + " " + items[i].name + " has no value");
            if (i > 0 && items[i].name == items[i - 1].name)
                return bad_argument(std::string(kind) + " " + items[i].name + " is given twice");
        }
        NamedTable t;
        t.items_ = std::move(items);
        return t;
    }

    [[nodiscard]] std::span<const Named<T>> items() const { return items_; }
    [[nodiscard]] std::size_t size() const { return items_.size(); }

    // The value of that name, or nullptr.
    [[nodiscard]] const std::shared_ptr<const T>* find(std::string_view name) const {
        const auto at = std::lower_bound(items_.begin(), items_.end(), name,
                                         [](const Named<T>& a, std::string_view n) { return a.name < n; });
        return at != items_.end() && at->name == name ? &at->value : nullptr;
    }

    // The value of that name, or the error naming it and listing the names there are.
    [[nodiscard]] Result<std::shared_ptr<const T>> get(std::string_view name, std::string_view kind) const {
        if (const auto* v = find(name)) return *v;
        return std::unexpected(missing_name(kind, name, names()));
    }

    [[nodiscard]] std::vector<std::string_view> names() const {
        std::vector<std::string_view> n;
        n.reserve(items_.size());
        for (const auto& i : items_) n.push_back(i.name);
        return n;
    }

    // Same names holding equal values (values compared, not their addresses).
    friend bool operator==(const NamedTable& a, const NamedTable& b) {
        return std::equal(a.items_.begin(), a.items_.end(), b.items_.begin(), b.items_.end(),
                          [](const Named<T>& x, const Named<T>& y) {
                              return x.name == y.name && (x.value == y.value || *x.value == *y.value);
                          });
    }

private:
    std::vector<Named<T>> items_;
};

}  // namespace quelm::book
