"""Type information for the quelm extension module."""
from typing import (Any, Iterator, Literal, Optional, Protocol, SupportsFloat, SupportsIndex, Tuple, TypedDict,
                    TypeVar, final)

_Float = SupportsFloat | SupportsIndex
_Count = SupportsIndex
_T_co = TypeVar("_T_co", covariant=True)

class _ArrayLike(Protocol[_T_co]):
    # What the runtime reads as a series: a sized, indexable sequence that iterates
    # elements of the given kind. Lists and tuples are such, and so are NumPy arrays
    # and pandas Series, named here without importing either.
    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> Any: ...
    def __iter__(self) -> Iterator[_T_co]: ...

_Floats = _ArrayLike[_Float]
_Matrix = _ArrayLike[_Floats]
_Counts = _ArrayLike[_Count]

# The spellings each option parser accepts. All but the neural method are matched after
# lower-casing ASCII letters, so "CALL" runs too; only the lower-case forms are listed.
_OptionType = Literal["call", "put", "c", "p"]
_Style = Literal["european", "american", "euro", "amer", "e", "a"]
_BarrierType = Literal["down-in", "down-out", "up-in", "up-out", "down_in", "down_out", "up_in", "up_out",
                       "downin", "downout", "upin", "upout", "di", "do", "ui", "uo"]
_StrikeType = Literal["floating", "fixed", "float"]
_Average = Literal["geometric", "arithmetic", "geo", "arith"]
_Process = Literal["gbm", "ou", "ornstein-uhlenbeck", "vasicek", "cir", "merton", "merton-jump", "heston"]
_VarMethod = Literal["historical", "parametric", "cornish-fisher", "hist", "gaussian", "cf"]
_EsMethod = Literal["historical", "parametric", "hist", "gaussian"]
_Interp = Literal["linear", "log-linear", "natural-cubic", "log_linear", "loglinear", "natural_cubic", "naturalcubic",
                  "cubic"]
_QuoteType = Literal["price", "vol", "prices", "vols"]
_NeuralMethod = Literal["deep-lsm", "dos", "deep_lsm"]  # matched exactly, case included

__version__: str
__all__: list[str]

class PriceResult(TypedDict):
    model: Literal["black-scholes"]
    option_type: Literal["call", "put"]
    exercise: Literal["european"]
    spot: float
    strike: float
    rate: float
    volatility: float
    time: float
    dividend_yield: float
    price: float

class GreeksResult(TypedDict):
    delta: float
    gamma: float
    vega: float
    theta: float
    rho: float

class MonteCarloResult(TypedDict):
    price: float
    standard_error: float

class AsianResult(TypedDict):
    price: float
    standard_error: Optional[float]

class ProcessResult(TypedDict):
    process: Literal["gbm", "ornstein-uhlenbeck", "vasicek", "cir", "merton-jump", "heston"]
    x0: float
    t: float
    paths: int
    steps: int
    sample_mean: float
    mean_std_error: float
    sample_std: float
    analytic_mean: float
    analytic_std: Optional[float]
    mean_abs_error: float
    std_abs_error: Optional[float]

StatsReport = TypedDict(
    "StatsReport",
    {
        "count": int,
        "periods_per_year": float,
        "confidence": float,
        "mean": float,
        "variance": float,
        "std_dev": float,
        "skewness": Optional[float],
        "excess_kurtosis": Optional[float],
        "jarque_bera": Optional[float],
        "jarque_bera_pvalue": Optional[float],
        "autocorr_lag1": Optional[float],
        "autocorr_at_lag": Optional[float],
        "cumulative_return": Optional[float],
        "annualized_return": Optional[float],
        "annualized_volatility": Optional[float],
        "sharpe": Optional[float],
        "sortino": Optional[float],
        "historical_var": Optional[float],
        "historical_es": Optional[float],
        "parametric_var": Optional[float],
        "parametric_es": Optional[float],
        "cornish_fisher_var": Optional[float],
        "max_drawdown": Optional[float],
        "max_drawdown_duration": Optional[int],
        "calmar": Optional[float],
        "covariance": Optional[float],
        "correlation": Optional[float],
        "beta": Optional[float],
        "tracking_error": Optional[float],
        "information_ratio": Optional[float],
    },
)

