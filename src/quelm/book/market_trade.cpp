#include "quelm/book/market_trade.hpp"

#include <cmath>

#include "quelm/book/trade.hpp"
#include "quelm/book/trade_parts.hpp"
#include "quelm/core/text.hpp"
#include "quelm/curves/pricing.hpp"

namespace quelm::book {

namespace {

using parts::named;

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

}  // namespace

Status check(const FxForward& f) {
    if (!(std::isfinite(f.strike) && f.strike > 0.0))
        return bad_argument("fx forward: strike must be positive and finite, got " + format_number(f.strike));
    if (!std::isfinite(f.notional))
        return bad_argument("fx forward: notional must be finite, got " + format_number(f.notional));
    return {};
}

Status check(const EuropeanOption& o) {
    if (o.underlying.empty()) return bad_argument("european option: underlying must not be empty");
    if (!(std::isfinite(o.strike) && o.strike > 0.0))
        return bad_argument("european option: strike must be positive and finite, got " + format_number(o.strike));
    if (!std::isfinite(o.notional))
        return bad_argument("european option: notional must be finite, got " + format_number(o.notional));
    return {};
}

Status check(const FxOption& o) {
    if (!(std::isfinite(o.strike) && o.strike > 0.0))
        return bad_argument("fx option: strike must be positive and finite, got " + format_number(o.strike));
    if (!std::isfinite(o.notional))
        return bad_argument("fx option: notional must be finite, got " + format_number(o.notional));
    return {};
}

std::string describe(const FxOption& o) {
    return "<FxOption " + o.pair + " " + std::string(o.type == OptionType::Call ? "call" : "put") + " " +
           format_number(o.strike) + " expiring " + dates::format_iso(o.expiry) + ">";
}

std::string describe(const FxForward& f) {
    return "<FxForward " + f.pair + " " + format_number(f.strike) + " on " + dates::format_iso(f.maturity) + ">";
}

std::string describe(const EuropeanOption& o) {
    return "<EuropeanOption " + std::string(o.type == OptionType::Call ? "call" : "put") + " on " + o.underlying +
           " " + format_number(o.strike) + " expiring " + dates::format_iso(o.expiry) + (o.by_fd ? " by fd>" : ">");
}

Result<std::string> currency_curve(const Market& market, std::string_view currency, std::string_view keyword) {
    const std::string prefix = lower(currency) + "-";
    std::vector<std::string_view> found;
    for (const auto& c : market.curves().items())
        if (c.name.starts_with(prefix) && curves::pricing_curves(*c.value, nullptr).discount == c.value.get())
            found.push_back(c.name);
    if (found.size() == 1) return std::string(found[0]);
    const std::string lead = found.empty() ? "the market has no " + lower(currency) + " curve that discounts on itself"
                                           : "the market has several " + lower(currency) + " curves (" +
                                                 join_names(found) + ")";
    return bad_argument(lead + ": name one (" + std::string(keyword) + "=...); the market has " +
                        join_names(market.curves().names()));
}

Result<MarketTradeValue> value_fx_forward(const FxForward& f, const Market& market, bool with_risk) {
    // The trade's name is made only for an error.
    const auto fail = [&](const Error& e) { return std::unexpected(named("fx forward " + f.pair, e)); };
    if (f.maturity <= market.reference_date())
        return fail(Error{Kind::Argument, "matured on " + dates::format_iso(f.maturity) + ", not after the market's date " +
                                              dates::format_iso(market.reference_date())});
    auto at = parts::pair_at(market, f.pair, f.domestic_curve, f.foreign_curve, f.maturity);
    if (!at) return fail(at.error());
    const double spot = at->spot, pd = at->pd, pf = at->pf;
    MarketTradeValue v;
    v.value = f.notional * (spot * pf - f.strike * pd);
    if (!with_risk) return v;
    auto foreign_leg = parts::leg_on(at->foreign, at->names.foreign, f.maturity, f.notional * spot);
    if (!foreign_leg) return fail(foreign_leg.error());
    auto domestic_leg = parts::leg_on(at->domestic, at->names.domestic, f.maturity, -f.notional * f.strike);
    if (!domestic_leg) return fail(domestic_leg.error());
    v.legs = {std::move(*foreign_leg), std::move(*domestic_leg)};
    v.fx = parts::fx_deltas(market, f.pair, f.notional * pf);
    return v;
}

}  // namespace quelm::book
