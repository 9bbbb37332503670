#include "bindings/pricing/option_lists.hpp"

#include <string>
#include <string_view>

#include "frame/args.hpp"
#include "bindings/string_options.hpp"

namespace quelm::py {

bool option_types_from(const std::optional<PyObject*>& given, std::vector<OptionType>& out) {
    if (!given) {
        out.assign(1, OptionType::Call);
        return true;
    }
    if (PyUnicode_Check(*given)) {
        std::string_view text;
        OptionType t;
        if (!from_py(*given, text) || !choose(kOptionTypes, text, t)) return false;
        out.assign(1, t);
        return true;
    }
    std::vector<std::string> names;
    if (!from_py(*given, names)) {
        wrap_type_error("option_types");
        return false;
    }
    out.resize(names.size());
    for (std::size_t i = 0; i < names.size(); ++i)
        if (!choose(kOptionTypes, names[i], out[i])) return false;
    return true;
}

}  // namespace quelm::py