class DrawdownResult(TypedDict):
    max_drawdown: float
    peak_index: int
    trough_index: int
    duration: int

class HoldingValuation(TypedDict):
    symbol: str
    quantity: float
    average_cost: Optional[float]
    price: float
    cost_basis: float
    market_value: float
    unrealized_pnl: float
    unrealized_pnl_pct: Optional[float]
    weight: float

class PortfolioValuation(TypedDict):
    n_holdings: int
    total_cost_basis: float
    total_market_value: float
    total_unrealized_pnl: float
    total_unrealized_pnl_pct: Optional[float]
    holdings: list[HoldingValuation]

class PortfolioRisk(TypedDict):
    variance: float
    volatility: float
    annualized_volatility: float
    historical_var: float
    parametric_var: float
    confidence: float
    periods_per_year: float

class OptimizeResult(TypedDict):
    min_variance_weights: list[float]
    tangency_weights: list[float]
    frontier_weights: Optional[list[float]]

class DifferentialMLResult(TypedDict):
    spot: float
    option_type: Literal["call", "put"]
    ml_price: float
    ml_delta: float
    bs_price: float
    bs_delta: float
    price_abs_err: float
    delta_abs_err: float
    n_samples: int
    epochs: int
    final_loss: float

class AmericanMLResult(TypedDict):
    method: Literal["deep-lsm", "dos"]
    option_type: Literal["call", "put"]
    spot: float
    strike: float
    ml_price: float
    standard_error: float
    binomial_price: float
    abs_err: float
    paths: int
    steps: int
    epochs: int

class HestonCalibration(TypedDict):
    v0: float
    kappa: float
    theta: float
    xi: float
    rho: float
    rmse: float
    max_error: float
    iterations: int
    converged: bool
    residuals: list[float]

class SabrCalibration(TypedDict):
    alpha: float
    beta: float
    rho: float
    nu: float
    rmse: float
    max_error: float
    iterations: int
    converged: bool
    residuals: list[float]

class ButterflyCheck(TypedDict):
    arbitrage_free: bool
    min_g: float
    violations: list[Tuple[float, float]]

class SviCalibration(TypedDict):
    a: float
    b: float
    rho: float
    m: float
    sigma: float
    rmse: float
    max_error: float
    iterations: int
    converged: bool
    residuals: list[float]
    butterfly: ButterflyCheck

class SurfaceSlice(TypedDict):
    t: float
    forward: float
    a: float
    b: float
    rho: float
    m: float
    sigma: float
    rmse: float
    max_error: float
    min_g: float
    butterfly_free: bool
    calendar_repaired: bool
    quotes: int

def black_scholes(spot: _Float, strike: _Float, rate: _Float, vol: _Float, t: _Float, option_type: _OptionType,
                  dividend_yield: _Float = 0.0) -> float: ...
def price(spot: _Float, strike: _Float, rate: _Float, vol: _Float, t: _Float, option_type: _OptionType,
          dividend_yield: _Float = 0.0) -> PriceResult: ...
def binomial(spot: _Float, strike: _Float, rate: _Float, vol: _Float, t: _Float, option_type: _OptionType,
             style: _Style = "european", steps: _Count = 1000, dividend_yield: _Float = 0.0) -> float: ...
def monte_carlo(spot: _Float, strike: _Float, rate: _Float, vol: _Float, t: _Float, option_type: _OptionType,
                paths: _Count = 100000, seed: _Count = 42, dividend_yield: _Float = 0.0) -> MonteCarloResult: ...
def lsm(spot: _Float, strike: _Float, rate: _Float, vol: _Float, t: _Float, option_type: _OptionType,
        paths: _Count = 100000, steps: _Count = 50, seed: _Count = 42,
        dividend_yield: _Float = 0.0) -> MonteCarloResult: ...
def greeks(spot: _Float, strike: _Float, rate: _Float, vol: _Float, t: _Float, option_type: _OptionType,
           dividend_yield: _Float = 0.0) -> GreeksResult: ...
def implied_volatility(market_price: _Float, spot: _Float, strike: _Float, rate: _Float, t: _Float,
                       option_type: _OptionType, dividend_yield: _Float = 0.0) -> float: ...
