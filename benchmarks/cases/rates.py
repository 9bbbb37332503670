"""Rate options: a 5Y x 10Y European swaption and a 10Y cap on 6M Euribor, priced on dual
flat curves, beside QuantLib's BlackSwaptionEngine and BlackCapFloorEngine on the same
schedules and conventions (tests/test_rates.py checks the values agree to 1e-10)."""
from __future__ import annotations

import datetime as dt

import quelm

try:
    import QuantLib as ql
except ImportError:  # the peer is optional
    ql = None

REF = dt.date(2025, 1, 15)
CURVE = quelm.YieldCurve.flat(0.031, reference_date=REF)
DISCOUNT = quelm.YieldCurve.flat(0.027, reference_date=REF)
SWAPTION = quelm.Swaption("5Y", "10Y", 0.032, notional=1e6)
CAP = quelm.CapFloor("cap", "10Y", 0.033, notional=1e6)


def qd(d: dt.date):
    return ql.Date(d.day, d.month, d.year)


def ql_market():
    ql.Settings.instance().evaluationDate = qd(REF)
    proj = ql.YieldTermStructureHandle(ql.FlatForward(qd(REF), 0.031, ql.Actual365Fixed()))
    disc = ql.YieldTermStructureHandle(ql.FlatForward(qd(REF), 0.027, ql.Actual365Fixed()))
    index = ql.IborIndex("quelm-like", ql.Period(6, ql.Months), 2, ql.EURCurrency(), ql.TARGET(),
                         ql.ModifiedFollowing, False, ql.Actual360(), proj)
    return proj, disc, index


def ql_swaption_peers() -> dict:
    if ql is None:
        return {}
    proj, disc, index = ql_market()
    cal = ql.TARGET()
    vol = ql.SimpleQuote(0.2)
    engine = ql.BlackSwaptionEngine(disc, ql.QuoteHandle(vol))

    def build():
        expiry = cal.advance(qd(REF), 5, ql.Years, ql.ModifiedFollowing)
        start = cal.advance(expiry, 2, ql.Days)
        end = start + ql.Period(10, ql.Years)
        fixed = ql.Schedule(start, end, ql.Period(1, ql.Years), cal, ql.ModifiedFollowing, ql.ModifiedFollowing,
                            ql.DateGeneration.Backward, False)
        floating = ql.Schedule(start, end, ql.Period(6, ql.Months), cal, ql.ModifiedFollowing,
                               ql.ModifiedFollowing, ql.DateGeneration.Backward, False)
        swap = ql.VanillaSwap(ql.Swap.Payer, 1e6, fixed, 0.032, ql.Thirty360(ql.Thirty360.BondBasis), floating,
                              index, 0.0, ql.Actual360())
        option = ql.Swaption(swap, ql.EuropeanExercise(expiry))
        option.setPricingEngine(engine)
        return option

    built = build()
    assert abs(built.NPV() - SWAPTION.price(CURVE, 0.2, discount_curve=DISCOUNT)) < 1e-8
    state = {"v": 0.2}

    def reprice():
        state["v"] = 0.4 - state["v"]  # a new vol each call: the engine runs again
        vol.setValue(state["v"])
        return built.NPV()
    return {"QuantLib BlackSwaptionEngine, built per call": lambda: build().NPV(),
            "QuantLib BlackSwaptionEngine, built once, vol moved": reprice}


def ql_cap_peers() -> dict:
    if ql is None:
        return {}
    proj, disc, index = ql_market()
    cal = ql.TARGET()
    engine = ql.BlackCapFloorEngine(disc, ql.QuoteHandle(ql.SimpleQuote(0.2)))

    def build():
        spot = cal.advance(qd(REF), 2, ql.Days)
        sched = ql.Schedule(spot, spot + ql.Period(10, ql.Years), ql.Period(6, ql.Months), cal,
                            ql.ModifiedFollowing, ql.ModifiedFollowing, ql.DateGeneration.Backward, False)
        leg = list(ql.IborLeg([1e6], sched, index, ql.Actual360(), ql.ModifiedFollowing, [2]))[1:]
        cap = ql.Cap(leg, [0.033])
        cap.setPricingEngine(engine)
        return cap.NPV()
    assert abs(build() - CAP.price(CURVE, 0.2, discount_curve=DISCOUNT)) < 1e-7
    return {"QuantLib BlackCapFloorEngine, built per call": build}


