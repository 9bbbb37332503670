"""Correct use of every function and method, fed NumPy arrays and pandas Series where a
user would: both type checkers must accept every line."""
from __future__ import annotations

import numpy as np
import pandas as pd

import quelm

strikes = np.linspace(80.0, 120.0, 9)
returns = pd.Series(np.random.default_rng(1).normal(0.0003, 0.01, 500))
bench = pd.Series(np.random.default_rng(2).normal(0.0002, 0.009, 500))
prices = (1.0 + returns).cumprod() * 100.0
panel = np.random.default_rng(3).normal(0.0004, 0.012, (3, 250))
k = float(strikes[2])

# Options: scalars may be NumPy scalars, option strings any accepted spelling.
p: float = quelm.black_scholes(np.float64(100.0), k, 0.05, 0.2, 1.0, "call", dividend_yield=0.01)
quote = quelm.price(100, 105, 0.05, 0.2, 1, "p")
label: str = quote["model"] + quote["option_type"] + quote["exercise"]
tree: float = quelm.binomial(100, 100, 0.05, 0.2, 1.0, "put", style="american", steps=500)
mc = quelm.monte_carlo(100, 100, 0.05, 0.2, 1.0, "c", paths=10_000, seed=np.int64(7))
ls = quelm.lsm(100, 100, 0.05, 0.2, 1.0, "put", paths=10_000, steps=20, seed=3, dividend_yield=0.0)
g = quelm.greeks(100, 100, 0.05, 0.2, 1.0, "call")
sens: float = g["delta"] + g["gamma"] + g["vega"] + g["theta"] + g["rho"] + mc["standard_error"] + ls["price"]
iv: float = quelm.implied_volatility(10.45, 100, 100, 0.05, 1.0, "call")
bar: float = quelm.barrier_price(100, 100, 0.05, 0.25, 1.0, "call", "down-out", 90)
bar += quelm.barrier_price(100, 100, 0.05, 0.25, 1.0, "put", barrier_type="ui", barrier=115)
lb: float = quelm.lookback_price(100, 100, 0.05, 0.25, 1.0, "call", "floating")
asian = quelm.asian_price(100, 100, 0.05, 0.25, 1.0, "call", "arithmetic", n_fixings=12, paths=5_000)
asian_se: float | None = asian["standard_error"]

# Processes.
sim = quelm.simulate_process("heston", x0=100.0, paths=1_000, steps=10, rho=-0.7)
gap: float = sim["sample_mean"] - sim["analytic_mean"]
sd: float | None = sim["analytic_std"]
name: str = sim["process"]

# Statistics over arrays and Series.
report = quelm.stats(prices=prices, benchmark=bench, risk_free=0.0001, lag=5)
sharpe_or_none: float | None = report["sharpe"]
n: int = report["count"]
s1: float = quelm.sharpe(returns, risk_free=0.0001) + quelm.sortino(returns.to_numpy(), mar=0.0)
dd = quelm.max_drawdown(prices)
where: int = dd["peak_index"] + dd["trough_index"] + dd["duration"]
var: float = quelm.value_at_risk(returns, 0.99, "cornish-fisher") + quelm.value_at_risk(returns, method="gaussian")
es: float = quelm.expected_shortfall(returns.values.astype(float), 0.975, "parametric")
rel: float = quelm.beta(returns, bench) + quelm.tracking_error(returns, bench) + quelm.info_ratio(returns, bench)
jb_stat, jb_p = quelm.jarque_bera(returns)
rho: list[float] = quelm.acf(np.asarray(returns), 10)

