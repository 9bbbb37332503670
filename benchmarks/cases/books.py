"""Books on a market: the risk of 10,000 mixed swaps (SOFR and €STR OIS, 6M Euribor swaps
discounted on €STR) to the market's 60 quotes, in one pass, beside QuantLib bumping each
quote and repricing (its curves rebuilt by its observers), on 100 of the swaps; the book's
value; the 250-day historical VaR of 1,000 swaps over two curves (€STR, 6M Euribor on
it) by full revaluation, beside QuantLib setting each day's 40 quotes and repricing the
1,000 swaps on a few of the days; and the risk of 20 swaptions on those two curves and a
flat normal vol, beside QuantLib bumping each quote and the vol and repricing; and the risk of
a Bermudan swaption on Hull-White beside QuantLib's finite differences on each bumped curve."""
from __future__ import annotations

import datetime as dt

import quelm

try:
    import QuantLib as ql
except ImportError:  # the peer is optional
    ql = None

REF = dt.date(2026, 3, 2)
YEARS = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 15, 20, 25, 30]
SHORT = ["1M", "3M", "6M", "9M", "18M"]  # with YEARS: 20 OIS points a curve


def rate(base: float, tenor: str) -> float:
    n = int(tenor[:-1])
    years = n / 12 if tenor.endswith("M") else n
    return base + 0.0004 * min(years, 20) - 0.00001 * min(years, 20) ** 2


OIS_TENORS = SHORT + [f"{y}Y" for y in YEARS]
SWAP_TENORS = ["18M"] + [f"{y}Y" for y in YEARS if y > 1] + ["35Y", "40Y", "45Y", "50Y", "60Y"]  # 20 points
QUOTES = {
    "usd-sofr": [quelm.Ois(t, rate(0.040, t), index="sofr") for t in OIS_TENORS],
    "eur-estr": [quelm.Ois(t, rate(0.022, t), index="estr") for t in OIS_TENORS],
    "eur-euribor-6m": ([quelm.Swap(t, rate(0.025, t)) for t in SWAP_TENORS], {"discount_curve": "eur-estr"}),
}
MARKET = quelm.Market.bootstrap(REF, QUOTES)
assert len(MARKET.quote_labels) == 60


def trade(k: int):
    years = 1 + k % 30
    notional = (1 if k % 3 else -1) * (1e6 + 1e3 * k)
    kind = k % 3
    if kind == 0:
        return quelm.Ois(f"{years}Y", 0.038 + 1e-6 * k, index="sofr", notional=notional)
    if kind == 1:
        return quelm.Ois(f"{years}Y", 0.024 + 1e-6 * k, index="estr", notional=notional)
    return quelm.Swap(f"{years}Y", 0.027 + 1e-6 * k, curve="eur-euribor-6m", notional=notional)


TRADES = [trade(k) for k in range(10_000)]
BOOK = quelm.Book(TRADES)
SUBSET = 100
RISK_PEER = f"QuantLib bump-and-rebuild, {SUBSET} of the 10,000 swaps"


def ql_period(t: str):
    return ql.Period(int(t[:-1]), ql.Months if t.endswith("M") else ql.Years)


def ql_eur_curves(quote):
    """QuantLib's €STR curve (extrapolated flat-forward, as quelm's tail: the Euribor curve runs
    past 30Y) and 6M Euribor on it, from helpers on the handles `quote(label, rate)` makes:
    (the €STR handle, the Euribor index on its curve)."""
    ref = ql.Date(REF.day, REF.month, REF.year)
    estr_curve = ql.PiecewiseLogLinearDiscount(
        ref, [ql.OISRateHelper(2, ql_period(t), quote(f"eur-estr {t}", rate(0.022, t)), ql.Estr()) for t in OIS_TENORS],
        ql.Actual365Fixed())
    estr_curve.enableExtrapolation()
    estr_h = ql.YieldTermStructureHandle(estr_curve)
    cal = ql.TARGET()
    index = ql.IborIndex("quelm-like", ql.Period(6, ql.Months), 2, ql.EURCurrency(), cal, ql.ModifiedFollowing,
                         False, ql.Actual360())
    euribor_curve = ql.PiecewiseLogLinearDiscount(
        ref, [ql.SwapRateHelper(quote(f"eur-euribor-6m {t}", rate(0.025, t)), ql_period(t), cal, ql.Annual,
                                ql.ModifiedFollowing, ql.Thirty360(ql.Thirty360.BondBasis), index, ql.QuoteHandle(),
                                ql.Period(0, ql.Days), estr_h) for t in SWAP_TENORS], ql.Actual365Fixed())
    return estr_h, index.clone(ql.YieldTermStructureHandle(euribor_curve))


