// Python bindings: barrier_price, lookback_price, asian_price.
#include "frame/declare.hpp"
#include "frame/registry.hpp"
#include "bindings/string_options.hpp"
#include "bindings/pricing/vanilla_params.hpp"
#include "quelm/pricing/asian.hpp"
#include "quelm/pricing/barrier.hpp"
#include "quelm/pricing/barrier_block.hpp"
#include "quelm/pricing/lookback.hpp"
#include "quelm/pricing/lookback_block.hpp"

#include <optional>

namespace quelm::py {

constexpr Section kSection = Section::Options;
constexpr std::string_view kGuide = "trees-and-exotics";  // the guide page of its names

namespace {

// The geometric closed form has no standard error (None).
struct AsianRow {
    double price;
    std::optional<double> standard_error;
};

constinit const auto kAsianRow = record<AsianRow>({
    QUELM_FIELD(AsianRow, price), QUELM_FIELD(AsianRow, standard_error),
});

}  // namespace

QUELM_RECORD(AsianRow, kAsianRow, "AsianResult");

namespace {

Result<double> barrier_price_of(double spot, double strike, double rate, double vol, double t, OptionType type,
                                pricing::BarrierType barrier_type, double barrier, double q) {
    const Vanilla v = vanilla(spot, strike, rate, vol, t, type, q);
    return pricing::barrier_price(v.contract, v.market, {.type = barrier_type, .level = barrier});
}

constexpr ParamList kBarrierParams = kVanillaTerms + ParamList{"barrier_type", "barrier"} + kDividendYield;
constexpr ParamList kLookbackParams = kVanillaTerms + ParamList{"strike_type"} + kDividendYield;

// Element j of an exotic block's vanilla operands (spot, strike, rate, vol, t, option_type)
// in the declaration P. `known` false (its option or exotic string was rejected) gives a
// NaN spot, so the block leaves the element to the element path, which reports it.
template <const ParamList& P, class B>
void read_vanilla_fields(B& b, const char* const* at, const Py_ssize_t* step, std::size_t j, bool known) {
    using vec::block_real;
    b.spot[j] = known ? block_real(at, step, P.operand("spot"), j) : kNaN;
    b.strike[j] = block_real(at, step, P.operand("strike"), j);
    b.rate[j] = block_real(at, step, P.operand("rate"), j);
    b.vol[j] = block_real(at, step, P.operand("vol"), j);
    b.expiry[j] = block_real(at, step, P.operand("t"), j);
    b.type[j] = known ? static_cast<OptionType>(vec::block_code(at, step, P.operand("option_type"), j))
                      : OptionType::Call;
}

// vec.barrier_price's blocks.
static_assert(vec::kBlock == pricing::kBarrierBlock, "an array block is one block of the core");
void barrier_price_many(const void*, const char* const* at, const Py_ssize_t* step, std::size_t n, double* out,
                        bool* done) {
    using vec::block_code;
    using vec::block_real;
    pricing::BarrierBlock b;
    b.n = n;
    for (std::size_t j = 0; j < n; ++j) {
        constexpr const ParamList& P = kBarrierParams;
        const unsigned char type = block_code(at, step, P.operand("option_type"), j),
                            kind = block_code(at, step, P.operand("barrier_type"), j);
        const bool known = type < option_count<OptionType>() && kind < option_count<pricing::BarrierType>();
        read_vanilla_fields<P>(b, at, step, j, known);
        b.kind[j] = known ? static_cast<pricing::BarrierType>(kind) : pricing::BarrierType::DownIn;
        b.level[j] = block_real(at, step, P.operand("barrier"), j);
        b.dividend_yield[j] = block_real(at, step, P.operand("dividend_yield"), j);
    }
    pricing::barrier_price_block(b, out, done);
}

Result<double> lookback_price_of(double spot, double strike, double rate, double vol, double t, OptionType type,
                                 pricing::StrikeType strike_type, double q) {
    const Vanilla v = vanilla(spot, strike, rate, vol, t, type, q);
    return pricing::lookback_price(v.contract, v.market, strike_type);
}

// vec.lookback_price's blocks, a rejected option string leaving its element to the element
// path.
static_assert(vec::kBlock == pricing::kLookbackBlock, "an array block is one block of the core");
void lookback_price_many(const void*, const char* const* at, const Py_ssize_t* step, std::size_t n, double* out,
                         bool* done) {
    using vec::block_code;
    using vec::block_real;
    pricing::LookbackBlock b;
    b.n = n;
    for (std::size_t j = 0; j < n; ++j) {
        constexpr const ParamList& P = kLookbackParams;
        const unsigned char type = block_code(at, step, P.operand("option_type"), j),
                            strike_type = block_code(at, step, P.operand("strike_type"), j);
        const bool known = type < option_count<OptionType>() && strike_type < option_count<pricing::StrikeType>();
        read_vanilla_fields<P>(b, at, step, j, known);
        b.strike_type[j] = known ? static_cast<pricing::StrikeType>(strike_type) : pricing::StrikeType::Fixed;
        b.dividend_yield[j] = block_real(at, step, P.operand("dividend_yield"), j);
    }
    pricing::lookback_price_block(b, out, done);
}

Result<AsianRow> asian_price_of(double spot, double strike, double rate, double vol, double t, OptionType type,
                                pricing::AverageType average, std::uint64_t n_fixings, std::uint64_t paths,
                                std::uint64_t seed, double q, Cancel& cancel) {
    const Vanilla v = vanilla(spot, strike, rate, vol, t, type, q);
    if (average == pricing::AverageType::Geometric) {
        QUELM_TRY(p, pricing::geometric_asian_price(v.contract, v.market));
        return AsianRow{p, std::nullopt};
    }
    const pricing::AsianSettings settings{.n_fixings = n_fixings, .paths = paths, .seed = seed};
    QUELM_TRY(e, pricing::arithmetic_asian_price(v.contract, v.market, settings, cancel));
    return AsianRow{e.price, e.standard_error};
}

constexpr FunctionDef def_barrier_price = typed_in_vec<&barrier_price_of, &barrier_price_many>(
    "barrier_price", kBarrierParams,
    "Price a continuously monitored single-barrier option (zero rebate).");
QUELM_PUBLIC(def_barrier_price);

constexpr FunctionDef def_lookback_price =
    typed_in_vec<&lookback_price_of, &lookback_price_many>(
        "lookback_price", kLookbackParams,
        "Price a continuous lookback option (freshly issued: extremum = spot).")
        .reading_options({"strike_type", "option_type"});
QUELM_PUBLIC(def_lookback_price);

constexpr FunctionDef def_asian_price = typed<&asian_price_of>(
    "asian_price",
    kVanillaTerms +
        ParamList{{"average", "\"geometric\""}, {"n_fixings", "50"}, {"paths", "100000"}, {"seed", "42"}} +
        kDividendYield,
    "Price an average-price Asian option, returning a dict with the price (and, for\n"
    "the arithmetic average, the standard error of its Monte Carlo estimate; None for\n"
    "the geometric closed form).");
QUELM_PUBLIC(def_asian_price);

}  // namespace

}  // namespace quelm::py