# Portfolios.
book = quelm.portfolio_value([("AAPL", 10, 150.0, 175.0), ("MSFT", np.float64(5), 300, 320)])
first = book["holdings"][0]
pnl: float | None = first["unrealized_pnl_pct"]
total: float = book["total_market_value"]
t_return: float = quelm.twr(np.array([100.0, 104.0, 110.0]), [0.0, 5.0])
m_return: float = quelm.mwr(pd.Series(["2024-01-02", "2024-07-01"]), np.array([-100.0, 104.0]))
weights: list[float] = quelm.allocation(pd.Series([100.0, 300.0]))
cov = quelm.covariance_matrix(panel)
risk = quelm.portfolio_risk(panel, np.full(3, 1 / 3), confidence=0.99)
vol: float = risk["annualized_volatility"]
opt = quelm.optimize(panel.mean(axis=1), np.array(cov), rf=0.0001, target=0.0005)
frontier: list[float] | None = opt["frontier_weights"]
tangent: list[float] = opt["tangency_weights"]

# Curves and bonds.
times = np.array([0.5, 1.0, 2.0, 5.0, 10.0])
curve = quelm.YieldCurve.from_zero_rates(times, pd.Series([0.041, 0.040, 0.037, 0.037, 0.039]), interp="cubic")
curve2 = quelm.YieldCurve.from_discount_factors(times, np.exp(-0.04 * times), "linear")
flat = quelm.YieldCurve.flat(0.04)
z: float = curve.zero_rate(3.0) + curve2.discount(np.float64(2.5)) + flat.forward_rate(1.0, 2.0)
bond = quelm.FixedRateBond.regular(100, 0.04, 2, 16)
bond2 = quelm.FixedRateBond.from_cashflows(times, np.array([2.0, 2.0, 2.0, 2.0, 102.0]), 1, accrued=0.5)
dirty, clean = bond.price_from_curve(curve)
y: float = bond.yield_to_maturity(clean)
measures: float = (bond.macaulay_duration(y) + bond.modified_duration(y) + bond.convexity(y) + bond.accrued
                   + bond.dirty_price_from_yield(y) + bond2.clean_price_from_yield(0.04))

# Neural engines.
dml = quelm.differential_ml(100, 100, 0.05, 0.2, 1.0, "put", samples=256, epochs=2, hidden=np.array([8, 8]))
ml_err: float = dml["ml_price"] - dml["bs_price"]
am = quelm.american_ml(100, 100, 0.05, 0.2, 1.0, method="dos", paths=512, epochs=1, hidden=[4])
am_err: float = am["ml_price"] - am["binomial_price"]

# The array API: whole chains and panels in one call.
from quelm import vec  # noqa: E402

chain = vec.black_scholes(100.0, strikes, 0.05, 0.2, 1.0, np.array(["call", "put"] * 4 + ["call"]))
one: float = vec.black_scholes(100.0, 105.0, 0.05, 0.2, 1.0, "call")
vols = vec.implied_volatility(chain, 100.0, strikes, 0.05, 1.0, "call", errors="nan")
chain_greeks = vec.greeks(100.0, strikes, 0.05, 0.2, 1.0, "p")["delta"]
american = vec.binomial(100.0, strikes, 0.05, 0.2, 1.0, "put", "american", steps=200)
dfs = vec.discount(quelm.YieldCurve.flat(0.03), np.linspace(0.0, 10.0, 11))
report = vec.stats(returns=panel, axis=1, benchmark=bench.to_numpy()[:250])
ratios = vec.sharpe(panel, axis=1)
tail = vec.value_at_risk(panel, 0.99, "cornish-fisher", axis=1)
fan = vec.simulate_paths("heston", t=2.0, steps=24, paths=15, rho=-0.7)
band = np.quantile(fan, [0.05, 0.95], axis=0)

# Array results used as arrays; every documented spelling; a variable of an exported alias.
from quelm.typing import OptionType  # noqa: E402

kind: OptionType = "Put"
prices_grid = vec.black_scholes(100.0, np.linspace(80, 120, 9), 0.05, 0.2, 1.0, "CALL")
mean_price: float = float(prices_grid.mean()) + float(prices_grid[0]) + prices_grid.shape[0]
puts = vec.black_scholes(100.0, pd.Series(strikes), 0.05, 0.2, 1.0, kind, dividend_yield=np.full(9, 0.01))
spread = prices_grid - np.asarray(puts)
scalar_again: float = quelm.black_scholes(100, 100, 0.05, 0.2, 1.0, kind) + quelm.binomial(
    100, 100, 0.05, 0.2, 1.0, "Call", "AMERICAN", 50)

