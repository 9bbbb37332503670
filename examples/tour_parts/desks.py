"""The other desks: a rates desk's caps and swaptions on a bootstrapped curve, a SABR
swaption cube and a Bermudan under Hull-White; an FX desk's smile built from market quotes
and options priced on it; a credit desk's hazard curve from CDS spreads, a CDS's upfront
and risk. Every number comes from one call on realistic-looking inputs."""
from __future__ import annotations

import datetime as dt

import quelm

TODAY = dt.date(2026, 3, 2)


def rates() -> None:
    curve = quelm.YieldCurve.bootstrap(TODAY, [quelm.Deposit("6M", 0.0262)] + [
        quelm.Swap(f"{y}Y", 0.0248 + 0.0005 * min(y, 10)) for y in (1, 2, 3, 5, 7, 10, 15, 20, 30)])
    cap = quelm.CapFloor("cap", "5Y", 0.03, notional=10e6)
    swaption = quelm.Swaption("5Y", "10Y", 0.03, notional=10e6)
    print(f"rates on a bootstrapped 6M curve ({TODAY}):")
    print(f"  5Y cap at 3% on 10m, 20% Black vol:     {cap.price(curve, 0.20):>14,.2f}"
          f"   (ATM strike {cap.atm_strike(curve):.4%})")
    print(f"  5Yx10Y payer at 3% on 10m, 85bp normal: {swaption.price(curve, 0.0085, model='bachelier'):>14,.2f}"
          f"   (forward {swaption.forward_rate(curve):.4%}, annuity {swaption.annuity(curve) / 10e6:.3f} per unit)")
    hw = quelm.HullWhite(0.03, 0.009, curve)
    exercise = [dt.date(2027 + k, 3, 4) for k in range(5)]
    bermudan = quelm.BermudanSwaption(exercise, dt.date(2037, 3, 4), 0.03, notional=10e6)
    print(f"  Bermudan payer at 3%, exercisable yearly 2027-2031 into a swap to 2037, Hull-White (a 3%, sigma 90bp): "
          f"{hw.price(bermudan, method='tree', steps=200):,.2f}")


def fx() -> None:
    spot, t, rd, rf = 1.0837, 1.0, 0.043, 0.024
    smile = quelm.FxSmile.from_quotes(spot, t, rd, rf, 0.0765, [-0.0045, -0.0095], [0.0021, 0.0068],
                                      deltas=[0.25, 0.10])
    print("EURUSD 1Y smile from ATM 7.65%, 25/10-delta risk reversals and market strangles:")
    print("  pillar strikes " + ", ".join(f"{k:.4f}" for k in smile.strikes()))
    print("  pillar vols    " + ", ".join(f"{v:.4%}" for v in smile.vols()))
    for k in (1.00, 1.05, 1.10, 1.15):
        price = quelm.garman_kohlhagen(spot, k, rd, rf, smile.vol(k), t, "call")
        print(f"  call {k:.2f}: vol {smile.vol(k):.4%}, price {price:.6f} USD per EUR")
    knock = smile.barrier_price(1.10, 1.20, "up-out", "call")
    print(f"  1.10 call knocked out at 1.20, vanna-volga on the smile: {knock:.6f}")


def credit() -> None:
    trade = "2026-03-02"
    disc = quelm.YieldCurve.bootstrap(trade, [quelm.Deposit(f"{m}M", 0.043 - 0.0005 * m / 3, day_count="act/360",
                                                            calendar="weekends") for m in (1, 3, 6)]
                                      + [quelm.Swap(f"{y}Y", 0.038 + 0.0002 * y, fixed_frequency=2,
                                                    fixed_day_count="30/360", float_tenor="3M",
                                                    calendar="weekends") for y in (1, 2, 3, 5, 7, 10)],
                                      interp="flat-forward")
    spreads = [("1Y", 0.0045), ("3Y", 0.0072), ("5Y", 0.0098), ("7Y", 0.0115), ("10Y", 0.0128)]
    curve = quelm.CreditCurve.bootstrap(trade, spreads, disc)
    cds = quelm.Cds("5Y", 0.01, trade_date=trade, notional=10e6)
    risk = cds.risk(curve)
    print(f"credit: hazard curve from {len(spreads)} par spreads; 5Y survival {curve.survival('2031-03-20'):.4%}")
    print(f"  5Y CDS bought, 100bp coupon, 10m: upfront {cds.upfront(curve, disc):,.2f}, "
          f"par spread {cds.par_spread(curve, disc):.4%}, accrued {cds.accrued:,.2f}")
    print("  CS01 per bp of each spread: " + ", ".join(f"{t} {x:,.0f}" for (t, _), x in zip(spreads, risk["cs01"]))
          + f"; jump to default {risk['jump_to_default']:,.0f}")


def show() -> None:
    rates()
    fx()
    credit()
