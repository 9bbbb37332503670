#include "quelm/curves/layout.hpp"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <mutex>

#include "quelm/curves/floating_note.hpp"
#include "quelm/dates/schedule.hpp"
#include "quelm/dates/serial.hpp"

namespace quelm::curves {

namespace {

using dates::Serial;

// An error of laying out `what`, named.
std::unexpected<Error> named(const Instrument& what, const Error& e) {
    return std::unexpected(Error{e.kind, describe(what) + ": " + e.text});
}

// Collects dates, then gives each its index among the distinct ones.
struct DateSet {
    std::vector<Serial> dates;
    void add(Serial d) { dates.push_back(d); }
    void finish() {
        std::sort(dates.begin(), dates.end());
        dates.erase(std::unique(dates.begin(), dates.end()), dates.end());
    }
    [[nodiscard]] std::uint32_t index(Serial d) const {
        return static_cast<std::uint32_t>(std::lower_bound(dates.begin(), dates.end(), d) - dates.begin());
    }
};

// A trade's start: at its effective date, rolled by the convention when not a business day,
// or its forward tenor after spot, or spot. On or after the reference date: before it, a
// floating rate would already have fixed.
Result<Serial> start_of(const Trade& trade, const RateTerms& t, Serial reference, bool seasoned = false) {
    if (const auto* d = std::get_if<Serial>(&trade.effective)) {
        QUELM_TRY(start, dates::adjust(t.calendar, *d, t.convention));
        if (start < reference && !seasoned)
            return invalid("starts on " + dates::format_iso(start) + ", before the curve's reference date " +
                           dates::format_iso(reference) + ": seasoned trades need fixings");
        return start;
    }
    QUELM_TRY(spot, spot_date(t.calendar, reference, t.settlement_days));
    if (const auto* f = std::get_if<dates::Tenor>(&trade.effective))
        return dates::advance(t.calendar, spot, *f, t.convention, false);
    return spot;
}

// A simple instrument's end: its tenor after `from`, or its maturity, rolled by the convention.
Result<Serial> end_of(const std::optional<dates::Tenor>& tenor, const Trade& trade, const RateTerms& t, Serial from) {
    if (tenor) return dates::advance(t.calendar, from, *tenor, t.convention, false);
    return dates::adjust(t.calendar, *trade.maturity, t.convention);
}

// A simple forward over [start, end].
Result<Layout> simple(Serial start, Serial end, const dates::DayCount& dc, double quote, double adjustment) {
    if (!(start < end)) return invalid("the period ends on " + dates::format_iso(end) + ", not after its start " +
                                       dates::format_iso(start));
    Layout l;
    l.form = Form::Simple;
    l.proj = {start, end};
    l.disc = {end};
    QUELM_TRY(tau, dates::year_fraction(start, end, dc));
    l.accrual = tau;
    l.adjustment = adjustment;
    l.quote = quote;
    return l;
}

// The span of a swap's schedules, both ends unadjusted: from its start (a start date as
// given: the schedule rolls it, as it rolls the end) to its tenor after that, or to the
// trade's maturity.
struct SwapDates {
    Serial start, end;
};
Result<SwapDates> swap_dates(const std::optional<dates::Tenor>& tenor, const Trade& trade, const RateTerms& t,
                             Serial reference, bool seasoned) {
    QUELM_TRY(first, start_of(trade, t, reference, seasoned));
    // A start date given goes to the schedule as given (it rolls it); the end counts from it.
    const auto* given = std::get_if<Serial>(&trade.effective);
    const Serial start = given ? *given : first;
    if (tenor) {
        QUELM_TRY(end, dates::advance(dates::Calendar::every_day(), start, *tenor, dates::Convention::Unadjusted, false));
        return SwapDates{start, end};
    }
    if (!(start < *trade.maturity))
        return invalid("matures on " + dates::format_iso(*trade.maturity) + ", not after its start " +
                       dates::format_iso(start));
    return SwapDates{start, *trade.maturity};
}

// A schedule from start to end (unadjusted), rolled back from the end.
Result<std::vector<Serial>> roll(SwapDates span, dates::Tenor period, const dates::Calendar& cal,
                                 dates::Convention convention) {
    const Serial start = span.start, end = span.end;
    dates::ScheduleSpec spec{.effective = start,
                             .termination = end,
                             .tenor = period,
                             .calendar = cal,
                             .convention = convention,
                             .termination_convention = convention,
                             .rule = dates::Rule::Backward,
                             .end_of_month = false,
                             .first_date = std::nullopt,
                             .next_to_last_date = std::nullopt};
    QUELM_TRY(s, dates::make_schedule(spec));
    return std::move(s.dates);
}

// The payment dates of a schedule's periods: each end, `lag` business days on.
Result<std::vector<Serial>> payments(const std::vector<Serial>& dates, const dates::Calendar& cal, std::uint32_t lag) {
    std::vector<Serial> out(dates.begin() + 1, dates.end());
    if (lag == 0) return out;
    for (Serial& d : out) {
        QUELM_TRY(paid, dates::advance(cal, d, {static_cast<std::int32_t>(lag), dates::TenorUnit::Days},
                                       dates::Convention::Following, false));
        d = paid;
    }
    return out;
}

// A swap: floating periods on `floats` (forwards over each), fixed periods on `fixeds`,
// each period paid on its date in `float_pay` or `fixed_pay`. The schedules and the
// payment dates are strictly increasing, so the payment dates merge in one pass.
Result<Layout> swap(const std::vector<Serial>& floats, const std::vector<Serial>& float_pay,
                    const std::vector<Serial>& fixeds, const std::vector<Serial>& fixed_pay,
                    const dates::DayCount& fixed_dc, double quote) {
    Layout l;
    l.form = Form::Swap;
    l.proj = floats;
    l.disc.reserve(float_pay.size() + fixed_pay.size());
    std::set_union(float_pay.begin(), float_pay.end(), fixed_pay.begin(), fixed_pay.end(), std::back_inserter(l.disc));
    // Payment indices: each leg's payment dates appear in disc in order.
    const auto indices = [&](const std::vector<Serial>& paid) {
        std::vector<std::uint32_t> at(paid.size(), 0);
        std::size_t j = 0;
        for (std::size_t i = 0; i < paid.size(); ++i) {
            while (l.disc[j] != paid[i]) ++j;
            at[i] = static_cast<std::uint32_t>(j);
        }
        return at;
    };
    const std::vector<std::uint32_t> float_at = indices(float_pay), fixed_at = indices(fixed_pay);
    l.floating.reserve(floats.size() - 1);
    for (std::size_t i = 1; i < floats.size(); ++i)
        l.floating.push_back({static_cast<std::uint32_t>(i - 1), static_cast<std::uint32_t>(i), float_at[i - 1]});
    l.fixed.reserve(fixeds.size() - 1);
    for (std::size_t i = 1; i < fixeds.size(); ++i) {
        QUELM_TRY(tau, dates::year_fraction(fixeds[i - 1], fixeds[i], fixed_dc));
        l.fixed.push_back({tau, fixed_at[i - 1]});
    }
    l.quote = quote;
    return l;
}

Result<Layout> bond_layout(const bonds::DatedBond& bond, Serial reference, double clean_price, bool held) {
    QUELM_TRY(settle, bond.settlement_date(reference));
    QUELM_TRY(payments, bond.payments_after(settle));
    QUELM_TRY(accrued, bond.accrued_at(settle));
    Layout l;
    l.form = Form::Bond;
    DateSet disc;
    disc.add(settle);
    for (const bonds::Payment& p : payments) disc.add(p.date);
    disc.finish();
    for (const bonds::Payment& p : payments) l.flows.push_back({p.amount, disc.index(p.date)});
    l.settle = disc.index(settle);
    l.disc = std::move(disc.dates);
    l.accrued = accrued;
    l.held = held;
    l.quote = clean_price;
    l.bond = &bond;
    return l;
}

Result<Layout> lay(const Deposit& d, Serial reference) {
    const RateTerms& t = d.terms;
    QUELM_TRY(start, start_of(d.trade, t, reference));
    QUELM_TRY(end, end_of(d.tenor, d.trade, t, start));
    return simple(start, end, t.day_count, d.rate, 0.0);
}

// Both tenors count from spot; the trade's dates stand for them.
Result<Layout> lay(const Fra& f, Serial reference) {
    const RateTerms& t = f.terms;
    QUELM_TRY(spot, spot_date(t.calendar, reference, t.settlement_days));
    Serial start = spot;
    if (f.start) {
        QUELM_TRY(s, dates::advance(t.calendar, spot, *f.start, t.convention, false));
        start = s;
    } else {
        QUELM_TRY(s, start_of(f.trade, t, reference));
        start = s;
    }
    QUELM_TRY(end, end_of(f.end, f.trade, t, spot));
    return simple(start, end, t.day_count, f.rate, 0.0);
}

Result<Layout> lay(const Future& f, Serial reference) {
    if (f.start < reference)
        return invalid("starts on " + dates::format_iso(f.start) + ", before the reference date " +
                       dates::format_iso(reference));
    if (f.index) {
        // The exchange's reference period, on its calendar dates: a calendar month, or IMM
        // date to IMM date (the third Wednesday three months on), the rate compounded or
        // averaged over it.
        const dates::Civil c = dates::civil_of(f.start);
        const std::int64_t months = std::int64_t{c.year} * 12 + (c.month - 1) + f.tenor.count;
        const auto year = static_cast<std::int32_t>(months / 12);
        const auto month = static_cast<unsigned>(months % 12 + 1);
        const Serial end = f.tenor.count == 1 ? dates::serial_of(year, month, 1)
                                              : dates::nth_weekday(3, dates::Weekday::Wednesday, year, month);
        return simple(f.start, end, f.day_count, 1.0 - f.price / 100.0, f.convexity);
    }
    QUELM_TRY(start, dates::adjust(f.calendar, f.start, f.convention));
    QUELM_TRY(end, dates::advance(f.calendar, start, f.tenor, f.convention, false));
    return simple(start, end, f.day_count, 1.0 - f.price / 100.0, f.convexity);
}

// How a seasoned swap's floating periods fix: every business day (overnight, compounded)
// or once, `fixing_days` business days before the period starts (a term index).
struct Fixes {
    const dates::Calendar* calendar;
    dates::DayCount day_count;
    bool overnight;
    std::uint32_t fixing_days;
};

// A swap that may have started before the reference date: as swap() on the periods paid
// after it, the floating periods that have fixed reading their fixings (PastFixings).
Result<Layout> seasoned_swap(const std::vector<Serial>& floats, const std::vector<Serial>& float_pay,
                             const std::vector<Serial>& fixeds, const std::vector<Serial>& fixed_pay,
                             const dates::DayCount& fixed_dc, double quote, Serial reference, const Fixes& how) {
    struct Pending {
        Serial from, to, pay;
        PastFixings past;
    };
    DateSet proj, disc;
    std::vector<std::pair<double, Serial>> fixed;
    for (std::size_t i = 1; i < fixeds.size(); ++i) {
        if (fixed_pay[i - 1] <= reference) continue;  // paid
        QUELM_TRY(tau, dates::year_fraction(fixeds[i - 1], fixeds[i], fixed_dc));
        fixed.emplace_back(tau, fixed_pay[i - 1]);
        disc.add(fixed_pay[i - 1]);
    }
    std::vector<Pending> floating;
    const dates::Calendar& cal = *how.calendar;
    for (std::size_t i = 1; i < floats.size(); ++i) {
        const Serial pay = float_pay[i - 1];
        if (pay <= reference) continue;
        const Serial s = floats[i - 1], e = floats[i];
        Pending p{s, e, pay, {}};
        if (how.overnight) {
            // Each business day before the reference date has fixed; the forward part runs
            // from the first that has not (the value date of the next fixing).
            Serial d = s;
            while (d < e && d < reference) {
                QUELM_TRY(next, dates::advance(cal, d, {1, dates::TenorUnit::Days}, dates::Convention::Following, false));
                const Serial to = std::min(next, e);
                QUELM_TRY(tau, dates::year_fraction(d, to, how.day_count));
                p.past.dates.push_back(d);
                p.past.accruals.push_back(tau);
                d = to;
            }
            p.from = d;
            if (d >= e) p.from = p.to = std::max(e, reference);
        } else {
            QUELM_TRY(fixing, dates::advance(cal, s, {-static_cast<std::int32_t>(how.fixing_days), dates::TenorUnit::Days},
                                             dates::Convention::Preceding, false));
            if (fixing < reference) {
                QUELM_TRY(tau, dates::year_fraction(s, e, how.day_count));
                p.past.dates.push_back(fixing);
                p.past.accruals.push_back(tau);
                p.from = p.to = std::max(e, reference);
            }
        }
        proj.add(p.from);
        proj.add(p.to);
        disc.add(pay);
        floating.push_back(std::move(p));
    }
    // Every payment made: an empty swap, worth nothing.
    proj.finish();
    disc.finish();
    Layout l;
    l.form = Form::Swap;
    for (Pending& p : floating) {
        if (!p.past.dates.empty()) {
            p.past.period = static_cast<std::uint32_t>(l.floating.size());
            l.past.push_back(std::move(p.past));
        }
        l.floating.push_back({proj.index(p.from), proj.index(p.to), disc.index(p.pay)});
    }
    for (const auto& [tau, pay] : fixed) l.fixed.push_back({tau, disc.index(pay)});
    l.proj = std::move(proj.dates);
    l.disc = std::move(disc.dates);
    l.quote = quote;
    return l;
}

Result<Layout> lay(const Ois& o, Serial reference, bool seasoned = false) {
    const RateTerms& t = o.terms;
    QUELM_TRY(span, swap_dates(o.tenor, o.trade, t, reference, seasoned));
    const dates::Tenor period{static_cast<std::int32_t>(12 / o.payment_frequency), dates::TenorUnit::Months};
    QUELM_TRY(dates, roll(span, period, t.calendar, t.convention));
    QUELM_TRY(paid, payments(dates, t.calendar, o.payment_lag));
    if (seasoned && dates.front() < reference)
        return seasoned_swap(dates, paid, dates, paid, t.day_count, o.rate, reference,
                             {&t.calendar, t.day_count, true, 0});
    return swap(dates, paid, dates, paid, t.day_count, o.rate);
}

Result<Layout> lay(const Swap& s, Serial reference, bool seasoned = false) {
    const RateTerms& t = s.terms;
    QUELM_TRY(span, swap_dates(s.tenor, s.trade, t, reference, seasoned));
    const dates::Tenor fixed_period{static_cast<std::int32_t>(12 / s.fixed_frequency), dates::TenorUnit::Months};
    QUELM_TRY(fixeds, roll(span, fixed_period, t.calendar, t.convention));
    QUELM_TRY(floats, roll(span, s.float_tenor, t.calendar, t.convention));
    QUELM_TRY(float_pay, payments(floats, t.calendar, 0));
    QUELM_TRY(fixed_pay, payments(fixeds, t.calendar, 0));
    // A spot-starting swap fixes on the trade date itself: read from the curve, not fixed.
    if (seasoned && floats.front() < reference)
        return seasoned_swap(floats, float_pay, fixeds, fixed_pay, t.day_count, s.rate, reference,
                             {&t.calendar, s.float_day_count, false, t.settlement_days});
    return swap(floats, float_pay, fixeds, fixed_pay, t.day_count, s.rate);
}

Result<Layout> note_layout(const FloatingRateNote& n, Serial reference) {
    QUELM_TRY(dates, roll({n.effective, n.maturity}, n.index_tenor, n.calendar, n.convention));
    QUELM_TRY(paid, payments(dates, n.calendar, 0));
    QUELM_TRY(l, seasoned_swap(dates, paid, dates, paid, n.day_count, n.spread, reference,
                               {&n.calendar, n.day_count, false, n.fixing_days}));
    l.form = Form::Note;
    // The face is paid with the last coupon: on its date, after the reference date or not at all.
    if (paid.back() > reference)
        l.flows.push_back({1.0, static_cast<std::uint32_t>(l.disc.size() - 1)});
    return l;
}

Result<Layout> lay(const BondQuote& b, Serial reference) {
    return bond_layout(b.bond, reference, b.clean_price, false);
}

}  // namespace

Result<Serial> spot_date(const dates::Calendar& cal, Serial reference, std::uint32_t days) {
    QUELM_TRY(today, dates::adjust(cal, reference, dates::Convention::Following));
    return dates::advance(cal, today, {static_cast<std::int32_t>(days), dates::TenorUnit::Days},
                          dates::Convention::Following, false);
}

Result<Layout> lay_out(const Instrument& instrument, Serial reference) {
    Result<Layout> l = std::visit([&](const auto& x) { return lay(x, reference); }, instrument);
    if (!l) return named(instrument, l.error());
    return l;
}

Result<Layout> lay_out_note(const FloatingRateNote& n, Serial reference) {
    Result<Layout> l = note_layout(n, reference);
    if (!l) return std::unexpected(Error{l.error().kind, describe(n) + ": " + l.error().text});
    return l;
}

namespace {
// A note's kept layout: the note it was laid out from (without its memo) and the date.
struct LaidNote {
    Serial reference = 0;
    FloatingRateNote note;
    Layout layout;
};
}  // namespace

Result<std::shared_ptr<const Layout>> lay_out_note_kept(const FloatingRateNote& n, Serial reference) {
    if (auto kept = n.memo.last_as<LaidNote>(); kept && kept->reference == reference && kept->note == n)
        return std::shared_ptr<const Layout>(kept, &kept->layout);
    auto laid = std::make_shared<LaidNote>();
    laid->reference = reference;
    laid->note = n;
    laid->note.memo = LayoutMemo{};  // a memo holding its own note would never be freed
    QUELM_TRY(layout, lay_out_note(n, reference));
    laid->layout = std::move(layout);
    std::shared_ptr<const LaidNote> done = std::move(laid);
    n.memo.keep_any(done);
    return std::shared_ptr<const Layout>(done, &done->layout);
}

Result<Layout> lay_out_seasoned(const Instrument& instrument, Serial reference) {
    Result<Layout> l = std::visit(
        [&](const auto& x) {
            using X = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<X, Ois> || std::is_same_v<X, Swap>) return lay(x, reference, true);
            else return lay(x, reference);
        },
        instrument);
    if (!l) return named(instrument, l.error());
    return l;
}

