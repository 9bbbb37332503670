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

// A tenor a trade's date may stand for: as a tenor when given.
void add(Hasher& h, const std::optional<dates::Tenor>& t) {
    if (t) add(h, *t);
    else h.mix(~std::uint64_t{0});
}

// The trade's terms only when they are not the plain quote's, so a quote's hash keeps the
// value it had before quotes were trades.
void add(Hasher& h, const Trade& t) {
    // Curve names only when named, for the same reason.
    if (!t.curve.empty() || !t.discount_curve.empty()) {
        for (const std::string* name : {&t.curve, &t.discount_curve}) {
            h.mix(name->size());
            for (const char c : *name) h.mix(static_cast<unsigned char>(c));
        }
    }
    if (t.plain()) return;
    h.real(t.notional);
    h.mix(t.effective.index());
    if (const auto* d = std::get_if<dates::Serial>(&t.effective)) h.mix(static_cast<std::uint64_t>(*d));
    if (const auto* f = std::get_if<dates::Tenor>(&t.effective)) add(h, *f);
    h.mix(t.maturity ? static_cast<std::uint64_t>(*t.maturity) : ~std::uint64_t{0});
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
    add(h, d.trade);
}

void add(Hasher& h, const Fra& f) {
    add(h, f.start);
    add(h, f.end);
    h.real(f.rate);
    add(h, f.terms);
    add(h, f.trade);
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
    add(h, f.trade);
}

void add(Hasher& h, const Ois& o) {
    add(h, o.tenor);
    h.real(o.rate);
    add(h, o.terms);
    h.mix(o.payment_frequency);
    h.mix(o.payment_lag);
    add(h, o.index);
    add(h, o.trade);
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
    add(h, s.trade);
}

void add(Hasher& h, const BondQuote& b) {
    bonds::hash_into(h, b.bond.terms());
    h.real(b.clean_price);
    add(h, b.trade);
}

}  // namespace

std::uint64_t hash_of(const Instrument& i) {
    Hasher h;
    h.mix(i.index());
    std::visit([&h](const auto& x) { add(h, x); }, i);
    return h.value();
}

}  // namespace quelm::curves
