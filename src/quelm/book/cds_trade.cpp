#include "quelm/book/cds_trade.hpp"

#include "quelm/book/trade_parts.hpp"
#include "quelm/credit/bootstrap.hpp"
#include "quelm/credit/cds_slopes.hpp"
#include "quelm/credit/cds_value.hpp"
#include "quelm/curves/instrument.hpp"

namespace quelm::book {

namespace {

using parts::named;

constexpr double kBp = 1e-4;

// The contract as held at the market's date.
Result<credit::Cds> at_market(const credit::Cds& cds, const Market& market) {
    const dates::Serial reference = market.reference_date();
    const credit::CdsTerms& t = cds.terms;
    if (t.trade_date == reference) return cds;
    if (t.trade_date > reference)
        return bad_argument("traded on " + dates::format_iso(t.trade_date) + ", after the market's date " +
                            dates::format_iso(reference));
    if (t.maturity <= reference + 1)
        return bad_argument("matured on " + dates::format_iso(t.maturity) + ", before the market's date " +
                            dates::format_iso(reference) + " steps in");
    credit::CdsTerms moved = t;
    moved.trade_date = reference;
    return credit::make_cds(moved);
}

Result<std::string> only_one(const std::string& given, std::vector<std::string_view> names, const char* kind,
                             const char* keyword) {
    if (!given.empty()) return given;
    if (names.size() == 1) return std::string(names[0]);
    return bad_argument(std::string("name its ") + kind + " (" + keyword + "=...); the market has " +
                        (names.empty() ? std::string("no ") + kind : join_names(names)));
}

}  // namespace

std::vector<std::string> credit_quote_labels(const std::string& name, const credit::CreditCurve& curve) {
    std::vector<std::string> out;
    if (!curve.quotes()) return out;
    for (const credit::CdsQuote& q : curve.quotes()->quotes)
        out.push_back(name + " " +
                      (q.tenor ? curves::tenor_text(*q.tenor) : dates::format_iso(q.cds.terms.maturity)));
    return out;
}

Result<CdsCurves> cds_curves(const credit::Cds& cds, const Market& market) {
    CdsCurves c;
    QUELM_TRY(credit, only_one(cds.terms.credit_curve, market.credit_curves().names(), "credit curve", "credit_curve"));
    // Unnamed, the discount curve is the market's curve the credit curve was bootstrapped on,
    // else the market's only curve.
    std::string discount = cds.terms.discount_curve;
    if (discount.empty()) {
        // (an unknown credit curve is reported where it is read, naming the trade's curve)
        auto curve = market.credit_curve(credit);
        if (const auto& quotes = curve ? (*curve)->quotes() : nullptr; quotes && quotes->discount)
            for (const auto& item : market.curves().items())
                if (item.value == quotes->discount || *item.value == *quotes->discount) {
                    discount = item.name;
                    break;
                }
    }
    if (discount.empty()) {
        QUELM_TRY(only, only_one(discount, market.curves().names(), "discount curve", "discount_curve"));
        discount = std::move(only);
    }
    c.credit = std::move(credit);
    c.discount = std::move(discount);
    return c;
}

Result<MarketTradeValue> value_cds(const credit::Cds& cds, const Market& market, bool with_risk) {
    auto names = cds_curves(cds, market);
    if (!names) return std::unexpected(named("cds", names.error()));
    // The credit domain's messages start "cds: ", which the trade's name replaces.
    const auto fail = [&](Error e) {
        if (e.text.starts_with("cds: ")) e.text.erase(0, 5);
        return std::unexpected(named("cds on " + names->credit, e));
    };
    auto held = at_market(cds, market);
    if (!held) return fail(held.error());
    auto credit = market.credit_curve(names->credit);
    if (!credit) return fail(credit.error());
    auto d = parts::discounting(market, names->discount);
    if (!d) return fail(d.error());
    auto npv = credit::cds_npv(*held, **credit, *d->curve);
    if (!npv) return fail(npv.error());
    MarketTradeValue v;
    v.value = *npv;
    if (!with_risk) return v;
    auto slopes = credit::cds_slopes(*held, **credit, *d->curve);
    if (!slopes) return fail(slopes.error());
    const auto labels = credit_quote_labels(names->credit, **credit);
    for (std::size_t k = 0; k < labels.size(); ++k) v.quotes.push_back({labels[k], slopes->quotes[k] * kBp});
    if (!d->index)
        return fail(Error{Kind::Argument, "curve " + names->discount +
                                              " discounts on a curve from outside the market: its quotes have no "
                                              "labels to be risked by"});
    v.legs.push_back({*d->index, std::make_shared<const curves::Layout>(curves::lay_out_flows(slopes->discount))});
    return v;
}

}  // namespace quelm::book
