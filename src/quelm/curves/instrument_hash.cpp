// Instruments hashed by the terms they compare by, so that equal instruments hash equal
// (a quote of -0.0 like one of 0.0); the memo is not part of the value.
#include "quelm/bonds/dated_bond_hash.hpp"
#include "quelm/core/hash.hpp"
#include "quelm/curves/instrument.hpp"

namespace quelm::curves {

namespace {

void add(Hasher& h, dates::Tenor t) {
    h.mix(static_cast<std::uint64_t>(static_cast<std::uint32_t>(t.count)));
    h.mix(static_cast<std::uint64_t>(t.unit));
}

void add(Hasher& h, const dates::DayCount& dc) {
    h.mix(static_cast<std::uint64_t>(dc.kind));
    h.mix(dc.calendar.hash());
}

void add(Hasher& h, const RateTerms& t) {
    add(h, t.day_count);
    h.mix(t.calendar.hash());
    h.mix(t.settlement_days);
    h.mix(static_cast<std::uint64_t>(t.convention));
}

void add(Hasher& h, const std::optional<OvernightIndex>& i) {
    h.mix(i ? static_cast<std::uint64_t>(*i) + 1u : 0u);
}

void add(Hasher& h, const Deposit& d) {
    add(h, d.tenor);
    h.real(d.rate);
    add(h, d.terms);
}

void add(Hasher& h, const Fra& f) {
    add(h, f.start);
    add(h, f.end);
    h.real(f.rate);
    add(h, f.terms);
}

void add(Hasher& h, const Future& f) {
    h.mix(static_cast<std::uint64_t>(f.start));
    h.real(f.price);
    h.real(f.convexity);
    add(h, f.tenor);
    add(h, f.day_count);
    h.mix(f.calendar.hash());
    h.mix(static_cast<std::uint64_t>(f.convention));
    add(h, f.index);
}

void add(Hasher& h, const Ois& o) {
    add(h, o.tenor);
    h.real(o.rate);
    add(h, o.terms);
    h.mix(o.payment_frequency);
    h.mix(o.payment_lag);
    add(h, o.index);
}

// The terms mixed in the order they were before a swap held them whole, so its hash keeps
// its value.
void add(Hasher& h, const Swap& s) {
    add(h, s.tenor);
    h.real(s.rate);
    h.mix(s.fixed_frequency);
    add(h, s.terms.day_count);
    add(h, s.float_tenor);
    add(h, s.float_day_count);
    h.mix(s.terms.calendar.hash());
    h.mix(s.terms.settlement_days);
    h.mix(static_cast<std::uint64_t>(s.terms.convention));
}

void add(Hasher& h, const BondQuote& b) {
    bonds::hash_into(h, b.bond.terms());
    h.real(b.clean_price);
}

}  // namespace

std::uint64_t hash_of(const Instrument& i) {
    Hasher h;
    h.mix(i.index());
    std::visit([&h](const auto& x) { add(h, x); }, i);
    return h.value();
}

}  // namespace quelm::curves