# Every public class built through its constructor or static constructors.
import datetime  # noqa: E402

uk = quelm.Calendar("uk")
london: quelm.Calendar = quelm.Calendar(uk).with_holidays([datetime.date(2024, 12, 27)])
business: bool = london.is_business_day("2024-12-27")
deposit = quelm.Deposit("3M", 0.0410, calendar=uk, settlement_days=2)
fra = quelm.Fra("3M", "6M", 0.0405, convention="following")
future = quelm.Future("2025-03-19", 95.90, convexity=0.0001)
ois = quelm.Ois("1Y", 0.0390, payment_frequency=1)
swap = quelm.Swap("2Y", 0.0380, fixed_frequency=1, float_tenor="6M")
dated = quelm.FixedRateBond.dated("2024-01-15", "2029-01-15", 0.04, frequency=2, calendar="weekends")
quote_of_bond = quelm.BondQuote(dated, 99.25)
market = quelm.YieldCurve.bootstrap("2025-01-02", [deposit, fra, ois, swap], interp="log-linear")
# The instruments as trades: a signed notional, a start date or forward tenor, a maturity date.
forward_deposit = quelm.Deposit(None, 0.041, notional=-1e6, effective="1M", maturity=datetime.date(2025, 9, 1))
dated_fra = quelm.Fra(None, None, 0.0405, effective="2025-04-04", maturity=np.datetime64("2025-07-04"))
futures_held = quelm.Future("2025-03-19", 95.90, notional=10.0)
dated_ois = quelm.Ois(None, 0.039, effective=datetime.date(2025, 6, 4), maturity="2027-06-04", index="estr")
forward_swap = quelm.Swap("5Y", 0.038, effective="1Y", notional=2.5e7)
bonds_held = quelm.BondQuote(dated, 99.25, notional=-3.0)
forward_value: float = forward_swap.npv(market) + forward_swap.notional + futures_held.notional + bonds_held.notional
starts: list[object] = [forward_deposit.effective, dated_ois.maturity, dated_fra.start_tenor, swap.tenor]
par: float = deposit.par_rate(market) + swap.par_rate(market) + dated.clean_price_at(0.04, "2025-01-06")
grid_k, grid_t = [80.0, 90.0, 100.0, 110.0, 120.0] * 2, [0.5] * 5 + [1.0] * 5
surface = quelm.VolSurface.from_vols(grid_k, grid_t, [0.26, 0.23, 0.21, 0.2, 0.205] * 2, 100.0)
smile: float = surface.vol(100.0, 0.75) + quelm.FixedRateBond.from_cashflows([1.0], [101.0], 1).accrued
built: list[object] = [future, quote_of_bond, quelm.YieldCurve.flat(0.03), quelm.FixedRateBond.regular(100, 0.03, 1, 3)]
# A floating-rate note: alone on a curve, or in a book reading its past fixing by name.
note = quelm.FloatingRateNote("2025-01-06", datetime.date(2030, 1, 6), 0.0015, index_tenor="6M", notional=1e6,
                              fixing_days=2, curve="eur-euribor-6m", index="euribor-6m")
note_value: float = note.npv(market, discount_curve=market) + note.spread + note.notional
note_terms: list[object] = [note.effective, note.index_tenor, note.index, note.curve, note.fixing_days]

# pandas in, pandas out: a Series argument gives a Series with its index.
quotes = pd.Series([95.0, 100.0, 105.0], index=["low", "atm", "high"])
by_label = vec.black_scholes(100.0, quotes, 0.05, 0.2, 1.0, "call")
labels = by_label.index
atm: float = float(by_label["atm"]) + float(vec.greeks(100.0, quotes, 0.05, 0.2, 1.0, "put")["delta"].iloc[0])
kinds_by_label = vec.black_scholes(100.0, 100.0, 0.05, 0.2, 1.0, pd.Series(["call", "put"], index=["c", "p"]))
both: list[str] = [str(x) for x in kinds_by_label.index] + [str(x) for x in labels]

