"""A USD/EUR book on one market: SOFR swaps (one forward-starting), Euribor swaps on an €STR
discount curve, a deposit and a Treasury held, a EURUSD forward and an option on its smile,
S&P 500 options on a volatility surface, a Euribor swaption and a Bermudan on Hull-White, and
CDS protection on a name; its value, its risk to every quote of every curve, to the spot,
the surface's expiries, the smile's quotes, the rate vols and the credit spreads (with the
options' Greeks), and its one-day historical P&L in USD by full revaluation of each day's
quote and EURUSD moves."""
from __future__ import annotations

import datetime as dt

import quelm

TODAY = dt.date(2025, 1, 15)
SOFR = [("1M", 0.0431), ("3M", 0.0430), ("6M", 0.0425), ("1Y", 0.0415), ("2Y", 0.0402), ("3Y", 0.0398),
        ("5Y", 0.0398), ("7Y", 0.0402), ("10Y", 0.0410), ("20Y", 0.0420), ("30Y", 0.0408)]
ESTR = [("1M", 0.0290), ("3M", 0.0286), ("6M", 0.0279), ("1Y", 0.0268), ("2Y", 0.0254), ("3Y", 0.0250),
        ("5Y", 0.0252), ("7Y", 0.0258), ("10Y", 0.0266), ("20Y", 0.0273), ("30Y", 0.0262)]
EURIBOR = [("2Y", 0.0268), ("3Y", 0.0264), ("5Y", 0.0266), ("7Y", 0.0272), ("10Y", 0.0281), ("15Y", 0.0290),
           ("20Y", 0.0288), ("30Y", 0.0276)]


CAL = quelm.Calendar("target")
SPX = 5950.0
SPX_EXPIRIES = [0.25, 0.5, 1.0, 2.0]
SPX_MONEYNESS = [0.8, 0.9, 1.0, 1.1, 1.2]


def spx_surface() -> quelm.VolSurface:
    """An S&P 500 surface from a grid of implied vols: a downward skew that flattens with
    expiry."""
    strikes, expiries, vols = [], [], []
    for t in SPX_EXPIRIES:
        for m in SPX_MONEYNESS:
            strikes.append(SPX * m)
            expiries.append(t)
            vols.append(0.165 - 0.28 * (m - 1.0) / t ** 0.35 + 0.35 * (m - 1.0) ** 2 + 0.01 * t)
    return quelm.VolSurface.from_vols(strikes, expiries, vols, SPX, 0.043, dividend_yield=0.013)


def market() -> quelm.Market:
    """The day's market: two OIS curves and a 6M Euribor curve bootstrapped on €STR, the
    EURUSD spot and its smile, an S&P 500 volatility surface, a normal vol for Euribor
    swaptions, a Hull-White model for Bermudans and a credit curve bootstrapped on SOFR."""
    euribor = ([quelm.Deposit("6M", 0.0285), quelm.Fra("6M", "12M", 0.0272)]
               + [quelm.Swap(t, r) for t, r in EURIBOR])
    quotes = {
        "usd-sofr": [quelm.Ois(t, r, index="sofr") for t, r in SOFR],
        "eur-estr": [quelm.Ois(t, r, index="estr") for t, r in ESTR],
        "eur-euribor-6m": (euribor, {"discount_curve": "eur-estr"}),
    }
    curves = quelm.Market.bootstrap(TODAY, quotes, fx={"EURUSD": 1.03})
    usd, eur = curves.curve("usd-sofr"), curves.curve("eur-estr")
    # EURUSD at 1Y: ATM 8.1%, 25- and 10-delta risk reversals and butterflies.
    smile = quelm.FxSmile.from_quotes_at(1.03, "2026-01-15", usd, eur, 0.081, [-0.006, -0.011], [0.0026, 0.0085],
                                         deltas=[0.25, 0.1])
    acme = quelm.CreditCurve.bootstrap(TODAY, [("1Y", 0.0060), ("3Y", 0.0090), ("5Y", 0.0110), ("7Y", 0.0122)],
                                       usd)
    return quelm.Market.bootstrap(TODAY, quotes, fx={"EURUSD": 1.03},
                                  surfaces={"spx": spx_surface(), "eurusd": smile}, credit_curves={"acme": acme},
                                  rate_vols={"eur-normal": quelm.RateVol(0.0088, model="bachelier"),
                                             "eur-hw": quelm.HullWhite(0.03, 0.0085, eur)})