def barrier_price(spot: _Float, strike: _Float, rate: _Float, vol: _Float, t: _Float, option_type: _OptionType,
                  barrier_type: _BarrierType, barrier: _Float, dividend_yield: _Float = 0.0) -> float: ...
def lookback_price(spot: _Float, strike: _Float, rate: _Float, vol: _Float, t: _Float, option_type: _OptionType,
                   strike_type: _StrikeType, dividend_yield: _Float = 0.0) -> float: ...
def asian_price(spot: _Float, strike: _Float, rate: _Float, vol: _Float, t: _Float, option_type: _OptionType,
                average: _Average = "geometric", n_fixings: _Count = 50, paths: _Count = 100000, seed: _Count = 42,
                dividend_yield: _Float = 0.0) -> AsianResult: ...
def heston_price(spot: _Float, strike: _Float, rate: _Float, t: _Float, option_type: _OptionType, v0: _Float,
                 kappa: _Float, theta: _Float, xi: _Float, rho: _Float, dividend_yield: _Float = 0.0) -> float: ...
def heston_calibrate(spot: _Float, strikes: _Floats, expiries: _Floats, quotes: _Floats, rate: _Float, *,
                     dividend_yield: _Float = 0.0, quote_type: _QuoteType = "price",
                     option_types: Optional[_OptionType | _ArrayLike[_OptionType]] = None,
                     weights: Optional[_Floats] = None, initial: Optional[_Floats] = None,
                     bounds: Optional[_Matrix] = None, max_iterations: _Count = 200) -> HestonCalibration: ...
def sabr_vol(forward: _Float, strike: _Float, t: _Float, alpha: _Float, beta: _Float, rho: _Float,
             nu: _Float) -> float: ...
def sabr_calibrate(forward: _Float, strikes: _Floats, vols: _Floats, t: _Float, beta: _Float = 0.5, *,
                   weights: Optional[_Floats] = None) -> SabrCalibration: ...
def svi_vol(forward: _Float, strike: _Float, t: _Float, a: _Float, b: _Float, rho: _Float, m: _Float,
            sigma: _Float) -> float: ...
def svi_calibrate(forward: _Float, strikes: _Floats, vols: _Floats, t: _Float, *,
                  weights: Optional[_Floats] = None) -> SviCalibration: ...
def simulate_process(process: _Process, x0: _Float = 100.0, t: _Float = 1.0, steps: _Count = 100,
                     paths: _Count = 100000, seed: _Count = 42, mu: _Float = 0.05, sigma: _Float = 0.20,
                     kappa: _Float = 1.0, theta: _Float = 0.04, lambda_: _Float = 0.5, jump_mean: _Float = -0.1,
                     jump_std: _Float = 0.15, v0: _Float = 0.04, xi: _Float = 0.30,
                     rho: _Float = -0.6) -> ProcessResult: ...
def stats(returns: Optional[_Floats] = None, prices: Optional[_Floats] = None, values: Optional[_Floats] = None,
          benchmark: Optional[_Floats] = None, risk_free: _Float = 0.0, periods_per_year: _Float = 252.0,
          confidence: _Float = 0.95, lag: Optional[_Count] = None) -> StatsReport: ...
def sharpe(returns: _Floats, risk_free: _Float = 0.0, periods_per_year: _Float = 252.0) -> float: ...
def sortino(returns: _Floats, mar: _Float = 0.0, periods_per_year: _Float = 252.0) -> float: ...
def max_drawdown(prices: _Floats) -> DrawdownResult: ...
def value_at_risk(returns: _Floats, confidence: _Float = 0.95, method: _VarMethod = "historical") -> float: ...
def expected_shortfall(returns: _Floats, confidence: _Float = 0.95, method: _EsMethod = "historical") -> float: ...
def beta(asset: _Floats, benchmark: _Floats) -> float: ...
def tracking_error(portfolio: _Floats, benchmark: _Floats, periods_per_year: _Float = 252.0) -> float: ...
def info_ratio(portfolio: _Floats, benchmark: _Floats, periods_per_year: _Float = 252.0) -> float: ...
def jarque_bera(values: _Floats) -> Tuple[float, float]: ...
def acf(values: _Floats, max_lag: _Count) -> list[float]: ...
def portfolio_value(holdings: _ArrayLike[Tuple[str, _Float, _Float, _Float]]) -> PortfolioValuation: ...
def twr(values: _Floats, flows: _Floats) -> float: ...
def mwr(dates: _ArrayLike[str], amounts: _Floats) -> float: ...
def allocation(market_values: _Floats) -> list[float]: ...
def covariance_matrix(returns: _Matrix) -> list[list[float]]: ...
def portfolio_risk(returns: _Matrix, weights: _Floats, periods_per_year: _Float = 252.0,
                   confidence: _Float = 0.95) -> PortfolioRisk: ...