# A 22 x 14 cube of 11 strikes (offsets from ATM) in normal vols, beta = 0, made by SABR with
# parameters that vary over the grid.
CUBE_EXPIRIES = ["1M", "2M", "3M", "6M", "9M", "1Y", "18M", "2Y", "3Y", "4Y", "5Y", "6Y", "7Y", "8Y", "9Y", "10Y",
                 "12Y", "15Y", "20Y", "25Y", "30Y", "40Y"]
CUBE_TENORS = ["1Y", "2Y", "3Y", "4Y", "5Y", "6Y", "7Y", "8Y", "9Y", "10Y", "15Y", "20Y", "25Y", "30Y"]
CUBE_OFFSETS = [-200, -100, -50, -25, -10, 0, 10, 25, 50, 100, 200]
CUBE_STRIKES = [f"ATM{o:+d}" if o else "ATM" for o in CUBE_OFFSETS]
CUBE_CURVE = quelm.YieldCurve.flat(0.025, reference_date=REF)


def cube_quotes():
    nodes = []
    for i, e in enumerate(CUBE_EXPIRIES):
        row = []
        for j, t in enumerate(CUBE_TENORS):
            f = quelm.Swaption(e, t, 0.0).forward_rate(CUBE_CURVE)
            a, r, n = 0.006 + 0.0001 * j, -0.3 + 0.02 * i, 0.25 + 0.01 * j
            row.append((f, [quelm.sabr_vol(f, f + o / 1e4, 0.1 + 0.5 * i, a, 0.0, r, n, model="normal")
                            for o in CUBE_OFFSETS], 0.1 + 0.5 * i))
        nodes.append(row)
    return nodes


CUBE_NODES = cube_quotes()
CUBE_VOLS = [[v for _, v, _ in row] for row in CUBE_NODES]


def ql_cube_peer() -> dict:
    if ql is None:
        return {}

    def fit_all():
        out = []
        for row in CUBE_NODES:
            for f, vols, t in row:
                strikes = [f + o / 1e4 for o in CUBE_OFFSETS]
                s = ql.SABRInterpolation(strikes, vols, t, f, vols[5], 0.0, 0.5, 0.0, False, True, False, False,
                                         False, None, None, 0.002, False, 50, 0.0, ql.Normal)
                s(f, True)  # the fit runs on first use
                out.append(s.alpha())
        return out
    return {"QuantLib SABRInterpolation per node (normal, one start from the ATM vol)": fit_all}


# QuantLib's own cube object fits the whole grid in under a tenth of a second, so it is timed on
# all of it: a part scaled up would carry its fixed set-up (matrix, indices) along, about 15% over.
QL_CUBE_PEER = "QuantLib SabrSwaptionVolatilityCube (normal vols, built from its quotes and fitted)"


def ql_period(label: str):
    return ql.Period(int(label[:-1]), ql.Months if label.endswith("M") else ql.Years)


def ql_sabr_cube():
    """QuantLib's SABR cube on the grid: an ATM normal-vol matrix, the strikes as
    spreads from ATM and the smiles as vol spreads, Euribor swap indices on the flat curve;
    beta fixed at 0, every quote weighted alike, the ATM vols not refitted after the smiles."""
    ql.Settings.instance().evaluationDate = qd(REF)  # other cases move it
    curve = ql.YieldTermStructureHandle(ql.FlatForward(qd(REF), 0.025, ql.Actual365Fixed()))
    nodes = [node for row in CUBE_NODES for node in row]
    width = len(CUBE_TENORS)
    atm = [[ql.QuoteHandle(ql.SimpleQuote(vols[5])) for _, vols, _ in nodes[i:i + width]]
           for i in range(0, len(nodes), width)]
    spreads = [[ql.QuoteHandle(ql.SimpleQuote(v - vols[5])) for v in vols] for _, vols, _ in nodes]
    guess = [[ql.QuoteHandle(ql.SimpleQuote(x)) for x in (vols[5], 0.0, 0.5, 0.0)] for _, vols, _ in nodes]
    expiries = [ql_period(e) for e in CUBE_EXPIRIES]
    tenors = [ql_period(t) for t in CUBE_TENORS]
    matrix = ql.SwaptionVolatilityMatrix(ql.TARGET(), ql.ModifiedFollowing, expiries, tenors, atm,
                                         ql.Actual365Fixed(), False, ql.Normal)
    cube = ql.SabrSwaptionVolatilityCube(ql.SwaptionVolatilityStructureHandle(matrix), expiries, tenors,
                                         [o / 1e4 for o in CUBE_OFFSETS], spreads,
                                         ql.EuriborSwapIsdaFixA(ql.Period(2, ql.Years), curve),
                                         ql.EuriborSwapIsdaFixA(ql.Period(1, ql.Years), curve),
                                         False, guess, [False, True, False, False], False)
    cube.sparseSabrParameters()  # the nodes are fitted on first use
    return cube