def book() -> quelm.Book:
    """Receivers and payers in both currencies, one forward start, a deposit and a Treasury."""
    treasury = quelm.FixedRateBond.dated("2024-11-15", "2034-11-15", 0.04375, market="ust")
    trades = {
        "SOFR 2Y receiver": quelm.Ois("2Y", 0.0405, index="sofr", notional=50e6),
        "SOFR 5Y payer": quelm.Ois("5Y", 0.0395, index="sofr", notional=-30e6),
        "SOFR 1Yx5Y payer": quelm.Ois("5Y", 0.0400, index="sofr", effective="1Y", notional=-20e6),
        "SOFR 10Y receiver": quelm.Ois("10Y", 0.0412, index="sofr", notional=15e6),
        "SOFR 30Y payer": quelm.Ois("30Y", 0.0405, index="sofr", notional=-5e6),
        "€STR 3Y receiver": quelm.Ois("3Y", 0.0255, index="estr", notional=40e6),
        "Euribor 5Y payer": quelm.Swap("5Y", 0.0265, curve="eur-euribor-6m", notional=-25e6),
        "Euribor 2Yx3Y receiver": quelm.Swap("3Y", 0.0262, curve="eur-euribor-6m", effective="2Y", notional=30e6),
        "Euribor 10Y receiver": quelm.Swap("10Y", 0.0280, curve="eur-euribor-6m", notional=20e6),
        "Euribor 20Y payer": quelm.Swap("20Y", 0.0289, curve="eur-euribor-6m", notional=-8e6),
        "€STR deposit": quelm.Deposit(None, 0.0289, curve="eur-estr", maturity="2025-07-15", notional=10e6),
        "UST 4.375% 2034 (per 100)": (treasury, "usd-sofr"),
        "EURUSD 1Y forward": quelm.FxForward("EURUSD", "2026-01-15", 1.05, notional=20e6),
        "SPX Dec-25 6200 call": quelm.EuropeanOption("spx", 6200.0, "2025-12-19", "call", notional=500.0,
                                                     curve="usd-sofr"),
        "SPX Jun-25 5600 put": quelm.EuropeanOption("spx", 5600.0, "2025-06-20", "put", notional=-800.0,
                                                    curve="usd-sofr"),
        "SPX Sep-25 5800 Amer. put": quelm.AmericanOption("spx", 5800.0, "2025-09-19", "put", notional=200.0,
                                                             curve="usd-sofr"),
        "EURUSD 1Y 1.10 call": quelm.FxOption("EURUSD", "2026-01-15", 1.10, "call", notional=10e6),
        "Euribor 2Yx5Y payer swaption": quelm.Swaption("2Y", "5Y", 0.0275, curve="eur-euribor-6m", vol="eur-normal",
                                                       notional=20e6),
        "Euribor 10NC1 Bermudan recv.": quelm.BermudanSwaption(
            [CAL.adjust(dt.date(2026 + k, 1, 15), "modified-following") for k in range(9)], dt.date(2035, 1, 15),
            0.0270, kind="receiver", curve="eur-euribor-6m", vol="eur-hw", notional=15e6),
        "ACME 5Y CDS protection": quelm.Cds("2030-03-20", 0.01, trade_date=TODAY, credit_curve="acme",
                                            notional=10e6),
    }
    return quelm.Book(list(trades.values()), names=list(trades))


