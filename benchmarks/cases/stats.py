"""Return statistics: the full report and single metrics, quelm vs NumPy/SciPy on the same work.

The report peer computes the same metric set as ``stats(returns=...)`` (moments, Jarque-Bera,
lag-1 autocorrelation, compounding, Sharpe, Sortino, historical/parametric/Cornish-Fisher VaR
and ES) with vectorised NumPy, plus the normal quantile from SciPy. The single-metric cases
time the array and the list input separately: the list case includes the per-element conversion.
"""
from __future__ import annotations

import math

import numpy as np

import quelm

try:
    from scipy import stats as sps
except ImportError:  # pragma: no cover - SciPy is a benchmark peer only
    sps = None


def np_report(r: np.ndarray, rf: float = 0.0, ppy: float = 252.0, c: float = 0.95) -> dict:
    n = r.size
    m = r.mean()
    d = r - m
    d2 = d * d
    var = d2.mean()
    sd = math.sqrt(var)
    skew = (d2 * d).mean() / var ** 1.5
    kurt = (d2 * d2).mean() / (var * var) - 3.0
    jb = (kurt * kurt * 0.25 + skew * skew) * n / 6.0
    ac1 = float(np.dot(d[1:], d[:-1])) / float(d2.sum())
    g = float(np.prod(1.0 + r))
    down = np.minimum(r - rf, 0.0)
    q = float(np.quantile(r, 1.0 - c))
    z = float(sps.norm.ppf(1.0 - c)) if sps is not None else -1.6448536269514729
    z2, z3 = z * z, z * z * z
    zcf = z + (z2 - 1) * skew / 6 + (z3 - 3 * z) * kurt / 24 - (2 * z3 - 5 * z) * skew * skew / 36
    return {
        "mean": m, "variance": var, "std_dev": sd, "skewness": skew, "excess_kurtosis": kurt,
        "jarque_bera": jb, "jarque_bera_pvalue": math.exp(-0.5 * jb), "autocorr_lag1": ac1,
        "cumulative_return": g - 1.0, "annualized_return": g ** (ppy / n) - 1.0,
        "annualized_volatility": math.sqrt(ppy) * sd,
        "sharpe": math.sqrt(ppy) * (m - rf) / sd,
        "sortino": math.sqrt(ppy) * (m - rf) / math.sqrt((down * down).mean()),
        "historical_var": -q, "historical_es": -float(r[r <= q].mean()),
        "parametric_var": -(sd * z + m),
        "parametric_es": math.exp(-0.5 * z * z) / math.sqrt(2 * math.pi) * sd / (1 - c) - m,
        "cornish_fisher_var": -(zcf * sd + m),
    }


def scipy_report(r: np.ndarray) -> dict:
    out = np_report(r)
    out["skewness"] = sps.skew(r, bias=True)
    out["excess_kurtosis"] = sps.kurtosis(r, bias=True)
    out["jarque_bera"] = sps.jarque_bera(r).statistic
    return out


def np_sharpe(r: np.ndarray, rf: float = 0.0, ppy: float = 252.0) -> float:
    return math.sqrt(ppy) * (r.mean() - rf) / r.std()


def np_var(r: np.ndarray, c: float = 0.95) -> float:
    return -float(np.quantile(r, 1.0 - c))


def np_max_drawdown(p: np.ndarray) -> dict:
    peak = np.maximum.accumulate(p)
    dd = (peak - p) / peak
    trough = int(dd.argmax())
    peak_index = int(p[: trough + 1].argmax())
    return {"max_drawdown": float(dd[trough]), "peak_index": peak_index, "trough_index": trough,
            "duration": trough - peak_index}


def cases(quick: bool) -> list:
    rng = np.random.default_rng(7)
    big = rng.standard_t(5, size=10**6) * 0.01
    small = big[: 10**5].copy()
    small_list = small.tolist()
    prices = 100.0 * np.cumprod(1.0 + small)
    prices_list = prices.tolist()
    out = [
        {"name": "stats(returns=...) 10^6 array", "quelm": lambda: quelm.stats(returns=big),
         "peers": {"NumPy vectorised": lambda: np_report(big),
                   **({"NumPy + scipy.stats moments": lambda: scipy_report(big)} if sps is not None else {})},
         "number": 2 if quick else 10, "note": "same 19 return metrics"},
    ]
    number = 20 if quick else 200
    for label, data, plist in (("sharpe", small, small_list), ("value_at_risk", small, small_list),
                               ("max_drawdown", prices, prices_list)):
        fn = getattr(quelm, label)
        peer = {"sharpe": np_sharpe, "value_at_risk": np_var, "max_drawdown": np_max_drawdown}[label]
        out.append({"name": f"{label} 10^5 float64 array", "quelm": (lambda f=fn, d=data: f(d)),
                    "peers": {"NumPy": (lambda p=peer, d=data: p(d)),
                              "quelm on a list": (lambda f=fn, d=plist: f(d)),
                              "NumPy on a list (np.asarray)": (lambda p=peer, d=plist: p(np.asarray(d)))},
                    "number": number})

    def convert_only(data):
        # A rejected method fails right after argument conversion: the time is the conversion.
        try:
            quelm.value_at_risk(data, 0.95, "none")
        except ValueError:
            pass

    out.append({"name": "convert 10^5 floats: float64 array", "quelm": lambda: convert_only(small),
                "peers": {"quelm, same values as a list": lambda: convert_only(small_list),
                          "np.asarray(list)": lambda: np.asarray(small_list)},
                "number": number, "note": "argument conversion only (the call stops at the method check)"})
    return out