def ql_sabr_cube_peer() -> dict:
    if ql is None:
        return {}
    cube = ql_sabr_cube()
    # It calibrates: its forward is quelm's (the same swap conventions) and its smile reads
    # back near quelm's. Its normal expansion is Hagan's in log-moneyness, which parts from the
    # beta = 0 formula the quotes were made with by about half a basis point 100 bp out.
    mine = quelm.SwaptionCube.from_quotes(REF, CUBE_EXPIRIES, CUBE_TENORS, CUBE_STRIKES, CUBE_VOLS, beta=0.0,
                                          curve=CUBE_CURVE)
    node = mine.parameters("2Y", "10Y")
    date = cube.optionDateFromTenor(ql_period("2Y"))
    forward = cube.atmStrike(date, ql_period("10Y"))
    assert abs(forward - node["forward"]) < 1e-10
    for offset in (-100, 0, 100):
        k = forward + offset / 1e4
        assert abs(cube.volatility(date, ql_period("10Y"), k) - mine.vol("2Y", "10Y", k)) < 1e-4, offset
    return {QL_CUBE_PEER: ql_sabr_cube}


def cube_cases(quick: bool) -> list:
    return [
        {"name": "SwaptionCube.from_quotes, 22 x 14 nodes x 11 strikes, normal SABR",
         "quelm": lambda: quelm.SwaptionCube.from_quotes(REF, CUBE_EXPIRIES, CUBE_TENORS, CUBE_STRIKES, CUBE_VOLS,
                                                         beta=0.0, curve=CUBE_CURVE),
         "peers": {**ql_cube_peer(), **ql_sabr_cube_peer()}, "number": 2 if quick else 5,
         "note": "each node's forward and fit on the pool, the fit from the expansion inverted at the money "
                 "(then rho = 0, -0.5, 0.5 if that start misses its quotes by over 1e-6) with the exact gradient; QuantLib stops at "
                 "its first start within its error tolerance; its cube's normal expansion, in log-moneyness, fits "
                 "these beta = 0 quotes to 0.1-0.3 bp rms"},
    ]


# A 10-exercise co-terminal Bermudan payer into a 10Y swap on Hull-White, 100 tree steps.
HW = quelm.HullWhite(0.05, 0.01, CURVE)
_CAL = quelm.Calendar("target")
BERMUDAN_DATES = [_CAL.adjust(dt.date(2026 + k, 1, 15), "modified-following") for k in range(10)]
BERMUDAN = quelm.BermudanSwaption(BERMUDAN_DATES, dt.date(2036, 1, 15), 0.031, notional=1e6)


def ql_bermudan_option():
    proj, _, index = ql_market()
    model = ql.HullWhite(proj, 0.05, 0.01)
    cal = ql.TARGET()
    start = qd(BERMUDAN_DATES[0])
    fixed = ql.Schedule(start, ql.Date(15, 1, 2036), ql.Period(1, ql.Years), cal, ql.ModifiedFollowing,
                        ql.ModifiedFollowing, ql.DateGeneration.Backward, False)
    floating = ql.Schedule(start, ql.Date(15, 1, 2036), ql.Period(6, ql.Months), cal, ql.ModifiedFollowing,
                           ql.ModifiedFollowing, ql.DateGeneration.Backward, False)
    swap = ql.VanillaSwap(ql.Swap.Payer, 1e6, fixed, 0.031, ql.Thirty360(ql.Thirty360.BondBasis), floating, index,
                          0.0, ql.Actual360())
    return ql.Swaption(swap, ql.BermudanExercise([qd(d) for d in BERMUDAN_DATES])), (model,)


