#include "quelm/credit/quote_convert.hpp"

#include "quelm/credit/bootstrap.hpp"
#include "quelm/credit/cds_value.hpp"

namespace quelm::credit {

Result<double> upfront_from_spread(const Cds& cds, double spread, const curves::YieldCurve& discount, bool clean,
                                   bool points) {
    QUELM_TRY(flat, flat_fit(CdsQuote{cds, QuoteKind::Spread, spread, std::nullopt}, discount));
    return cds_upfront(cds, flat, discount, clean, points);
}

Result<double> spread_from_upfront(const Cds& cds, double upfront, const curves::YieldCurve& discount) {
    QUELM_TRY(flat, flat_fit(CdsQuote{cds, QuoteKind::Upfront, upfront, std::nullopt}, discount));
    return cds_par_spread(cds, flat, discount);
}

}  // namespace quelm::credit