def ql_quotes():
    """A list of QuantLib quotes and the maker of a handle on a new one at a rate."""
    quotes = []

    def quote(r: float):
        quotes.append(ql.SimpleQuote(r))
        return ql.QuoteHandle(quotes[-1])
    return quotes, quote


def ql_peer() -> dict:
    if ql is None:
        return {}
    ref = ql.Date(REF.day, REF.month, REF.year)
    ql.Settings.instance().evaluationDate = ref

    quotes, quote = ql_quotes()

    sofr = ql.Sofr()
    estr = ql.Estr()
    sofr_curve = ql.PiecewiseLogLinearDiscount(
        ref, [ql.OISRateHelper(2, ql_period(t), quote(rate(0.040, t)), sofr) for t in OIS_TENORS], ql.Actual365Fixed())
    estr_curve = ql.PiecewiseLogLinearDiscount(
        ref, [ql.OISRateHelper(2, ql_period(t), quote(rate(0.022, t)), estr) for t in OIS_TENORS], ql.Actual365Fixed())
    for c in (sofr_curve, estr_curve):
        c.enableExtrapolation()  # as quelm's flat-forward tail: the Euribor curve runs past 30Y
    sofr_h, estr_h = ql.YieldTermStructureHandle(sofr_curve), ql.YieldTermStructureHandle(estr_curve)
    cal = ql.TARGET()
    index = ql.IborIndex("quelm-like", ql.Period(6, ql.Months), 2, ql.EURCurrency(), cal, ql.ModifiedFollowing,
                         False, ql.Actual360())
    euribor_curve = ql.PiecewiseLogLinearDiscount(
        ref, [ql.SwapRateHelper(quote(rate(0.025, t)), ql_period(t), cal, ql.Annual, ql.ModifiedFollowing,
                                ql.Thirty360(ql.Thirty360.BondBasis), index, ql.QuoteHandle(), ql.Period(0, ql.Days),
                                estr_h) for t in SWAP_TENORS], ql.Actual365Fixed())
    euribor = index.clone(ql.YieldTermStructureHandle(euribor_curve))
    swaps = []
    for k in range(SUBSET):
        years = ql.Period(1 + k % 30, ql.Years)
        kind = k % 3
        if kind == 0:
            s = ql.MakeOIS(years, ql.Sofr(sofr_h), 0.038 + 1e-6 * k)
        elif kind == 1:
            s = ql.MakeOIS(years, ql.Estr(estr_h), 0.024 + 1e-6 * k)
        else:
            s = ql.MakeVanillaSwap(years, euribor, 0.027 + 1e-6 * k, ql.Period(0, ql.Days),
                                   pricingEngine=ql.DiscountingSwapEngine(estr_h))
        swaps.append(s)

    def bump_and_rebuild():
        ql.Settings.instance().evaluationDate = ref  # other cases move it
        base = [s.NPV() for s in swaps]
        rows = []
        for q in quotes:  # one-sided bumps: the cheapest bump-and-rebuild
            r = q.value()
            q.setValue(r + 1e-4)
            rows.append([s.NPV() - b for s, b in zip(swaps, base)])
            q.setValue(r)
        return rows
    return {RISK_PEER: bump_and_rebuild}


