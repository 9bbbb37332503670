#include "quelm/bonds/market_preset.hpp"

#include <string_view>

namespace quelm::bonds {

namespace {

struct Preset {
    std::uint32_t frequency;
    dates::DayCountKind day_count;
    std::string_view calendar;
    std::uint32_t settlement_days;
    std::uint32_t ex_coupon_days;
    bool end_of_month;
};

// US Treasuries: semi-annual act/act, T+1, month-end notes paying on month ends.
// Gilts: semi-annual act/act, T+1, ex-dividend 7 business days before a coupon (UK DMO).
// Bunds and OATs: annual act/act (ICMA), T+2 on TARGET.
// JGBs: semi-annual, accruing actual days over 365, T+1 since May 2018 (JSDA); the
// nearest day count here is act/365f, which also sets each coupon to days/365 of the
// annual rate where JGBs pay exactly half.
constexpr Preset preset_of(BondMarket m) {
    switch (m) {
        case BondMarket::Ust: return {2, dates::DayCountKind::ActActIcma, "us-government-bond", 1, 0, true};
        case BondMarket::Gilt: return {2, dates::DayCountKind::ActActIcma, "uk", 1, 7, false};
        case BondMarket::Bund: return {1, dates::DayCountKind::ActActIcma, "target", 2, 0, false};
        case BondMarket::Oat: return {1, dates::DayCountKind::ActActIcma, "target", 2, 0, false};
        case BondMarket::Jgb: return {2, dates::DayCountKind::Act365F, "japan", 1, 0, false};
    }
    return {2, dates::DayCountKind::ActActIcma, "weekends", 0, 0, false};
}

}  // namespace

Result<DatedBondTerms> market_terms(BondMarket market) {
    const Preset p = preset_of(market);
    DatedBondTerms t;
    t.frequency = p.frequency;
    t.day_count = dates::DayCount{p.day_count, {}};
    QUELM_TRY(calendar, dates::Calendar::parse(p.calendar));
    t.calendar = calendar;
    t.convention = dates::Convention::Unadjusted;  // yields on the scheduled coupon dates
    t.settlement_days = p.settlement_days;
    t.ex_coupon_days = p.ex_coupon_days;
    t.end_of_month = p.end_of_month;
    return t;
}

}  // namespace quelm::bonds
