#include "quelm/curves/pricing.hpp"

#include "quelm/curves/bootstrap.hpp"
#include "quelm/curves/layout.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::curves {

CurvePair pricing_curves(const YieldCurve& curve, const YieldCurve* discount) {
    if (discount != nullptr) return {&curve, discount};
    const auto& state = curve.bootstrap_state();
    if (state && state->spec.discount) return {&curve, state->spec.discount.get()};
    return {&curve, &curve};
}

Result<double> measure(const Instrument& instrument, const YieldCurve& curve, const YieldCurve* discount, Measure m) {
    const auto named = [&](const Error& e) { return std::unexpected(Error{e.kind, describe(instrument) + ": " + e.text}); };
    const auto& ref = curve.dating().reference;
    if (!ref) return invalid(describe(instrument) + ": needs a curve with a reference date (the trade date)");
    const CurvePair pair = pricing_curves(curve, discount);
    if (pair.discount->dating().reference != ref)
        return invalid(describe(instrument) + ": the discount curve's reference date differs from the curve's");
    QUELM_TRY(kept, lay_out_kept(instrument, *ref));
    const Layout& layout = *kept;
    auto reading = read_curves(layout, pair);
    if (!reading) return named(reading.error());
    // The trade's size scales its value only: a notional of 1 is the quote's value, bit for bit.
    if (m == Measure::Value) return trade_of(instrument).notional * position_value(layout, reading->dp, reading->dd);
    const double q = model_quote(layout, reading->dp, reading->dd);
    if (const auto* f = std::get_if<Future>(&instrument); f && m == Measure::ImpliedQuote) return 100.0 * (1.0 - q);
    if (layout.form == Form::Bond && m == Measure::ParRate) {
        auto y = layout.bond->yield_at(q, layout.disc[layout.settle]);
        if (!y) return named(y.error());
        return *y;
    }
    return q;
}

}  // namespace quelm::curves