def optimize(mean: _Floats, cov: _Matrix, rf: _Float = 0.0,
             target: Optional[_Float] = None) -> OptimizeResult: ...
def differential_ml(spot: _Float, strike: _Float, rate: _Float, vol: _Float, maturity: _Float,
                    option_type: _OptionType = "call", samples: _Count = 4096, epochs: _Count = 60, spread: _Float = 2.0,
                    seed: _Count = 1, hidden: Optional[_Counts] = None) -> DifferentialMLResult: ...
def american_ml(spot: _Float, strike: _Float, rate: _Float, vol: _Float, maturity: _Float,
                option_type: _OptionType = "put", method: _NeuralMethod = "deep-lsm", paths: _Count = 8192, steps: _Count = 50,
                epochs: _Count = 20, seed: _Count = 11, hidden: Optional[_Counts] = None,
                dividend_yield: _Float = 0.0) -> AmericanMLResult: ...

@final
class YieldCurve:
    """A yield curve / term structure: build once, query many times."""
    @staticmethod
    def flat(rate: _Float) -> YieldCurve: ...
    @staticmethod
    def from_zero_rates(times: _Floats, rates: _Floats, interp: _Interp = "log-linear") -> YieldCurve: ...
    @staticmethod
    def from_discount_factors(times: _Floats, dfs: _Floats, interp: _Interp = "log-linear") -> YieldCurve: ...
    def discount(self, t: _Float) -> float: ...
    def zero_rate(self, t: _Float) -> float: ...
    def forward_rate(self, t1: _Float, t2: _Float) -> float: ...
    def __reduce__(self) -> Tuple[Any, ...]: ...

@final
class FixedRateBond:
    """A fixed-rate bond: build once, price and analyse from a yield or a curve."""
    @staticmethod
    def regular(face: _Float, coupon_rate: _Float, frequency: _Count, n_periods: _Count) -> FixedRateBond: ...
    @staticmethod
    def from_cashflows(times: _Floats, amounts: _Floats, frequency: _Count, accrued: _Float = 0.0,
                       face: _Float = 100.0, coupon_rate: _Float = 0.0) -> FixedRateBond: ...
    @property
    def accrued(self) -> float: ...
    def dirty_price_from_yield(self, y: _Float) -> float: ...
    def clean_price_from_yield(self, y: _Float) -> float: ...
    def yield_to_maturity(self, clean_price: _Float) -> float: ...
    def price_from_curve(self, curve: YieldCurve) -> Tuple[float, float]: ...
    def macaulay_duration(self, y: _Float) -> float: ...
    def modified_duration(self, y: _Float) -> float: ...
    def convexity(self, y: _Float) -> float: ...
    def __reduce__(self) -> Tuple[Any, ...]: ...

@final
class VolSurface:
    """An implied-volatility surface fitted to an option chain: build once, query many times."""
    @staticmethod
    def from_vols(strikes: _Floats, expiries: _Floats, vols: _Floats, spot: Optional[_Float] = None,
                  rate: _Float = 0.0, *, dividend_yield: _Float = 0.0,
                  forwards: Optional[_Floats] = None) -> VolSurface: ...
    @staticmethod
    def from_chain(strikes: _Floats, expiries: _Floats, prices: _Floats, spot: _Float, rate: _Float, *,
                   dividend_yield: _Float = 0.0,
                   option_types: Optional[_OptionType | _ArrayLike[_OptionType]] = None) -> VolSurface: ...
    def vol(self, strike: _Float, t: _Float) -> float: ...
    def local_vol(self, strike: _Float, t: _Float) -> float: ...
    def forward(self, t: _Float) -> float: ...
    def slices(self) -> list[SurfaceSlice]: ...
    def __reduce__(self) -> Tuple[Any, ...]: ...