# A named market: curves, a surface, spots and fixings (a dict or a Series of dates), and one
# bootstrapped with its projection curve on its discount curve.
on = datetime.date(2025, 1, 2)
estr_fixings = pd.Series([0.0291, 0.0290], index=pd.to_datetime(["2024-12-30", "2024-12-31"]))
named = quelm.Market(on, curves={"eur-estr": market}, surfaces={"sx5e": surface}, fx={"EURUSD": 1.04},
                     fixings={"estr": estr_fixings, "sofr": {datetime.date(2024, 12, 31): 0.0449}})
built_market = quelm.Market.bootstrap(on, {"eur-estr": [ois], "eur-euribor-6m": ([deposit, swap],
                                                                               {"discount_curve": "eur-estr"})},
                                      fx={"EURUSD": 1.04}, fixings={"estr": estr_fixings})
read: float = (named.fx("USDEUR") + named.fixing("estr", "2024-12-31") + named.curve("eur-estr").discount(1.0)
               + built_market.curve("eur-euribor-6m").zero_rate(2.0) + named.surface("sx5e").vol(100.0, 0.75))
held: tuple[str, ...] = named.curve_names + named.surface_names + built_market.fx_pairs + named.fixing_indices
as_of: datetime.date = built_market.reference_date
# Scenarios: quotes, curves and spots moved; many at once; shifts from a quote history.
moved: quelm.Market = built_market.shifted({"eur-estr 1Y": 0.0001, "EURUSD": -0.01})
moved_too: quelm.Market = built_market.shifted(pd.Series({"eur-euribor-6m": 0.0001}))
many = built_market.scenarios({"up": {"eur-estr": 0.0001}, "down": {"eur-estr": -0.0001}})
quote_history = pd.DataFrame({"EURUSD": [1.03, 1.04, 1.05]}, index=pd.bdate_range("2024-12-02", periods=3))
from_history = built_market.scenarios(built_market.historical_shifts(quote_history, horizon=2))


# A book on that market: trades naming their curves, a bond held off a curve by name; its
# value by trade and its risk per quote.
trade_book = quelm.Book([quelm.Swap("5Y", 0.03, curve="eur-euribor-6m", notional=-1e6),
                         quelm.Ois("2Y", 0.028, discount_curve="eur-estr", curve="eur-estr"),
                         (quelm.FixedRateBond.dated("2024-05-15", "2034-05-15", 0.045), "eur-estr")],
                        names=["payer", "ois", "bond"])
book_value = trade_book.npv(built_market)
book_total: float = book_value["total"] + sum(book_value["by_trade"].values())
book_risk = trade_book.risk(built_market)
dv01: float = book_risk.total[book_risk.labels[0]] + book_risk.by_trade["payer"][0]
trade_count: int = len(trade_book) + len(list(trade_book)) + len(trade_book.names) + len(book_risk.names)
risk_frame = book_risk.to_pandas()
# Its P&L under scenarios, by full revaluation; its historical VaR and ES beside the linear estimate.
book_pnl = trade_book.scenario(built_market, {"eur-estr 1Y": 0.0001})
rates_history = pd.DataFrame({"eur-estr 1Y": [0.028, 0.0282, 0.0279]}, index=pd.bdate_range("2024-12-02", periods=3))
book_var = trade_book.historical_var(built_market, rates_history, level=0.95)
var_gap: float = book_var["var"] - book_var["first_order"] + sum(book_var["pnl"]) + book_var["level"]
windows: int = book_var["scenarios"] + book_var["horizon"]
shortfall: float = trade_book.expected_shortfall(built_market, rates_history, horizon=2)["expected_shortfall"]
swap_curve: str | None = quelm.Swap("5Y", 0.03).curve
# An FX forward and an option on a surface, in a book with their FX delta, vega and Greeks.
fx_forward = quelm.FxForward("EURUSD", "2026-01-02", 1.05, notional=1e6, domestic_curve="eur-estr",
                             foreign_curve="eur-estr")
