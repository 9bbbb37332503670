#include "bindings/book/trade_terms.hpp"

#include "frame/declare.hpp"
#include "frame/result.hpp"

namespace quelm::py {

Result<std::string> curve_name(const std::optional<std::string_view>& name) {
    if (!name) return std::string();
    if (name->empty()) return bad_argument("curve names must not be empty");
    return std::string(*name);
}

PyObject* text_py(const std::string& s) {
    if (s.empty()) Py_RETURN_NONE;
    return to_py(std::string_view(s));
}

PyObject* reduce_with(PyTypeObject* type, PyObject* args, std::initializer_list<std::pair<const char*, PyObject*>> kw) {
    Ref a(args);
    Ref kwargs(PyDict_New());
    bool ok = a && kwargs;
    for (const auto& [key, value] : kw) {
        Ref v(value);
        ok = ok && v && PyDict_SetItemString(kwargs.get(), key, v.get()) == 0;
    }
    if (!ok) return nullptr;
    return partial_reduce(reinterpret_cast<PyObject*>(type), a.get(), kwargs.get());
}

}  // namespace quelm::py
