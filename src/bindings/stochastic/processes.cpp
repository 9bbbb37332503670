// Python bindings: simulate_process, and quelm.vec.simulate_paths, which takes its parameters
// and keeps every path (written straight into a buffer allocated once the inputs are checked
// and the set is known to fit in memory).
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "frame/vec_python.hpp"
#include "bindings/string_options.hpp"
#include "quelm/stochastic/process.hpp"
#include "quelm/stochastic/result.hpp"
#include "quelm/stochastic/simulate.hpp"

namespace quelm::py {

constexpr Section kSection = Section::Processes;
constexpr std::string_view kGuide = "processes";  // the guide page of its names

namespace {

using stochastic::ProcessResult;

constinit const auto kProcessResult = record<ProcessResult>({
    {"process", member<&ProcessResult::process>,
     [] {
         return "Literal[\"gbm\", \"ornstein-uhlenbeck\", \"vasicek\", \"cir\", \"merton-jump\", \"heston\"]";
     }},
    QUELM_FIELD(ProcessResult, x0), QUELM_FIELD(ProcessResult, t), QUELM_FIELD(ProcessResult, paths),
    QUELM_FIELD(ProcessResult, steps), QUELM_FIELD(ProcessResult, sample_mean),
    QUELM_FIELD(ProcessResult, mean_std_error), QUELM_FIELD(ProcessResult, sample_std),
    QUELM_FIELD(ProcessResult, analytic_mean), QUELM_FIELD(ProcessResult, analytic_std),
    QUELM_FIELD(ProcessResult, mean_abs_error), QUELM_FIELD(ProcessResult, std_abs_error),
});
static_assert(kProcessResult.size() == aggregate_size<ProcessResult>());

}  // namespace

QUELM_RECORD(ProcessResult, kProcessResult, "ProcessResult");

namespace {

Result<ProcessResult> simulate_process_of(stochastic::ProcessKind kind, double x0, double t, std::uint64_t steps,
                                          std::uint64_t paths, std::uint64_t seed, double mu, double sigma,
                                          double kappa, double theta, double lambda, double jump_mean,
                                          double jump_std, double v0, double xi, double rho, Cancel& cancel) {
    const stochastic::ProcessParams p{mu, sigma, kappa, theta, lambda, jump_mean, jump_std, v0, xi, rho};
    return stochastic::simulate_report(kind, p, {paths, steps, seed}, x0, t, cancel);
}

constexpr FunctionDef def_simulate_process = typed<&simulate_process_of>(
    "simulate_process",
    {"process", {"x0", "100.0"}, {"t", "1.0"}, {"steps", "100"}, {"paths", "100000"}, {"seed", "42"},
     {"mu", "0.05"}, {"sigma", "0.20"}, {"kappa", "1.0"}, {"theta", "0.04"}, {"lambda_", "0.5"},
     {"jump_mean", "...", "-0.1"}, {"jump_std", "0.15"}, {"v0", "0.04"}, {"xi", "0.30"}, {"rho", "...", "-0.6"}},
    "Simulate a stochastic process and return a dict of its terminal moments");
QUELM_PUBLIC(def_simulate_process);

// Every path rather than their summary, so a thousand by default.
constexpr vec::PythonForm def_vec_simulate_paths =
    vec::in_python(def_simulate_process, "simulate_paths",
                   "Every simulated path of a process, shape (2 * ceil(paths / 2), steps + 1) (see "
                   "``quelm.simulate_process``).\n"
                   "\n"
                   "Rows come in antithetic pairs (the plus path, then the minus path); column k is time\n"
                   "k * t / steps, column 0 is x0. The last column holds the terminal values that\n"
                   "``quelm.simulate_process`` summarises for the same arguments.")
        .defaulting("paths", "1000")
        .returning("NDArray[np.float64]");
QUELM_VEC_IN_PYTHON(def_vec_simulate_paths);

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

constexpr FunctionDef def_simulate_paths =
    function_like<simulate_paths_impl>("_simulate_paths", def_vec_simulate_paths.def,
                                  "Every simulated path of a process: (bytearray of float64 values, rows, cols).");
QUELM_PRIVATE(def_simulate_paths);

}  // namespace

}  // namespace quelm::py