european = quelm.EuropeanOption("sx5e", 100.0, datetime.date(2025, 9, 1), "call", notional=10.0, curve="eur-estr")
fx_trade_terms: list[object] = [fx_forward.pair, fx_forward.maturity, fx_forward.strike, fx_forward.domestic_curve,
                                european.underlying, european.expiry, european.option_type, european.curve]
option_value: float = european.npv(named) + fx_forward.npv(named) + european.strike + european.notional + fx_forward.notional
option_book = quelm.Book([european, fx_forward])
option_greeks: dict[str, float] = option_book.risk(named).greeks["0"]
in_euros: float = option_book.npv(named, currency="EUR")["total"] + option_book.risk(named, currency="EUR").total["EURUSD"]
fx_option = quelm.FxOption("EURUSD", "2025-07-02", 1.06, "put", notional=-1e6, premium_currency="EUR",
                           surface="sx5e", domestic_curve="eur-estr", foreign_curve="eur-estr")
fx_option_terms: list[object] = [fx_option.pair, fx_option.expiry, fx_option.premium_currency, fx_option.surface,
                                 fx_option.option_type, fx_option.domestic_curve, fx_option.foreign_curve]
fx_option_value: float = fx_option.npv(named) + fx_option.strike + fx_option.notional
american_trade = quelm.AmericanOption("sx5e", 100.0, "2025-09-01", "put", notional=10.0, curve="eur-estr")
barrier_trade = quelm.BarrierOption("sx5e", 100.0, datetime.date(2025, 9, 1), "call", 120.0, "up-out", rebate=1.0,
                                    notional=5.0, curve="eur-estr")
fd_trade_terms: list[object] = [american_trade.underlying, american_trade.expiry, american_trade.option_type,
                                american_trade.curve, barrier_trade.barrier, barrier_trade.barrier_type,
                                barrier_trade.rebate]
fd_european = quelm.EuropeanOption("sx5e", 100.0, "2025-09-01", "call", curve="eur-estr", engine="fd")
fd_trade_value: float = american_trade.npv(named) + barrier_trade.npv(named) + american_trade.strike + fd_european.npv(named)
fd_engine: str = fd_european.engine
fd_book_greeks: dict[str, float] = quelm.Book([american_trade, barrier_trade]).risk(named).greeks["1"]


# FX: Garman-Kohlhagen, its Greeks and deltas, forwards, strikes; smiles and surfaces.
fx_price: float = quelm.garman_kohlhagen(1.3465, 1.35, 0.0294, 0.0346, 0.1825, 1.0, "call")
fx_g = quelm.fx_greeks(1.3465, 1.35, 0.0294, 0.0346, 0.1825, 1.0, "put")
fx_deltas: float = fx_g["spot_delta"] + fx_g["forward_delta_pa"] + fx_g["vanna"]
fx_fwd: float = quelm.fx_forward(1.3465, 1.0, 0.0294, 0.0346)
fx_dated = quelm.fx_forward_at(1.3465, datetime.date(2027, 1, 5),
                               quelm.YieldCurve.flat(0.0294, reference_date="2026-01-05"),
                               quelm.YieldCurve.flat(0.0346, reference_date="2026-01-05"), spot_date="2026-01-07")
fx_points: float = fx_dated["forward_points"] + fx_dated["forward"]
fx_d: float = quelm.fx_delta(1.3465, 1.35, 0.0294, 0.0346, 0.1825, 1.0, "call", delta_type="spot-pa")
fx_k: float = quelm.fx_strike_from_delta(-0.25, 1.3465, 0.0294, 0.0346, 0.1825, 1.0, "put", delta_type="forward")
fx_atm: float = quelm.fx_atm_strike(1.3465, 0.0294, 0.0346, 0.1825, 1.0, atm_type="dns", delta_type="spot-pa")
fx_smile: quelm.FxSmile = quelm.FxSmile.from_quotes(1.3465, 1.0, 0.0294, 0.0346, 0.1825, [-0.006, -0.011],
                                                    [0.0095, 0.032], deltas=[0.25, 0.1], strangle="market",
                                                    interpolation="spline-in-delta", atm_type="dns")
