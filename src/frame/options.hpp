// String options as the frame sees them: each option's enum is tied once to its core table
// and to the public name of its spellings (quelm.typing and the stubs), with
// QUELM_STRING_OPTION(Enum, kTable, "Name") in namespace quelm::py.
#pragma once

#include "frame/annotations.hpp"
#include "frame/result.hpp"
#include "frame/signature.hpp"
#include "quelm/core/choice.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quelm::py {

template <class E>
struct StringOption;

template <class E>
concept IsStringOption = requires {
    StringOption<E>::table;
    StringOption<E>::alias;
};

// A string option whose text is parsed rather than matched in a table (a day count with its
// calendar, "bus/252:target"). ParsedOption<T> gives
//   static Result<T> parse(std::string_view text);     the scalar call's reading and error
//   static bool code(std::string_view, unsigned char& code, std::string& message);
//   static const T& of_code(unsigned char code);         a code's value, any thread
//   static constexpr std::size_t count;                  codes run 0..count-1 (< kFirstRejected)
// so that an array call codes a column of them one byte per element, as a table option.
template <class T>
struct ParsedOption;

template <class T>
concept IsParsedOption = requires(std::string_view s) {
    ParsedOption<T>::parse(s);
    ParsedOption<T>::count;
};

// What the stubs need of an option: its public name, the spellings (first alias of a value
// first), whether any letter case is accepted, and whether '_' stands for '-'.
struct OptionInfo {
    const char* alias;
    std::vector<std::string_view> spellings;
    bool fold_case;
    bool underscore;
};

template <IsStringOption E>
const OptionInfo* option_info() {
    static const OptionInfo info = [] {
        const auto& t = StringOption<E>::table;
        OptionInfo i{StringOption<E>::alias, {}, t.fold_case, t.underscore};
        for (const auto& a : t.aliases) i.spellings.push_back(a.name);
        return i;
    }();
    return &info;
}

// The one-byte code of a spelling; false with the scalar call's message for a rejected one.
template <IsStringOption E>
bool option_code(std::string_view text, unsigned char& code, std::string& message) {
    const auto p = parse_choice(StringOption<E>::table, text);
    if (!p) {
        message = p.error();
        return false;
    }
    code = static_cast<unsigned char>(*p);
    return true;
}

// How many codes an option has: one past its largest enum value.
template <IsStringOption E>
constexpr std::size_t option_count() {
    std::size_t n = 0;
    for (const auto& a : StringOption<E>::table.aliases) {
        const auto v = static_cast<std::size_t>(a.value) + 1;
        n = v > n ? v : n;
    }
    return n;
}

template <IsStringOption E>
struct OptionOf<E> {
    static constexpr const OptionInfo* (*info)() = &option_info<E>;
};
template <IsStringOption E>
struct OptionOf<std::optional<E>> {
    static constexpr const OptionInfo* (*info)() = &option_info<E>;
};

template <class E>
    requires std::is_enum_v<E>
PyObject* to_py(E e) {
    static_assert(IsStringOption<E>, "an enum reaches Python as a string option's spelling");
    for (const auto& a : StringOption<E>::table.aliases)
        if (a.value == e) return to_py(std::string_view(a.name));
    PyErr_SetString(PyExc_SystemError, "an option value without a spelling");
    return nullptr;
}

// A string option read straight into its enum (a declaration written over PyObject* results
// takes its options so; typed declarations read them after every other argument).
template <IsStringOption E>
struct Converter<E> {
    static bool convert(PyObject* o, E& out) {
        std::string_view text;
        if (!from_py(o, text)) return false;
        return choose(StringOption<E>::table, text, out);
    }
};

// Its declared default, a name of the table.
template <IsStringOption E>
struct TextDefaultReader<E> {
    static E read(std::string_view text) { return *parse_choice(StringOption<E>::table, text); }
};

template <IsStringOption E>
struct Annotation<E> {
    static const char* param() { return StringOption<E>::alias; }
    static const char* result() { return "str"; }
};

#define QUELM_STRING_OPTION(E, TABLE, ALIAS)             \
    template <>                                          \
    struct StringOption<E> {                             \
        static constexpr const auto& table = TABLE;      \
        static constexpr const char* alias = ALIAS;      \
    }

}  // namespace quelm::py
