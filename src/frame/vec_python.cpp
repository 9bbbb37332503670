#include "frame/vec_python.hpp"

#include <algorithm>
#include <tuple>

namespace quelm::py::vec {

namespace {

struct Entry {
    Section section;
    std::string_view file;
    int line;
    const PythonForm* form;
};

std::vector<Entry>& registered() {
    static auto* v = new std::vector<Entry>();  // filled during static initialisation
    return *v;
}

PyObject* text(const char* s) { return s != nullptr ? to_py(s) : none(); }

PyObject* params_of(const PythonForm& f) {
    const FunctionDef& d = f.def;
    return make_list(d.n_params, [&](std::size_t i) -> PyObject* {
        const Param& p = d.params[i];
        const char* annotation = f.types[i] != nullptr      ? f.types[i]
                                 : d.annotations[i] != nullptr ? d.annotations[i]()
                                                               : nullptr;
        // The value itself, also where a compiled signature shows "...": Python writes it.
        const char* value = p.required() ? nullptr : p.value != nullptr ? p.value : p.shown;
        return Py_BuildValue("{s:s,s:N,s:N,s:N}", "name", p.name, "annotation", text(annotation), "default",
                             text(value), "keyword_only", PyBool_FromLong(i >= d.n_positional ? 1 : 0));
    });
}

PyObject* keys_of(const PythonForm& f) {
    if (f.keys == nullptr) return none();
    const RecordInfo info = f.keys();
    return make_list(info.keys.size(), [&](std::size_t k) { return to_py(info.keys[k].first); });
}

}  // namespace

InPython::InPython(Section s, std::string_view file, int line, const PythonForm& form) {
    registered().push_back({s, source_key(file), line, &form});
}

std::vector<const PythonForm*> python_forms() {
    std::vector<Entry> sorted = registered();
    std::stable_sort(sorted.begin(), sorted.end(), [](const Entry& a, const Entry& b) {
        return std::tie(a.section, a.file, a.line) < std::tie(b.section, b.file, b.line);
    });
    std::vector<const PythonForm*> out;
    for (const Entry& e : sorted) out.push_back(e.form);
    return out;
}

PyObject* describe_python_forms() {
    const std::vector<const PythonForm*> all = python_forms();
    return make_list(all.size(), [&](std::size_t i) -> PyObject* {
        const PythonForm& f = *all[i];
        Ref params(params_of(f));
        Ref keys(params ? keys_of(f) : nullptr);
        if (!keys) return nullptr;
        return Py_BuildValue("{s:s,s:O,s:N,s:s,s:O}", "name", f.def.name, "params", params.get(), "returns",
                             text(f.returns), "doc", f.def.description, "keys", keys.get());
    });
}

}  // namespace quelm::py::vec
