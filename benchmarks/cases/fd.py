"""Finite differences per option: quelm's engine beside QuantLib's FD engines, each at the grid
that reaches the stated accuracy on the case (BENCHOP's American put; Ikonen-Toivanen's Heston
American put)."""
from __future__ import annotations

import quelm

# BENCHOP problem 1 (von Sydow et al. 2015): S = K = 100, T = 1, r = 0.03, sigma = 0.15.
PUT_REFERENCE = 4.820608184813253
# Ikonen and Toivanen's Heston American put, S = K = 10, v0 = 0.0625: 0.5200 (their table).
HESTON = (10.0, 10.0, 0.1, 0.25, "put", 0.0625, 5.0, 0.16, 0.9, 0.1)


def _quantlib_put(ql, time_steps, space_steps):
    today = ql.Date(15, 1, 2025)
    ql.Settings.instance().evaluationDate = today
    dc = ql.Actual360()  # 360 days are exactly a year: the same t as quelm's
    spot = ql.SimpleQuote(100.0)
    process = ql.BlackScholesMertonProcess(
        ql.QuoteHandle(spot), ql.YieldTermStructureHandle(ql.FlatForward(today, 0.0, dc)),
        ql.YieldTermStructureHandle(ql.FlatForward(today, 0.03, dc)),
        ql.BlackVolTermStructureHandle(ql.BlackConstantVol(today, ql.NullCalendar(), 0.15, dc)))
    option = ql.VanillaOption(ql.PlainVanillaPayoff(ql.Option.Put, 100.0), ql.AmericanExercise(today, today + 360))
    option.setPricingEngine(ql.FdBlackScholesVanillaEngine(process, time_steps, space_steps, 0))
    flip = [False]

    def run():
        flip[0] = not flip[0]  # a new spot each call forces a new valuation
        spot.setValue(100.0 if flip[0] else 100.0 + 1e-12)
        return option.NPV()
    return run


def _quantlib_heston(ql, time_steps, space_steps, variance_steps):
    today = ql.Date(15, 1, 2025)
    ql.Settings.instance().evaluationDate = today
    dc = ql.Actual360()  # 360 days are exactly a year: the same t as quelm's
    s, k, r, t, _, v0, kappa, theta, xi, rho = HESTON
    spot = ql.SimpleQuote(s)
    process = ql.HestonProcess(ql.YieldTermStructureHandle(ql.FlatForward(today, r, dc)),
                               ql.YieldTermStructureHandle(ql.FlatForward(today, 0.0, dc)),
                               ql.QuoteHandle(spot), v0, kappa, theta, xi, rho)
    option = ql.VanillaOption(ql.PlainVanillaPayoff(ql.Option.Put, k),
                              ql.AmericanExercise(today, today + int(round(t * 360))))
    option.setPricingEngine(ql.FdHestonVanillaEngine(ql.HestonModel(process), time_steps, space_steps,
                                                     variance_steps, 0))
    flip = [False]

    def run():
        flip[0] = not flip[0]
        spot.setValue(s if flip[0] else s + 1e-12)
        return option.NPV()
    return run


def _book_american():
    """An AmericanOption in a one-trade book on a bootstrapped curve and a fitted surface."""
    strikes = [80.0, 90.0, 100.0, 110.0, 120.0]
    vols = [0.17, 0.16, 0.15, 0.15, 0.155]
    surface = quelm.VolSurface.from_vols(strikes * 2, [0.5] * 5 + [1.5] * 5, vols * 2, 100.0, rate=0.03)
    market = quelm.Market.bootstrap("2025-01-15", {"usd-sofr": [quelm.Ois(t, 0.03, index="sofr")
                                                                for t in ("6M", "1Y", "2Y")]},
                                    surfaces={"spx": surface})
    book = quelm.Book([quelm.AmericanOption("spx", 100.0, "2026-01-15", "put")])
    return lambda: book.npv(market), lambda: book.risk(market)


def cases(quick: bool) -> list:
    npv, risk = _book_american()
    trade = {"name": "AmericanOption trade npv in a Book (surface + curve, default grid)",
             "quelm": npv, "peers": {}, "number": 20 if quick else 200,
             "note": "one engine solve; the peer prices the same put alone on its smallest grid within 1e-4"}
    trade_risk = {"name": "AmericanOption trade risk in a Book (five solves: value, rate and vol bumps)",
                  "quelm": risk, "peers": {}, "number": 10 if quick else 100,
                  "note": "curve risk by the rate bumps on one grid, vega by the vol bumps on one grid"}
    put = {"name": "fd_price American put at 1e-4 (BENCHOP problem 1, S = K = 100)",
           "quelm": lambda: quelm.fd_price(100.0, 100.0, 0.03, 0.15, 1.0, "put", style="american"),
           "peers": {}, "number": 20 if quick else 200,
           "note": "quelm at its default grid (2.6e-5 from BENCHOP's value); QuantLib "
                   "FdBlackScholesVanillaEngine at its smallest grid within 1e-4 (8.7e-5); target <= 1 ms, >= 10x"}
    heston = {"name": "fd_heston_price American put at 1e-4 (Ikonen-Toivanen, S = K = 10)",
              "quelm": lambda: quelm.fd_heston_price(*HESTON, style="american"),
              "peers": {}, "number": 1 if quick else 2,
              "note": "quelm at its default grid (0.51999, 8e-5 from the converged 0.52003); QuantLib "
                      "FdHestonVanillaEngine at 200 x 400 x 200 (0.51986, 3e-4: still less accurate); "
                      "target <= 50 ms"}
    try:
        import QuantLib as ql
    except ImportError:
        ql = None
    if ql is not None:
        put["peers"]["QuantLib FdBlackScholesVanillaEngine (t 1000, x 400: 8.7e-5)"] = _quantlib_put(ql, 1000, 400)
        heston["peers"]["QuantLib FdHestonVanillaEngine (t 200, x 400, v 200)"] = _quantlib_heston(ql, 200, 400, 200)
        trade["peers"]["QuantLib FdBlackScholesVanillaEngine (t 1000, x 400)"] = _quantlib_put(ql, 1000, 400)
    return [put, heston, trade, trade_risk]
