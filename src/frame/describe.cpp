#include "frame/describe.hpp"

#include "frame/classes.hpp"
#include "frame/options.hpp"
#include "frame/registry.hpp"
#include "frame/result.hpp"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace quelm::py {

namespace {

PyObject* text(const char* s) { return s != nullptr ? to_py(s) : none(); }

PyObject* params_of(const FunctionDef& d) {
    return make_list(d.n_params, [&](std::size_t i) -> PyObject* {
        const Param& p = d.params[i];
        const char* annotation = d.annotations[i] != nullptr ? d.annotations[i]() : nullptr;
        return Py_BuildValue("{s:s,s:N,s:N,s:N}", "name", p.name, "annotation", text(annotation), "default",
                             text(p.shown), "keyword_only", PyBool_FromLong(i >= d.n_positional ? 1 : 0));
    });
}

PyObject* function_of(const FunctionDef& d, bool is_static) {
    const char* returns = d.returns_text != nullptr ? d.returns_text : d.returns != nullptr ? d.returns() : nullptr;
    Ref params(params_of(d));
    if (!params) return nullptr;
    return Py_BuildValue("{s:s,s:O,s:N,s:s,s:N,s:N,s:N}", "name", d.name, "params", params.get(), "returns",
                         text(returns), "doc", d.description, "method", PyBool_FromLong(d.has_self ? 1 : 0),
                         "static", PyBool_FromLong(is_static ? 1 : 0), "vec", text(d.vec_name));
}

void collect_options(const FunctionDef& d, std::vector<const OptionInfo*>& out) {
    for (std::size_t i = 0; i < d.n_params; ++i) {
        if (d.options[i] == nullptr) continue;
        const OptionInfo* info = d.options[i]();
        bool seen = false;
        for (const OptionInfo* o : out) seen |= std::string_view(o->alias) == info->alias;
        if (!seen) out.push_back(info);
    }
}

std::size_t registration_index(const PublicEntry& e) {
    const auto& all = public_entries();
    for (std::size_t i = 0; i < all.size(); ++i)
        if (all[i].file == e.file && all[i].line == e.line) return i;
    return all.size();
}

}  // namespace

PyObject* declarations() {
    std::vector<const OptionInfo*> options;
    // The string options in registration order (the module's order would move them).
    for (const PublicEntry& e : public_entries()) {
        if (e.section == Section::Private) continue;
        if (e.function != nullptr) {
            collect_options(*e.function->def, options);
        } else if (PyTypeObject* type = e.make_class(); type == nullptr) {
            return nullptr;
        } else if (const ClassDef* def = class_def(type)) {
            for (std::size_t i = 0; i < def->n_methods; ++i) collect_options(*def->methods[i].def, options);
        }
    }
    Ref names(PyList_New(0));
    if (!names) return nullptr;
    for (const PublicEntry& e : module_entries()) {
        if (e.section == Section::Private) continue;
        Ref item;
        const std::string section(section_title(e.section));
        const std::string guide(e.guide);
        if (e.function != nullptr) {
            const FunctionDef& d = *e.function->def;
            collect_options(d, options);
            Ref f(function_of(d, false));
            if (!f) return nullptr;
            item = Ref(Py_BuildValue("{s:s,s:s,s:s,s:s,s:O}", "kind", "function", "name", d.name, "section",
                                     section.c_str(), "guide", guide.c_str(), "function", f.get()));
        } else {
            PyTypeObject* type = e.make_class();
            if (type == nullptr) return nullptr;
            const char* dot = std::strrchr(type->tp_name, '.');
            const char* name = dot ? dot + 1 : type->tp_name;
            const ClassDef* def = class_def(type);
            if (def == nullptr) {  // an exception type
                const char* base = type->tp_base != nullptr ? type->tp_base->tp_name : "BaseException";
                item = Ref(Py_BuildValue("{s:s,s:s,s:s,s:s,s:s,s:N}", "kind", "exception", "name", name, "section",
                                         section.c_str(), "guide", guide.c_str(), "base", base, "doc",
                                         text(type->tp_doc)));
            } else {
                Ref methods(make_list(def->n_methods, [&](std::size_t i) -> PyObject* {
                    const FunctionDef& m = *def->methods[i].def;
                    collect_options(m, options);
                    return function_of(m, !m.has_self);
                }));
                Ref getters(make_list(def->n_getters, [&](std::size_t i) -> PyObject* {
                    const GetterDef& g = def->getters[i];
                    return Py_BuildValue("{s:s,s:N,s:N}", "name", g.name, "annotation", text(g.annotation), "doc",
                                         text(g.doc));
                }));
                if (!methods || !getters) return nullptr;
                // The constructor is declared as a static method named as the class.
                Ref constructor(def->constructor != nullptr ? function_of(*def->constructor->def, true) : none());
                if (!constructor) return nullptr;
                if (def->constructor != nullptr) collect_options(*def->constructor->def, options);
                // A container: the type of its items (it has len() and iter()), else None.
                Ref items(def->iter != nullptr ? text(def->item_annotation) : none());
                if (!items) return nullptr;
                item = Ref(Py_BuildValue("{s:s,s:s,s:s,s:s,s:s,s:O,s:O,s:O,s:O}", "kind", "class", "name", name,
                                         "section", section.c_str(), "guide", guide.c_str(), "doc", def->doc,
                                         "methods", methods.get(), "getters", getters.get(), "constructor",
                                         constructor.get(), "items", items.get()));
            }
        }
        // The reference lists names in registration order (by section), not the module's.
        if (!item) return nullptr;
        Ref order(PyLong_FromSize_t(registration_index(e)));
        if (!order || PyDict_SetItemString(item.get(), "registration_order", order.get()) < 0) return nullptr;
        if (PyList_Append(names.get(), item.get()) < 0) return nullptr;
    }
    Ref records(make_list(declared_records().size(), [&](std::size_t i) -> PyObject* {
        const RecordInfo info = declared_records()[i]();
        Ref keys(make_list(info.keys.size(), [&](std::size_t k) -> PyObject* {
            const auto& [key, annotation] = info.keys[k];
            return Py_BuildValue("(sN)", key, text(annotation != nullptr ? annotation() : nullptr));
        }));
        if (!keys) return nullptr;
        return Py_BuildValue("{s:s,s:O}", "name", info.name, "keys", keys.get());
    }));
    Ref spelled(make_list(options.size(), [&](std::size_t i) -> PyObject* {
        const OptionInfo& o = *options[i];
        Ref spellings(make_list(o.spellings.size(), [&](std::size_t k) { return to_py(o.spellings[k]); }));
        if (!spellings) return nullptr;
        return Py_BuildValue("{s:s,s:O,s:N,s:N}", "alias", o.alias, "spellings", spellings.get(), "fold_case",
                             PyBool_FromLong(o.fold_case ? 1 : 0), "underscore", PyBool_FromLong(o.underscore ? 1 : 0));
    }));
    if (!records || !spelled) return nullptr;
    return Py_BuildValue("{s:O,s:O,s:O}", "names", names.get(), "records", records.get(), "options", spelled.get());
}

}  // namespace quelm::py
