// The private module quelm._kernels: the element kernels behind quelm.vec. Each kernel
// calls the core function its scalar twin calls, so both give the same bits.
#include "bindings/frame/call.hpp"
#include "bindings/frame/result.hpp"
#include "bindings/vec_grid.hpp"
#include "quelm/bonds/bond.hpp"
#include "quelm/core/memory.hpp"
#include "quelm/curves/curve.hpp"
#include "quelm/greeks/analytic.hpp"
#include "quelm/greeks/analytic_batch.hpp"
#include "quelm/pricing/barrier.hpp"
#include "quelm/pricing/binomial.hpp"
#include "quelm/pricing/black_scholes.hpp"
#include "quelm/pricing/black_scholes_batch.hpp"
#include "quelm/pricing/implied_vol.hpp"
#include "quelm/pricing/lookback.hpp"

#include <string>
#include <vector>

namespace quelm::py {

PyTypeObject* yield_curve_type();
PyTypeObject* fixed_rate_bond_type();

namespace vec {

namespace {

using pricing::BarrierType;
using pricing::ExerciseStyle;
using pricing::StrikeType;
using curves::YieldCurve;
using bonds::FixedRateBond;

// spot, rate, vol and dividend yield, with vol and q at the given operand positions.
MarketInputs market_with(const Operands& in, std::size_t vol, std::size_t q) {
    return {.spot = in.real(0), .rate = in.real(2), .vol = in.real(vol), .dividend_yield = in.real(q)};
}

// Writes a Result<double> to the element's one output.
Status put(const Result<double>& r, double* out) {
    if (!r) return std::unexpected(r.error());
    *out = *r;
    return {};
}

// The vanilla operands shared by the option kernels: spot, strike, rate, vol, t, type, q.
OptionContract contract(const Operands& in) {
    return {.strike = in.real(1), .expiry = in.real(4), .option_type = in.code<OptionType>(5)};
}
MarketInputs market(const Operands& in) { return market_with(in, 3, 6); }

Status black_scholes(const void*, const Operands& in, double* out, Cancel&) {
    return put(pricing::black_scholes(contract(in), market(in)), out);
}

static_assert(kBlock == kVanillaBlock, "a kernel's block is one block of the core");

// The vanilla operands of a block's elements. An element with an out-of-range option code
// gets a NaN spot, so the block leaves it to the element path, which reports it.
VanillaBlock vanilla_block(const char* const* at, const Py_ssize_t* step, std::size_t n) {
    VanillaBlock b;
    b.n = n;
    for (std::size_t j = 0; j < n; ++j) {
        const unsigned char code = block_code(at, step, 5, j);
        const bool known = code < code_count('o');
        b.spot[j] = known ? block_real(at, step, 0, j) : kNaN;
        b.strike[j] = block_real(at, step, 1, j);
        b.rate[j] = block_real(at, step, 2, j);
        b.vol[j] = block_real(at, step, 3, j);
        b.expiry[j] = block_real(at, step, 4, j);
        b.type[j] = known ? static_cast<OptionType>(code) : OptionType::Call;
        b.dividend_yield[j] = block_real(at, step, 6, j);
    }
    return b;
}

void black_scholes_many(const void*, const char* const* at, const Py_ssize_t* step, std::size_t n, double* out,
                        bool* done) {
    pricing::black_scholes_block(vanilla_block(at, step, n), out, done);
}

void greeks_many(const void*, const char* const* at, const Py_ssize_t* step, std::size_t n, double* out,
                 bool* done) {
    greeks::Greeks g[kVanillaBlock];
    greeks::analytic_greeks_block(vanilla_block(at, step, n), g, done);
    for (std::size_t j = 0; j < n; ++j) {
        out[j] = g[j].delta;
        out[kBlock + j] = g[j].gamma;
        out[2 * kBlock + j] = g[j].vega;
        out[3 * kBlock + j] = g[j].theta;
        out[4 * kBlock + j] = g[j].rho;
    }
}

Status greeks(const void*, const Operands& in, double* out, Cancel&) {
    const auto r = greeks::analytic_greeks(contract(in), market(in));
    if (!r) return std::unexpected(r.error());
    out[0] = r->delta;
    out[1] = r->gamma;
    out[2] = r->vega;
    out[3] = r->theta;
    out[4] = r->rho;
    return {};
}

// market_price, spot, strike, rate, t, type, q, method.
Status implied_volatility(const void*, const Operands& in, double* out, Cancel&) {
    const OptionContract o{.strike = in.real(2), .expiry = in.real(4), .option_type = in.code<OptionType>(5)};
    const MarketInputs m{.spot = in.real(1), .rate = in.real(3), .vol = 0.0, .dividend_yield = in.real(6)};
    return put(pricing::implied_volatility(o, m, in.real(0), in.code<pricing::ImpliedVolMethod>(7)), out);
}

// spot, strike, rate, vol, t, type, style, steps, q.
Status binomial(const void*, const Operands& in, double* out, Cancel& cancel) {
    const pricing::BinomialSettings settings{.style = in.code<ExerciseStyle>(6), .steps = in.count(7)};
    return put(pricing::binomial(contract(in), market_with(in, 3, 8), settings, cancel), out);
}

// spot, strike, rate, vol, t, type, barrier_type, barrier, q.
Status barrier_price(const void*, const Operands& in, double* out, Cancel&) {
    const pricing::BarrierSettings b{.type = in.code<BarrierType>(6), .level = in.real(7)};
    return put(pricing::barrier_price(contract(in), market_with(in, 3, 8), b), out);
}

// spot, strike, rate, vol, t, type, strike_type, q.
Status lookback_price(const void*, const Operands& in, double* out, Cancel&) {
    return put(pricing::lookback_price(contract(in), market_with(in, 3, 7), in.code<StrikeType>(6)), out);
}

const YieldCurve& curve(const void* c) { return *static_cast<const YieldCurve*>(c); }
const FixedRateBond& bond(const void* c) { return *static_cast<const FixedRateBond*>(c); }

Status discount(const void* c, const Operands& in, double* out, Cancel&) {
    return put(curve(c).discount(in.real(0)), out);
}
Status zero_rate(const void* c, const Operands& in, double* out, Cancel&) {
    return put(curve(c).zero_rate(in.real(0)), out);
}
Status forward_rate(const void* c, const Operands& in, double* out, Cancel&) {
    return put(curve(c).forward_rate(in.real(0), in.real(1)), out);
}
Status bond_price(const void* c, const Operands& in, double* out, Cancel& cancel) {
    return put(bond(c).clean_price_from_yield(in.real(0), cancel), out);
}
Status bond_yield(const void* c, const Operands& in, double* out, Cancel& cancel) {
    return put(bond(c).yield_to_maturity(in.real(0), cancel), out);
}

enum class On : unsigned char { Nothing, Curve, Bond };

struct Entry {
    Kernel kernel;
    On context;
};

// Operand letters: 'd' float64, 'Q' count; o option_type, s style, b barrier_type, k strike_type,
// m the implied-vol method.
const Entry kKernels[] = {
    {{"black_scholes", "dddddod", 1, &run_block_chunk<&black_scholes, &black_scholes_many>}, On::Nothing},
    {{"greeks", "dddddod", 5, &run_block_chunk<&greeks, &greeks_many>}, On::Nothing},
    {{"implied_volatility", "dddddodm", 1, &run_chunk<&implied_volatility>}, On::Nothing},
    {{"binomial", "dddddosQd", 1, &run_chunk<&binomial>}, On::Nothing},
    {{"barrier_price", "dddddobdd", 1, &run_chunk<&barrier_price>}, On::Nothing},
    {{"lookback_price", "dddddokd", 1, &run_chunk<&lookback_price>}, On::Nothing},
    {{"discount", "d", 1, &run_chunk<&discount>}, On::Curve},
    {{"zero_rate", "d", 1, &run_chunk<&zero_rate>}, On::Curve},
    {{"forward_rate", "dd", 1, &run_chunk<&forward_rate>}, On::Curve},
    {{"bond_price", "d", 1, &run_chunk<&bond_price>}, On::Bond},
    {{"bond_yield", "d", 1, &run_chunk<&bond_yield>}, On::Bond},
};

// The string options, by parameter name: their letter, value count and parser.
template <const auto& Table>
bool read_code(std::string_view text, unsigned char& out) {
    const auto p = parse_choice(Table, text);
    if (!p) {
        raise_value_error(p.error());
        return false;
    }
    out = static_cast<unsigned char>(*p);
    return true;
}

struct CodeTable {
    const char* name;
    char letter;
    std::size_t count;
    bool (*read)(std::string_view, unsigned char&);
};

const CodeTable kCodeTables[] = {
    {"option_type", 'o', 2, &read_code<kOptionTypes>},
    {"style", 's', 2, &read_code<pricing::kExerciseStyles>},
    {"barrier_type", 'b', 4, &read_code<pricing::kBarrierTypes>},
    {"strike_type", 'k', 2, &read_code<pricing::kStrikeTypes>},
    {"method", 'm', 2, &read_code<pricing::kImpliedVolMethods>},
};

PyObject* run_impl(std::string_view name, PyObject* inputs, PyObject* outputs, std::uint64_t nan_mode,
                   PyObject* context) {
    for (const Entry& e : kKernels) {
        if (name != e.kernel.name) continue;
        const void* value = nullptr;
        if (e.context != On::Nothing) {
            PyTypeObject* type = e.context == On::Curve ? yield_curve_type() : fixed_rate_bond_type();
            if (Py_TYPE(context) != type) {
                PyErr_Format(PyExc_TypeError, "expected a %s, got %.200s", type->tp_name, Py_TYPE(context)->tp_name);
                return nullptr;
            }
            value = instance_value(context);
        }
        return run_kernel(e.kernel, value, inputs, outputs, nan_mode != 0);
    }
    return raise_value_error("no kernel named " + quote_literal(name));
}

// The codes of a list of strings for one string option; the scalar message for a rejected one.
PyObject* codes_impl(std::string_view option, const std::vector<std::string>& strings) {
    for (const CodeTable& t : kCodeTables) {
        if (option != t.name) continue;
        std::string codes(strings.size(), '\0');
        for (std::size_t i = 0; i < strings.size(); ++i) {
            unsigned char c = 0;
            if (!t.read(strings[i], c)) return nullptr;
            codes[i] = static_cast<char>(c);
        }
        return PyBytes_FromStringAndSize(codes.data(), static_cast<Py_ssize_t>(codes.size()));
    }
    return raise_value_error("no string option named " + quote_literal(option));
}

// MemoryError unless n doubles for `what` can fit in the memory the process can have.
PyObject* check_memory_impl(double n, std::string_view what) {
    const std::string label(what);
    const Status s = check_fits_in_memory(doubles_bytes(n), label.c_str());
    if (!s) return raise(s.error());
    return none();
}

}  // namespace

std::size_t code_count(char letter) {
    for (const CodeTable& t : kCodeTables)
        if (t.letter == letter) return t.count;
    return 0;
}

namespace {

const FunctionDef kElementwise[] = {
    function<run_impl>("run", {"kernel", "inputs", "outputs", "nan_mode", "context"},
                       "Run a kernel over a tuple of input buffers of one shape into float64 outputs."),
    function<codes_impl>("codes", {"option", "strings"},
                         "The one-byte codes of strings for a string option, as bytes."),
    function<check_memory_impl>("check_memory", {"n", "what"},
                                "Raise MemoryError unless n doubles can be allocated."),
};

}  // namespace

extern const FunctionDef def_series_metric;
extern const FunctionDef def_series_stats;
extern const FunctionDef def_series_drawdown;
extern const FunctionDef def_simulate_paths;

namespace {

const FunctionDef* const kFunctions[] = {
    &kElementwise[0], &kElementwise[1], &kElementwise[2], &def_series_metric, &def_series_stats, &def_series_drawdown,
    &def_simulate_paths,
};

PyModuleDef kModule = {
    PyModuleDef_HEAD_INIT, "quelm._kernels", "Element kernels of quelm.vec (private).", -1,
    nullptr, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

}  // namespace vec

PyObject* create_kernels_module() {
    Ref module(PyModule_Create(&vec::kModule));
    if (!module) return nullptr;
    Ref name(PyModule_GetNameObject(module.get()));
    if (!name) return nullptr;
    for (const FunctionDef* def : vec::kFunctions) {
        PyMethodDef* m = make_method(*def, nullptr, 0);
        if (m == nullptr) return nullptr;
        Ref f(PyCFunction_NewEx(m, nullptr, name.get()));
        if (!f || PyModule_AddObjectRef(module.get(), m->ml_name, f.get()) < 0) return nullptr;
    }
    return module.release();
}

}  // namespace quelm::py
