#include "frame/registry.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <tuple>

namespace quelm::py {

namespace {

std::vector<PublicEntry>& registered() {
    static auto* r = new std::vector<PublicEntry>();  // filled during static initialisation
    return *r;
}

// The names of the first release, in its order: they lead the module and its __all__, so code
// that relied on that order (unpacking `from quelm import *` lists, documented tables) still
// reads it. Names added since follow, by section, file and line.
constexpr std::array<std::string_view, 33> kFirstRelease = {
    "black_scholes", "price", "binomial", "monte_carlo", "lsm", "greeks", "implied_volatility",
    "barrier_price", "lookback_price", "asian_price", "simulate_process", "stats", "sharpe", "sortino",
    "max_drawdown", "value_at_risk", "expected_shortfall", "beta", "tracking_error", "info_ratio",
    "jarque_bera", "acf", "portfolio_value", "twr", "mwr", "allocation", "covariance_matrix",
    "portfolio_risk", "optimize", "differential_ml", "american_ml", "YieldCurve", "FixedRateBond"};

std::string_view name_of(const PublicEntry& e) {
    if (e.function != nullptr) return e.function->def->name;
    PyTypeObject* type = e.make_class();  // made once per process: the module's own type
    if (type == nullptr) {
        PyErr_Clear();  // the module's own call to the factory reports it
        return {};
    }
    const char* dot = std::strrchr(type->tp_name, '.');
    return dot != nullptr ? dot + 1 : type->tp_name;
}

// An entry's place among the first release's names, or past them all.
std::size_t first_release_rank(const PublicEntry& e) {
    if (e.section == Section::Private) return kFirstRelease.size();
    const std::string_view name = name_of(e);
    return static_cast<std::size_t>(std::find(kFirstRelease.begin(), kFirstRelease.end(), name) -
                                     kFirstRelease.begin());
}

}  // namespace

std::string_view section_title(Section s) {
    switch (s) {
        case Section::Options: return "Option pricing";
        case Section::Processes: return "Stochastic processes";
        case Section::Statistics: return "Return statistics and risk";
        case Section::Portfolios: return "Portfolios";
        case Section::Volatility: return "Volatility models";
        case Section::Dates: return "Dates and conventions";
        case Section::FixedIncome: return "Yield curves and bonds";
        case Section::Credit: return "Credit default swaps";
        case Section::Books: return "Books and risk";
        case Section::Neural: return "Neural pricing engines";
        case Section::Errors: return "Errors";
        case Section::Private: return "";
    }
    return "";
}

// An absolute path and the one a compiler cache writes relative to the build tree order alike.
static_assert(source_key("/home/a/src/quelm/src/bindings/book/book.cpp") == "src/bindings/book/book.cpp");
static_assert(source_key("../../src/bindings/book/book.cpp") == "src/bindings/book/book.cpp");
static_assert(source_key("C:\\q\\src\\bindings\\stats.cpp") == "src\\bindings\\stats.cpp");

Registered::Registered(Section s, std::string_view guide, std::string_view file, int line,
                       const Callable& function) {
    registered().push_back({s, guide, source_key(file), line, &function, nullptr});
}

Registered::Registered(Section s, std::string_view guide, std::string_view file, int line,
                       PyTypeObject* (*make_class)()) {
    registered().push_back({s, guide, source_key(file), line, nullptr, make_class});
}

const std::vector<PublicEntry>& public_entries() {
    // Sorted once, at first use (module creation): every static registration ran before.
    static const std::vector<PublicEntry>* sorted = [] {
        auto* v = new std::vector<PublicEntry>(registered());
        std::stable_sort(v->begin(), v->end(), [](const PublicEntry& a, const PublicEntry& b) {
            return std::tie(a.section, a.file, a.line) < std::tie(b.section, b.file, b.line);
        });
        return v;
    }();
    return *sorted;
}

const std::vector<PublicEntry>& module_entries() {
    // Its classes' names are their types' names: made at module creation, before this is read.
    static const std::vector<PublicEntry>* ordered = [] {
        std::vector<std::pair<std::size_t, PublicEntry>> ranked;
        for (const PublicEntry& e : public_entries()) ranked.emplace_back(first_release_rank(e), e);
        std::stable_sort(ranked.begin(), ranked.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        auto* v = new std::vector<PublicEntry>();
        for (const auto& [rank, e] : ranked) v->push_back(e);
        return v;
    }();
    return *ordered;
}

}  // namespace quelm::py
