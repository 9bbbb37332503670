// The type of each parameter and result as the stubs write it, derived from the C++ type
// the declaration converts to or returns. A type the stubs cannot name fails to compile, so
// a new conversion comes with its annotation.
#pragma once

#include "frame/args.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quelm::py {

// Annotation<T>::param(): as a parameter; ::result(): as (part of) a result. Either may be
// absent; it is only needed where the type is used that way.
template <class T>
struct Annotation;

template <>
struct Annotation<double> {
    static const char* param() { return "_Float"; }
    static const char* result() { return "float"; }
};
template <>
struct Annotation<std::uint64_t> {
    static const char* param() { return "_Count"; }
    static const char* result() { return "int"; }
};
template <>
struct Annotation<U32> {
    static const char* param() { return "_Count"; }
};
template <>
struct Annotation<std::string_view> {
    static const char* param() { return "str"; }
    static const char* result() { return "str"; }
};
template <>
struct Annotation<std::string> {
    static const char* param() { return "str"; }
    static const char* result() { return "str"; }
};
template <>
struct Annotation<const char*> {
    static const char* result() { return "str"; }
};
template <>
struct Annotation<bool> {
    static const char* param() { return "bool"; }
    static const char* result() { return "bool"; }
};
template <>
struct Annotation<FloatSeq> {
    static const char* param() { return "_Floats"; }
};
template <>
struct Annotation<std::span<const double>> {
    static const char* param() { return "_Floats"; }
    static const char* result() { return "list[float]"; }
};
template <>
struct Annotation<std::vector<double>> {
    static const char* result() { return "list[float]"; }
};
template <>
struct Annotation<std::vector<std::vector<double>>> {
    static const char* result() { return "list[list[float]]"; }
};
template <>
struct Annotation<FloatMatrix> {
    static const char* param() { return "_Matrix"; }
};
template <>
struct Annotation<std::vector<std::uint64_t>> {
    static const char* param() { return "_Counts"; }
};
template <>
struct Annotation<std::vector<std::string>> {
    static const char* param() { return "_ArrayLike[str]"; }
};
template <>
struct Annotation<PyObject*> {
    static const char* param() { return "Any"; }
    static const char* result() { return "Any"; }
};

template <class T>
struct Annotation<std::optional<T>> {
    static const char* param() {
        static const std::string text = "Optional[" + std::string(Annotation<T>::param()) + "]";
        return text.c_str();
    }
    static const char* result() {
        static const std::string text = "Optional[" + std::string(Annotation<T>::result()) + "]";
        return text.c_str();
    }
};

}  // namespace quelm::py
