#include "bindings/frame/registry.hpp"

#include <algorithm>
#include <tuple>

namespace quelm::py {

namespace {

std::vector<PublicEntry>& registered() {
    static auto* r = new std::vector<PublicEntry>();  // filled during static initialisation
    return *r;
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
        case Section::Neural: return "Neural pricing engines";
        case Section::Errors: return "Errors";
        case Section::Private: return "";
    }
    return "";
}

Registered::Registered(Section s, std::string_view guide, std::string_view file, int line,
                       const Callable& function) {
    registered().push_back({s, guide, file, line, &function, nullptr});
}

Registered::Registered(Section s, std::string_view guide, std::string_view file, int line,
                       PyTypeObject* (*make_class)()) {
    registered().push_back({s, guide, file, line, nullptr, make_class});
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

}  // namespace quelm::py