# --- historical VaR by full revaluation: 1,000 swaps over two curves, 250 days ---
TWO_CURVES = {k: v for k, v in QUOTES.items() if k != "usd-sofr"}
VAR_MARKET = quelm.Market.bootstrap(REF, TWO_CURVES)
VAR_TRADES = [trade(k) for k in range(1, 1501) if k % 3]  # €STR OIS and Euribor swaps, alternately
VAR_BOOK = quelm.Book(VAR_TRADES)
VAR_DAYS = 250
PEER_DAYS = 5  # the peer's days: its time scales by VAR_DAYS / PEER_DAYS
VAR_PEER = f"QuantLib relink-and-reprice, {PEER_DAYS} of the {VAR_DAYS} days"


def var_history():
    """251 days of the 40 quotes: each its own level plus a random walk of about 1bp a day."""
    import numpy as np
    import pandas as pd

    labels = VAR_MARKET.quote_labels
    levels = [rate(0.022 if label.startswith("eur-estr") else 0.025, label.split()[-1]) for label in labels]
    walk = np.random.default_rng(17).normal(0.0, 1e-4, (VAR_DAYS + 1, len(labels))).cumsum(axis=0)
    return pd.DataFrame(np.asarray(levels) + walk, columns=list(labels),
                        index=pd.bdate_range("2025-03-03", periods=VAR_DAYS + 1))


def ql_var_peer(history) -> dict:
    if ql is None:
        return {}
    ref = ql.Date(REF.day, REF.month, REF.year)
    ql.Settings.instance().evaluationDate = ref

    quotes = {}

    def quote(label: str, r: float):
        quotes[label] = ql.SimpleQuote(r)
        return ql.QuoteHandle(quotes[label])

    estr_h, euribor = ql_eur_curves(quote)
    swaps = []
    for k in (k for k in range(1, 1501) if k % 3):
        years = ql.Period(1 + k % 30, ql.Years)
        if k % 3 == 1:
            swaps.append(ql.MakeOIS(years, ql.Estr(estr_h), 0.024 + 1e-6 * k))
        else:
            swaps.append(ql.MakeVanillaSwap(years, euribor, 0.027 + 1e-6 * k, ql.Period(0, ql.Days),
                                            pricingEngine=ql.DiscountingSwapEngine(estr_h)))
    sizes = [-t.notional for t in VAR_TRADES]  # QuantLib's swaps pay the fixed rate, quelm's receive it
    today = {label: q.value() for label, q in quotes.items()}
    rows = [dict(history.iloc[i]) for i in range(PEER_DAYS + 1)]

    def relink_and_reprice():
        ql.Settings.instance().evaluationDate = ref  # other cases move it
        for label, q in quotes.items():
            q.setValue(today[label])
        base = sum(n * s.NPV() for n, s in zip(sizes, swaps))
        pnl = []
        for before, after in zip(rows, rows[1:]):
            for label, q in quotes.items():
                q.setValue(today[label] + after[label] - before[label])
            pnl.append(sum(n * s.NPV() for n, s in zip(sizes, swaps)) - base)
        return pnl
    return {VAR_PEER: relink_and_reprice}


# --- options on a surface and FX forwards: their Greeks, vega by slice, FX delta, curve risk ---
SPOT = 100.0
GRID_T = [0.25, 0.5, 1.0, 2.0]
GRID_K = [70.0, 85.0, 100.0, 115.0, 130.0]
SURFACE = quelm.VolSurface.from_vols(GRID_K * len(GRID_T), [t for t in GRID_T for _ in GRID_K],
                                     [0.2 - 0.1 * (k / SPOT - 1.0) + 0.01 * t for t in GRID_T for k in GRID_K],
                                     SPOT, 0.04, dividend_yield=0.01)
OPTION_MARKET = quelm.Market.bootstrap(REF, {k: v for k, v in QUOTES.items() if k != "eur-euribor-6m"},
                                       surfaces={"eq": SURFACE}, fx={"EURUSD": 1.08})


def option(k: int):
    expiry = REF + dt.timedelta(days=30 + (k * 7) % 700)
    return quelm.EuropeanOption("eq", 80.0 + (k % 41), expiry, "call" if k % 2 else "put",
                                notional=100.0 * (1 if k % 3 else -1), curve="usd-sofr")


def fx_forward(k: int):
    return quelm.FxForward("EURUSD", REF + dt.timedelta(days=30 + (k * 11) % 1800), 1.06 + 1e-4 * (k % 50),
                           notional=1e6 * (1 if k % 2 else -1))


