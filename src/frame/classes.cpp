#include "frame/classes.hpp"

#include "frame/arrays.hpp"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace quelm::py {

namespace {

struct Instance {
    PyObject_HEAD
    void* value;
    void (*destroy)(void*);
};

void instance_dealloc(PyObject* self) {
    auto* inst = reinterpret_cast<Instance*>(self);
    PyTypeObject* type = Py_TYPE(self);
    if (inst->value != nullptr && inst->destroy != nullptr) inst->destroy(inst->value);
    inst->value = nullptr;
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* no_constructor(PyTypeObject* type, PyObject*, PyObject*) {
    const char* dot = std::strrchr(type->tp_name, '.');
    PyErr_Format(PyExc_TypeError, "No constructor defined for %s", dot ? dot + 1 : type->tp_name);
    return nullptr;
}

// The constructor of each class that has one, found through the type.
std::vector<std::pair<PyTypeObject*, PyMethodDef*>>& constructors() {
    static std::vector<std::pair<PyTypeObject*, PyMethodDef*>> table;
    return table;
}

// tp_new: the tuple and dict of a class call become the frame's vector call.
PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyMethodDef* ctor = nullptr;
    for (const auto& [t, m] : constructors())
        if (t == type) ctor = m;
    if (ctor == nullptr) return no_constructor(type, args, kwargs);
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    const Py_ssize_t nkw = kwargs != nullptr ? PyDict_GET_SIZE(kwargs) : 0;
    std::vector<PyObject*> stack(static_cast<std::size_t>(nargs + nkw));
    for (Py_ssize_t i = 0; i < nargs; ++i) stack[static_cast<std::size_t>(i)] = PyTuple_GET_ITEM(args, i);
    Ref kwnames;
    if (nkw > 0) {
        kwnames = Ref(PyTuple_New(nkw));
        if (!kwnames) return nullptr;
        Py_ssize_t pos = 0, k = 0;
        PyObject *key = nullptr, *value = nullptr;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            PyTuple_SET_ITEM(kwnames.get(), k, Py_NewRef(key));
            stack[static_cast<std::size_t>(nargs + k)] = value;
            ++k;
        }
    }
    auto fast = reinterpret_cast<_PyCFunctionFastWithKeywords>(reinterpret_cast<void (*)()>(ctor->ml_meth));
    return fast(nullptr, stack.data(), nargs, kwnames.get());
}

PyObject* getter_trampoline(PyObject* self, void* closure) {
    return static_cast<const GetterDef*>(closure)->get(self);
}

// One richcompare for every class with an equality hook; the hook is found
// through the type, so the slot needs no per-class closure.
std::vector<std::pair<PyTypeObject*, bool (*)(PyObject*, PyObject*)>>& equality_hooks() {
    static std::vector<std::pair<PyTypeObject*, bool (*)(PyObject*, PyObject*)>> hooks;
    return hooks;
}

std::vector<std::pair<PyTypeObject*, const ClassDef*>>& created() {
    static auto* v = new std::vector<std::pair<PyTypeObject*, const ClassDef*>>();
    return *v;
}

PyObject* instance_richcompare(PyObject* a, PyObject* b, int op) {
    if ((op != Py_EQ && op != Py_NE) || Py_TYPE(a) != Py_TYPE(b)) Py_RETURN_NOTIMPLEMENTED;
    for (const auto& [type, equal] : equality_hooks()) {
        if (type == Py_TYPE(a)) {
            const bool same = equal(a, b);
            return PyBool_FromLong((op == Py_EQ) == same ? 1 : 0);
        }
    }
    Py_RETURN_NOTIMPLEMENTED;
}

}  // namespace

