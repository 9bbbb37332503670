"""Rate options: caps, floors and swaptions on curves, against published values (cited
per test) and QuantLib as an optional oracle on random grids."""
from __future__ import annotations

import datetime as dt
import math
import pickle
import random

import pytest

import quelm


def flat(rate: float, ref: dt.date, day_count: str = "act/365f") -> quelm.YieldCurve:
    return quelm.YieldCurve.flat(rate, reference_date=ref, day_count=day_count)


# --- caps and floors ------------------------------------------------------------------------

def test_quantlib_test_suite_cached_cap_and_floor():
    """QuantLib test-suite/capfloor.cpp, testCachedValue (par coupons): a 20Y semiannual
    Euribor6M cap at 7% and floor at 3% on 100, flat 5% act/360 from 2002-03-18, 20% vol,
    today 2002-03-14: cap 6.87570026732, floor 2.65812927959. QuantLib's curve starts at the
    settlement date; ours at the trade date discounts four days more, undone here."""
    today, settle = dt.date(2002, 3, 14), dt.date(2002, 3, 18)
    curve = flat(0.05, today, "act/360")
    back = math.exp(0.05 * 4 / 360)
    cap = quelm.CapFloor("cap", "20Y", 0.07, effective=settle, notional=100.0)
    floor = quelm.CapFloor("floor", "20Y", 0.03, effective=settle, notional=100.0)
    assert cap.price(curve, 0.20) * back == pytest.approx(6.87570026732, rel=2e-12)
    assert floor.price(curve, 0.20) * back == pytest.approx(2.65812927959, rel=2e-12)
    # The first caplet fixes on the trade date: left out, and marked so.
    lets = cap.caplets(curve, 0.20)
    assert len(lets) == 40 and lets[0]["fixed"] and not any(k["fixed"] for k in lets[1:])
    assert lets[0]["fixing"] == today and lets[0]["price"] == 0.0


def hull_caplet_setup():
    """One caplet over [1, 1.25] years on 30/360 times, with P(1.25) = e^(-0.065 × 1.25) and
    the period forward 7% (quarterly compounding): the inputs of Hull's example."""
    ref = dt.date(2026, 1, 5)
    p2 = math.exp(-0.065 * 1.25)
    p1 = p2 * (1 + 0.07 * 0.25)
    curve = quelm.YieldCurve.from_discount_factors([1.0, 1.25], [p1, p2], reference_date=ref, day_count="30/360")
    cap = quelm.CapFloor("cap", None, 0.08, effective=dt.date(2027, 1, 5), maturity=dt.date(2027, 4, 5),
                         notional=10_000.0, day_count="30/360", calendar="weekends", fixing_days=0)
    return curve, cap


def test_hull_caplet_example():
    """Hull, Options, Futures and Other Derivatives (9th ed.), Example 29.3: a caplet on
    $10,000 at 8% for three months starting in one year, forward 7%, vol 20%, zero curve
    6.5%: worth $5.19."""
    curve, cap = hull_caplet_setup()
    (let,) = cap.caplets(curve, 0.20)
    assert let["forward"] == pytest.approx(0.07, rel=1e-14)
    assert let["t"] == 1.0 and let["accrual"] == 0.25
    assert cap.price(curve, 0.20) == pytest.approx(5.19, abs=0.005)
    # A single caplet inverts exactly.
    price = cap.price(curve, 0.20)
    assert cap.implied_vol(price, curve) == pytest.approx(0.20, rel=1e-13)


def test_cap_minus_floor_is_the_swap_and_atm_strike_prices_both_alike():
    ref = dt.date(2025, 6, 2)
    curve, disc = flat(0.031, ref), flat(0.027, ref)
    for model, vol, shift in (("black", 0.25, 0.0), ("shifted-black", 0.15, 0.02), ("bachelier", 0.009, 0.0)):
        cap = quelm.CapFloor("cap", "7Y", 0.033, index_tenor="3M")
        floor = quelm.CapFloor("floor", "7Y", 0.033, index_tenor="3M")
        c = cap.price(curve, vol, model=model, shift=shift, discount_curve=disc)
        f = floor.price(curve, vol, model=model, shift=shift, discount_curve=disc)
        live = [k for k in cap.caplets(curve, vol, model=model, shift=shift, discount_curve=disc) if not k["fixed"]]
        swap = sum(k["accrual"] * k["discount"] * (k["forward"] - 0.033) for k in live)
        assert c - f == pytest.approx(swap, rel=1e-12, abs=1e-15)
        k = cap.atm_strike(curve, discount_curve=disc)
        atm_cap = quelm.CapFloor("cap", "7Y", k, index_tenor="3M")
        atm_floor = quelm.CapFloor("floor", "7Y", k, index_tenor="3M")
        assert atm_cap.price(curve, vol, model=model, shift=shift, discount_curve=disc) == pytest.approx(
            atm_floor.price(curve, vol, model=model, shift=shift, discount_curve=disc), rel=1e-12)


def test_strip_implied_vol_round_trips_and_greeks_match_differences():
    ref = dt.date(2025, 6, 2)
    curve = flat(0.03, ref)
    cap = quelm.CapFloor("cap", "10Y", 0.035, notional=1e6)
    for model, vol, shift in (("black", 0.31, 0.0), ("shifted-black", 0.12, 0.03), ("bachelier", 0.0085, 0.0)):
        p = cap.price(curve, vol, model=model, shift=shift)
        assert cap.implied_vol(p, curve, model=model, shift=shift) == pytest.approx(vol, rel=1e-11)
        h = vol * 1e-5
        up, down = (cap.price(curve, vol + s, model=model, shift=shift) for s in (h, -h))
        assert cap.vega(curve, vol, model=model, shift=shift) == pytest.approx((up - down) / (2 * h), rel=1e-7)
        # delta: every forward moved, discounting held: the caplets' Black deltas summed.
        lets = [k for k in cap.caplets(curve, vol, model=model, shift=shift) if not k["fixed"]]
        bumped = 0.0
        for k in lets:
            one = lambda f: (quelm.black76(f + shift, 0.035 + shift, 0.0, vol, k["t"], "call") if model != "bachelier"
                             else quelm.bachelier(f, 0.035, 0.0, vol, k["t"], "call"))
            bumped += 1e6 * k["accrual"] * k["discount"] * (one(k["forward"] + 1e-7) - one(k["forward"] - 1e-7)) / 2e-7
        assert cap.delta(curve, vol, model=model, shift=shift) == pytest.approx(bumped, rel=1e-6)


def test_vol_term_structure_reads_total_variance_linearly():
    ref = dt.date(2025, 6, 2)
    curve = flat(0.03, ref)
    cap = quelm.CapFloor("cap", "5Y", 0.03)
    times, vols = [1.0, 3.0, 5.0], [0.30, 0.25, 0.22]
    for k in cap.caplets(curve, (times, vols)):
        t = k["t"]
        if t <= 1.0:
            want = 0.30
        elif t >= 5.0:
            want = 0.22
        else:
            i = 0 if t < 3.0 else 1
            w0, w1 = vols[i] ** 2 * times[i], vols[i + 1] ** 2 * times[i + 1]
            want = math.sqrt((w0 + (w1 - w0) * (t - times[i]) / (times[i + 1] - times[i])) / t)
        assert k["vol"] == pytest.approx(want, rel=1e-14)
    # A flat term structure is the number.
    assert cap.price(curve, ([1.0, 2.0], [0.2, 0.2])) == pytest.approx(cap.price(curve, 0.2), rel=1e-14)