OPTIONS_BOOK = quelm.Book([option(k) for k in range(1000)] + [fx_forward(k) for k in range(1000)])


def ql_option_peer() -> dict:
    """QuantLib on the 1,000 options: the analytic European engine on each option's own
    volatility (its surface vol) over a SOFR curve bootstrapped from the same 20 quotes, each
    option's value and four Greeks, then each quote bumped once and the options repriced
    (the report's curve risk)."""
    if ql is None:
        return {}
    ref = ql.Date(REF.day, REF.month, REF.year)
    ql.Settings.instance().evaluationDate = ref
    dc = ql.Actual365Fixed()
    quotes = [ql.SimpleQuote(rate(0.040, t)) for t in OIS_TENORS]

    sofr = ql.PiecewiseLogLinearDiscount(
        ref, [ql.OISRateHelper(2, ql_period(t), ql.QuoteHandle(q), ql.Sofr()) for t, q in zip(OIS_TENORS, quotes)], dc)
    sofr.enableExtrapolation()
    spot = ql.QuoteHandle(ql.SimpleQuote(SPOT))
    rates = ql.YieldTermStructureHandle(sofr)
    divs = ql.YieldTermStructureHandle(ql.FlatForward(ref, 0.01, dc))
    options = []
    for k in range(1000):
        o = option(k)
        expiry = ql.Date(o.expiry.day, o.expiry.month, o.expiry.year)
        t = (o.expiry - REF).days / 365.0
        vol = ql.BlackVolTermStructureHandle(ql.BlackConstantVol(ref, ql.TARGET(), SURFACE.vol(o.strike, t), dc))
        process = ql.BlackScholesMertonProcess(spot, divs, rates, vol)
        kind = ql.Option.Call if o.option_type == "call" else ql.Option.Put
        v = ql.VanillaOption(ql.PlainVanillaPayoff(kind, o.strike), ql.EuropeanExercise(expiry))
        v.setPricingEngine(ql.AnalyticEuropeanEngine(process))
        options.append(v)

    def greeks_and_bumps():
        ql.Settings.instance().evaluationDate = ref  # other cases move it
        greeks = [(v.NPV(), v.delta(), v.gamma(), v.vega(), v.theta()) for v in options]
        rows = []
        for q in quotes:
            r = q.value()
            q.setValue(r + 1e-4)
            rows.append([v.NPV() - g[0] for v, g in zip(options, greeks)])
            q.setValue(r)
        return greeks, rows
    return {"QuantLib AnalyticEuropeanEngine: the options' value and 4 Greeks, and each of the 20 SOFR "
            "quotes bumped once (the forwards left out)": greeks_and_bumps}


# --- 20 swaptions on 6M Euribor discounted on €STR, a flat normal vol: curve risk and vega ---
SWAPTION_VOL = 0.0085
SWAPTION_MARKET = quelm.Market.bootstrap(REF, TWO_CURVES, rate_vols={
    "eur-swaption": quelm.RateVol(SWAPTION_VOL, model="bachelier")})


def swaption(k: int):
    return quelm.Swaption(f"{1 + k % 5}Y", f"{2 + (3 * k) % 9}Y", 0.024 + 0.0005 * (k % 7),
                          kind="payer" if k % 2 else "receiver", curve="eur-euribor-6m",
                          notional=1e6 * (1 + k % 3))


SWAPTIONS = [swaption(k) for k in range(20)]
SWAPTION_BOOK = quelm.Book(SWAPTIONS)
SWAPTION_PEER = "QuantLib BachelierSwaptionEngine, each of the 40 quotes and the vol bumped once"


