// The public names of quelm: each function and class registers itself beside its own
// declaration (QUELM_PUBLIC), and the module lists them by section, then by place in the
// source (after the first release's names, which keep that release's order). Nothing else lists them: the module, its __all__, the stubs and the reference
// tables are all read from here.
#pragma once

#include "frame/call.hpp"

#include <cstddef>
#include <string_view>
#include <vector>

namespace quelm::py {

// The reference's sections, in the order the module lists them.
enum class Section : unsigned char {
    Options,
    Processes,
    Statistics,
    Portfolios,
    Volatility,
    Dates,
    FixedIncome,
    Credit,
    Books,
    Neural,
    Errors,
    Private,  // module attributes outside __all__ and the reference (quelm.vec's machinery)
};

// The heading of a section in the reference.
[[nodiscard]] std::string_view section_title(Section s);

// One public name: a function, or a class made on first use.
struct PublicEntry {
    Section section;
    std::string_view guide;  // the docs page that teaches it
    std::string_view file;  // the declaring source file and line: the order within a section
    int line;
    const Callable* function = nullptr;
    PyTypeObject* (*make_class)() = nullptr;
};

// Every registered public name, in registration order: by section, then by place in the
// source (the order of the reference and of quelm.vec's forms).
[[nodiscard]] const std::vector<PublicEntry>& public_entries();

// The same names in the module's order (its attributes, __all__ and the stubs): the first
// release's names in that release's order, then every other in registration order. Read
// after the module has made its classes.
[[nodiscard]] const std::vector<PublicEntry>& module_entries();

// A declaring file as the order goes by: its path from the last "src/" on, so that the
// order does not depend on how the build spelled the path (absolute, or relative to the
// build tree as a compiler cache may rewrite it).
[[nodiscard]] constexpr std::string_view source_key(std::string_view file) {
    std::size_t at = std::string_view::npos;
    for (std::size_t i = 0; i + 4 <= file.size(); ++i)
        if (file.substr(i, 3) == "src" && (file[i + 3] == '/' || file[i + 3] == '\\')) at = i;
    return at == std::string_view::npos ? file : file.substr(at);
}

struct Registered {
    Registered(Section s, std::string_view guide, std::string_view file, int line, const Callable& function);
    Registered(Section s, std::string_view guide, std::string_view file, int line, PyTypeObject* (*make_class)());
};

// Registers a public function (a constexpr FunctionDef) or class (its type's factory) in
// this file's section, `kSection`, taught on the docs page `kGuide`, at the place of this line.
#define QUELM_PUBLIC(def)                                                                     \
    static const ::quelm::py::Registered QUELM_CONCAT(registered_at_, __LINE__)(             \
        kSection, kGuide, __FILE__, __LINE__, ::quelm::py::callable<def>)
#define QUELM_PUBLIC_CLASS(factory)                                                           \
    static const ::quelm::py::Registered QUELM_CONCAT(registered_at_, __LINE__)(             \
        kSection, kGuide, __FILE__, __LINE__, &factory)
// Registers a private attribute of quelm._core (a compiled call a Python body makes) from a
// file of a public section, beside the declaration it serves.
#define QUELM_PRIVATE(def)                                                                    \
    static const ::quelm::py::Registered QUELM_CONCAT(registered_at_, __LINE__)(             \
        ::quelm::py::Section::Private, "", __FILE__, __LINE__, ::quelm::py::callable<def>)

}  // namespace quelm::py