fx_vols: list[float] = fx_smile.strikes() + fx_smile.vols() + fx_smile.smile_strangles()
fx_v: float = fx_smile.vol(1.4) + fx_smile.vol_at_delta(0.25, "call") + fx_smile.strike_at_delta(-0.1, "put")
fx_near = quelm.FxSmile.from_quotes(1.3465, 0.25, 0.0294, 0.0346, 0.16, -0.004, 0.006, strangle="smile")
fx_surface = quelm.FxVolSurface([fx_near, fx_smile])
fx_sv: float = fx_surface.vol(1.4, 0.5) + fx_surface.forward(0.5) + fx_smile.forward
fx_smiles: list[quelm.FxSmile] = fx_surface.smiles()
fx_barrier: float = fx_smile.barrier_price(1.35, 1.2, "down-out", "call", rebate=0.01)
fx_flat_barrier: float = quelm.fx_barrier_price(1.3465, 1.35, 1.2, 0.0294, 0.0346, 0.1825, 1.0, "up-in", "put")
fx_dated_smile = quelm.FxSmile.from_quotes_at(1.3465, datetime.date(2027, 1, 5),
                                              quelm.YieldCurve.flat(0.0294, reference_date="2026-01-05"),
                                              quelm.YieldCurve.flat(0.0346, reference_date="2026-01-05"), 0.1825,
                                              -0.006, 0.0095, deltas=0.25)
fx_terms: float = fx_dated_smile.t + fx_dated_smile.spot + fx_dated_smile.domestic_rate + fx_dated_smile.atm_vol
fx_smile_market = quelm.Market("2026-01-05", curves={"usd": quelm.YieldCurve.flat(0.0294, reference_date="2026-01-05")},
                               surfaces={"eurusd": fx_dated_smile, "eurusd-all": fx_surface}, fx={"EURUSD": 1.3465})
# Credit: a standard CDS on a curve bootstrapped from spreads and an upfront; the converter.
cds_discount = quelm.YieldCurve.flat(0.03, reference_date="2024-05-21")
credit_curve = quelm.CreditCurve.bootstrap("2024-05-21", [("1Y", 0.008), ("5Y", 0.05, 0.1)], cds_discount,
                                           recovery=0.4)
flat_credit = quelm.CreditCurve.flat("2024-05-21", 0.02)
stepped_credit = quelm.CreditCurve.from_hazards("2024-05-21", ["2025-06-20", "2029-06-20"], [0.01, 0.03])
cds_trade = quelm.Cds("5Y", 0.01, trade_date="2024-05-21", notional=1e7, side="sell", calendar="weekends")
cds_figures: float = (cds_trade.npv(credit_curve, cds_discount) + cds_trade.par_spread(flat_credit, cds_discount)
                      + cds_trade.upfront(stepped_credit, cds_discount, clean=False, points=True)
                      + cds_trade.rpv01(credit_curve, cds_discount) + cds_trade.accrued)
cds_risk = cds_trade.risk(credit_curve)
cs01_total: float = sum(cds_risk["cs01"]) + sum(cds_risk["ir01"]) + cds_risk["jump_to_default"] + cds_risk["recovery01"]
credit_queries: float = (credit_curve.survival("2027-01-01") + credit_curve.hazard("2027-01-01")
                         + credit_curve.default_density("2027-01-01"))
cds_points: float = quelm.cds_upfront_from_spread("2024-05-21", "5Y", 0.03, 0.01, cds_discount, points=True)
cds_spread: float = quelm.cds_spread_from_upfront("2024-05-21", "2029-06-20", 0.08, 0.01, cds_discount)
cds_maturity: datetime.date = cds_trade.maturity
# Credit default swaps in a book, on a market's credit curves.
credit_market = quelm.Market("2024-05-21", curves={"usd-ois": cds_discount}, credit_curves={"acme": credit_curve})
credit_market_built = quelm.Market.bootstrap("2024-05-21", {"usd-ois": [quelm.Ois("5Y", 0.03, index="sofr")]},
                                             credit_curves={"acme": credit_curve})