def ql_swaption_peer() -> dict:
    """QuantLib on the same 20 swaptions (expiry rolled modified-following, the swap from two
    TARGET days later, annual 30/360 against 6M Euribor), on curves bootstrapped from the same
    40 quotes: each quote bumped once and the swaptions repriced, then the vol."""
    if ql is None:
        return {}
    ref = ql.Date(REF.day, REF.month, REF.year)
    ql.Settings.instance().evaluationDate = ref

    quotes, quote = ql_quotes()

    estr_h, euribor = ql_eur_curves(lambda label, r: quote(r))
    cal = ql.TARGET()
    vol = ql.SimpleQuote(SWAPTION_VOL)
    engine = ql.BachelierSwaptionEngine(estr_h, ql.QuoteHandle(vol))
    options = []
    for s in SWAPTIONS:
        expiry = cal.adjust(ref + ql_period(s.expiry), ql.ModifiedFollowing)
        swap = ql.MakeVanillaSwap(ql_period(s.tenor), euribor, s.strike, ql.Period(0, ql.Days),
                                  effectiveDate=cal.advance(expiry, 2, ql.Days), fixedLegTenor=ql.Period(1, ql.Years),
                                  fixedLegDayCount=ql.Thirty360(ql.Thirty360.BondBasis),
                                  swapType=ql.Swap.Payer if s.kind == "payer" else ql.Swap.Receiver,
                                  nominal=s.notional)
        option = ql.Swaption(swap, ql.EuropeanExercise(expiry))
        option.setPricingEngine(engine)
        options.append(option)

    def bump_and_reprice():
        ql.Settings.instance().evaluationDate = ref  # other cases move it
        base = [o.NPV() for o in options]
        rows = []
        for q in quotes + [vol]:
            r = q.value()
            q.setValue(r + 1e-4)
            rows.append([o.NPV() - b for o, b in zip(options, base)])
            q.setValue(r)
        return base, rows
    return {SWAPTION_PEER: bump_and_reprice}


# --- A Bermudan payer (9 annual exercises into a swap to 2036) on Hull-White: exact risk ---
_CAL = quelm.Calendar("target")
BERMUDAN_DATES = [_CAL.adjust(dt.date(2027 + k, 3, 2), "modified-following") for k in range(9)]
BERMUDAN_MARKET = quelm.Market.bootstrap(REF, TWO_CURVES, rate_vols={
    "eur-hw": quelm.HullWhite(0.03, 0.008, quelm.YieldCurve.flat(0.025, reference_date=REF))})
BERMUDAN = quelm.BermudanSwaption(BERMUDAN_DATES, dt.date(2036, 3, 2), 0.027, notional=1e7, curve="eur-euribor-6m")
BERMUDAN_BOOK = quelm.Book([BERMUDAN])
BERMUDAN_PEER = ("QuantLib FdHullWhiteSwaptionEngine 100 x 100 on each of the 40 bumped curves and sigma "
                 "(the curves handed over ready, as discount factors: no bootstrap timed)")