Status apply_fixings(Layout& l, const std::function<Result<double>(Serial)>& rate) {
    for (const PastFixings& p : l.past) {
        double growth = 1.0;
        for (std::size_t k = 0; k < p.dates.size(); ++k) {
            QUELM_TRY(r, rate(p.dates[k]));
            growth *= 1.0 + r * p.accruals[k];
        }
        l.floating[p.period].growth = growth;
    }
    return {};
}

struct LayoutMemo::Cell {
#if defined(__cpp_lib_atomic_shared_ptr)
    std::atomic<std::shared_ptr<const void>> last;
    std::shared_ptr<const void> load() const { return last.load(std::memory_order_acquire); }
    void store(std::shared_ptr<const void> laid) { last.store(std::move(laid), std::memory_order_release); }
#else
    // A standard library without std::atomic<std::shared_ptr> (libc++ 16): a lock instead.
    mutable std::mutex lock;
    std::shared_ptr<const void> last;
    std::shared_ptr<const void> load() const {
        const std::lock_guard<std::mutex> hold(lock);
        return last;
    }
    void store(std::shared_ptr<const void> laid) {
        const std::lock_guard<std::mutex> hold(lock);
        last = std::move(laid);
    }
#endif
};

LayoutMemo LayoutMemo::fresh() {
    LayoutMemo m;
    m.cell_ = std::make_shared<Cell>();
    return m;
}

