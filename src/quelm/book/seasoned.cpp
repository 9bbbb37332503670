#include "quelm/book/seasoned.hpp"

#include <variant>

#include "quelm/curves/sensitivity.hpp"

namespace quelm::book {

bool starts_before(const curves::Instrument& instrument, dates::Serial reference) {
    const auto* d = std::get_if<dates::Serial>(&curves::trade_of(instrument).effective);
    return d != nullptr && *d < reference;
}

std::string fixing_index(const curves::Instrument& instrument, const PricedOn& on) {
    if (const auto* o = std::get_if<curves::Ois>(&instrument); o && o->index)
        return curves::overnight_index_name(*o->index);
    return on.curve;
}

Result<std::shared_ptr<const curves::Layout>> seasoned_layout(const curves::Instrument& instrument,
                                                              const PricedOn& on, const Market& market) {
    QUELM_TRY(layout, curves::lay_out_seasoned(instrument, market.reference_date()));
    if (!layout.past.empty()) {
        const std::string index = fixing_index(instrument, on);
        const Status filled =
            curves::apply_fixings(layout, [&](dates::Serial d) { return market.fixing(index, d); });
        if (!filled) return std::unexpected(Error{filled.error().kind, curves::describe(instrument) + ": " +
                                                                           filled.error().text});
    }
    return std::make_shared<const curves::Layout>(std::move(layout));
}

Result<std::shared_ptr<const curves::Layout>> note_layout(const curves::FloatingRateNote& note, const PricedOn& on,
                                                          const Market& market) {
    QUELM_TRY(kept, curves::lay_out_note_kept(note, market.reference_date()));
    if (kept->past.empty()) return kept;
    curves::Layout layout = *kept;  // the fixings go into a copy: another market has others
    {
        const std::string& index = note.index.empty() ? on.curve : note.index;
        const Status filled =
            curves::apply_fixings(layout, [&](dates::Serial d) { return market.fixing(index, d); });
        if (!filled)
            return std::unexpected(Error{filled.error().kind, curves::describe(note) + ": " + filled.error().text});
    }
    return std::make_shared<const curves::Layout>(std::move(layout));
}

Result<double> note_value(const curves::FloatingRateNote& note, const PricedOn& on, const Market& market) {
    QUELM_TRY(layout, note_layout(note, on, market));
    auto reading = curves::read_curves(*layout, {on.projection.get(), on.discount_curve});
    if (!reading)
        return std::unexpected(Error{reading.error().kind, curves::describe(note) + ": " + reading.error().text});
    return note.notional * curves::position_value(*layout, reading->dp, reading->dd);
}

Result<double> seasoned_value(const curves::Instrument& instrument, const PricedOn& on, const Market& market) {
    QUELM_TRY(layout, seasoned_layout(instrument, on, market));
    auto reading = curves::read_curves(*layout, {on.projection.get(), on.discount_curve});
    if (!reading) return std::unexpected(Error{reading.error().kind, curves::describe(instrument) + ": " +
                                                                         reading.error().text});
    return curves::trade_of(instrument).notional * curves::position_value(*layout, reading->dp, reading->dd);
}

}  // namespace quelm::book