def ql_bermudan_peer() -> dict:
    """QuantLib's finite-difference Hull-White engine on the same Bermudan (the fixed leg from
    the first exercise, annual 30/360), the model on the projection curve given as its discount
    factors at every day to 2037 (log-linear): the base, each of the 40 quotes bumped by 1bp
    (curves bootstrapped beforehand, untimed) and sigma bumped."""
    if ql is None:
        return {}
    ref = ql.Date(REF.day, REF.month, REF.year)
    days = [REF + dt.timedelta(days=k) for k in range(0, 11 * 366)]

    def handle(market):
        curve = market.curve("eur-euribor-6m")
        return ql.YieldTermStructureHandle(ql.DiscountCurve(
            [ql.Date(d.day, d.month, d.year) for d in days], [curve.discount(d) for d in days], ql.Actual365Fixed()))

    labels = [label for label in BERMUDAN_MARKET.quote_labels if label.startswith(("eur-estr", "eur-euribor"))]
    curves = [handle(BERMUDAN_MARKET)] + [handle(BERMUDAN_MARKET.shifted({label: 1e-4})) for label in labels]
    cal = ql.TARGET()
    start, end = ql.Date(2, 3, 2027), ql.Date(2, 3, 2036)
    fixed = ql.Schedule(start, end, ql.Period(1, ql.Years), cal, ql.ModifiedFollowing, ql.ModifiedFollowing,
                        ql.DateGeneration.Backward, False)
    floating = ql.Schedule(start, end, ql.Period(6, ql.Months), cal, ql.ModifiedFollowing, ql.ModifiedFollowing,
                           ql.DateGeneration.Backward, False)
    exercise = ql.BermudanExercise([ql.Date(d.day, d.month, d.year) for d in BERMUDAN_DATES])
    options = []
    for h in curves:
        index = ql.IborIndex("quelm-like", ql.Period(6, ql.Months), 2, ql.EURCurrency(), cal, ql.ModifiedFollowing,
                             False, ql.Actual360(), h)
        swap = ql.VanillaSwap(ql.Swap.Payer, 1e7, fixed, 0.027, ql.Thirty360(ql.Thirty360.BondBasis), floating,
                              index, 0.0, ql.Actual360())
        options.append((ql.Swaption(swap, exercise), h))

    def price(option, h, sigma):
        option.setPricingEngine(ql.FdHullWhiteSwaptionEngine(ql.HullWhite(h, 0.03, sigma), 100, 100, 0, 1e-5))
        return option.NPV()

    ql.Settings.instance().evaluationDate = ref
    assert abs(price(*options[0], 0.008) - BERMUDAN_BOOK.npv(BERMUDAN_MARKET)["total"]) < 1e-3 * 5e5

    def bump_and_reprice():
        base = price(*options[0], 0.008)
        rows = [price(o, h, 0.008) - base for o, h in options[1:]]
        rows.append(price(*options[0], 0.0081) - base)
        return base, rows
    return {BERMUDAN_PEER: bump_and_reprice}


def cases(quick: bool) -> list:
    history = var_history()
    scale = 1 if quick else 3
    return [
        {"name": "Book.risk, 10,000 mixed swaps to 60 quotes over 3 curves",
         "quelm": lambda: BOOK.risk(MARKET),
         "peers": ql_peer(), "number": scale, "peer_scale": {RISK_PEER: len(TRADES) / SUBSET},
         "note": "exact, by implicit differentiation of each curve's bootstrap, one batch per curve; "
                 "the peer bumps each quote once and reprices a hundredth of the book"},
        {"name": "Book.risk, 1,000 options on a surface and 1,000 FX forwards",
         "quelm": lambda: OPTIONS_BOOK.risk(OPTION_MARKET),
         "peers": ql_option_peer(), "number": 3 * scale,
         "note": "each option's Greeks, vega by surface slice and exact risk to the 40 curve quotes, each "
                 "forward's FX delta and risk to both curves; the peer does the options alone"},
        {"name": "Book.risk, 20 swaptions to 40 quotes over 2 curves and their vol",
         "quelm": lambda: SWAPTION_BOOK.risk(SWAPTION_MARKET),
         "peers": ql_swaption_peer(), "number": 10 * scale,
         "note": "exact curve risk through each swaption's legs on both curves and its vega per vol point; "
                 "the peer bumps each quote and the vol once (one-sided) and reprices"},
        {"name": "Book.risk, a Bermudan swaption (9 exercises) on Hull-White to 40 quotes and sigma",
         "quelm": lambda: BERMUDAN_BOOK.risk(BERMUDAN_MARKET),
         "peers": ql_bermudan_peer(), "number": 3 * scale,
         "note": "exact curve risk by the adjoint of the finite-difference grid (200 steps) and sigma's vega by "
                 "two solves; the peer (its default grid) reprices once per bumped curve"},
        {"name": "Book.npv, 10,000 mixed swaps over 3 curves",
         "quelm": lambda: BOOK.npv(MARKET),
         "peers": {}, "number": 5 * scale, "note": "the total added in book order"},
        {"name": "Book.historical_var, 1,000 swaps over 2 curves, 250 days by full revaluation",
         "quelm": lambda: VAR_BOOK.historical_var(VAR_MARKET, history, level=0.99),
         "peers": ql_var_peer(history), "number": 1, "peer_scale": {VAR_PEER: VAR_DAYS / PEER_DAYS},
         "note": "each day's market rebuilt and the book repriced in one pool task, with the first-order "
                 "VaR from the risk report; the peer relinks 40 quotes and reprices the swaps on 5 days"},
    ]