std::shared_ptr<const void> LayoutMemo::last_any() const {
    return cell_ ? cell_->load() : nullptr;
}

void LayoutMemo::keep_any(std::shared_ptr<const void> laid) const {
    if (cell_) cell_->store(std::move(laid));
}

Result<std::shared_ptr<const Layout>> lay_out_kept(const Instrument& instrument, Serial reference) {
    const LayoutMemo& memo = std::visit([](const auto& x) -> const LayoutMemo& { return x.memo; }, instrument);
    if (auto kept = memo.last(); kept && kept->reference == reference && kept->instrument == instrument)
        return std::shared_ptr<const Layout>(kept, &kept->layout);
    auto laid = std::make_shared<LaidOut>();
    laid->reference = reference;
    laid->instrument = instrument;
    // The copy drops the memo: a memo holding its own instrument would never be freed.
    std::visit([](auto& x) { x.memo = LayoutMemo{}; }, laid->instrument);
    QUELM_TRY(layout, lay_out(laid->instrument, reference));
    laid->layout = std::move(layout);
    std::shared_ptr<const LaidOut> done = std::move(laid);
    memo.keep(done);
    return std::shared_ptr<const Layout>(done, &done->layout);
}

Result<Layout> lay_out_held(const bonds::DatedBond& bond, Serial reference) {
    return bond_layout(bond, reference, 0.0, true);
}

