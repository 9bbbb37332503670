// quelm.vec.simulate_paths: every simulated path of a process, written straight into a
// buffer allocated once the inputs are checked and the set is known to fit in memory.
#include "frame/call.hpp"
#include "frame/registry.hpp"
#include "frame/result.hpp"
#include "quelm/stochastic/process.hpp"
#include "quelm/stochastic/simulate.hpp"

namespace quelm::py {

namespace {

constexpr Section kSection = Section::Private;
constexpr std::string_view kGuide = "";  // the guide page of its names

// (bytearray of rows * cols float64 values, rows, cols); the parameters are
// simulate_process's, read and checked as it reads and checks them. NumPy views the
// bytearray in place.
PyObject* simulate_paths_impl(std::string_view name, double x0, double t, std::uint64_t steps, std::uint64_t paths,
                              std::uint64_t seed, double mu, double sigma, double kappa, double theta, double lambda,
                              double jump_mean, double jump_std, double v0, double xi, double rho) {
    using namespace quelm::stochastic;
    ProcessKind kind;
    if (!choose(kProcessKinds, name, kind)) return nullptr;
    const Process process = make_process(kind, {mu, sigma, kappa, theta, lambda, jump_mean, jump_std, v0, xi, rho});
    const SimSettings settings{paths, steps, seed};
    const Result<PathShape> shape = plan_paths(process, settings, x0, t);
    if (!shape) return raise(shape.error());
    const std::size_t n = shape->count * shape->path_len;  // fits: plan_paths checked it
    Ref bytes(PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(n * sizeof(double))));
    if (!bytes) return nullptr;
    const std::span<double> values(reinterpret_cast<double*>(PyByteArray_AS_STRING(bytes.get())), n);
    const Status done = compute([&](Cancel& c) { return fill_paths(process, settings, x0, t, values, c); });
    if (!done) return raise(done.error());
    return Py_BuildValue("(Onn)", bytes.get(), static_cast<Py_ssize_t>(shape->count),
                         static_cast<Py_ssize_t>(shape->path_len));
}

constexpr FunctionDef def_simulate_paths = function<simulate_paths_impl>(
    "_simulate_paths",
    {"process", "x0", "t", "steps", "paths", "seed", "mu", "sigma", "kappa", "theta", "lambda_", "jump_mean",
     "jump_std", "v0", "xi", "rho"},
    "Every simulated path of a process: (bytearray of float64 values, rows, cols).");
QUELM_PUBLIC(def_simulate_paths);

}  // namespace

}  // namespace quelm::py
