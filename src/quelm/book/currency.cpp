#include "quelm/book/currency.hpp"

#include "quelm/book/cds_trade.hpp"
#include "quelm/book/fx.hpp"

namespace quelm::book {

namespace {

bool letters(std::string_view s) {
    for (const char c : s)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
    return true;
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

}  // namespace

Result<std::string> curve_currency(std::string_view curve) {
    if (curve.size() > 4 && curve[3] == '-' && letters(curve.substr(0, 3))) return upper(curve.substr(0, 3));
    return bad_argument("curve " + std::string(curve) +
                        " does not say its currency: a book reports in one currency when its curves are named "
                        "by currency first (\"usd-sofr\")");
}

Result<std::string> parse_currency(std::string_view text) {
    if (text.size() == 3 && letters(text)) return upper(text);
    return bad_argument("currency \"" + std::string(text) + "\" is not three letters, such as \"USD\"");
}

Result<std::string> trade_currency(const Position& p, const PricedOn& on, const Market& market) {
    if (const auto* f = std::get_if<FxForward>(&p)) return f->pair.substr(3);
    if (const auto* x = std::get_if<FxOption>(&p)) return x->premium_in_base ? x->pair.substr(0, 3) : x->pair.substr(3);
    // An option on a surface reports in its discount curve's currency.
    const auto option_currency = [&](const std::string& curve, const std::string& underlying) -> Result<std::string> {
        if (!curve.empty()) return curve_currency(curve);
        const auto names = market.curves().names();
        if (names.size() == 1) return curve_currency(names[0]);
        return bad_argument("option on " + underlying + ": name its curve (curve=...); the market has " +
                            join_names(names));
    };
    if (const auto* o = std::get_if<EuropeanOption>(&p)) return option_currency(o->curve, o->underlying);
    if (const auto* a = std::get_if<AmericanOption>(&p)) return option_currency(a->curve, a->underlying);
    if (const auto* b = std::get_if<BarrierOption>(&p)) return option_currency(b->curve, b->underlying);
    if (const auto* c = std::get_if<credit::Cds>(&p)) {
        QUELM_TRY(names, cds_curves(*c, market));
        return curve_currency(names.discount);
    }
    // A swaption or a cap reports in its projection curve's currency.
    if (const auto* s = std::get_if<rates::Swaption>(&p)) {
        QUELM_TRY(curve, rate_option_curve(s->curve, market, "swaption"));
        return curve_currency(curve);
    }
    if (const auto* b = std::get_if<rates::BermudanSwaption>(&p)) {
        QUELM_TRY(curve, rate_option_curve(b->curve, market, "Bermudan swaption"));
        return curve_currency(curve);
    }
    if (const auto* c = std::get_if<rates::CapFloor>(&p)) {
        QUELM_TRY(curve, rate_option_curve(c->curve, market, c->kind == rates::CapKind::Cap ? "cap" : "floor"));
        return curve_currency(curve);
    }
    return curve_currency(on.curve);
}

Result<Conversion> conversion(const Market& market, std::string_view from, std::string_view to) {
    Conversion c;
    if (from == to) return c;
    const std::string pair = std::string(from) + std::string(to), inverse = std::string(to) + std::string(from);
    const auto spots = market.fx_spots().spots();
    for (std::size_t i = 0; i < spots.size(); ++i) {
        if (spots[i].pair == pair || spots[i].pair == inverse) {
            c.converted = true;
            c.pair = i;
            c.inverse = spots[i].pair == inverse;
            c.rate = c.inverse ? 1.0 / spots[i].spot : spots[i].spot;
            return c;
        }
    }
    QUELM_TRY(rate, market.fx(pair));  // the market's own error, listing its pairs
    c.rate = rate;
    return c;
}

}  // namespace quelm::book
