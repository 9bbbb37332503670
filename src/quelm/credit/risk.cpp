#include "quelm/credit/risk.hpp"

#include <memory>
#include <variant>

#include "quelm/credit/bootstrap.hpp"
#include "quelm/credit/cds_value.hpp"
#include "quelm/curves/bootstrap.hpp"

namespace quelm::credit {

namespace {

constexpr double kBp = 1e-4;

// The instrument's quote up a basis point of rate; false for a bond price.
bool bump(curves::Instrument& i) {
    return std::visit(
        [](auto& x) -> bool {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, curves::Future>) {
                x.price -= 100.0 * kBp;
                return true;
            } else if constexpr (std::is_same_v<T, curves::BondQuote>) {
                return false;
            } else {
                x.rate += kBp;
                return true;
            }
        },
        i);
}

Result<double> repriced(const Cds& cds, CurveQuotes spec, Cancel& cancel) {
    const auto discount = spec.discount;
    QUELM_TRY(curve, bootstrap_credit(std::move(spec), cancel));
    return cds_npv(cds, curve, *discount);
}

}  // namespace

Result<CdsRisk> cds_risk(const Cds& cds, const CreditCurve& credit, Cancel& cancel) {
    const auto& quotes = credit.quotes();
    if (!quotes) return invalid("cds risk: the credit curve was not bootstrapped (CreditCurve.bootstrap)");
    const CurveQuotes& base = *quotes;
    const Cds& contract = cds;
    CdsRisk r;
    QUELM_TRY(npv, cds_npv(contract, credit, *base.discount));
    r.npv = npv;

    for (std::size_t k = 0; k < base.quotes.size(); ++k) {
        CurveQuotes s = base;
        s.quotes[k].value += kBp;
        QUELM_TRY(v, repriced(contract, std::move(s), cancel));
        r.cs01.push_back(v - npv);
    }

    if (const auto& state = base.discount->bootstrap_state()) {
        for (std::size_t k = 0; k < state->spec.instruments.size(); ++k) {
            curves::BootstrapSpec ys = state->spec;
            if (!bump(ys.instruments[k]))
                return invalid("cds risk: the discount curve holds a bond quote, which has no rate to shift");
            QUELM_TRY(yc, curves::bootstrap(std::move(ys), cancel));
            CurveQuotes s = base;
            s.discount = std::make_shared<const curves::YieldCurve>(std::move(yc));
            QUELM_TRY(v, repriced(contract, std::move(s), cancel));
            r.ir01.push_back(v - npv);
        }
    }

    {
        CurveQuotes s = base;
        s.recovery = base.recovery + 0.01;
        Cds up = contract;
        up.terms.recovery += 0.01;
        if (s.recovery >= 1.0 || up.terms.recovery >= 1.0)
            return invalid("cds risk: recovery + 0.01 must stay below 1");
        QUELM_TRY(v, repriced(up, std::move(s), cancel));
        r.recovery01 = v - npv;
    }
    const double loss = 1.0 - contract.terms.recovery - contract.terms.coupon * accrued_fraction(contract);
    r.jump_to_default = side_sign(contract) * contract.terms.notional * loss - npv;
    return r;
}

}  // namespace quelm::credit
