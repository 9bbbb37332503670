// Pricing engines driven the way the array API drives them: many trees in a row through
// one set of reused buffers.
#include "quelm/pricing/binomial.hpp"
#include "testing/registry.hpp"

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

constexpr py::FunctionDef d1 = py::function<binomial_reusing>(
    "binomial_reusing", {"spot", "rate", "vol", "t", "rows"}, "American puts through one set of tree buffers.");
Register r1(d1);

}  // namespace

}  // namespace quelm::testing
