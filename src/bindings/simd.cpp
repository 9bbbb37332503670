// The SIMD width of the array kernels (core/simd.hpp), as a private attribute of quelm._core:
// quelm.vec warns at import when QUELM_SIMD asked for a width it could not have, and tests
// and quelm.vec.simd_width() (declared here, its body is Python) read it.
#include "frame/arrays.hpp"
#include "frame/registry.hpp"
#include "frame/vec_python.hpp"
#include "quelm/core/simd.hpp"

namespace quelm::py {

namespace {

constexpr Section kSection = Section::Private;
constexpr std::string_view kGuide = "";  // private: no guide page

int lanes_of(SimdLevel level) {
    switch (level) {
        case SimdLevel::Scalar: return 1;
        case SimdLevel::Sse2: return 2;
        case SimdLevel::Avx2: return 4;
        case SimdLevel::Avx512: return 8;
    }
    return 1;
}

PyObject* simd() {
    const SimdChoice& c = simd_choice();
    return Py_BuildValue("(sis)", simd_name(c.level), lanes_of(c.level), c.warning.c_str());
}

constexpr FunctionDef def_simd = function<simd>(
    "_simd", {},
    "The array kernels' SIMD level: (name, doubles per instruction, why QUELM_SIMD was not followed or '').");
QUELM_PUBLIC(def_simd);

constexpr vec::PythonForm def_vec_simd_width =
    vec::in_python("simd_width", {},
                   "The SIMD level the array kernels run at and the doubles per instruction it takes:\n"
                   "``(\"scalar\", 1)``, ``(\"sse2\", 2)`` (``\"neon\"`` on arm64), ``(\"avx2\", 4)`` or\n"
                   "``(\"avx512\", 8)``. Chosen once per process: the widest the processor has, capped by the\n"
                   "environment variable ``QUELM_SIMD``. Every width gives the same bits.")
        .returning("tuple[str, int]");
QUELM_VEC_IN_PYTHON(def_vec_simd_width);

}  // namespace

}  // namespace quelm::py