def test_cap_errors_name_what_is_wrong():
    ref = dt.date(2025, 6, 2)
    with pytest.raises(ValueError, match=r"^invalid input: cap: strike must be a decimal within \(-1, 1\), got 2$"):
        quelm.CapFloor("cap", "5Y", 2.0)
    with pytest.raises(ValueError, match="^cap: give a tenor or a maturity, not both$"):
        quelm.CapFloor("cap", "5Y", 0.03, maturity=dt.date(2030, 1, 1))
    with pytest.raises(ValueError, match="index_tenor must be 1M, 2M, 3M, 4M, 6M or 12M, got 5M$"):
        quelm.CapFloor("floor", "5Y", 0.03, index_tenor="5M")
    with pytest.raises(ValueError, match="kind"):
        quelm.CapFloor("collar", "5Y", 0.03)
    cap = quelm.CapFloor("cap", "5Y", 0.03)
    with pytest.raises(ValueError, match="needs a curve with a reference date"):
        cap.price(quelm.YieldCurve.flat(0.03), 0.2)
    with pytest.raises(ValueError, match=r"shift applies to model \"shifted-black\" only"):
        cap.price(flat(0.03, ref), 0.2, shift=0.01)
    with pytest.raises(ValueError, match="no lognormal price"):
        quelm.CapFloor("cap", "5Y", -0.001).price(flat(0.03, ref), 0.2)
    with pytest.raises(ValueError, match="at or below the intrinsic value"):
        cap.implied_vol(0.0, flat(0.03, ref))
    with pytest.raises(ValueError, match="total variance falls"):
        cap.price(flat(0.03, ref), ([1.0, 2.0], [0.3, 0.2]))
    # Negative rates price under bachelier and shifted black.
    neg = flat(-0.005, ref)
    floor = quelm.CapFloor("floor", "5Y", -0.002)
    assert floor.price(neg, 0.006, model="bachelier") > 0.0
    assert floor.price(neg, 0.2, model="shifted-black", shift=0.02) > 0.0


def test_cap_is_a_value_it_compares_hashes_and_pickles():
    cap = quelm.CapFloor("floor", "5Y", 0.02, index_tenor="3M", notional=2.0, effective=dt.date(2026, 1, 6))
    assert repr(cap) == "CapFloor('floor', '5Y', 0.02, index_tenor='3M', effective='2026-01-06', notional=2)"
    again = pickle.loads(pickle.dumps(cap))
    assert again == cap and hash(again) == hash(cap)
    assert cap != quelm.CapFloor("floor", "5Y", 0.021, index_tenor="3M", notional=2.0, effective=dt.date(2026, 1, 6))
    assert cap.kind == "floor" and cap.tenor == "5Y" and cap.maturity is None and cap.fixing_days == 2


# --- swaptions ------------------------------------------------------------------------------

def test_hull_swaption_example():
    """Hull, Options, Futures and Other Derivatives (9th ed.), Example 29.5: a 5Y into 3Y
    payer at 6.2% on $100 million, semiannual, LIBOR curve flat 6% continuously compounded,
    forward swap rate 6.0909%, annuity 2.0035, vol 20%: worth $2.07 million. Curve times on
    30/360 make the periods whole halves."""
    ref = dt.date(2026, 6, 2)
    curve = quelm.YieldCurve.flat(0.06, reference_date=ref, day_count="30/360")
    s = quelm.Swaption(dt.date(2031, 6, 2), "3Y", 0.062, fixed_frequency=2, notional=100e6, float_tenor="6M",
                       calendar="weekends", settlement_days=0)
    assert s.forward_rate(curve) == pytest.approx(2 * (math.exp(0.03) - 1), rel=1e-12)
    assert s.annuity(curve) / 100e6 == pytest.approx(2.0035, abs=1e-4)
    assert s.price(curve, 0.20) / 1e6 == pytest.approx(2.07, abs=0.005)


def test_swaption_parity_implied_vols_and_cash_annuity():
    ref = dt.date(2025, 6, 2)
    curve, disc = flat(0.032, ref), flat(0.028, ref)
    for model, vol, shift in (("black", 0.22, 0.0), ("shifted-black", 0.14, 0.015), ("bachelier", 0.0075, 0.0)):
        payer = quelm.Swaption("2Y", "5Y", 0.03)
        receiver = quelm.Swaption("2Y", "5Y", 0.03, kind="receiver")
        f, a = payer.forward_rate(curve, discount_curve=disc), payer.annuity(curve, discount_curve=disc)
        p = payer.price(curve, vol, model=model, shift=shift, discount_curve=disc)
        r = receiver.price(curve, vol, model=model, shift=shift, discount_curve=disc)
        assert p - r == pytest.approx(a * (f - 0.03), rel=1e-12)
        for option, price in ((payer, p), (receiver, r)):
            assert option.implied_vol(price, curve, model=model, shift=shift, discount_curve=disc) == pytest.approx(
                vol, rel=1e-12)
    # Cash settlement: the annuity at the forward swap rate, annual compounding from the start.
    cash = quelm.Swaption("2Y", "5Y", 0.03, settlement="cash")
    f = cash.forward_rate(curve)
    cal = quelm.Calendar("target")
    start = cal.advance(cal.adjust(dt.date(2027, 6, 2), "modified-following"), "2D")
    dates = quelm.schedule(start, dt.date(2032, start.month, start.day), "12M", calendar="target",
                           convention="modified-following")
    accruals = [quelm.year_fraction(a, b, "30/360") for a, b in zip(dates, dates[1:])]
    want = curve.discount(start) * sum(t / (1 + f) ** sum(accruals[:i + 1]) for i, t in enumerate(accruals))
    assert cash.annuity(curve) == pytest.approx(want, rel=1e-12)
    assert cash.price(curve, 0.2) == pytest.approx(cash.annuity(curve) * quelm.black76(f, 0.03, 0.0, 0.2, cash_t(ref, start), "call"), rel=1e-12)


def cash_t(ref: dt.date, start: dt.date) -> float:
    """Vol time to the expiry two TARGET days before `start`, act/365f."""
    expiry = quelm.Calendar("target").adjust(dt.date(2027, 6, 2), "modified-following")
    return (expiry - ref).days / 365.0


def test_a_swaption_repriced_on_other_curves_reads_them():
    """A swaption remembers its terms on the curves it last read: moving between curves (of
    other values, dates or the same values made again) must never reuse another curve's."""
    ref = dt.date(2025, 6, 2)
    s = quelm.Swaption("2Y", "5Y", 0.03)
    curves = [flat(0.032, ref), flat(0.025, ref), flat(0.032, dt.date(2025, 6, 3)), flat(0.032, ref),
              quelm.YieldCurve.from_zero_rates([0.5, 10.0], [0.02, 0.035], reference_date=ref)]
    fresh = [quelm.Swaption("2Y", "5Y", 0.03).price(c, 0.2) for c in curves]
    for _ in range(2):
        assert [s.price(c, 0.2) for c in curves] == fresh
        same_date = [c for c in curves if c is not curves[2]]
        assert [s.price(c, 0.2, discount_curve=curves[1]) for c in same_date] == \
            [quelm.Swaption("2Y", "5Y", 0.03).price(c, 0.2, discount_curve=curves[1]) for c in same_date]
    assert fresh[0] == fresh[3] and fresh[0] != fresh[1] != fresh[2]
    again = pickle.loads(pickle.dumps(s))
    assert again.price(curves[4], 0.3) == s.price(curves[4], 0.3)


def test_priced_swaptions_and_caps_over_arrays_have_the_scalar_calls_bits():
    """quelm.vec.swaption_price and cap_price read the curves once (priced_on) and price each
    vol and strike as Swaption.price and CapFloor.price do for the trade of that strike."""
    np = pytest.importorskip("numpy")
    ref = dt.date(2025, 6, 2)
    curve, disc = flat(0.032, ref), flat(0.028, ref)
    vols, strikes = np.linspace(0.1, 0.4, 9), np.linspace(0.005, 0.06, 9)
    for model, scale, shift in (("black", 1.0, 0.0), ("shifted-black", 0.6, 0.01), ("bachelier", 0.04, 0.0)):
        for terms in ({}, {"kind": "receiver", "settlement": "cash"}, {"fixed_frequency": 2, "notional": -3e6}):
            priced = quelm.Swaption("2Y", "5Y", 0.03, **terms).priced_on(curve, discount_curve=disc)
            got = quelm.vec.swaption_price(priced, vols * scale, strike=strikes, model=model, shift=shift)
            want = [quelm.Swaption("2Y", "5Y", float(k), **terms).price(curve, float(v) * scale, model=model,
                                                                        shift=shift, discount_curve=disc)
                    for v, k in zip(vols, strikes)]
            assert list(got) == want
            assert priced.price(0.2 * scale, model=model, shift=shift) == quelm.Swaption("2Y", "5Y", 0.03, **terms).price(
                curve, 0.2 * scale, model=model, shift=shift, discount_curve=disc)
        # A seasoned cap: its first caplet fixed, left out as the scalar call leaves it out.
        for cap in (quelm.CapFloor("cap", "5Y", 0.03, notional=1e6),
                    quelm.CapFloor("floor", None, 0.025, effective="2025-01-15", maturity="2028-01-15",
                                   index_tenor="3M")):
            priced = cap.priced_on(curve, discount_curve=disc)
            got = quelm.vec.cap_price(priced, vols * scale, strike=strikes, model=model, shift=shift)
            make = (lambda k: quelm.CapFloor(cap.kind, cap.tenor, k, index_tenor=cap.index_tenor,
                                             effective=cap.effective, maturity=cap.maturity, notional=cap.notional))
            assert list(got) == [make(float(k)).price(curve, float(v) * scale, model=model, shift=shift,
                                                      discount_curve=disc) for v, k in zip(vols, strikes)]
    priced = quelm.Swaption("2Y", "5Y", 0.03).priced_on(curve)
    assert priced.forward == quelm.Swaption("2Y", "5Y", 0.03).forward_rate(curve)
    assert priced.annuity == quelm.Swaption("2Y", "5Y", 0.03).annuity(curve)
    assert np.isnan(quelm.vec.swaption_price(priced, [0.2, -0.1], errors="nan")[1])
    with pytest.raises(ValueError, match=r"swaption: strike must be a decimal within \(-1, 1\), got 2"):
        priced.price(0.2, strike=2.0)
    assert quelm.CapFloor("cap", "5Y", 0.03).priced_on(curve).live_caplets == 9


