#include "quelm/book/fx_vols.hpp"

#include <cstdio>

#include "quelm/book/book_risk.hpp"

namespace quelm::book {

std::string fx_quote_label(const std::string& name, double t, const char* what, double delta) {
    // slice_label gives "<name> vol <t>y": the same time text, after " vol ".
    const std::string slice = slice_label(name, t);
    std::string label = name + " " + slice.substr(name.size() + 5);
    if (delta > 0.0) {
        char text[32];
        std::snprintf(text, sizeof text, " %.4g", delta * 100.0);
        label += text;
    }
    return label + " " + what;
}

std::vector<FxQuoteColumn> fx_quote_columns(const std::string& name, const FxVols& vols) {
    std::vector<FxQuoteColumn> out;
    for (std::size_t i = 0; i < vols.smiles.size(); ++i) {
        const auto& q = vols.smiles[i].quotes();
        out.push_back({i, 0, 0, fx_quote_label(name, q.t, "atm", 0.0)});
        for (std::size_t j = 0; j < q.deltas.size(); ++j) {
            out.push_back({i, 1, j, fx_quote_label(name, q.t, "rr", q.deltas[j])});
            out.push_back({i, 2, j, fx_quote_label(name, q.t, "bf", q.deltas[j])});
        }
    }
    return out;
}

}  // namespace quelm::book
