"""Credit default swaps on the ISDA standard model: the clean upfront of a 5Y contract on a
bootstrapped curve, and a 10-pillar hazard bootstrap from par spreads, beside QuantLib's
IsdaCdsEngine and PiecewiseFlatHazardRate (ISDA pricing model) on the same discount curve,
flat hazard and quotes; and a book's exact risk of 20 CDS on one credit curve beside
QuantLib's bump and reprice of the same curve's quotes."""
from __future__ import annotations

import datetime as dt

import quelm

try:
    import QuantLib as ql
except ImportError:  # the peer is optional
    ql = None

TRADE = dt.date(2009, 5, 21)
DEPOSITS = [(1, 0.003081), (2, 0.005525), (3, 0.007163), (6, 0.012413), (9, 0.014), (12, 0.015488)]
SWAPS = [(2, 0.011907), (3, 0.01699), (4, 0.021198), (5, 0.02444), (6, 0.026937), (7, 0.028967),
         (8, 0.030504), (9, 0.031719), (10, 0.03279), (11, 0.034535), (12, 0.036217), (15, 0.036981),
         (20, 0.037246), (25, 0.037605), (30, 0.037873)]
RATES = [quelm.Deposit(f"{m}M", r, day_count="act/360", calendar="weekends") for m, r in DEPOSITS]
RATES += [quelm.Swap(f"{y}Y", r, fixed_frequency=2, fixed_day_count="30/360", float_tenor="3M", calendar="weekends")
          for y, r in SWAPS]
DISC = quelm.YieldCurve.bootstrap(TRADE, RATES, interp="flat-forward")
HAZARD = 0.02
FLAT = quelm.CreditCurve.flat(TRADE, HAZARD)
CDS = quelm.Cds("2014-06-20", 0.01, trade_date=TRADE, half_day=True)
# Ten pillars, 6M to 10Y, on the roll dates.
PILLARS = ["2009-12-20", "2010-06-20", "2011-06-20", "2012-06-20", "2013-06-20", "2014-06-20", "2015-06-20",
           "2016-06-20", "2017-06-20", "2019-06-20"]
SPREADS = [0.004, 0.005, 0.007, 0.009, 0.011, 0.012, 0.013, 0.014, 0.0145, 0.015]
QUOTES = list(zip(PILLARS, SPREADS))


def ql_setup():
    ref = ql.Date(21, 5, 2009)
    ql.Settings.instance().evaluationDate = ref
    cal = ql.WeekendsOnly()
    dates = [ref] + [ql.Date(d.day, d.month, d.year) for d in DISC.pillar_dates]
    handle = ql.YieldTermStructureHandle(ql.DiscountCurve(dates, [1.0] + [DISC.discount(d) for d in DISC.pillar_dates],
                                                          ql.Actual365Fixed()))
    return ref, cal, handle


def ql_upfront_peer() -> dict:
    if ql is None:
        return {}
    ref, cal, disc = ql_setup()
    hazard = ql.DefaultProbabilityTermStructureHandle(
        ql.FlatHazardRate(ref, ql.QuoteHandle(ql.SimpleQuote(HAZARD)), ql.Actual365Fixed()))
    sched = ql.Schedule(ql.Date(20, 3, 2009), ql.Date(20, 6, 2014), ql.Period(3, ql.Months), cal, ql.Following,
                        ql.Unadjusted, ql.DateGeneration.CDS, False)
    engine = ql.IsdaCdsEngine(hazard, 0.4, disc, False, ql.IsdaCdsEngine.Taylor, ql.IsdaCdsEngine.HalfDayBias,
                              ql.IsdaCdsEngine.Piecewise)

    def upfront():
        # A new contract each call: an instrument caches its results until its inputs move.
        ql.Settings.instance().evaluationDate = ref
        cds = ql.CreditDefaultSwap(ql.Protection.Buyer, 1.0, 0.0, 0.01, sched, ql.Following, ql.Actual360(), True,
                                   True, ref + 1, cal.advance(ref, 3, ql.Days), ql.FaceValueClaim(),
                                   ql.Actual360(True), True, ref, 3)
        cds.setPricingEngine(engine)
        return cds.fairUpfront()
    assert abs(upfront() - CDS.upfront(FLAT, DISC)) < 1e-9
    return {"QuantLib IsdaCdsEngine (schedule and engine built once)": upfront}


def ql_bootstrap_peer() -> dict:
    if ql is None:
        return {}
    ref, cal, disc = ql_setup()
    helpers = [ql.SpreadCdsHelper(s, ql.Period(6 if k == 0 else int(p[:4]) - 2009, ql.Months if k == 0 else ql.Years),
                                  1, cal, ql.Quarterly, ql.Following, ql.DateGeneration.CDS, ql.Actual360(), 0.4, disc,
                                  True, True, ql.Date(), ql.Actual360(True), True, ql.CreditDefaultSwap.ISDA)
               for k, (p, s) in enumerate(QUOTES)]

    def build():
        ql.Settings.instance().evaluationDate = ref
        return ql.PiecewiseFlatHazardRate(ref, helpers, ql.Actual365Fixed()).nodes()
    return {"QuantLib PiecewiseFlatHazardRate, ISDA model (helpers built once)": build}