namespace {
// Distinct dates, ascending, and each flow against its date's index.
void place(std::span<const Flow> flows, std::vector<Serial>& dates, std::vector<BondFlow>& out) {
    for (const Flow& f : flows) dates.push_back(f.date);
    std::sort(dates.begin(), dates.end());
    dates.erase(std::unique(dates.begin(), dates.end()), dates.end());
    for (const Flow& f : flows) {
        const auto at = std::lower_bound(dates.begin(), dates.end(), f.date) - dates.begin();
        out.push_back({f.amount, static_cast<std::uint32_t>(at)});
    }
}
}  // namespace

Layout lay_out_flows(std::span<const Flow> flows) {
    Layout l;
    l.form = Form::Bond;
    l.held = true;
    place(flows, l.disc, l.flows);
    return l;
}

Layout lay_out_linear(std::span<const Flow> on_projection, std::span<const Flow> on_discount) {
    Layout l;
    l.form = Form::Linear;
    place(on_projection, l.proj, l.proj_flows);
    place(on_discount, l.disc, l.flows);
    return l;
}

Serial last_date(const Layout& l, bool projection_only) {
    Serial last = l.proj.empty() ? l.disc.front() : l.proj.back();
    if (!projection_only && !l.disc.empty()) last = std::max(last, l.disc.back());
    return last;
}

