// Pricing engines driven the way the array API drives them (many trees in a row through
// one set of reused buffers), and engines whose caller asks them to stop.
#include "quelm/pricing/vanilla/vanilla_lanes.hpp"
#include "quelm/ml/deep_lsm.hpp"
#include "quelm/ml/differential.hpp"
#include "quelm/ml/dos.hpp"
#include "quelm/pricing/asian.hpp"
#include "quelm/pricing/binomial.hpp"
#include "quelm/pricing/lsm.hpp"
#include "quelm/pricing/monte_carlo.hpp"
#include "testing/registry.hpp"

#include <string_view>
#include <vector>

namespace quelm::testing {

namespace {

// One American put per (strike, steps) row, all through the same BinomialBuffers.
PyObject* binomial_reusing(double spot, double rate, double vol, double t, const py::FloatMatrix& rows) {
    pricing::BinomialBuffers work;
    std::vector<double> out;
    for (const std::span<const double> row : rows.rows()) {
        const auto r = pricing::binomial({.strike = row[0], .expiry = t, .option_type = OptionType::Put},
                                         {.spot = spot, .rate = rate, .vol = vol, .dividend_yield = 0.0},
                                         {.style = pricing::ExerciseStyle::American,
                                          .steps = static_cast<std::uint64_t>(row[1])},
                                         work);
        if (!r) return py::raise(r.error());
        out.push_back(*r);
    }
    return py::to_py(out);
}

// The error of a long run of one engine whose caller asks it to stop from the start:
// (kind, text), or None if it finished. Each run is long enough to reach several polls.
PyObject* stopped_outcome(std::string_view engine) {
    Cancel stop([](void*) { return true; }, nullptr);
    const OptionContract o{.strike = 100.0, .expiry = 1.0, .option_type = OptionType::Put};
    const MarketInputs m{.spot = 100.0, .rate = 0.05, .vol = 0.2, .dividend_yield = 0.0};
    const MarketInputs still{.spot = 100.0, .rate = 0.05, .vol = 0.0, .dividend_yield = 0.0};
    const ml::AmericanSettings neural{.hidden = {4}, .paths = 2, .steps = 100'000'000, .seed = 1, .epochs = 1};
    const auto outcome = [](const auto& r) -> PyObject* {
        if (r) return py::none();
        return Py_BuildValue("(is)", static_cast<int>(r.error().kind), r.error().text.c_str());
    };
    if (engine == "binomial")
        return outcome(pricing::binomial(o, m, {.style = pricing::ExerciseStyle::American, .steps = 1'000'000}, stop));
    if (engine == "monte_carlo")
        return outcome(pricing::monte_carlo_european(o, m, {.paths = 8'000'000, .seed = 1}, stop));
    if (engine == "lsm")
        return outcome(pricing::lsm_american(o, m, {.paths = 2, .steps = 100'000'000, .seed = 1}, stop));
    if (engine == "lsm_still")
        return outcome(pricing::lsm_american(o, still, {.paths = 2, .steps = 1'000'000'000, .seed = 1}, stop));
    if (engine == "asian")
        return outcome(pricing::arithmetic_asian_price(o, m, {.n_fixings = 50'000'000, .paths = 2, .seed = 1}, stop));
    if (engine == "deep_lsm") return outcome(ml::deep_lsm_price(o, m, neural, stop));
    if (engine == "dos") return outcome(ml::dos_price(o, m, neural, stop));
    if (engine == "dos_still") {
        ml::AmericanSettings s = neural;
        s.steps = 1'000'000'000;
        return outcome(ml::dos_price(o, still, s, stop));
    }
    if (engine == "differential")
        return outcome(ml::differential_ml_price(
            o, m, {.hidden = {4}, .samples = 1'000'000, .epochs = 1, .spread = 1.0, .seed = 1}, stop));
    return py::raise_value_error("unknown engine");
}

// Which solver answers a quote inside its bounds (theta = +1 call, -1 put): 0 Newton from
// the first guess, 1 the exact solver after Newton, 2 Brent after Newton failed.
PyObject* implied_solver(double price, double spot, double strike, double rate, double t, double theta, double q) {
    const VanillaLanes<double> in{spot, strike, rate, 0.0, t, q, theta};
    const VanillaSetup<double> u = vanilla_setup(in);
    const NewtonLanes<double> n = implied_newton_lanes(u, theta, price, implied_guess_lanes(price, spot, t));
    return PyLong_FromLong(!n.ok ? 2 : implied_reprices(price, n.residual) ? 0 : 1);
}

constexpr py::FunctionDef d1 = py::function<binomial_reusing>(
    "binomial_reusing", {"spot", "rate", "vol", "t", "rows"}, "American puts through one set of tree buffers.");
constexpr py::FunctionDef d2 = py::function<stopped_outcome>(
    "stopped_outcome", {"engine"}, "(error kind, text) of an engine stopped by its caller.");
constexpr py::FunctionDef d3 = py::function<implied_solver>(
    "implied_solver", {"price", "spot", "strike", "rate", "t", "theta", "q"},
    "Which solver answers a quote: 0 Newton, 1 the exact solver after Newton, 2 Brent.");
Register r1(py::callable<d1>), r2(py::callable<d2>), r3(py::callable<d3>);

}  // namespace

}  // namespace quelm::testing