def test_swaption_errors():
    ref = dt.date(2025, 6, 2)
    with pytest.raises(ValueError, match="fixed_frequency must be 1, 2, 4 or 12, got 3"):
        quelm.Swaption("1Y", "5Y", 0.03, fixed_frequency=3)
    with pytest.raises(ValueError, match="settlement"):
        quelm.Swaption("1Y", "5Y", 0.03, settlement="delivery")
    with pytest.raises(ValueError, match="not after the curve's reference date"):
        quelm.Swaption(dt.date(2025, 1, 2), "5Y", 0.03).price(flat(0.03, ref), 0.2)
    s = quelm.Swaption("1Y", "5Y", 0.03)
    assert repr(s) == "Swaption('1Y', '5Y', 0.03)"
    assert pickle.loads(pickle.dumps(s)) == s
    with pytest.raises(ValueError, match="outside the bounds"):
        s.implied_vol(1.0, flat(0.03, ref))


# --- QuantLib on random grids (optional) ----------------------------------------------------

@pytest.fixture
def ql():
    return pytest.importorskip("QuantLib")


def qd(ql, d: dt.date):
    return ql.Date(d.day, d.month, d.year)


def pd(d) -> dt.date:
    return dt.date(d.year(), d.month(), d.dayOfMonth())


def ql_curves(ql, ref, r_proj, r_disc):
    ql.Settings.instance().evaluationDate = qd(ql, ref)
    proj = ql.YieldTermStructureHandle(ql.FlatForward(qd(ql, ref), r_proj, ql.Actual365Fixed()))
    disc = ql.YieldTermStructureHandle(ql.FlatForward(qd(ql, ref), r_disc, ql.Actual365Fixed()))
    return proj, disc


def test_caps_and_floors_match_quantlib_on_a_random_grid(ql):
    """BlackCapFloorEngine (lognormal and displaced) and BachelierCapFloorEngine on dual
    flat curves, the schedule rolled back from the end modified-following on TARGET, par
    coupons, a spot cap without its first caplet: 1e-10 relative."""
    rng = random.Random(20260309)
    for _ in range(40):
        ref = dt.date(2024, 1, 2) + dt.timedelta(days=rng.randrange(0, 900))
        r_proj, r_disc = rng.uniform(0.005, 0.06), rng.uniform(0.0, 0.05)
        years, months = rng.choice([1, 2, 3, 5, 7, 10, 15]), rng.choice([3, 6, 12])
        kind = rng.choice(["cap", "floor"])
        strike = rng.uniform(0.005, 0.07)
        model = rng.choice(["black", "shifted-black", "bachelier"])
        shift = 0.01 if model == "shifted-black" else 0.0
        vol = rng.uniform(0.004, 0.012) if model == "bachelier" else rng.uniform(0.1, 0.6)
        forward_start = rng.random() < 0.3
        proj, disc = ql_curves(ql, ref, r_proj, r_disc)
        cal = ql.TARGET()
        index = ql.IborIndex("quelm-like", ql.Period(months, ql.Months), 2, ql.EURCurrency(), cal,
                             ql.ModifiedFollowing, False, ql.Actual360(), proj)
        spot = cal.advance(cal.adjust(qd(ql, ref)), 2, ql.Days)
        start = cal.advance(spot, 1, ql.Years, ql.ModifiedFollowing) if forward_start else spot
        sched = ql.Schedule(start, start + ql.Period(years, ql.Years), ql.Period(months, ql.Months), cal,
                            ql.ModifiedFollowing, ql.ModifiedFollowing, ql.DateGeneration.Backward, False)
        leg = list(ql.IborLeg([1e6], sched, index, ql.Actual360(), ql.ModifiedFollowing, [2]))
        # A caplet fixing on or before the trade date has fixed: left out (a spot cap's first).
        leg = [c for c in leg if ql.as_floating_rate_coupon(c).fixingDate() > qd(ql, ref)]
        option = (ql.Cap if kind == "cap" else ql.Floor)(leg, [strike])
        quote = ql.QuoteHandle(ql.SimpleQuote(vol))
        if model == "bachelier":
            engine = ql.BachelierCapFloorEngine(disc, quote)
        else:
            engine = ql.BlackCapFloorEngine(disc, quote, ql.Actual365Fixed(), shift)
        option.setPricingEngine(engine)
        ours = quelm.CapFloor(kind, f"{years}Y", strike, index_tenor=f"{months}M", notional=1e6,
                              effective=pd(start) if forward_start else None)
        curve, dcurve = flat(r_proj, ref), flat(r_disc, ref)
        price = ours.price(curve, vol, model=model, shift=shift, discount_curve=dcurve)
        assert price == pytest.approx(option.NPV(), rel=1e-10, abs=1e-12), (ref, years, months, kind, model)