book_cds = quelm.Cds("5Y", 0.01, trade_date="2024-05-21", notional=1e7, credit_curve="acme", discount_curve="usd-ois")
credit_names: tuple[str, ...] = credit_market.credit_curve_names + credit_market_built.credit_curve_names
named_credit: quelm.CreditCurve = credit_market.credit_curve("acme")
cds_book_value: float = quelm.Book([book_cds, cds_trade]).npv(credit_market)["total"]
cds_curve_names: str | None = book_cds.credit_curve or book_cds.discount_curve
# Rate options on a dated curve: caps and floors, swaptions, normal and shifted SABR.
rate_curve = quelm.YieldCurve.flat(0.03, reference_date=datetime.date(2026, 3, 2))
cap = quelm.CapFloor("cap", "5Y", 0.03, index_tenor="3M", effective=None, maturity=None, notional=1e6)
cap_value: float = cap.price(rate_curve, 0.2) + cap.price(rate_curve, ([1.0, 5.0], [0.2, 0.22]), model="black")
cap_vol: float = cap.implied_vol(cap_value / 2, rate_curve, model="black") + cap.atm_strike(rate_curve)
cap_risk: float = cap.vega(rate_curve, 0.2) + cap.delta(rate_curve, 0.01, model="bachelier")
first_caplet: float = cap.caplets(rate_curve, 0.2, model="shifted-black", shift=0.01)[0]["forward"]
swaption = quelm.Swaption("5Y", "10Y", 0.03, kind="receiver", settlement="cash", fixed_frequency=1)
swaption_value: float = swaption.price(rate_curve, 0.008, model="bachelier", discount_curve=rate_curve)
swaption_terms: float = swaption.forward_rate(rate_curve) * swaption.annuity(rate_curve)
swaption_vol: float = swaption.implied_vol(swaption_value, rate_curve, model="bachelier")
priced_swaption = swaption.priced_on(rate_curve, discount_curve=None)
priced_values = vec.swaption_price(priced_swaption, np.array([0.006, 0.008]), strike=np.array([0.02, 0.03]),
                                   model="bachelier")
priced_one: float = priced_swaption.price(0.008, model="bachelier") + priced_swaption.forward + priced_swaption.annuity
priced_cap = cap.priced_on(rate_curve)
cap_values = vec.cap_price(priced_cap, np.array([0.2, 0.25]), strike=0.03)
cap_live: int = priced_cap.live_caplets + int(priced_cap.price(0.2) > 0)
normal_sabr: float = quelm.sabr_vol(-0.002, 0.001, 1.0, 0.006, 0.0, -0.3, 0.4, model="normal", shift=0.0)
cube = quelm.SwaptionCube.from_quotes(datetime.date(2026, 3, 2), ["1Y"], ["5Y"], ["ATM-100", "ATM", 0.04],
                                      [[[0.0095, 0.0085, 0.0090]]], model="bachelier", beta=0.0, shift=0.0,
                                      curve=rate_curve)
cube_vol: float = cube.vol("1Y", 5.0, 0.03) + cube.parameters("1Y", "5Y")["alpha"] + cube.report()[0]["rmse"]
cube_tenors: list[str] = cube.expiries + cube.tenors
hull_white = quelm.HullWhite(0.05, 0.01, rate_curve)
hw_values: float = (hull_white.price(cap) + hull_white.price(quelm.Swaption("5Y", "10Y", 0.03)) + hull_white.zero_bond(1.0, 5.0, 0.03)
                    + hull_white.zero_bond_option(1.0, 5.0, 0.9, "put") + hull_white.futures_convexity(1.0, 1.25))