def quote_history(m: quelm.Market, days: int = 250, seed: int = 7):
    """A made-up year of daily quote levels ending today: each curve's quotes move together
    (a level and a slope factor, a few basis points a day) plus a little noise per quote."""
    import numpy as np
    import pandas as pd

    rng = np.random.default_rng(seed)
    labels = list(m.quote_labels)
    dates = pd.bdate_range(end=pd.Timestamp(TODAY), periods=days + 1)
    moves = np.zeros((days, len(labels)))
    for curve in m.curve_names:
        cols = [i for i, label in enumerate(labels) if label.startswith(curve + " ")]
        level = rng.standard_t(5, size=days) * 0.00045
        slope = rng.standard_normal(days) * 0.00015
        tilt = np.linspace(-1.0, 1.0, len(cols))
        moves[:, cols] = level[:, None] + slope[:, None] * tilt[None, :] + rng.standard_normal(
            (days, len(cols))) * 0.00005
    today = np.array([quote for quote in quotes_of(m)])
    levels = today[None, :] - np.vstack([np.cumsum(moves[::-1], axis=0)[::-1], np.zeros(len(labels))])
    history = pd.DataFrame(levels, index=dates, columns=labels)
    # EURUSD: 0.45% a day, the same fat tails, ending at today's spot.
    returns = rng.standard_t(5, size=days) * 0.0045
    history["EURUSD"] = m.fx("EURUSD") / np.exp(np.concatenate([np.cumsum(returns[::-1])[::-1], [0.0]]))
    return history


def quotes_of(m: quelm.Market):
    """Today's quote levels in the market's label order (a projection curve lists its
    discount curve's quotes before its own: its own are the last ones)."""
    for curve in m.curve_names:
        own = sum(label.startswith(curve + " ") for label in m.quote_labels)
        for q in m.curve(curve).instruments[-own:]:
            yield q.quote


def in_dollars(b: quelm.Book, m: quelm.Market) -> float:
    """The book's value in USD: its euro trades converted at the market's EURUSD."""
    return b.npv(m, currency="USD")["total"]


def one_day_pnl(b: quelm.Book, m: quelm.Market, history) -> list[float]:
    """Each historical day's quote and EURUSD moves applied to today's market (the rates'
    changes absolute, the spot's relative), the book revalued in USD."""
    base = in_dollars(b, m)
    scenarios = m.scenarios(m.historical_shifts(history))
    return [in_dollars(b, s) - base for s in scenarios.values()]


def show() -> None:
    m, b = market(), book()
    value = b.npv(m)
    print(f"{len(b)} trades on {', '.join(m.curve_names)} ({len(m.quote_labels)} quotes), {TODAY}")
    for name, v in value["by_trade"].items():
        print(f"  {name:<28}{v:>16,.2f}")
    print(f"  {'total in USD at EURUSD ' + format(m.fx('EURUSD'), 'g'):<28}{in_dollars(b, m):>16,.2f}")
    risk = b.risk(m)
    rates = {label: d for label, d in risk.total.items() if label in m.quote_labels}
    top = sorted(rates.items(), key=lambda kv: -abs(kv[1]))[:6]
    print("largest DV01s of the book (value change per basis point of the quote):")
    for label, d in top:
        print(f"  {label:<28}{d:>16,.2f}")
    print(f"  {'EURUSD delta (per unit)':<28}{risk.total['EURUSD']:>16,.2f}")
    for label in (label for label in risk.labels if label.startswith("spx vol")):
        print(f"  {label + ' (per vol point)':<28}{risk.total[label]:>16,.2f}")
    # Vega comes per vol point (0.01) of the quote: a normal vol's is shown per basis point.
    print(f"  {'eur-normal vol (per bp)':<28}{risk.total['eur-normal vol'] / 100:>16,.2f}")
    print(f"  {'eur-hw sigma (per bp)':<28}{risk.total['eur-hw sigma']:>16,.2f}")
    for label in (label for label in risk.labels if label.startswith(("eurusd ", "acme "))):
        print(f"  {label:<28}{risk.total[label]:>16,.2f}")
    for name, g in risk.greeks.items():
        print(f"  {name:<28}delta {g['delta']:>10,.1f}  gamma {g['gamma']:>8,.3f}  "
              f"vega {g['vega']:>10,.1f}  theta {g['theta']:>12,.1f}")
    try:
        history = quote_history(m)
    except ModuleNotFoundError:
        print("(NumPy and pandas draw the quote history for the P&L; not installed here)")
        return
    pnl = sorted(one_day_pnl(b, m, history))
    cut = int(0.01 * len(pnl))
    print(f"one-day historical P&L in USD over {len(pnl)} days by full revaluation: "
          f"99% VaR {-pnl[cut]:,.0f}, worst day {pnl[0]:,.0f}, best day {pnl[-1]:,.0f}")