def test_swaptions_match_quantlib_on_a_random_grid(ql):
    """BlackSwaptionEngine (lognormal and displaced) and BachelierSwaptionEngine on dual flat
    curves, the underlying swap on the same schedules (annual or semiannual 30/360 fixed,
    3M or 6M act/360 floating): 1e-10 relative, physical and (annual) cash settlement."""
    rng = random.Random(77)
    for _ in range(40):
        ref = dt.date(2024, 1, 2) + dt.timedelta(days=rng.randrange(0, 900))
        r_proj, r_disc = rng.uniform(0.005, 0.06), rng.uniform(0.0, 0.05)
        expiry_years, tenor_years = rng.choice([1, 2, 5, 10]), rng.choice([1, 2, 5, 10, 20])
        freq, months = rng.choice([1, 2]), rng.choice([3, 6])
        cash = freq == 1 and rng.random() < 0.4
        kind = rng.choice(["payer", "receiver"])
        strike = rng.uniform(0.005, 0.07)
        model = rng.choice(["black", "shifted-black", "bachelier"])
        shift = 0.02 if model == "shifted-black" else 0.0
        vol = rng.uniform(0.004, 0.012) if model == "bachelier" else rng.uniform(0.1, 0.5)
        proj, disc = ql_curves(ql, ref, r_proj, r_disc)
        cal = ql.TARGET()
        index = ql.IborIndex("quelm-like", ql.Period(months, ql.Months), 2, ql.EURCurrency(), cal,
                             ql.ModifiedFollowing, False, ql.Actual360(), proj)
        expiry = cal.advance(qd(ql, ref), expiry_years, ql.Years, ql.ModifiedFollowing)
        start = cal.advance(expiry, 2, ql.Days)
        end = start + ql.Period(tenor_years, ql.Years)
        fixed = ql.Schedule(start, end, ql.Period(12 // freq, ql.Months), cal, ql.ModifiedFollowing,
                            ql.ModifiedFollowing, ql.DateGeneration.Backward, False)
        floating = ql.Schedule(start, end, ql.Period(months, ql.Months), cal, ql.ModifiedFollowing,
                               ql.ModifiedFollowing, ql.DateGeneration.Backward, False)
        swap = ql.VanillaSwap(ql.Swap.Payer if kind == "payer" else ql.Swap.Receiver, 1e6, fixed, strike,
                              ql.Thirty360(ql.Thirty360.BondBasis), floating, index, 0.0, ql.Actual360())
        if cash:
            option = ql.Swaption(swap, ql.EuropeanExercise(expiry), ql.Settlement.Cash,
                                 ql.Settlement.ParYieldCurve)
        else:
            option = ql.Swaption(swap, ql.EuropeanExercise(expiry))
        quote = ql.QuoteHandle(ql.SimpleQuote(vol))
        if model == "bachelier":
            engine = ql.BachelierSwaptionEngine(disc, quote)
        else:
            engine = ql.BlackSwaptionEngine(disc, quote, ql.Actual365Fixed(), shift)
        option.setPricingEngine(engine)
        ours = quelm.Swaption(f"{expiry_years}Y", f"{tenor_years}Y", strike, kind=kind, fixed_frequency=freq,
                              float_tenor=f"{months}M", notional=1e6, settlement="cash" if cash else "physical")
        curve, dcurve = flat(r_proj, ref), flat(r_disc, ref)
        price = ours.price(curve, vol, model=model, shift=shift, discount_curve=dcurve)
        # Far out of the money QuantLib's own Bachelier tail loses digits: 1e-16 of the notional.
        assert price == pytest.approx(option.NPV(), rel=1e-10, abs=1e-10), (ref, expiry_years, tenor_years, model, cash)
        if not cash:
            swap.setPricingEngine(ql.DiscountingSwapEngine(disc))
            assert ours.forward_rate(curve, discount_curve=dcurve) == pytest.approx(swap.fairRate(), rel=1e-12)


# --- normal and shifted SABR ----------------------------------------------------------------

def test_normal_sabr_at_the_money_is_hagans_closed_form():
    """Hagan, Kumar, Lesniewski and Woodward, "Managing smile risk" (Wilmott, 2002),
    eq. (B.69a) at K = F: sigma_N = alpha F^beta (1 + t [-beta (2 - beta) alpha^2 /
    (24 F^(2 - 2 beta)) + rho alpha nu beta / (4 F^(1 - beta)) + (2 - 3 rho^2) nu^2 / 24])."""
    for f, t, a, b, r, n in [(0.03, 2.0, 0.02, 0.5, -0.3, 0.4), (0.05, 0.5, 0.01, 0.0, 0.2, 0.6),
                             (0.012, 10.0, 0.3, 1.0, -0.6, 0.2), (0.04, 5.0, 0.004, 0.25, 0.0, 0.35)]:
        want = a * f ** b * (1 + t * (-b * (2 - b) * a * a / (24 * f ** (2 - 2 * b))
                                      + r * a * n * b / (4 * f ** (1 - b)) + (2 - 3 * r * r) * n * n / 24))
        assert quelm.sabr_vol(f, f, t, a, b, r, n, model="normal") == pytest.approx(want, rel=1e-14)
        # Continuous through the money (the ratio and z / x(z) at 0 / 0).
        assert quelm.sabr_vol(f, f * (1 + 1e-9), t, a, b, r, n, model="normal") == pytest.approx(want, rel=1e-8)


def test_normal_sabr_with_beta_zero_takes_any_sign_and_depends_on_f_minus_k():
    """With beta = 0 the expansion is alpha z / x(z) (1 + (2 - 3 rho^2) nu^2 t / 24), z = nu /
    alpha (F - K): a function of F - K only, so a negative forward's smile is the positive
    one moved; with nu = 0 it is the Bachelier model, a flat alpha."""
    a, r, n, t = 0.006, -0.25, 0.45, 1.5
    for d in (-0.01, -0.002, 0.0, 0.003, 0.015):
        neg = quelm.sabr_vol(-0.004, -0.004 - d, t, a, 0.0, r, n, model="normal")
        pos = quelm.sabr_vol(0.021, 0.021 - d, t, a, 0.0, r, n, model="normal")
        assert neg == pytest.approx(pos, rel=1e-15)
        z = n / a * d
        zx = 1.0 if z == 0 else z / math.log((math.sqrt(1 - 2 * r * z + z * z) + z - r) / (1 - r))
        assert neg == pytest.approx(a * zx * (1 + (2 - 3 * r * r) * n * n * t / 24), rel=1e-13)
        assert quelm.sabr_vol(-0.004, -0.004 - d, t, a, 0.0, r, 0.0, model="normal") == pytest.approx(a, rel=1e-15)
    with pytest.raises(ValueError, match="forward must be > 0"):
        quelm.sabr_vol(-0.004, 0.01, t, a, 0.5, r, n, model="normal")


def test_normal_and_lognormal_expansions_price_alike():
    """Both expansions approximate one model: a Bachelier price at the normal vol and a Black
    price at the lognormal vol agree to the expansions' order (to 1e-4 of the price near the
    money, 1e-3 two normal deviations out, at these parameters)."""
    f, t, a, b, r, n = 0.03, 1.0, 0.025, 0.5, -0.3, 0.3
    for k, tol in ((0.02, 1e-4), (0.025, 1e-4), (0.03, 1e-4), (0.035, 3e-4), (0.04, 1e-3)):
        normal = quelm.bachelier(f, k, 0.0, quelm.sabr_vol(f, k, t, a, b, r, n, model="normal"), t, "call")
        black = quelm.black76(f, k, 0.0, quelm.sabr_vol(f, k, t, a, b, r, n), t, "call")
        assert normal == pytest.approx(black, rel=tol)


def test_shifted_sabr_is_sabr_on_shifted_rates():
    for model in ("lognormal", "normal"):
        for k in (-0.004, 0.0, 0.01):
            got = quelm.sabr_vol(-0.002, k, 2.0, 0.1, 0.5, -0.2, 0.3, model=model, shift=0.02)
            assert got == quelm.sabr_vol(-0.002 + 0.02, k + 0.02, 2.0, 0.1, 0.5, -0.2, 0.3, model=model)
    # Default keeps the lognormal call as it was, by position and by keyword.
    assert quelm.sabr_vol(0.03, 0.025, 1.0, 0.03, 0.5, -0.3, 0.4) == quelm.sabr_vol(
        0.03, 0.025, 1.0, 0.03, 0.5, -0.3, 0.4, model="lognormal", shift=0.0)


def test_shifted_sabr_matches_quantlib(ql):
    """QuantLib's shiftedSabrVolatility: the lognormal expansion everywhere, the normal one at
    the money (off the money QuantLib's normal form differs from eq. B.69a at order 1e-3)."""
    rng = random.Random(5)
    for _ in range(200):
        f, shift = rng.uniform(-0.005, 0.05), rng.choice([0.0, 0.01, 0.03])
        if f + shift <= 0.001:
            continue
        k = max(f + rng.uniform(-0.02, 0.02), -shift + 0.001)
        t, a, b = rng.uniform(0.1, 10), rng.uniform(0.05, 0.4), rng.uniform(0.2, 1.0)
        r, n = rng.uniform(-0.8, 0.8), rng.uniform(0.05, 0.8)
        try:
            ours = quelm.sabr_vol(f, k, t, a, b, r, n, shift=shift)
        except ValueError:
            continue
        assert ours == pytest.approx(ql.shiftedSabrVolatility(k, f, t, a, b, n, r, shift), rel=1e-12)
        atm = quelm.sabr_vol(f, f, t, a * 0.1, b, r, n, model="normal", shift=shift)
        assert atm == pytest.approx(ql.shiftedSabrVolatility(f, f, t, a * 0.1, b, n, r, shift, ql.Normal), rel=1e-12)


def test_normal_sabr_array_form_has_the_scalar_bits():
    strikes = [-0.01 + 0.0025 * i for i in range(13)]
    got = quelm.vec.sabr_vol(-0.002, strikes, 1.0, 0.006, 0.0, -0.3, 0.4, model="normal")
    assert [float(g) for g in got] == [quelm.sabr_vol(-0.002, k, 1.0, 0.006, 0.0, -0.3, 0.4, model="normal")
                                       for k in strikes]


# The normal fit's closed-form start and gradient (internal hooks).
NORMAL_SABR_CASES = [  # (forward, alpha, rho, nu, t): short and long expiries, negative rates, rho = 0
    (0.025, 0.006, -0.3, 0.25, 0.1), (0.03, 0.0065, 0.1, 0.4, 5.0), (0.01, 0.008, 0.5, 0.6, 10.0),
    (-0.002, 0.005, -0.6, 0.3, 20.0), (0.04, 0.007, 0.0, 0.35, 1.0)]


def test_normal_sabr_start_inverts_hagans_expansion_at_the_money():
    internal = pytest.importorskip("_quelm_testing")
    offsets = [-200, -100, -50, -25, -10, 0, 10, 25, 50, 100, 200]
    for f, a, r, n, t in NORMAL_SABR_CASES:
        strikes = [f + o / 1e4 for o in offsets]
        vols = [quelm.sabr_vol(f, k, t, a, 0.0, r, n, model="normal") for k in strikes]
        # Before any iteration: only the fifth-order terms of the smile are left out.
        alpha, rho, nu = internal.sabr_normal_start(f, strikes, vols, t)
        assert alpha == pytest.approx(a, rel=1e-5) and rho == pytest.approx(r, abs=3e-5)
        assert nu == pytest.approx(n, rel=3e-5)
        # Three quotes give the parabola alone: still near, a start and not a fit.
        alpha, rho, nu = internal.sabr_normal_start(f, strikes[4:7], vols[4:7], t)
        assert alpha == pytest.approx(a, rel=1e-3) and rho == pytest.approx(r, abs=2e-2)
        assert nu == pytest.approx(n, rel=2e-2)
    # Repeated strikes span no parabola: no guess, the fit's other starts take over.
    assert internal.sabr_normal_start(0.02, [0.02, 0.02, 0.02], [0.006, 0.006, 0.006], 1.0) is None


def test_normal_sabr_gradient_is_the_vols_derivative():
    internal = pytest.importorskip("_quelm_testing")
    vol = lambda f, k, t, a, r, n: quelm.sabr_vol(f, k, t, a, 0.0, r, n, model="normal")
    for f, a, r, n, t in NORMAL_SABR_CASES:
        # At the money, inside the series' range (|z| < 1e-4) and past it, either side.
        for k in (f, f + 1e-7, f - 1e-6, f + 0.004, f - 0.02):
            v, *grad = internal.sabr_normal0_vol_gradient(f, k, t, a, r, n)
            assert v == vol(f, k, t, a, r, n)  # the same bits as the vol itself
            h = (1e-6 * a, 1e-6, 1e-6)
            central = [(vol(f, k, t, a + h[0], r, n) - vol(f, k, t, a - h[0], r, n)) / (2 * h[0]),
                       (vol(f, k, t, a, r + h[1], n) - vol(f, k, t, a, r - h[1], n)) / (2 * h[1]),
                       (vol(f, k, t, a, r, n + h[2]) - vol(f, k, t, a, r, n - h[2])) / (2 * h[2])]
            # abs: the vols' rounding over the steps, a few units in 1e-12
            for g, c in zip(grad, central):
                assert g == pytest.approx(c, rel=1e-6, abs=2e-11)


# --- the swaption cube ----------------------------------------------------------------------

CUBE_REF = dt.date(2026, 3, 2)
OFFSETS = [-150, -100, -50, -25, 0, 25, 50, 100, 150]


def cube_quotes(expiries, tenors, curve, sabr, model="normal", shift=0.0, beta=0.0):
    """Quotes made by SABR itself at each node, its parameters varying over the grid."""
    vols = []
    for i, e in enumerate(expiries):
        row = []
        for j, t in enumerate(tenors):
            s = quelm.Swaption(e, t, 0.0)
            f, te = s.forward_rate(curve), cube_time(e)
            a, r, n = sabr(i, j)
            row.append([quelm.sabr_vol(f, f + o / 1e4, te, a, beta, r, n, model=model, shift=shift) for o in OFFSETS])
        vols.append(row)
    return vols


def cube_time(expiry: str) -> float:
    cal = quelm.Calendar("target")
    return (cal.advance(CUBE_REF, expiry, "modified-following") - CUBE_REF).days / 365.0


def test_cube_recovers_the_sabr_that_made_its_quotes():
    curve = flat(0.02, CUBE_REF)
    expiries, tenors = ["6M", "1Y", "5Y"], ["2Y", "10Y"]
    strikes = ["ATM" if o == 0 else f"ATM{o:+d}" for o in OFFSETS]
    for model, quoting, beta, shift, sabr in (
            ("normal", "bachelier", 0.0, 0.0, lambda i, j: (0.006 + 0.001 * j, -0.2 + 0.1 * i, 0.3 + 0.1 * j)),
            ("lognormal", "shifted-black", 0.5, 0.01, lambda i, j: (0.05 + 0.01 * i, -0.3 + 0.1 * j, 0.4)),
            ("lognormal", "black", 0.7, 0.0, lambda i, j: (0.08, -0.1 * i, 0.25 + 0.05 * j))):
        vols = cube_quotes(expiries, tenors, curve, sabr, model, shift, beta)
        cube = quelm.SwaptionCube.from_quotes(CUBE_REF, expiries, tenors, strikes, vols, model=quoting, beta=beta,
                                              shift=shift, curve=curve)
        for i, e in enumerate(expiries):
            for j, t in enumerate(tenors):
                p = cube.parameters(e, t)
                want = sabr(i, j)
                assert (p["alpha"], p["rho"], p["nu"]) == pytest.approx(want, rel=1e-6, abs=1e-8), (model, e, t)
                assert p["beta"] == beta and p["shift"] == shift and p["converged"] and p["rmse"] < 1e-10
                assert p["forward"] == pytest.approx(quelm.Swaption(e, t, 0.0).forward_rate(curve), rel=1e-15)
                # At a node the cube reads its own smile: the quotes back.
                for k, v in zip(p["strikes"], vols[i][j]):
                    assert cube.vol(e, t, k) == pytest.approx(v, rel=1e-9)
        assert len(cube.report()) == len(expiries) * len(tenors)


def test_cube_reads_between_nodes_at_the_same_offset_and_flat_beyond():
    curve = flat(0.025, CUBE_REF)
    expiries, tenors = ["1Y", "2Y"], ["5Y", "10Y"]
    sabr = lambda i, j: (0.006 + 0.002 * i, -0.3 + 0.2 * j, 0.3 + 0.2 * i * j)
    vols = cube_quotes(expiries, tenors, curve, sabr)
    cube = quelm.SwaptionCube.from_quotes(CUBE_REF, expiries, tenors, ["ATM" if o == 0 else f"ATM{o:+d}" for o in OFFSETS],
                                          vols, beta=0.0, curve=curve)
    p = {(e, t): cube.parameters(e, t) for e in expiries for t in tenors}
    fwd = sum(x["forward"] for x in p.values()) / 4
    for k in (0.02, 0.025, 0.031):
        corners = [quelm.sabr_vol(x["forward"], k - fwd + x["forward"], x["t"], x["alpha"], 0.0, x["rho"], x["nu"],
                                  model="normal") for x in p.values()]
        assert cube.vol(1.5, 7.5, k) == pytest.approx(sum(corners) / 4, rel=1e-13)
        assert cube.vol("1Y", 7.5, k) == pytest.approx(cube.vol(1.0, 7.5, k), rel=1e-15)
        # Flat beyond the grid in both directions.
        assert cube.vol(0.25, 30.0, k) == cube.vol("1Y", "10Y", k)
    # Absolute strikes at the nodes' forwards give the same fits.
    same = quelm.SwaptionCube.from_quotes(CUBE_REF, ["1Y"], ["5Y"], [p[("1Y", "5Y")]["forward"] + o / 1e4 for o in OFFSETS],
                                          [[vols[0][0]]], beta=0.0, curve=curve)
    assert same.parameters("1Y", "5Y")["alpha"] == pytest.approx(p[("1Y", "5Y")]["alpha"], rel=1e-12)


def test_cube_pickles_to_the_same_fits_and_vols():
    curve = flat(0.025, CUBE_REF)
    expiries, tenors = ["1Y", "2Y"], ["5Y", "10Y"]
    vols = cube_quotes(expiries, tenors, curve, lambda i, j: (0.006 + 0.002 * i, -0.3 + 0.2 * j, 0.3 + 0.2 * i * j))
    strikes = ["ATM" if o == 0 else f"ATM{o:+d}" for o in OFFSETS[:-1]] + [0.03]  # offsets and an absolute strike
    cube = quelm.SwaptionCube.from_quotes(CUBE_REF, expiries, tenors, strikes, vols, beta=0.0, curve=curve)
    back = pickle.loads(pickle.dumps(cube))
    assert back == cube and repr(back) == repr(cube)
    assert [r["alpha"] for r in back.report()] == [r["alpha"] for r in cube.report()]
    assert back.vol(1.5, 7.5, 0.027) == cube.vol(1.5, 7.5, 0.027)
    # A cube of other quotes differs.
    other = quelm.SwaptionCube.from_quotes(CUBE_REF, expiries, tenors, strikes,
                                           [[[v * 1.01 for v in row] for row in plane] for plane in vols],
                                           beta=0.0, curve=curve)
    assert other != cube


def test_cube_fits_do_not_depend_on_the_thread_count():
    from conftest import same_output_across_threads
    code = (
        "import datetime as dt, quelm\n"
        "ref = dt.date(2026, 3, 2)\n"
        "curve = quelm.YieldCurve.flat(0.02, reference_date=ref)\n"
        "ex = ['1M', '6M', '1Y', '2Y', '5Y', '10Y']; te = ['1Y', '2Y', '5Y', '10Y', '30Y']\n"
        "offs = [-100, -50, -25, 0, 25, 50, 100]\n"
        "vols = [[[0.007 + 0.0001 * i - 0.00002 * j + 0.000001 * abs(o) + 0.0000003 * o for o in offs]"
        " for j in range(len(te))] for i in range(len(ex))]\n"
        "cube = quelm.SwaptionCube.from_quotes(ref, ex, te, [f'ATM{o:+d}' for o in offs], vols, beta=0.0,"
        " curve=curve)\n"
        "print([(r['alpha'].hex(), r['rho'].hex(), r['nu'].hex()) for r in cube.report()])\n")
    same_output_across_threads(code)


def test_cube_errors():
    curve = flat(0.02, CUBE_REF)
    strikes = ["ATM-50", "ATM", "ATM+50"]
    with pytest.raises(ValueError, match="3 vols for 1 expiries x 2 tenors x 3 strikes"):
        quelm.SwaptionCube.from_quotes(CUBE_REF, ["1Y"], ["2Y", "5Y"], strikes, [0.007, 0.006, 0.007], curve=curve)
    with pytest.raises(ValueError, match="needs curve= for each node's forward swap rate"):
        quelm.SwaptionCube.from_quotes(CUBE_REF, ["1Y"], ["2Y"], strikes, [0.007, 0.006, 0.007])
    with pytest.raises(ValueError, match="strike 'ATM\\*2' is not"):
        quelm.SwaptionCube.from_quotes(CUBE_REF, ["1Y"], ["2Y"], ["ATM*2", "ATM", 0.03], [0.007, 0.006, 0.007],
                                       curve=curve)
    with pytest.raises(ValueError, match="strictly increasing"):
        quelm.SwaptionCube.from_quotes(CUBE_REF, ["2Y", "1Y"], ["2Y"], strikes, [0.007] * 6, curve=curve)
    with pytest.raises(ValueError, match="node 1Y x 2Y: vols must be finite and > 0"):
        quelm.SwaptionCube.from_quotes(CUBE_REF, ["1Y"], ["2Y"], strikes, [0.007, -0.006, 0.007], curve=curve)
    cube = quelm.SwaptionCube.from_quotes(CUBE_REF, ["1Y"], ["2Y"], strikes, [0.0072, 0.0065, 0.0071], beta=0.0,
                                          curve=curve)
    with pytest.raises(ValueError, match="no node 5Y x 2Y"):
        cube.parameters("5Y", "2Y")
    assert repr(cube) == "SwaptionCube(2026-03-02, 1 expiries x 1 tenors, bachelier)"
    assert cube.expiries == ["1Y"] and cube.model == "bachelier" and cube.reference_date == CUBE_REF


def test_cube_node_fits_agree_with_quantlib_sabr_interpolation(ql):
    """QuantLib's SABRInterpolation (beta fixed, no vega weights) on the lognormal quotes of a
    node recovers the same alpha, rho and nu."""
    curve = flat(0.03, CUBE_REF)
    sabr = lambda i, j: (0.06, -0.25, 0.45)
    vols = cube_quotes(["2Y"], ["10Y"], curve, sabr, "lognormal", 0.0, 0.5)
    cube = quelm.SwaptionCube.from_quotes(CUBE_REF, ["2Y"], ["10Y"], [f"ATM{o:+d}" for o in OFFSETS], vols,
                                          model="black", curve=curve)
    p = cube.parameters("2Y", "10Y")
    theirs = ql.SABRInterpolation(p["strikes"], vols[0][0], p["t"], p["forward"], 0.05, 0.5, 0.5, 0.0,
                                  False, True, False, False, False)
    theirs(p["forward"], True)
    assert (p["alpha"], p["rho"], p["nu"]) == pytest.approx((theirs.alpha(), theirs.rho(), theirs.nu()), rel=1e-6)


def test_cube_agrees_with_quantlib_sabr_swaption_cube(ql):
    """QuantLib's SabrSwaptionVolatilityCube on the same lognormal quotes (an ATM matrix, vol
    spreads, Euribor swap indices on the same flat curve, beta fixed, no vega weights) finds
    the same forwards and reads back the same smiles at the nodes (to 1e-13 here; the
    smiles span 15 vol points)."""
    curve = flat(0.03, CUBE_REF)
    expiries, tenors = ["1Y", "5Y"], ["5Y", "10Y"]
    sabr = lambda i, j: (0.05 + 0.01 * i, -0.2 - 0.1 * j, 0.5 - 0.1 * i)
    vols = cube_quotes(expiries, tenors, curve, sabr, "lognormal", 0.0, 0.5)
    mine = quelm.SwaptionCube.from_quotes(CUBE_REF, expiries, tenors, [f"ATM{o:+d}" for o in OFFSETS], vols,
                                          model="black", curve=curve)
    ql.Settings.instance().evaluationDate = qd(ql, CUBE_REF)
    handle = ql.YieldTermStructureHandle(ql.FlatForward(qd(ql, CUBE_REF), 0.03, ql.Actual365Fixed()))
    period = lambda s: ql.Period(int(s[:-1]), ql.Years)
    atm = OFFSETS.index(0)
    quote = lambda v: ql.QuoteHandle(ql.SimpleQuote(v))
    matrix = ql.SwaptionVolatilityMatrix(ql.TARGET(), ql.ModifiedFollowing, [period(e) for e in expiries],
                                         [period(t) for t in tenors], [[quote(v[atm]) for v in row] for row in vols],
                                         ql.Actual365Fixed())
    theirs = ql.SabrSwaptionVolatilityCube(
        ql.SwaptionVolatilityStructureHandle(matrix), [period(e) for e in expiries], [period(t) for t in tenors],
        [o / 1e4 for o in OFFSETS], [[quote(x - v[atm]) for x in v] for row in vols for v in row],
        ql.EuriborSwapIsdaFixA(ql.Period(2, ql.Years), handle), ql.EuriborSwapIsdaFixA(ql.Period(1, ql.Years), handle),
        False, [[quote(x) for x in (v[atm], 0.5, 0.4, 0.0)] for row in vols for v in row],
        [False, True, False, False], False)
    for e in expiries:
        for t in tenors:
            p = mine.parameters(e, t)
            date = theirs.optionDateFromTenor(period(e))
            assert theirs.atmStrike(date, period(t)) == pytest.approx(p["forward"], abs=1e-12), (e, t)
            for k in p["strikes"]:
                assert theirs.volatility(date, period(t), k) == pytest.approx(mine.vol(e, t, k), abs=1e-8), (e, t, k)


# --- Hull-White -----------------------------------------------------------------------------

HW_REF = dt.date(2025, 6, 2)


def test_hull_white_zero_bonds_and_their_options_hold_the_closed_forms():
    curve = quelm.YieldCurve.from_zero_rates([0.0, 1.0, 5.0, 30.0], [0.02, 0.025, 0.032, 0.035],
                                             reference_date=HW_REF, interp="linear", extrapolate="flat-forward")
    m = quelm.HullWhite(0.07, 0.012, curve)
    # At t = 0 with the short rate at the curve's instantaneous forward, the curve's bond (the
    # forward at the curve's start a one-sided difference); later, the forward bond at the
    # short rate that makes it so.
    assert m.zero_bond(0.0, 7.0, 0.02) == pytest.approx(curve.discount(7.0), rel=1e-6)
    flat_m = quelm.HullWhite(0.07, 0.012, flat(0.03, HW_REF))
    b = (1 - math.exp(-0.07 * 4.0)) / 0.07
    shift = 0.012 ** 2 / (4 * 0.07) * (1 - math.exp(-2 * 0.07 * 3.0)) * b * b
    assert flat_m.zero_bond(3.0, 7.0, 0.03) == pytest.approx(math.exp(-0.03 * 4.0 - shift), rel=1e-10)
    for expiry, maturity, strike in ((1.0, 5.0, 0.88), (3.0, 3.5, 0.985), (5.0, 15.0, 0.7)):
        call = m.zero_bond_option(expiry, maturity, strike, "call")
        put = m.zero_bond_option(expiry, maturity, strike, "put")
        # Put-call parity on the bond forward: model-free.
        assert call - put == pytest.approx(curve.discount(maturity) - strike * curve.discount(expiry), rel=1e-12)
        # Jamshidian (1989): P(0,S) N(h) - K P(0,T) N(h - sigma_P).
        a, s = 0.07, 0.012
        sp = s / a * (1 - math.exp(-a * (maturity - expiry))) * math.sqrt((1 - math.exp(-2 * a * expiry)) / (2 * a))
        h = math.log(curve.discount(maturity) / (curve.discount(expiry) * strike)) / sp + sp / 2
        n = lambda x: 0.5 * math.erfc(-x / math.sqrt(2))
        assert call == pytest.approx(curve.discount(maturity) * n(h) - strike * curve.discount(expiry) * n(h - sp),
                                     rel=1e-12)
    with pytest.raises(ValueError, match="HullWhite: a must be finite and > 0, got 0"):
        quelm.HullWhite(0.0, 0.01, curve)


def test_hull_white_futures_convexity():
    """Hull, Options, Futures and Other Derivatives (9th ed.), Example 6.4: Ho-Lee's bias
    sigma^2 t1 t2 / 2 with sigma = 0.012, t1 = 8, t2 = 8.25 is 0.00475 (0.475%); Hull-White's
    is below it and follows its formula."""
    curve = flat(0.05, HW_REF)
    # Hull rounds 0.004752 to 0.00475.
    assert quelm.HullWhite(1e-10, 0.012, curve).futures_convexity(8.0, 8.25) == pytest.approx(0.00475, abs=5e-6)
    assert quelm.HullWhite(1e-10, 0.012, curve).futures_convexity(8.0, 8.25) == pytest.approx(
        0.5 * 0.012 ** 2 * 8.0 * 8.25, rel=1e-8)
    a, s, t1, t2 = 0.05, 0.012, 8.0, 8.25
    b = lambda t, u: (1 - math.exp(-a * (u - t))) / a
    want = b(t1, t2) / (t2 - t1) * (b(t1, t2) * (1 - math.exp(-2 * a * t1)) + 2 * a * b(0, t1) ** 2) * s * s / (4 * a)
    got = quelm.HullWhite(a, s, curve).futures_convexity(t1, t2)
    assert got == pytest.approx(want, rel=1e-12) and got < 0.00475


def test_hull_white_swaptions_and_caps_keep_parity():
    curve = flat(0.028, HW_REF)
    m = quelm.HullWhite(0.04, 0.009, curve)
    for lag in (0, 2):
        payer = quelm.Swaption("3Y", "7Y", 0.03, notional=1e6, settlement_days=lag)
        receiver = quelm.Swaption("3Y", "7Y", 0.03, kind="receiver", notional=1e6, settlement_days=lag)
        # Payer minus receiver is the forward swap, whatever the model.
        assert m.price(payer) - m.price(receiver) == pytest.approx(
            payer.annuity(curve) * (payer.forward_rate(curve) - 0.03), rel=1e-10)
    cap, floor = (quelm.CapFloor(k, "5Y", 0.03, notional=1e6) for k in ("cap", "floor"))
    live = [k for k in cap.caplets(curve, 0.2) if not k["fixed"]]
    swap = sum(1e6 * k["accrual"] * k["discount"] * (k["forward"] - 0.03) for k in live)
    assert m.price(cap) - m.price(floor) == pytest.approx(swap, rel=1e-10)
    # A vanishing sigma leaves the intrinsic values on the forwards.
    still = quelm.HullWhite(0.04, 1e-9, curve)
    intrinsic = sum(1e6 * k["accrual"] * k["discount"] * max(k["forward"] - 0.03, 0.0) for k in live)
    assert still.price(cap) == pytest.approx(intrinsic, rel=1e-6)
    with pytest.raises(ValueError, match="physically settled swaptions only"):
        m.price(quelm.Swaption("3Y", "7Y", 0.03, settlement="cash"))


def test_hull_white_matches_quantlib(ql):
    """QuantLib's HullWhite.discountBondOption and JamshidianSwaptionEngine on a flat curve
    (the swap starting at expiry, as QuantLib's decomposition has it): zero-bond options to
    1e-12. Swaptions: QuantLib's engine solves its r* to 1e-8 only (hard-wired), which moves
    its price by up to 2e-7; Jamshidian's decomposition built from QuantLib's own discountBond
    and discountBondOption, with r* solved to rounding, agrees to 1e-10."""
    rng = random.Random(11)
    for _ in range(25):
        r, a, sigma = rng.uniform(0.0, 0.05), rng.uniform(0.01, 0.3), rng.uniform(0.002, 0.02)
        ql.Settings.instance().evaluationDate = qd(ql, HW_REF)
        h = ql.YieldTermStructureHandle(ql.FlatForward(qd(ql, HW_REF), r, ql.Actual365Fixed()))
        theirs = ql.HullWhite(h, a, sigma)
        ours = quelm.HullWhite(a, sigma, flat(r, HW_REF))
        t = rng.uniform(0.5, 10)
        s, k = t + rng.uniform(0.25, 20), rng.uniform(0.3, 1.0)
        for kind, qk in (("call", ql.Option.Call), ("put", ql.Option.Put)):
            assert ours.zero_bond_option(t, s, k, kind) == pytest.approx(theirs.discountBondOption(qk, k, t, s),
                                                                         rel=1e-12, abs=1e-15)
        years, tenor, strike = rng.choice([1, 2, 5, 10]), rng.choice([1, 2, 5, 10]), rng.uniform(0.005, 0.06)
        kind = rng.choice(["payer", "receiver"])
        cal = ql.TARGET()
        index = ql.IborIndex("quelm-like", ql.Period(6, ql.Months), 2, ql.EURCurrency(), cal, ql.ModifiedFollowing,
                             False, ql.Actual360(), h)
        expiry = cal.advance(qd(ql, HW_REF), years, ql.Years, ql.ModifiedFollowing)
        end = expiry + ql.Period(tenor, ql.Years)
        fixed = ql.Schedule(expiry, end, ql.Period(1, ql.Years), cal, ql.ModifiedFollowing, ql.ModifiedFollowing,
                            ql.DateGeneration.Backward, False)
        floating = ql.Schedule(expiry, end, ql.Period(6, ql.Months), cal, ql.ModifiedFollowing, ql.ModifiedFollowing,
                               ql.DateGeneration.Backward, False)
        swap = ql.VanillaSwap(ql.Swap.Payer if kind == "payer" else ql.Swap.Receiver, 1e6, fixed, strike,
                              ql.Thirty360(ql.Thirty360.BondBasis), floating, index, 0.0, ql.Actual360())
        option = ql.Swaption(swap, ql.EuropeanExercise(expiry))
        option.setPricingEngine(ql.JamshidianSwaptionEngine(theirs, h))
        mine = quelm.Swaption(f"{years}Y", f"{tenor}Y", strike, kind=kind, notional=1e6, settlement_days=0)
        assert ours.price(mine) == pytest.approx(option.NPV(), rel=2e-7, abs=1e-8), (years, tenor, kind)
        assert ours.price(mine) == pytest.approx(jamshidian(ql, theirs, swap, expiry, kind), rel=1e-10, abs=1e-9)


def jamshidian(ql, model, swap, expiry, kind):
    """Jamshidian (1989) on QuantLib's Hull-White: the fixed leg's flows (the notional with
    the last) as zero-bond options struck at their bond prices at r*, r* by bisection to
    rounding; the floating leg at par from expiry, as QuantLib's engine takes it."""
    day_count = ql.Actual365Fixed()
    ref = ql.Settings.instance().evaluationDate
    t = day_count.yearFraction(ref, expiry)
    flows = [(day_count.yearFraction(ref, c.date()), c.amount()) for c in swap.fixedLeg()]
    flows[-1] = (flows[-1][0], flows[-1][1] + swap.nominal())

    def excess(r):
        return sum(a * model.discountBond(t, s, r) for s, a in flows) - swap.nominal()

    lo, hi = -1.0, 1.0
    for _ in range(200):
        mid = 0.5 * (lo + hi)
        if mid in (lo, hi):
            break
        lo, hi = (mid, hi) if excess(mid) > 0 else (lo, mid)
    r_star = 0.5 * (lo + hi)
    w = ql.Option.Put if kind == "payer" else ql.Option.Call
    return sum(a * model.discountBondOption(w, model.discountBond(t, s, r_star), t, s) for s, a in flows)


def coterminal(ref, years, maturity_year):
    cal = quelm.Calendar("target")
    return [cal.adjust(dt.date(ref.year + k, ref.month, ref.day), "modified-following") for k in years], \
        dt.date(maturity_year, ref.month, ref.day)


def test_tree_converges_to_jamshidian_and_bermudans_dominate_their_europeans():
    curve = flat(0.03, HW_REF)
    m = quelm.HullWhite(0.05, 0.01, curve)
    european = quelm.Swaption("2Y", "5Y", 0.031, notional=1e6, settlement_days=0)
    exact = m.price(european)
    coarse, fine = (m.price(european, method="tree", steps=n) for n in (800, 1600))
    # The tree's error falls as 1 / steps: its Richardson extrapolation is within 1e-4.
    assert abs(fine - exact) < abs(coarse - exact)
    assert 2 * fine - coarse == pytest.approx(exact, rel=1e-4)
    ex, maturity = coterminal(HW_REF, range(1, 11), 2036)
    for kind in ("payer", "receiver"):
        b = quelm.BermudanSwaption(ex, maturity, 0.03, kind=kind, notional=1e6)
        value = m.price(b, method="tree", steps=400)
        # Worth at least each European it holds (to the tree's error at these steps).
        for k in range(0, 9, 3):
            e = quelm.Swaption(f"{k + 1}Y", f"{10 - k - 1}Y", 0.03, kind=kind, notional=1e6, settlement_days=0)
            assert value >= m.price(e) * (1 - 2e-3)
        # One exercise date: the European.
        one = quelm.BermudanSwaption(ex[:1], maturity, 0.03, kind=kind, notional=1e6)
        assert m.price(one, method="tree", steps=400) < value
    with pytest.raises(ValueError, match="needs method=\"tree\""):
        m.price(quelm.BermudanSwaption(ex, maturity, 0.03))
    with pytest.raises(ValueError, match="is not a start of the fixed leg's periods"):
        quelm.BermudanSwaption([dt.date(2026, 6, 2), dt.date(2026, 9, 2)], maturity, 0.03)


def quantlib_bermudans(ql, exercise_years):
    """Two co-terminal Bermudans to 2036 (a payer and a receiver) on a flat curve, as QuantLib's
    swaption and ours on the same Hull-White model: (QuantLib's model, ours, its option, ours)."""
    ql.Settings.instance().evaluationDate = qd(ql, HW_REF)
    for r, a, sigma, kind, strike in ((0.03, 0.05, 0.01, "payer", 0.03), (0.02, 0.1, 0.008, "receiver", 0.025)):
        h = ql.YieldTermStructureHandle(ql.FlatForward(qd(ql, HW_REF), r, ql.Actual365Fixed()))
        ex, maturity = coterminal(HW_REF, exercise_years, 2036)
        cal = ql.TARGET()
        index = ql.IborIndex("quelm-like", ql.Period(6, ql.Months), 2, ql.EURCurrency(), cal, ql.ModifiedFollowing,
                             False, ql.Actual360(), h)
        start = qd(ql, ex[0])
        fixed = ql.Schedule(start, qd(ql, maturity), ql.Period(1, ql.Years), cal, ql.ModifiedFollowing,
                            ql.ModifiedFollowing, ql.DateGeneration.Backward, False)
        floating = ql.Schedule(start, qd(ql, maturity), ql.Period(6, ql.Months), cal, ql.ModifiedFollowing,
                               ql.ModifiedFollowing, ql.DateGeneration.Backward, False)
        swap = ql.VanillaSwap(ql.Swap.Payer if kind == "payer" else ql.Swap.Receiver, 1e6, fixed, strike,
                              ql.Thirty360(ql.Thirty360.BondBasis), floating, index, 0.0, ql.Actual360())
        option = ql.Swaption(swap, ql.BermudanExercise([qd(ql, d) for d in ex]))
        yield (ql.HullWhite(h, a, sigma), quelm.HullWhite(a, sigma, flat(r, HW_REF)), option,
               quelm.BermudanSwaption(ex, maturity, strike, kind=kind, notional=1e6))


def test_bermudans_match_quantlibs_tree(ql):
    """QuantLib's TreeSwaptionEngine on the same Hull-White model, grid size and schedules:
    agreement within the tree's own convergence (1e-4 at 400 and 800 steps)."""
    for theirs, ours, option, mine in quantlib_bermudans(ql, range(1, 11)):
        for steps in (400, 800):
            option.setPricingEngine(ql.TreeSwaptionEngine(theirs, steps))
            assert ours.price(mine, method="tree", steps=steps) == pytest.approx(option.NPV(), rel=1e-4)


def test_pde_bermudans_converge_to_the_tree_and_europeans_to_jamshidian():
    curve = flat(0.03, HW_REF)
    m = quelm.HullWhite(0.05, 0.01, curve)
    european = quelm.Swaption("2Y", "5Y", 0.031, notional=1e6, settlement_days=0)
    exact = m.price(european)
    errors = [abs(m.price(european, method="pde", steps=n) - exact) / exact for n in (100, 200, 400)]
    # Second order: the error falls fourfold as the steps double.
    assert errors[0] < 5e-4 and 3.0 < errors[0] / errors[1] < 5.0 and 3.0 < errors[1] / errors[2] < 5.0
    ex, maturity = coterminal(HW_REF, range(1, 10), 2036)
    for kind in ("payer", "receiver"):
        b = quelm.BermudanSwaption(ex, maturity, 0.03, kind=kind, notional=1e6)
        # The tree converges as 1 / steps, slowly and not monotonically: it closes on the
        # grid's value as it doubles twice, to 2e-4 at 3200 steps.
        pde = m.price(b, method="pde", steps=400)
        coarse, fine = (abs(m.price(b, method="tree", steps=n) - pde) / pde for n in (800, 3200))
        assert fine < coarse and fine < 2e-4
        assert m.price(b, method="pde") == pytest.approx(m.price(b, method="pde", steps=800), rel=1e-4)
        assert m.price(b, method="pde") >= m.price(quelm.BermudanSwaption(ex[:1], maturity, 0.03, kind=kind,
                                                                          notional=1e6), method="pde")
    with pytest.raises(ValueError, match=r"steps must be in \[10, 100000\] with method=\"pde\", got 5"):
        m.price(quelm.BermudanSwaption(ex, maturity, 0.03), method="pde", steps=5)
    with pytest.raises(ValueError, match="is priced in closed form"):
        m.price(quelm.CapFloor("cap", "5Y", 0.03), method="pde")


def test_pde_bermudans_match_quantlibs_finite_differences(ql):
    """QuantLib's FdHullWhiteSwaptionEngine (1600 x 1600, Douglas scheme) on the same model and
    schedules: both converged, they agree to 1e-5."""
    for theirs, ours, option, mine in quantlib_bermudans(ql, range(1, 10)):
        option.setPricingEngine(ql.FdHullWhiteSwaptionEngine(theirs, 1600, 1600, 0, 1e-5))
        assert ours.price(mine, method="pde", steps=800) == pytest.approx(option.NPV(), rel=1e-5)


def test_hull_white_calibration_recovers_its_own_vols():
    """Quotes made by a Hull-White model (its Jamshidian prices as Black and normal vols) are
    fitted back to that model, and a fixed a leaves sigma alone to fit."""
    curve = flat(0.03, HW_REF)
    truth = quelm.HullWhite(0.06, 0.011, curve)
    strip = [quelm.Swaption(f"{e}Y", f"{10 - e}Y", 0.03, settlement_days=0) for e in range(1, 10)]
    for model in ("black", "bachelier"):
        vols = [s.implied_vol(truth.price(s), curve, model=model) for s in strip]
        fit = quelm.HullWhite.calibrate(curve, strip, vols, model=model)
        assert fit["a"] == pytest.approx(0.06, rel=1e-6) and fit["sigma"] == pytest.approx(0.011, rel=1e-6)
        assert fit["rmse"] < 1e-9 and fit["converged"]
        assert fit["model"].price(strip[3]) == pytest.approx(truth.price(strip[3]), rel=1e-6)
        fixed = quelm.HullWhite.calibrate(curve, strip, vols, model=model, fix_a=0.06)
        assert fixed["a"] == 0.06 and fixed["sigma"] == pytest.approx(0.011, rel=1e-8)
    with pytest.raises(ValueError, match="swaptions and vols must have equal length"):
        quelm.HullWhite.calibrate(curve, strip, [0.2])