PyTypeObject* create_class(const ClassDef& def) {
    // The type lives for the whole process: the tables below are never freed.
    auto* methods = new std::vector<PyMethodDef>();
    for (std::size_t i = 0; i < def.n_methods; ++i) {
        const Callable& c = def.methods[i];
        PyMethodDef* m = make_method(c, def.name, c.def->has_self ? 0 : METH_STATIC);
        if (m == nullptr) return nullptr;
        vec::add_form(*c.def);
        methods->push_back(*m);
    }
    methods->push_back(PyMethodDef{nullptr, nullptr, 0, nullptr});

    auto* getsets = new std::vector<PyGetSetDef>();
    for (std::size_t i = 0; i < def.n_getters; ++i) {
        const GetterDef& g = def.getters[i];
        getsets->push_back(PyGetSetDef{g.name, &getter_trampoline, nullptr, g.doc, const_cast<GetterDef*>(&g)});
    }
    getsets->push_back(PyGetSetDef{nullptr, nullptr, nullptr, nullptr, nullptr});

    PyMethodDef* ctor = nullptr;
    auto* doc = new std::string(def.doc);
    if (def.constructor != nullptr) {
        ctor = make_method(*def.constructor, nullptr, 0);
        if (ctor == nullptr) return nullptr;
        // The signature line of the constructor, so inspect.signature(cls) reads it.
        const std::string line = docstring(*def.constructor->def);
        *doc = line.substr(0, line.find("\n--\n\n") + 5) + *doc;
    }
    auto* name = new std::string(std::string("quelm.") + def.name);
    auto* slots = new std::vector<PyType_Slot>{
        {Py_tp_doc, const_cast<char*>(doc->c_str())},
        {Py_tp_new, reinterpret_cast<void*>(ctor != nullptr ? &construct : &no_constructor)},
        {Py_tp_dealloc, reinterpret_cast<void*>(&instance_dealloc)},
        {Py_tp_methods, methods->data()},
        {Py_tp_getset, getsets->data()},
    };
    if (def.repr != nullptr) slots->push_back({Py_tp_repr, reinterpret_cast<void*>(def.repr)});
    if (def.equal != nullptr) slots->push_back({Py_tp_richcompare, reinterpret_cast<void*>(&instance_richcompare)});
    if (def.hash != nullptr) slots->push_back({Py_tp_hash, reinterpret_cast<void*>(def.hash)});
    if (def.length != nullptr) slots->push_back({Py_sq_length, reinterpret_cast<void*>(def.length)});
    if (def.iter != nullptr) slots->push_back({Py_tp_iter, reinterpret_cast<void*>(def.iter)});
    slots->push_back({0, nullptr});
    auto* spec = new PyType_Spec{name->c_str(), static_cast<int>(sizeof(Instance)), 0,
                                 Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots->data()};
    auto* type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(spec));
    if (type != nullptr && def.equal != nullptr) equality_hooks().emplace_back(type, def.equal);
    if (type != nullptr) created().emplace_back(type, &def);
    if (type != nullptr && ctor != nullptr) constructors().emplace_back(type, ctor);
    return type;
}

PyObject* wrap_instance(PyTypeObject* type, void* value, void (*destroy)(void*)) {
    PyObject* o = type->tp_alloc(type, 0);
    if (o == nullptr) return nullptr;
    // tp_alloc of a heap type took a reference to the type, released in dealloc.
    auto* inst = reinterpret_cast<Instance*>(o);
    inst->value = value;
    inst->destroy = destroy;
    return o;
}

const ClassDef* class_def(PyTypeObject* type) {
    for (const auto& [t, def] : created())
        if (t == type) return def;
    return nullptr;
}

PyObject* partial_reduce(PyObject* fn, PyObject* args, PyObject* kwargs) {
    Ref functools(PyImport_ImportModule("functools"));
    if (!functools) return nullptr;
    Ref partial(PyObject_GetAttrString(functools.get(), "partial"));
    Ref head(PyTuple_Pack(1, fn));
    if (!partial || !head) return nullptr;
    Ref bound(PyObject_Call(partial.get(), head.get(), kwargs));
    if (!bound) return nullptr;
    return PyTuple_Pack(2, bound.get(), args);
}

void* instance_value(PyObject* self) { return reinterpret_cast<Instance*>(self)->value; }

}  // namespace quelm::py