double model_quote(const Layout& l, std::span<const double> dp, std::span<const double> dd, double weight,
                   std::span<double> gp, std::span<double> gd) {
    const bool grad = !gp.empty() || !gd.empty();
    switch (l.form) {
        case Form::Simple: {
            const double ratio = dp[0] / dp[1];
            const double f = (ratio - 1.0) / l.accrual;
            if (grad) {
                gp[0] += weight / (dp[1] * l.accrual);
                gp[1] -= weight * ratio / (dp[1] * l.accrual);
            }
            return f + l.adjustment;
        }
        case Form::Swap: {
            double floating = 0.0, annuity = 0.0;
            for (const FloatPeriod& p : l.floating) floating += (p.growth * dp[p.start] / dp[p.end] - 1.0) * dd[p.pay];
            for (const FixedPeriod& p : l.fixed) annuity += p.accrual * dd[p.pay];
            const double par = floating / annuity;
            if (grad) {
                const double w = weight / annuity;
                for (const FloatPeriod& p : l.floating) {
                    const double ratio = p.growth * dp[p.start] / dp[p.end];
                    gp[p.start] += w * p.growth * dd[p.pay] / dp[p.end];
                    gp[p.end] -= w * ratio * dd[p.pay] / dp[p.end];
                    gd[p.pay] += w * (ratio - 1.0);
                }
                for (const FixedPeriod& p : l.fixed) gd[p.pay] -= w * par * p.accrual;
            }
            return par;
        }
        case Form::Note:
        case Form::Linear: return position_value(l, dp, dd, weight, gp, gd);
        case Form::Bond: {
            double pv = 0.0;
            for (const BondFlow& f : l.flows) pv += f.amount * dd[f.pay];
            const double ds = dd[l.settle];
            if (grad) {
                for (const BondFlow& f : l.flows) gd[f.pay] += weight * f.amount / ds;
                gd[l.settle] -= weight * pv / (ds * ds);
            }
            return pv / ds - l.accrued;
        }
    }
    return 0.0;
}

