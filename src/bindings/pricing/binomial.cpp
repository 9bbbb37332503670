// Python binding: binomial.
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "bindings/string_options.hpp"
#include "bindings/pricing/vanilla_params.hpp"
#include "quelm/pricing/binomial.hpp"

namespace quelm::py {

constexpr Section kSection = Section::Options;
constexpr std::string_view kGuide = "trees-and-exotics";  // the guide page of its names

namespace {

Result<double> binomial_of(double spot, double strike, double rate, double vol, double t, OptionType type,
                           pricing::ExerciseStyle style, std::uint64_t steps, double q, Cancel& cancel) {
    const Vanilla v = vanilla(spot, strike, rate, vol, t, type, q);
    return pricing::binomial(v.contract, v.market, {.style = style, .steps = steps}, cancel);
}

constexpr FunctionDef def_binomial = typed_in_vec<&binomial_of>(
    "binomial", kVanillaTerms + ParamList{{"style", "\"european\""}, {"steps", "...", "1000"}} + kDividendYield,
    "Price a vanilla option with the CRR binomial tree (European or American).\n"
    "\n"
    "```python\n"
    "import quelm\n"
    "quelm.binomial(spot=100, strike=110, rate=0.05, vol=0.3, t=1.0, option_type=\"put\", style=\"american\")\n"
    "```");
QUELM_PUBLIC(def_binomial);

}  // namespace

}  // namespace quelm::py
