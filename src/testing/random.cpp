// Raw draws of the random streams, for checks against an independent reference.
#include "quelm/core/random.hpp"
#include "testing/registry.hpp"

#include <numeric>
#include <vector>

namespace quelm::testing {

namespace {

// kind: 0 raw u64, 1 uniform01, 2 open01, 3 standard normal, 4 uniform_index(n), 5 Poisson(mean)
PyObject* stream_draws(std::uint64_t seed, std::uint64_t key, std::uint64_t count, std::uint64_t kind, double param) {
    Xoshiro256pp rng = seed_from_u64(derive_seed(seed, key));
    py::Ref list(PyList_New(0));
    if (!list) return nullptr;
    const Poisson poisson(kind == 5 ? param : 1.0);
    for (std::uint64_t i = 0; i < count; ++i) {
        py::Ref item;
        switch (kind) {
            case 0: item = py::Ref(py::to_py(rng.next_u64())); break;
            case 1: item = py::Ref(py::to_py(rng.uniform01())); break;
            case 2: item = py::Ref(py::to_py(rng.open01())); break;
            case 3: item = py::Ref(py::to_py(standard_normal(rng))); break;
            case 4: item = py::Ref(py::to_py(uniform_index(rng, static_cast<std::uint64_t>(param)))); break;
            default: item = py::Ref(py::to_py(poisson.sample(rng))); break;
        }
        if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
    }
    return list.release();
}

PyObject* first_normals(std::uint64_t seed, std::uint64_t first_key, std::uint64_t count) {
    std::vector<double> z(count);
    keyed_first_normals(seed, first_key, z);
    return py::to_py(z);
}

PyObject* seed_state(std::uint64_t x) {
    const Xoshiro256pp rng = seed_from_u64(x);
    return Py_BuildValue("(KKKK)", (unsigned long long)rng.state(0), (unsigned long long)rng.state(1),
                         (unsigned long long)rng.state(2), (unsigned long long)rng.state(3));
}

PyObject* derive(std::uint64_t seed, std::uint64_t key) {
    return py::to_py(derive_seed(seed, key));
}

PyObject* ziggurat_tables() {
    const std::vector<double> x(zig_norm_x(), zig_norm_x() + 257);
    const std::vector<double> f(zig_norm_f(), zig_norm_f() + 257);
    py::Ref px(py::to_py(x));
    py::Ref pf(py::to_py(f));
    if (!px || !pf) return nullptr;
    return PyTuple_Pack(2, px.get(), pf.get());
}

PyObject* shuffled(std::uint64_t seed, std::uint64_t key, std::uint64_t n) {
    Xoshiro256pp rng = seed_from_u64(derive_seed(seed, key));
    std::vector<std::size_t> idx(n);
    std::iota(idx.begin(), idx.end(), std::size_t{0});
    shuffle(rng, idx);
    std::vector<double> out(idx.begin(), idx.end());
    return py::to_py(out);
}

PyObject* lgamma(double x) {
    return py::to_py(log_gamma(x));
}

constexpr py::FunctionDef def_stream_draws = py::function<stream_draws>(
    "stream_draws", {"seed", "key", "count", "kind", "param"}, "Draws from the stream of (seed, key).");
QUELM_TESTING(def_stream_draws);
constexpr py::FunctionDef def_first_normals = py::function<first_normals>(
    "keyed_first_normals", {"seed", "first_key", "count"}, "The first normal of count consecutive keyed streams.");
QUELM_TESTING(def_first_normals);
constexpr py::FunctionDef def_seed_state = py::function<seed_state>(
    "seed_state", {"x"}, "State words after seed_from_u64(x).");
QUELM_TESTING(def_seed_state);
constexpr py::FunctionDef def_derive = py::function<derive>("derive_seed", {"seed", "key"}, "The per-index seed.");
QUELM_TESTING(def_derive);
constexpr py::FunctionDef def_tables = py::function<ziggurat_tables>(
    "ziggurat_tables", {}, "The (X, F) ziggurat tables.");
QUELM_TESTING(def_tables);
constexpr py::FunctionDef def_shuffled = py::function<shuffled>(
    "shuffled", {"seed", "key", "n"}, "Shuffle of 0..n-1 by the stream of (seed, key).");
QUELM_TESTING(def_shuffled);
constexpr py::FunctionDef def_lgamma = py::function<lgamma>("log_gamma", {"x"}, "The Lanczos log-gamma.");
QUELM_TESTING(def_lgamma);

}  // namespace

}  // namespace quelm::testing
