#include "frame/call.hpp"

#include "frame/args.hpp"
#include "frame/compute.hpp"
#include "frame/result.hpp"
#include "quelm/core/memory.hpp"

#include <array>
#include <cstring>
#include <deque>
#include <exception>
#include <new>
#include <stdexcept>
#include <utility>

namespace quelm::py {

std::string docstring(const FunctionDef& def) {
    std::string doc = std::string(def.name) + "(";
    if (def.has_self) doc += def.n_params > 0 ? "$self, " : "$self";
    for (std::size_t i = 0; i < def.n_params; ++i) {
        if (i > 0) doc += ", ";
        if (i == def.n_positional) doc += "*, ";
        doc += def.params[i].name;
        if (!def.params[i].required()) doc += std::string("=") + def.params[i].shown;
    }
    return doc + ")\n--\n\n" + def.description;
}

// One registered callable. Its interned parameter names are strong references that are
// never released: the registry lives for the whole process (it is never destroyed), so
// nothing here is touched after the interpreter has finalised.
struct detail::Bound {
    const FunctionDef* def = nullptr;
    std::array<PyObject*, kMaxParams> names{};
    std::string qualname;  // "YieldCurve.discount" for methods, else the name
    std::string doc;
    PyMethodDef method{};
};

namespace {

using detail::Bound;

std::deque<Bound>& registry() {
    static auto* r = new std::deque<Bound>();  // deliberately never destroyed (see Bound)
    return *r;
}

std::string repr_name(const char* name) { return std::string("'") + name + "'"; }

void raise_too_many(const Bound& b, Py_ssize_t nargs, std::size_t keyword_only_given) {
    const FunctionDef& d = *b.def;
    const std::size_t self_count = d.has_self ? 1 : 0;
    const std::size_t total = d.n_positional + self_count;
    const std::size_t required = d.n_required + self_count;
    const std::size_t given = static_cast<std::size_t>(nargs) + self_count;
    std::string sig;
    bool plural = true;
    if (required != total) {
        sig = "from " + std::to_string(required) + " to " + std::to_string(total);
    } else {
        sig = std::to_string(total);
        plural = total != 1;
    }
    std::string msg = b.qualname + "() takes " + sig + " positional argument" + (plural ? "s" : "") +
                      " but " + std::to_string(given);
    if (keyword_only_given > 0) {
        msg += std::string(" positional argument") + (given == 1 ? "" : "s") + " (and " +
               std::to_string(keyword_only_given) + " keyword-only argument" + (keyword_only_given == 1 ? "" : "s") +
               ")";
    }
    msg += std::string(given == 1 && keyword_only_given == 0 ? " was" : " were") + " given";
    PyErr_SetString(PyExc_TypeError, msg.c_str());
}

void raise_missing(const Bound& b, const std::vector<std::size_t>& missing, const char* kind) {
    const auto& p = b.def->params;
    std::string names;
    const std::size_t n = missing.size();
    if (n == 1) {
        names = repr_name(p[missing[0]].name);
    } else if (n == 2) {
        names = repr_name(p[missing[0]].name) + " and " + repr_name(p[missing[1]].name);
    } else {
        for (std::size_t i = 0; i + 1 < n; ++i) names += repr_name(p[missing[i]].name) + ", ";
        names += "and " + repr_name(p[missing[n - 1]].name);
    }
    std::string msg = b.qualname + "() missing " + std::to_string(n) + " required " + kind + " argument" +
                      (n == 1 ? "" : "s") + ": " + names;
    PyErr_SetString(PyExc_TypeError, msg.c_str());
}

// MemoryError with a message that says how much memory is left; a bare one if even the
// message cannot be built.
PyObject* raise_memory_error() {
    try {
        PyErr_SetString(PyExc_MemoryError, allocation_failure_message().c_str());
        return nullptr;
    } catch (...) {
        return PyErr_NoMemory();
    }
}

PyObject* run(const FunctionDef& def, PyObject* self, PyObject* const* slots) {
    try {
        return def.invoke(def, self, slots);
    } catch (const std::bad_alloc&) {
        return raise_memory_error();
    } catch (const std::length_error&) {
        return raise_memory_error();
    } catch (const std::exception& e) {
        PyErr_SetString(internal_fault_type(), e.what()[0] ? e.what() : "internal fault");
        return nullptr;
    } catch (...) {
        detail::continue_thread_exit();  // the interpreter ending a daemon thread at exit
        PyErr_SetString(internal_fault_type(), "internal fault");
        return nullptr;
    }
}

// The parameter a keyword names, or np. The compiler interns keyword names and so
// does the frame, so identity finds it; keywords usually come in signature order,
// so the search starts where the previous one matched.
std::size_t find_keyword(const Bound& b, PyObject* key, std::size_t start, bool& failed) {
    const std::size_t np = b.def->n_params;
    for (std::size_t n = 0, j = start; n < np; ++n, j = j + 1 == np ? 0 : j + 1) {
        if (b.names[j] == key) return j;
    }
    for (std::size_t j = 0; j < np; ++j) {
        const int eq = PyUnicode_Compare(b.names[j], key);
        if (eq == 0) return j;
        if (eq == -1 && PyErr_Occurred()) {
            failed = true;
            return np;
        }
    }
    return np;
}

}  // namespace

PyObject* detail::dispatch(const Bound& b, PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const FunctionDef& def = *b.def;
    const std::size_t np = def.n_params;
    const std::size_t given = static_cast<std::size_t>(nargs);
    // Every parameter given positionally: the arguments are the slots.
    if (kwnames == nullptr && given == np && np == def.n_positional) return run(def, self, args);

    std::array<PyObject*, kMaxParams> slots;  // only the first np are used
    const std::size_t npos = given < def.n_positional ? given : def.n_positional;
    for (std::size_t i = 0; i < npos; ++i) slots[i] = args[i];
    for (std::size_t i = npos; i < np; ++i) slots[i] = nullptr;

    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        std::size_t next = npos;
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            PyObject* key = PyTuple_GET_ITEM(kwnames, k);
            bool failed = false;
            const std::size_t j = find_keyword(b, key, next < np ? next : 0, failed);
            if (failed) return nullptr;
            if (j == np) {
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", b.qualname.c_str(), key);
                return nullptr;
            }
            if (slots[j] != nullptr) {
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%S'", b.qualname.c_str(), key);
                return nullptr;
            }
            slots[j] = args[nargs + k];
            next = j + 1;
        }
    }
    if (given > def.n_positional) {
        std::size_t keyword_only_given = 0;
        for (std::size_t j = def.n_positional; j < np; ++j) keyword_only_given += slots[j] != nullptr ? 1 : 0;
        raise_too_many(b, nargs, keyword_only_given);
        return nullptr;
    }
    for (std::size_t i = given; i < def.n_required; ++i) {
        if (slots[i] == nullptr) {
            std::vector<std::size_t> missing;
            for (std::size_t j = i; j < def.n_required; ++j)
                if (slots[j] == nullptr) missing.push_back(j);
            raise_missing(b, missing, "positional");
            return nullptr;
        }
    }
    std::vector<std::size_t> missing_keywords;
    for (std::size_t j = def.n_positional; j < np; ++j)
        if (slots[j] == nullptr && def.params[j].required()) missing_keywords.push_back(j);
    if (!missing_keywords.empty()) {
        raise_missing(b, missing_keywords, "keyword-only");
        return nullptr;
    }
    return run(def, self, slots.data());
}

PyMethodDef* make_method(const Callable& c, const char* owner, int extra_flags) {
    const FunctionDef& def = *c.def;
    Bound& b = registry().emplace_back();
    b.def = &def;
    for (std::size_t i = 0; i < def.n_params; ++i) {
        b.names[i] = PyUnicode_InternFromString(def.params[i].name);
        if (b.names[i] == nullptr) return nullptr;
    }
    b.qualname = owner != nullptr ? std::string(owner) + "." + def.name : std::string(def.name);
    b.doc = docstring(def);
    *c.bound = &b;
    b.method.ml_name = def.name;
    b.method.ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(c.entry));
    b.method.ml_flags = METH_FASTCALL | METH_KEYWORDS | extra_flags;
    b.method.ml_doc = b.doc.c_str();
    return &b.method;
}

}  // namespace quelm::py
