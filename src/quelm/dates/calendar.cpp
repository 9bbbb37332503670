#include "quelm/dates/calendar.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace quelm::dates {

Result<Calendar> Calendar::parse(std::string_view name) {
    Calendar cal;
    std::size_t start = 0;
    while (true) {
        const std::size_t plus = name.find('+', start);
        const std::string_view part = name.substr(start, plus == std::string_view::npos ? plus : plus - start);
        auto m = parse_choice(kMarkets, part);
        if (!m) return bad_argument(m.error());
        cal.markets_ = static_cast<std::uint8_t>(cal.markets_ | (1u << static_cast<unsigned>(*m)));
        if (plus == std::string_view::npos) break;
        start = plus + 1;
    }
    return cal;
}

namespace {

// Each market's rules evaluated once per process for every day of a span, one bit a day:
// schedules and bootstraps ask for the same few thousand days over and over. Outside the
// span the rules answer directly; inside, the bit is the rule's own answer.
constexpr Serial kTableFirst = serial_of(1950, 1, 1);
constexpr Serial kTableLast = serial_of(2150, 12, 31);
constexpr std::size_t kTableWords = static_cast<std::size_t>(kTableLast - kTableFirst) / 64 + 1;

struct HolidayTable {
    std::array<std::uint64_t, kTableWords> bits{};
    [[nodiscard]] bool closed(Serial s) const {
        const auto k = static_cast<std::size_t>(s - kTableFirst);
        return (bits[k / 64] >> (k % 64) & 1u) != 0;
    }
};

HolidayTable build_table(Market m) {
    HolidayTable t;
    for (Serial s = kTableFirst; s <= kTableLast; ++s) {
        if (!market_holiday(m, s, civil_of(s))) continue;
        const auto k = static_cast<std::size_t>(s - kTableFirst);
        t.bits[k / 64] |= std::uint64_t{1} << (k % 64);
    }
    return t;
}

template <Market M>
const HolidayTable& table() {
    static const HolidayTable t = build_table(M);  // built on first use, once, thread-safe
    return t;
}

bool table_closed(Market m, Serial s) {
    switch (m) {
        case Market::Weekends: return false;
        case Market::Target: return table<Market::Target>().closed(s);
        case Market::Uk: return table<Market::Uk>().closed(s);
        case Market::UsGovernmentBond: return table<Market::UsGovernmentBond>().closed(s);
        case Market::UsNyse: return table<Market::UsNyse>().closed(s);
        case Market::Japan: return table<Market::Japan>().closed(s);
    }
    return false;
}

// The union of the tables of a set of markets (bits 1.. of a calendar's mask), built on
// first use and kept for the process: one lookup a day however many markets are joined.
constexpr std::size_t kMarketSets = std::size_t{1} << (kMarketCount - 1);

const HolidayTable& joined_table(std::uint8_t markets) {
    static std::array<std::atomic<const HolidayTable*>, kMarketSets> joined{};
    std::atomic<const HolidayTable*>& slot = joined[(markets >> 1) & (kMarketSets - 1)];
    if (const HolidayTable* t = slot.load(std::memory_order_acquire)) return *t;
    auto* made = new HolidayTable{};
    for (std::size_t i = 1; i < kMarketCount; ++i) {
        if ((markets >> i & 1u) == 0) continue;
        for (Serial s = kTableFirst; s <= kTableLast; ++s) {
            if (!table_closed(static_cast<Market>(i), s)) continue;
            const auto k = static_cast<std::size_t>(s - kTableFirst);
            made->bits[k / 64] |= std::uint64_t{1} << (k % 64);
        }
    }
    const HolidayTable* expected = nullptr;
    if (slot.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) return *made;
    delete made;  // another thread built the same table first
    return *expected;
}

}  // namespace