double position_value(const Layout& l, std::span<const double> dp, std::span<const double> dd, double weight,
                      std::span<double> gp, std::span<double> gd) {
    const bool grad = !gp.empty() || !gd.empty();
    switch (l.form) {
        case Form::Simple: {
            // A FRA receiving the quote: accrual × (quote - model quote), paid at the end.
            const double q = model_quote(l, dp, dd, grad ? -weight * l.accrual * dd[0] : 0.0, gp, gd);
            if (grad) gd[0] += weight * l.accrual * (l.quote - q);
            return l.accrual * dd[0] * (l.quote - q);
        }
        case Form::Swap: {
            double floating = 0.0, annuity = 0.0;
            for (const FloatPeriod& p : l.floating) floating += (p.growth * dp[p.start] / dp[p.end] - 1.0) * dd[p.pay];
            for (const FixedPeriod& p : l.fixed) annuity += p.accrual * dd[p.pay];
            if (grad) {
                for (const FloatPeriod& p : l.floating) {
                    const double ratio = p.growth * dp[p.start] / dp[p.end];
                    gp[p.start] -= weight * p.growth * dd[p.pay] / dp[p.end];
                    gp[p.end] += weight * ratio * dd[p.pay] / dp[p.end];
                    gd[p.pay] -= weight * (ratio - 1.0);
                }
                for (const FixedPeriod& p : l.fixed) gd[p.pay] += weight * l.quote * p.accrual;
            }
            return l.quote * annuity - floating;
        }
        case Form::Note: {
            // Held: the floating coupons, the spread on their accruals and the face.
            double floating = 0.0, annuity = 0.0, face = 0.0;
            for (const FloatPeriod& p : l.floating) floating += (p.growth * dp[p.start] / dp[p.end] - 1.0) * dd[p.pay];
            for (const FixedPeriod& p : l.fixed) annuity += p.accrual * dd[p.pay];
            for (const BondFlow& f : l.flows) face += f.amount * dd[f.pay];
            if (grad) {
                for (const FloatPeriod& p : l.floating) {
                    const double ratio = p.growth * dp[p.start] / dp[p.end];
                    gp[p.start] += weight * p.growth * dd[p.pay] / dp[p.end];
                    gp[p.end] -= weight * ratio * dd[p.pay] / dp[p.end];
                    gd[p.pay] += weight * (ratio - 1.0);
                }
                for (const FixedPeriod& p : l.fixed) gd[p.pay] += weight * l.quote * p.accrual;
                for (const BondFlow& f : l.flows) gd[f.pay] += weight * f.amount;
            }
            return floating + l.quote * annuity + face;
        }
        case Form::Bond: {
            double pv = 0.0;
            for (const BondFlow& f : l.flows) pv += f.amount * dd[f.pay];
            if (grad) {
                for (const BondFlow& f : l.flows) gd[f.pay] += weight * f.amount;
            }
            if (l.held) return pv;
            const double cost = l.quote + l.accrued;
            if (grad) gd[l.settle] -= weight * cost;
            return pv - dd[l.settle] * cost;
        }
        case Form::Linear: {
            double v = 0.0;
            for (const BondFlow& f : l.proj_flows) v += f.amount * dp[f.pay];
            for (const BondFlow& f : l.flows) v += f.amount * dd[f.pay];
            if (grad) {
                for (const BondFlow& f : l.proj_flows) gp[f.pay] += weight * f.amount;
                for (const BondFlow& f : l.flows) gd[f.pay] += weight * f.amount;
            }
            return v;
        }
    }
    return 0.0;
}

}  // namespace quelm::curves
