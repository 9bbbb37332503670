// Owning handle for a Python reference: releases it when it goes out of scope.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace quelm::py {

class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* owned) : p_(owned) {}  // steals the reference
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        if (this != &o) {
            Py_XDECREF(p_);
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    static Ref borrow(PyObject* p) {
        Py_XINCREF(p);
        return Ref(p);
    }
    [[nodiscard]] PyObject* get() const { return p_; }
    [[nodiscard]] PyObject* release() { return std::exchange(p_, nullptr); }
    explicit operator bool() const { return p_ != nullptr; }

private:
    PyObject* p_ = nullptr;
};

}  // namespace quelm::py
