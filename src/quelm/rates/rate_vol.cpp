#include "quelm/rates/rate_vol.hpp"

#include "quelm/core/text.hpp"

namespace quelm::rates {

Status check(const RateVol& v) {
    QUELM_CHECK(check_vol_term(v.vol));
    return check_quoting(v.quoting);
}

std::string describe(const RateVol& v) {
    // Appended piece by piece: GCC 12 warns falsely on chains of string +.
    const auto list = [](std::string& out, const std::vector<double>& xs) {
        out += '[';
        for (std::size_t i = 0; i < xs.size(); ++i) {
            if (i) out += ", ";
            out += format_number(xs[i]);
        }
        out += ']';
    };
    std::string text = "RateVol(";
    if (v.vol.times.empty()) {
        text += format_number(v.vol.vols.front());
    } else {
        text += '(';
        list(text, v.vol.times);
        text += ", ";
        list(text, v.vol.vols);
        text += ')';
    }
    if (v.quoting.model != VolModel::Black) {
        text += ", model=";
        text += single_quoted(model_name(v.quoting.model));
    }
    if (v.quoting.shift != 0.0) {
        text += ", shift=";
        text += format_number(v.quoting.shift);
    }
    text += ')';
    return text;
}

std::vector<VolTermSlope> vol_term_slopes(const VolTerm& v, double t) {
    const std::size_t n = v.times.size();
    if (n == 0 || t <= v.times.front()) return {{0, 1.0}};
    if (t >= v.times.back()) return {{n - 1, 1.0}};
    std::size_t j = 1;
    while (v.times[j] <= t) ++j;
    // vol² t = (1 - x) vol_a² t_a + x vol_b² t_b, so d vol / d vol_a = (1 - x) vol_a t_a / (vol t).
    const double t0 = v.times[j - 1], t1 = v.times[j];
    const double x = (t - t0) / (t1 - t0), vol = v.at(t);
    if (!(vol > 0.0)) return {{j - 1, 1.0 - x}, {j, x}};
    return {{j - 1, (1.0 - x) * v.vols[j - 1] * t0 / (vol * t)}, {j, x * v.vols[j] * t1 / (vol * t)}};
}

}  // namespace quelm::rates