def ql_bermudan_peer() -> dict:
    if ql is None:
        return {}
    option, (model,) = ql_bermudan_option()
    engine = ql.TreeSwaptionEngine(model, 100)
    option.setPricingEngine(engine)
    # The two trees differ by their discretisation at 100 steps (0.2%), and agree as they refine.
    assert abs(option.NPV() - HW.price(BERMUDAN, method="tree", steps=100)) < 5e-3 * option.NPV()

    def reprice():
        option.setPricingEngine(engine)  # a new engine assignment makes QuantLib price again
        return option.NPV()
    return {"QuantLib TreeSwaptionEngine, 100 steps": reprice}


def ql_bermudan_fd_peer() -> dict:
    if ql is None:
        return {}
    option, engine_args = ql_bermudan_option()
    engine = ql.FdHullWhiteSwaptionEngine(*engine_args, 100, 100, 0, 1e-5)
    option.setPricingEngine(engine)
    # Both grids within 1e-4 of the converged value at these sizes.
    assert abs(option.NPV() - HW.price(BERMUDAN, method="pde", steps=100)) < 2e-4 * option.NPV()

    def reprice():
        option.setPricingEngine(engine)
        return option.NPV()
    return {"QuantLib FdHullWhiteSwaptionEngine, 100 x 100 (its default grid)": reprice}


# 100,000 payer prices over a grid of Black vols and strikes on one 5Y x 10Y swaption.
PRICED = SWAPTION.priced_on(CURVE, discount_curve=DISCOUNT)


def smile_grid(n: int):
    import numpy as np
    rng = np.random.default_rng(3)
    return rng.uniform(0.1, 0.4, n), rng.uniform(0.015, 0.05, n)


def numpy_black_payers(vols, strikes):
    """The same prices by NumPy and SciPy's ndtr on the forward and annuity read once."""
    import numpy as np
    from scipy.special import ndtr
    f, a, t = PRICED.forward, PRICED.annuity, PRICED.t
    sd = vols * np.sqrt(t)
    d1 = np.log(f / strikes) / sd + 0.5 * sd
    return a * (f * ndtr(d1) - strikes * ndtr(d1 - sd))


def cases(quick: bool) -> list:
    scale = 1 if quick else 5
    peers = ql_swaption_peers()
    global GRID
    GRID = smile_grid(100_000)
    return cube_cases(quick) + [
        {"name": "HullWhite.price, Bermudan payer, 10 exercise dates, tree of 100 steps",
         "quelm": lambda: HW.price(BERMUDAN, method="tree", steps=100),
         "peers": ql_bermudan_peer(), "number": 50 * scale,
         "note": "the tree fitted to the curve on every call"},
        {"name": "HullWhite.price, Bermudan payer, 10 exercise dates, finite differences",
         "quelm": lambda: HW.price(BERMUDAN, method="pde", steps=100),
         "peers": ql_bermudan_fd_peer(), "number": 50 * scale,
         "note": "quelm: Crank-Nicolson, 100 time and 200 space steps (1e-5 from the converged value), the peer 7e-5"},
        {"name": "vec.swaption_price, 100,000 Black vols and strikes on one priced swaption",
         "quelm": lambda: quelm.vec.swaption_price(PRICED, GRID[0], strike=GRID[1]),
         "peers": {"NumPy + ndtr on the same forward and annuity": lambda: numpy_black_payers(*GRID)},
         "number": 3 * scale,
         "note": "each element the bits of Swaption.price for its strike; the peer's closed form in arrays"},
        {"name": "Swaption made and priced, 5Y x 10Y payer, Black, dual curve",
         "quelm": lambda: quelm.Swaption("5Y", "10Y", 0.032, notional=1e6).price(CURVE, 0.2, discount_curve=DISCOUNT),
         "peers": {k: v for k, v in peers.items() if "per call" in k}, "number": 500 * scale,
         "note": "each side builds the swaption and its swap's schedules on every call"},
        {"name": "Swaption.price, 5Y x 10Y payer, Black, dual curve",
         "quelm": lambda: SWAPTION.price(CURVE, 0.2, discount_curve=DISCOUNT),
         "peers": {k: v for k, v in peers.items() if "per call" not in k}, "number": 2000 * scale,
         "note": "both keep the swap between calls: quelm its terms on the last curves it read, QuantLib its "
                 "schedules (its engine reprices the swap on each call)"},
        {"name": "CapFloor.price, 10Y cap on 6M, Black, dual curve",
         "quelm": lambda: CAP.price(CURVE, 0.2, discount_curve=DISCOUNT),
         "peers": ql_cap_peers(), "number": 1000 * scale,
         "note": "19 caplets; quelm lays the schedule out on every call"},
    ]
