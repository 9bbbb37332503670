#include "quelm/ml/engines.hpp"

#include "quelm/ml/deep_lsm.hpp"
#include "quelm/ml/dos.hpp"

namespace quelm::ml {

std::vector<std::uint64_t> american_hidden(const Widths& given) {
    return given ? *given : std::vector<std::uint64_t>{16};
}

std::vector<std::uint64_t> differential_hidden(const Widths& given) {
    return given ? *given : std::vector<std::uint64_t>{30, 30};
}

Result<AmericanReport> american_price(AmericanMethod method, const OptionContract& o, const MarketInputs& m,
                                      const AmericanSettings& settings, Cancel& cancel) {
    if (method == AmericanMethod::Dos) return dos_price(o, m, settings, cancel);
    return deep_lsm_price(o, m, settings, cancel);
}

}  // namespace quelm::ml
