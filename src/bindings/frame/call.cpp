#include "bindings/frame/call.hpp"

#include "bindings/frame/args.hpp"
#include "bindings/frame/result.hpp"

#include <array>
#include <cstring>
#include <deque>
#include <exception>
#include <new>
#include <stdexcept>
#include <utility>

namespace quelm::py {

Signature parse_signature(const char* doc, const char* owner) {
    Signature s;
    const char* open = std::strchr(doc, '(');
    const char* close = open ? std::strchr(open, ')') : nullptr;
    if (open == nullptr || close == nullptr) return s;
    s.name.assign(doc, open);
    s.qualname = (owner != nullptr && *owner != '\0') ? std::string(owner) + "." + s.name : s.name;
    std::string inner(open + 1, close);
    std::size_t pos = 0;
    bool seen_default = false;
    while (pos <= inner.size() && !inner.empty()) {
        std::size_t comma = inner.find(',', pos);
        if (comma == std::string::npos) comma = inner.size();
        std::string item = inner.substr(pos, comma - pos);
        while (!item.empty() && item.front() == ' ') item.erase(item.begin());
        const std::size_t eq = item.find('=');
        std::string pname = item.substr(0, eq);
        while (!pname.empty() && pname.back() == ' ') pname.pop_back();
        if (pname == "$self") {
            s.has_self = true;
        } else if (!pname.empty()) {
            if (eq != std::string::npos) seen_default = true;
            if (!seen_default) ++s.n_required;
            s.params.push_back(pname);
        }
        pos = comma + 1;
        if (comma == inner.size()) break;
    }
    for (const auto& p : s.params) {
        s.interned.push_back(Ref(PyUnicode_InternFromString(p.c_str())));
    }
    return s;
}

namespace {

struct Bound {
    const FunctionDef* def;
    Signature sig;
    PyMethodDef method;
};

// Stable storage: bound callables are never removed, and the storage is never destroyed:
// its interned names must not be released by an exit-time destructor after the interpreter
// has finalized (3.13 frees interned strings there).
std::deque<Bound>& registry() {
    static auto* r = new std::deque<Bound>;
    return *r;
}

std::string repr_name(const std::string& name) { return "'" + name + "'"; }

void raise_too_many(const Signature& s, Py_ssize_t nargs) {
    const std::size_t self_count = s.has_self ? 1 : 0;
    const std::size_t total = s.params.size() + self_count;
    const std::size_t required = s.n_required + self_count;
    const std::size_t given = static_cast<std::size_t>(nargs) + self_count;
    std::string sig;
    bool plural = true;
    if (required != total) {
        sig = "from " + std::to_string(required) + " to " + std::to_string(total);
    } else {
        sig = std::to_string(total);
        plural = total != 1;
    }
    std::string msg = s.qualname + "() takes " + sig + " positional argument" + (plural ? "s" : "") +
                      " but " + std::to_string(given) + (given == 1 ? " was" : " were") + " given";
    PyErr_SetString(PyExc_TypeError, msg.c_str());
}

void raise_missing(const Signature& s, const std::vector<std::size_t>& missing) {
    std::string names;
    const std::size_t n = missing.size();
    if (n == 1) {
        names = repr_name(s.params[missing[0]]);
    } else if (n == 2) {
        names = repr_name(s.params[missing[0]]) + " and " + repr_name(s.params[missing[1]]);
    } else {
        for (std::size_t i = 0; i + 1 < n; ++i) names += repr_name(s.params[missing[i]]) + ", ";
        names += "and " + repr_name(s.params[missing[n - 1]]);
    }
    std::string msg = s.qualname + "() missing " + std::to_string(n) + " required positional argument" +
                      (n == 1 ? "" : "s") + ": " + names;
    PyErr_SetString(PyExc_TypeError, msg.c_str());
}

PyObject* run(const FunctionDef& def, Args& a) {
    try {
        return def.impl(a);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::length_error&) {
        return PyErr_NoMemory();
    } catch (const std::exception& e) {
        PyErr_SetString(internal_fault_type(), e.what()[0] ? e.what() : "internal fault");
        return nullptr;
    } catch (...) {
        PyErr_SetString(internal_fault_type(), "internal fault");
        return nullptr;
    }
}

PyObject* dispatch(const Bound& b, PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const Signature& s = b.sig;
    const std::size_t np = s.params.size();
    std::array<PyObject*, kMaxParams> slots{};
    const std::size_t npos = static_cast<std::size_t>(nargs) < np ? static_cast<std::size_t>(nargs) : np;
    for (std::size_t i = 0; i < npos; ++i) slots[i] = args[i];

    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            PyObject* key = PyTuple_GET_ITEM(kwnames, k);
            std::size_t j = 0;
            for (; j < np; ++j) {
                if (s.interned[j].get() == key) break;
            }
            if (j == np) {
                for (j = 0; j < np; ++j) {
                    const int eq = PyUnicode_Compare(s.interned[j].get(), key);
                    if (eq == 0) break;
                    if (eq == -1 && PyErr_Occurred()) return nullptr;
                }
            }
            if (j == np) {
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", s.qualname.c_str(), key);
                return nullptr;
            }
            if (slots[j] != nullptr) {
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%S'", s.qualname.c_str(), key);
                return nullptr;
            }
            slots[j] = args[nargs + k];
        }
    }
    if (static_cast<std::size_t>(nargs) > np) {
        raise_too_many(s, nargs);
        return nullptr;
    }
    std::vector<std::size_t> missing;
    for (std::size_t i = static_cast<std::size_t>(nargs); i < s.n_required; ++i) {
        if (slots[i] == nullptr) missing.push_back(i);
    }
    if (!missing.empty()) {
        raise_missing(s, missing);
        return nullptr;
    }
    Args a(self, slots.data(), s);
    return run(*b.def, a);
}

// A fixed bank of entry points; each registered callable takes the next slot.
constexpr std::size_t kSlots = 128;

template <std::size_t I>
PyObject* entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return dispatch(registry()[I], self, args, nargs, kwnames);
}

template <std::size_t... I>
constexpr std::array<_PyCFunctionFastWithKeywords, sizeof...(I)> make_entries(std::index_sequence<I...>) {
    return {&entry<I>...};
}

constexpr auto kEntries = make_entries(std::make_index_sequence<kSlots>{});

}  // namespace

PyMethodDef* make_method(const FunctionDef& def, const char* owner, int extra_flags) {
    auto& reg = registry();
    if (reg.size() >= kSlots) {
        PyErr_SetString(PyExc_SystemError, "quelm: too many callables for the call frame");
        return nullptr;
    }
    Bound& b = reg.emplace_back();
    b.def = &def;
    b.sig = parse_signature(def.doc, owner);
    if (b.sig.params.size() > kMaxParams) {
        PyErr_SetString(PyExc_SystemError, "quelm: too many parameters for the call frame");
        return nullptr;
    }
    const std::size_t index = reg.size() - 1;
    b.method.ml_name = b.sig.name.c_str();
    b.method.ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(kEntries[index]));
    b.method.ml_flags = METH_FASTCALL | METH_KEYWORDS | extra_flags;
    b.method.ml_doc = def.doc;
    return &b.method;
}

}  // namespace quelm::py