hw_a: float = hull_white.a + hull_white.sigma + hull_white.curve.discount(1.0)
bermudan = quelm.BermudanSwaption([datetime.date(2027, 3, 2), datetime.date(2028, 3, 2)], datetime.date(2032, 3, 2),
                                  0.03, kind="payer", fixed_frequency=1, notional=1e6)
traded_bermudan = quelm.BermudanSwaption([datetime.date(2027, 3, 2)], datetime.date(2032, 3, 2), 0.03,
                                         curve="usd-sofr", vol="usd-hw")
traded_names: tuple[str | None, str | None] = (traded_bermudan.curve, traded_bermudan.vol)
hw_pickled: tuple[object, ...] = hull_white.__reduce__()
bermudan_value: float = hull_white.price(bermudan, method="tree", steps=100)
bermudan_by_grid: float = hull_white.price(bermudan, method="pde", steps=50)
exercise_count: int = len(bermudan.exercise_dates)
hw_fit = quelm.HullWhite.calibrate(rate_curve, [quelm.Swaption("1Y", "5Y", 0.03), quelm.Swaption("2Y", "4Y", 0.03)],
                                   [0.2, 0.19], model="black", shift=0.0, fix_a=None)
fitted_sigma: float = hw_fit["sigma"] + hw_fit["rmse"] + hw_fit["model"].a
# Swaptions and caps in a book, on market curves and rate vols by name.
caps_vol = quelm.RateVol(([1.0, 5.0], [0.0080, 0.0095]), model="bachelier", shift=0.0)
held_vol = caps_vol.vol
vol_terms: float = caps_vol.shift + (held_vol[1][0] if isinstance(held_vol, tuple) else held_vol)
rate_market = quelm.Market.bootstrap(datetime.date(2026, 3, 2),
                                     {"eur-estr": [quelm.Ois("1Y", 0.022), quelm.Ois("10Y", 0.025)]},
                                     rate_vols={"eur-caps": caps_vol, "eur-swaption": cube, "flat": 0.2})
rate_book = quelm.Book([quelm.Swaption("1Y", "5Y", 0.025, curve="eur-estr", discount_curve=None, vol="eur-swaption"),
                        quelm.CapFloor("cap", "5Y", 0.025, curve="eur-estr", discount_curve="eur-estr",
                                       vol="eur-caps")])
rate_book_total: float = rate_book.npv(rate_market)["total"] + rate_book.risk(rate_market).total["eur-caps vol 1y"]
rate_vol_held: quelm.RateVol | quelm.SwaptionCube | quelm.HullWhite = rate_market.rate_vol("flat")
rate_vol_names: tuple[str, ...] = rate_market.rate_vol_names
trade_names: str | None = swaption.curve or cap.discount_curve or cap.vol

# Finite differences: one option, an American put with a cash dividend, a surface's local vol,
# Heston by ADI, and a chain of strikes in one array call.
fd = quelm.fd_price(100, 100, 0.03, 0.15, 1.0, "put", style="american", dividends=[(0.5, 2.0)], extrapolate=True)
fd_theta: float = fd["price"] + fd["delta"] + fd["gamma"] + fd["theta"]
fd_ko: float = quelm.fd_price(100, 100, 0.03, 0.15, 1.0, "call", barrier=125, barrier_type="up-out", rebate=1.0,
                              space_steps=400, time_steps=200, scheme="cn")["price"]
fd_surface = quelm.VolSurface.from_vols([80.0, 90.0, 100.0, 110.0, 120.0] * 2, [0.5] * 5 + [1.0] * 5, [0.2] * 10,
                                        spot=100)
fd_local: float = quelm.fd_price(100, 100, 0.03, 0.2, 1.0, "call", local_vol=fd_surface)["price"]
fd_heston = quelm.fd_heston_price(10, 10, 0.1, 0.25, "put", 0.0625, 5.0, 0.16, 0.9, 0.1, style="american",
                                  scheme="modified-craig-sneyd")
fd_vega: float = fd_heston["vega"] + fd_heston["price"]
fd_chain = vec.fd_price(100.0, strikes, 0.03, 0.15, 1.0, "put", style="american")