bool Calendar::market_closed(Serial s) const {
    if (s >= kTableFirst && s <= kTableLast) return joined_table(markets_).closed(s);
    const Civil c = civil_of(s);
    for (std::size_t i = 1; i < kMarketCount; ++i) {
        if ((markets_ >> i & 1u) != 0 && market_holiday(static_cast<Market>(i), s, c)) return true;
    }
    return false;
}

Years Calendar::covered_years() const {
    Years out = kMarketYears[0];
    for (std::size_t i = 1; i < kMarketCount; ++i) {
        if ((markets_ >> i & 1u) == 0) continue;
        out.first = std::max(out.first, kMarketYears[i].first);
        out.last = std::min(out.last, kMarketYears[i].last);
    }
    return out;
}

Status Calendar::check_covers(Serial a, Serial b) const {
    if (markets_ <= 1) return {};  // weekends and extra days only: every year
    const Years years = covered_years();
    const Serial lo = std::min(a, b), hi = std::max(a, b);
    Serial outside = lo;  // the end of the span that lies outside
    if (lo >= serial_of(years.first, 1, 1)) {
        if (hi <= serial_of(years.last, 12, 31)) return {};
        outside = hi;
    }
    return invalid("date " + format_iso(outside) + " is outside the years the " + name() + " calendar covers (" +
                   std::to_string(years.first) + "-" + std::to_string(years.last) + ")");
}

bool Calendar::is_extra(Serial s) const { return std::binary_search(extra_.begin(), extra_.end(), s); }

Calendar Calendar::with_holidays(std::span<const Serial> dates) const {
    Calendar out = *this;
    for (const Serial s : dates) {
        if (is_business_day(s)) out.extra_.push_back(s);
    }
    std::sort(out.extra_.begin(), out.extra_.end());
    out.extra_.erase(std::unique(out.extra_.begin(), out.extra_.end()), out.extra_.end());
    return out;
}

Serial Calendar::end_of_month(Serial s) const {
    Serial e = dates::end_of_month(s);
    while (!is_business_day(e)) --e;
    return e;
}

bool Calendar::is_end_of_month(Serial s) const {
    // The last business day of its month: the next business day is in another month.
    Serial n = s + 1;
    while (!is_business_day(n)) ++n;
    return civil_of(n).month != civil_of(s).month;
}

Result<std::int64_t> Calendar::business_days_between(Serial start, Serial end, Cancel& cancel) const {
    const bool negative = end < start;
    const Serial a = negative ? end : start, b = negative ? start : end;
    // The days counted are [a, b); an error names the date given.
    if (!check_covers(a, b > a ? b - 1 : a)) QUELM_CHECK(check_covers(a, b));
    std::int64_t n = 0;
    CancelPoller poller(cancel);
    for (Serial s = a; s < b; ++s) {
        if (poller.tick()) return cancelled();
        n += is_business_day(s) ? 1 : 0;
    }
    return negative ? -n : n;
}

Result<std::vector<Serial>> Calendar::holidays(Serial start, Serial end, Cancel& cancel) const {
    QUELM_CHECK(check_covers(start, end));
    std::vector<Serial> out;
    CancelPoller poller(cancel);
    for (Serial s = start; s <= end; ++s) {
        if (poller.tick()) return cancelled();
        if (!(weekends_ && is_weekend(s)) && !is_business_day(s)) out.push_back(s);
    }
    return out;
}

std::string Calendar::name() const {
    std::string out;
    for (std::size_t i = 1; i < kMarketCount; ++i) {
        if ((markets_ >> i & 1u) == 0) continue;
        if (!out.empty()) out += '+';
        out += kMarketNames[i];
    }
    return out.empty() ? std::string(kMarketNames[0]) : out;
}

std::uint64_t Calendar::hash() const {
    std::uint64_t h = 0x9e3779b97f4a7c15ull ^ markets_ ^ (weekends_ ? 0u : 0x100u);
    for (const Serial s : extra_) h = (h ^ static_cast<std::uint32_t>(s)) * 0x100000001b3ull;
    return h;
}

}  // namespace quelm::dates
