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

Result<AmericanReport> american_price(AmericanMethod method, OptionType type, const AmericanConfig& config,
                                      Cancel& cancel) {
    if (method == AmericanMethod::Dos) return dos_price(type, config, cancel);
    return deep_lsm_price(type, config, cancel);
}

}  // namespace quelm::ml
