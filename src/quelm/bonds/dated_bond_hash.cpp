#include "quelm/bonds/dated_bond_hash.hpp"

namespace quelm::bonds {

void hash_into(Hasher& h, const DatedBondTerms& t) {
    h.mix(static_cast<std::uint64_t>(t.issue));
    h.mix(static_cast<std::uint64_t>(t.maturity));
    h.real(t.coupon_rate);
    h.mix(t.frequency);
    h.mix(static_cast<std::uint64_t>(t.day_count.kind));
    h.mix(t.day_count.calendar.hash());
    h.mix(t.calendar.hash());
    h.mix(static_cast<std::uint64_t>(t.convention));
    h.mix(t.settlement_days);
    h.mix(t.ex_coupon_days);
    h.real(t.face);
    h.mix(t.end_of_month ? 1u : 0u);
    h.mix(t.first_coupon ? static_cast<std::uint64_t>(*t.first_coupon) + 1u : 0u);
}

std::uint64_t hash_of(const DatedBondTerms& t) {
    Hasher h;
    hash_into(h, t);
    return h.value();
}

}  // namespace quelm::bonds
