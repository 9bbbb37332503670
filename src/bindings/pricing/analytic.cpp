// Python bindings: black_scholes, price, greeks, implied_volatility.
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "bindings/string_options.hpp"
#include "bindings/pricing/vanilla_params.hpp"
#include "quelm/pricing/vanilla/vanilla_block.hpp"
#include "quelm/pricing/vanilla/greeks.hpp"
#include "quelm/pricing/black/black_scholes.hpp"
#include "quelm/pricing/black/implied_vol.hpp"
#include "quelm/pricing/black/implied_vol_block.hpp"

#include <algorithm>

namespace quelm::py {

constexpr Section kSection = Section::Options;
constexpr std::string_view kGuide = "analytic";  // the guide page of its names

namespace {

// The inputs and the price, as `price` reports them.
struct PriceRow {
    OptionType type;
    double spot, strike, rate, vol, t, q, price;
};

constinit const auto kPriceRow = record<PriceRow>({
    {"model", [](const PriceRow&) { return to_py("black-scholes"); }, [] { return "Literal[\"black-scholes\"]"; }},
    {"option_type", member<&PriceRow::type>, [] { return "Literal[\"call\", \"put\"]"; }},
    {"exercise", [](const PriceRow&) { return to_py("european"); }, [] { return "Literal[\"european\"]"; }},
    QUELM_FIELD(PriceRow, spot), QUELM_FIELD(PriceRow, strike), QUELM_FIELD(PriceRow, rate),
    field<&PriceRow::vol>("volatility"), field<&PriceRow::t>("time"), field<&PriceRow::q>("dividend_yield"),
    QUELM_FIELD(PriceRow, price),
});

constinit const auto kGreeks = record<greeks::Greeks>({
    QUELM_FIELD(greeks::Greeks, delta), QUELM_FIELD(greeks::Greeks, gamma), QUELM_FIELD(greeks::Greeks, vega),
    QUELM_FIELD(greeks::Greeks, theta), QUELM_FIELD(greeks::Greeks, rho),
});

}  // namespace

QUELM_RECORD(PriceRow, kPriceRow, "PriceResult");
QUELM_RECORD(greeks::Greeks, kGreeks, "GreeksResult");

namespace {

Result<double> black_scholes_of(double spot, double strike, double rate, double vol, double t, OptionType type,
                                double q) {
    const Vanilla v = vanilla(spot, strike, rate, vol, t, type, q);
    return pricing::black_scholes(v.contract, v.market);
}

Result<PriceRow> price_of(double spot, double strike, double rate, double vol, double t, OptionType type, double q) {
    QUELM_TRY(p, black_scholes_of(spot, strike, rate, vol, t, type, q));
    return PriceRow{type, spot, strike, rate, vol, t, q, p};
}

Result<greeks::Greeks> greeks_of(double spot, double strike, double rate, double vol, double t, OptionType type,
                                 double q) {
    const Vanilla v = vanilla(spot, strike, rate, vol, t, type, q);
    return greeks::analytic_greeks(v.contract, v.market);
}

Result<double> implied_volatility_of(double market_price, double spot, double strike, double rate, double t,
                                     OptionType type, double q, pricing::ImpliedVolMethod method) {
    const Vanilla v = vanilla(spot, strike, rate, 0.0, t, type, q);
    return pricing::implied_volatility(v.contract, v.market, market_price, method);
}

// The vanilla operands of a block's elements: spot, strike, rate, vol (or the quote, for an
// implied volatility), t, type and q at the operand indices given. An element whose option
// string was rejected gets a NaN spot, so the block leaves it to the element path, which
// reports it.
struct VanillaOperands {
    std::size_t spot, strike, rate, vol, t, type, q;
};
// Their indices in the declaration `params`, the volatility's slot read from the operand
// called `vol`.
consteval VanillaOperands operands_of(const ParamList& params, std::string_view vol) {
    return {params.operand("spot"), params.operand("strike"),      params.operand("rate"),
            params.operand(vol),    params.operand("t"),           params.operand("option_type"),
            params.operand("dividend_yield")};
}
// Fills b with the block's n elements. A broadcast operand (one value for every element) is
// written only when `broadcast_too`: the closed forms' runs share one block and its values.
// Returns whether it marked a rejected string's spot (a broadcast spot is then written anew
// for the next run).
bool fill_vanilla(VanillaBlock& b, const char* const* at, const Py_ssize_t* step, std::size_t n, VanillaOperands k,
                  bool broadcast_too) {
    using namespace vec;
    b.n = n;
    const auto reals = [&](std::size_t operand, double* dst) {
        if (step[operand] != 0 || broadcast_too) block_reals(at, step, operand, n, dst);
    };
    reals(k.spot, b.spot);
    reals(k.strike, b.strike);
    reals(k.rate, b.rate);
    reals(k.vol, b.vol);
    reals(k.t, b.expiry);
    reals(k.q, b.dividend_yield);
    // The codes checked without a branch per element: the element's spot and type are
    // stored either way.
    bool marked = false;
    for (std::size_t j = 0; j < n; ++j) {
        const unsigned char code = block_code(at, step, k.type, j);
        const bool known = code < option_count<OptionType>();
        marked = marked || !known;
        b.spot[j] = known ? b.spot[j] : kNaN;
        b.type[j] = static_cast<OptionType>(known ? code : static_cast<unsigned char>(OptionType::Call));
    }
    block_copy(b.price, b.vol, n);
    return marked;
}
VanillaBlock vanilla_block(const char* const* at, const Py_ssize_t* step, std::size_t n, VanillaOperands k) {
    VanillaBlock b;
    fill_vanilla(b, at, step, n, k, true);
    return b;
}
constexpr ParamList kImpliedParams = kQuoteTerms + kDividendYield + ParamList{"*", {"method", "\"newton\""}};
constexpr VanillaOperands kPricing = operands_of(kVanillaParams, "vol");
constexpr VanillaOperands kImplied = operands_of(kImpliedParams, "market_price");

// The closed forms take a block in runs of 64 options: the copies of a run's operands, the
// kernel's reads of them and its stores then stay in the first-level cache (a whole block's
// 14 KB of operands would not).
constexpr std::size_t kRun = 64;
template <class F>
void in_runs(const char* const* at, const Py_ssize_t* step, std::size_t n, F run) {
    constexpr std::size_t kOperands = kVanillaParams.n_operands();
    const char* from[kOperands];
    VanillaBlock b;
    bool marked = false;
    for (std::size_t s = 0; s < n; s += kRun) {
        for (std::size_t k = 0; k < kOperands; ++k) from[k] = at[k] + step[k] * static_cast<Py_ssize_t>(s);
        marked = fill_vanilla(b, from, step, std::min(kRun, n - s), kPricing, s == 0 || marked);
        run(s, b);
    }
}

void black_scholes_many(const void*, const char* const* at, const Py_ssize_t* step, std::size_t n, double* out,
                        bool* done) {
    in_runs(at, step, n, [&](std::size_t s, const VanillaBlock& b) { black_scholes_block(b, out + s, done + s); });
}

void greeks_many(const void*, const char* const* at, const Py_ssize_t* step, std::size_t n, double* out,
                 bool* done) {
    in_runs(at, step, n, [&](std::size_t s, const VanillaBlock& b) { greeks_block(b, out + s, vec::kBlock, done + s); });
}

// Either solve in blocks, where a block's options share the method (else one by one).
void implied_volatility_many(const void*, const char* const* at, const Py_ssize_t* step, std::size_t n, double* out,
                             bool* done) {
    constexpr auto kNewton = static_cast<unsigned char>(pricing::ImpliedVolMethod::Newton);
    constexpr auto kRational = static_cast<unsigned char>(pricing::ImpliedVolMethod::Rational);
    bool newton = true, rational = true;
    for (std::size_t j = 0; j < n; ++j) {
        const unsigned char method = vec::block_code(at, step, kImpliedParams.operand("method"), j);
        newton = newton && method == kNewton;
        rational = rational && method == kRational;
    }
    if (newton) {
        pricing::implied_volatility_newton_block(vanilla_block(at, step, n, kImplied), out, done);
    } else if (rational) {
        pricing::implied_volatility_rational_block(vanilla_block(at, step, n, kImplied), out, done);
    } else {
        for (std::size_t j = 0; j < n; ++j) done[j] = false;
    }
}

static_assert(vec::kBlock == kVanillaBlock, "an array block is one block of the core");

}  // namespace

constexpr FunctionDef def_black_scholes = typed_in_vec<&black_scholes_of, &black_scholes_many>(
    "black_scholes", kVanillaParams,
    "Price a European option with the Black-Scholes-Merton closed form.\n"
    "\n"
    "Example:\n"
    "\n"
    "    import quelm\n"
    "    quelm.black_scholes(spot=100, strike=105, rate=0.05, vol=0.2, t=1.0, option_type=\"call\")\n"
    "    # -> 8.021352235143176");
QUELM_PUBLIC(def_black_scholes);

constexpr FunctionDef def_price = typed<&price_of>(
    "price", kVanillaParams,
    "Price a European option and return a dict with the inputs and the price.\n"
    "\n"
    "Mirrors the CLI's `PriceResult` shape so the Python and CLI surfaces agree.");
QUELM_PUBLIC(def_price);

constexpr FunctionDef def_greeks = typed_in_vec<&greeks_of, &greeks_many>(
    "greeks", kVanillaParams,
    "Analytic Black-Scholes Greeks for a European option, as a dict\n"
    "(`delta`, `gamma`, `vega`, `theta`, `rho`).");
QUELM_PUBLIC(def_greeks);

constexpr FunctionDef def_implied_volatility = typed_in_vec<&implied_volatility_of, &implied_volatility_many>(
    "implied_volatility", kImpliedParams,
    "Solve for the Black-Scholes implied volatility matching `market_price`.\n"
    "\n"
    "`method` (keyword only): `\"newton\"` (the default: Newton from an analytic guess, Brent\n"
    "as fallback, the exact solver for quotes that tolerance cannot resolve) or `\"rational\"`\n"
    "(Jaeckel's \"Let's be rational\": the last bits the quote allows, in two or three steps).");
QUELM_PUBLIC(def_implied_volatility);

}  // namespace quelm::py