# A book of 20 contracts, 1Y to 10Y maturities on the roll dates, bought and sold, on a
# market holding the discount curve and the credit curve bootstrapped on it.
BOOK_MARKET = quelm.Market.bootstrap(TRADE, {"usd-libor": (RATES, {"interp": "flat-forward"})},
                                     credit_curves={"acme": quelm.CreditCurve.bootstrap(TRADE, QUOTES, DISC,
                                                                                        half_day=True)})
BOOK_MATURITIES = [f"{2010 + k // 2}-{'06' if k % 2 == 0 else '12'}-20" for k in range(20)]
BOOK = quelm.Book([quelm.Cds(m, 0.01 if k % 3 else 0.05, trade_date=TRADE, notional=1e6 * (1 + k % 4),
                             side="sell" if k % 2 else "buy", half_day=True)
                   for k, m in enumerate(BOOK_MATURITIES)])


def ql_book_peer() -> dict:
    if ql is None:
        return {}
    ref, cal, disc = ql_setup()
    quotes = [ql.SimpleQuote(s) for _, s in QUOTES]
    helpers = [ql.SpreadCdsHelper(ql.QuoteHandle(q), ql.Period(6 if k == 0 else int(p[:4]) - 2009,
                                                            ql.Months if k == 0 else ql.Years),
                                  1, cal, ql.Quarterly, ql.Following, ql.DateGeneration.CDS, ql.Actual360(), 0.4, disc,
                                  True, True, ql.Date(), ql.Actual360(True), True, ql.CreditDefaultSwap.ISDA)
               for k, (q, (p, _)) in enumerate(zip(quotes, QUOTES))]
    curve = ql.PiecewiseFlatHazardRate(ref, helpers, ql.Actual365Fixed())
    curve.enableExtrapolation()
    engine = ql.IsdaCdsEngine(ql.DefaultProbabilityTermStructureHandle(curve), 0.4, disc, False,
                              ql.IsdaCdsEngine.Taylor, ql.IsdaCdsEngine.HalfDayBias, ql.IsdaCdsEngine.Piecewise)
    contracts = []
    for k, m in enumerate(BOOK_MATURITIES):
        y, mo, d = (int(x) for x in m.split("-"))
        sched = ql.Schedule(ql.Date(20, 3, 2009), ql.Date(d, mo, y), ql.Period(3, ql.Months), cal, ql.Following,
                            ql.Unadjusted, ql.DateGeneration.CDS, False)
        side = ql.Protection.Seller if k % 2 else ql.Protection.Buyer
        cds = ql.CreditDefaultSwap(side, 1e6 * (1 + k % 4), 0.0, 0.01 if k % 3 else 0.05, sched, ql.Following,
                                   ql.Actual360(), True, True, ref + 1, cal.advance(ref, 3, ql.Days),
                                   ql.FaceValueClaim(), ql.Actual360(True), True, ref, 3)
        cds.setPricingEngine(engine)
        contracts.append(cds)

    def bump_and_reprice():
        # Each credit quote up 1bp in turn: the curve bootstraps again and every contract reprices.
        ql.Settings.instance().evaluationDate = ref
        base = [c.NPV() for c in contracts]
        out = []
        for q in quotes:
            q.setValue(q.value() + 1e-4)
            out.append([c.NPV() - b for c, b in zip(contracts, base)])
            q.setValue(q.value() - 1e-4)
        return out
    return {"QuantLib bump and reprice of the 10 credit quotes (CS01 only; the instruments built once)":
            bump_and_reprice}


def cases(quick: bool) -> list:
    scale = 1 if quick else 5
    return [
        {"name": "Cds.upfront, 5Y on the ISDA discount curve (22 pillars), flat hazard",
         "quelm": lambda: CDS.upfront(FLAT, DISC),
         "peers": ql_upfront_peer(), "number": 2000 * scale,
         "note": "same figure as the peer to 1e-9 of notional (the published model's half-day accrual)"},
        {"name": "CreditCurve.bootstrap, 10 par spreads 6M to 10Y",
         "quelm": lambda: quelm.CreditCurve.bootstrap(TRADE, QUOTES, DISC, half_day=True),
         "peers": ql_bootstrap_peer(), "number": 200 * scale,
         "note": "Brent's method per pillar on the ISDA integrals; the peer's tenors give its own maturities"},
        {"name": "Book.risk, 20 CDS on one credit curve (10 spreads) and its 21-quote discount curve",
         "quelm": lambda: BOOK.risk(BOOK_MARKET),
         "peers": ql_book_peer(), "number": 20 * scale,
         "note": "exact CS01 and IR01 by implicit differentiation of both bootstraps; the peer bumps and "
                 "reprices the credit quotes alone (its curve's pillars a day or two off the standard model's)"},
    ]
