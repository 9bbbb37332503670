"""Portfolio functions over return panels and labelled data: the bodies of `covariance_matrix`,
`portfolio_risk` and `optimize` as the array API gives them (their signatures, defaults and
docstrings are their declarations', src/bindings/portfolio.cpp).

A panel holds one series per asset along `axis` (0: one asset per column, as a DataFrame of
daily returns has them). Labels are kept: a DataFrame's columns (or a Series' index) name
the assets of the result. Every number is the scalar call's (``quelm.covariance_matrix``,
``quelm.portfolio_risk``, ``quelm.optimize``), bit for bit.
"""
from __future__ import annotations

import numpy as np

import quelm
from quelm import _core, _declared

_RISK_KEYS = _declared.written_keys("portfolio_risk")


def _is_pandas(x, kind: str) -> bool:
    t = type(x)
    return t.__module__.partition(".")[0] == "pandas" and t.__name__ == kind


def _floats(name: str, x) -> np.ndarray:
    """x as float64 (numbers only: a string is refused as the scalar call refuses it)."""
    a = np.asarray(x)
    if a.dtype.kind in "biuf":
        return a.astype(np.float64, copy=False)
    if a.dtype.kind == "O":
        try:
            return np.array([float(v) if not isinstance(v, (str, bytes)) else _refuse(name, v) for v in a.flat],
                            dtype=np.float64).reshape(a.shape)
        except TypeError as exc:
            raise TypeError(f"argument '{name}': {exc}") from None
    raise TypeError(f"argument '{name}': must be real numbers, not {a.dtype}")


def _refuse(name: str, v):
    raise TypeError(f"must be real number, not {type(v).__name__}")


def _assets(returns, axis: int):
    """(one contiguous row per asset, the asset labels or None)."""
    if axis not in (0, 1, -1, -2):
        raise ValueError(f"axis must be 0 or 1, got {axis!r}")
    labels = None
    if _is_pandas(returns, "DataFrame"):
        labels = returns.columns if axis in (0, -2) else returns.index
        returns = returns.to_numpy()
    a = _floats("returns", returns)
    if a.ndim != 2:
        raise ValueError(f"returns must be a panel (2-D: periods by assets), got {a.ndim} dimensions")
    rows = np.moveaxis(a, axis, -1)  # assets x periods
    if not (rows.flags.c_contiguous and rows.flags.aligned):
        _core._check_memory(float(rows.size), "a copy of the returns panel")
        rows = np.ascontiguousarray(rows)
    return rows, labels


def covariance_matrix(returns, axis):
    rows, labels = _assets(returns, axis)
    cov = np.array(quelm.covariance_matrix(rows), dtype=np.float64).reshape(rows.shape[0], rows.shape[0])
    if labels is not None:
        import pandas as pd

        return pd.DataFrame(cov, index=labels, columns=labels)
    return cov


def _aligned_weights(weights, labels, n: int):
    """Weights as (portfolios x assets) floats, the portfolio labels, and whether one was given."""
    portfolio_labels = None
    if _is_pandas(weights, "Series") and labels is not None:
        missing = labels.difference(weights.index)
        if len(missing) or len(weights.index) != len(labels):
            raise ValueError(f"weights must name each asset of the returns once; missing {list(missing)[:5]}")
        weights = weights.reindex(labels)
    elif _is_pandas(weights, "DataFrame"):
        portfolio_labels = weights.index
        if labels is not None:
            missing = labels.difference(weights.columns)
            if len(missing) or len(weights.columns) != len(labels):
                raise ValueError(f"weights must have one column per asset of the returns; missing {list(missing)[:5]}")
            weights = weights[labels]
    w = _floats("weights", weights)
    if w.ndim not in (1, 2):
        raise ValueError(f"weights must be one portfolio (1-D) or one per row (2-D), got {w.ndim} dimensions")
    return np.atleast_2d(w), portfolio_labels, w.ndim == 1


def portfolio_risk(returns, weights, periods_per_year, confidence, axis):
    rows, labels = _assets(returns, axis)
    w, portfolio_labels, single = _aligned_weights(weights, labels, rows.shape[0])
    reports = [quelm.portfolio_risk(rows, list(map(float, p)), periods_per_year, confidence) for p in w]
    pandas_out = labels is not None or portfolio_labels is not None
    if single:
        if pandas_out:
            import pandas as pd

            return pd.Series(reports[0], name="risk")
        return reports[0]
    table = {k: np.array([r[k] for r in reports], dtype=np.float64) for k in _RISK_KEYS}
    if pandas_out:
        import pandas as pd

        return pd.DataFrame(table, index=portfolio_labels)
    return table


def _matrix_labels(cov):
    if _is_pandas(cov, "DataFrame"):
        if not cov.index.equals(cov.columns):
            raise ValueError("cov must have the same asset labels on its rows and columns")
        return cov.columns
    return None


def _bounds_for(bounds, labels):
    """A mapping {asset: (lower, upper)} as a list in asset order (no bound for an asset it
    does not name); anything else unchanged."""
    if isinstance(bounds, dict) or _is_pandas(bounds, "Series"):
        if labels is None:
            raise ValueError("bounds given by asset need labelled mean or cov")
        unknown = [k for k in bounds.keys() if k not in set(labels)]
        if unknown:
            raise ValueError(f"bounds name assets that mean and cov do not have: {unknown[:5]}")
        return [tuple(bounds[k]) if k in bounds else (None, None) for k in labels]
    return bounds


def optimize(mean, cov, rf, target, bounds):
    mean_labels = mean.index if _is_pandas(mean, "Series") else None
    cov_labels = _matrix_labels(cov)
    labels = mean_labels if mean_labels is not None else cov_labels
    if mean_labels is not None and cov_labels is not None:
        if set(mean_labels) != set(cov_labels) or len(mean_labels) != len(cov_labels):
            raise ValueError("mean and cov must label the same assets")
        cov = cov.loc[mean_labels, mean_labels]
    m = list(map(float, _floats("mean", mean.to_numpy() if mean_labels is not None else mean)))
    c = _floats("cov", cov.to_numpy() if cov_labels is not None else cov).tolist()
    b = _bounds_for(bounds, labels)
    targets = None if target is None else np.asarray(target, dtype=np.float64)
    many = targets is not None and targets.ndim == 1
    if targets is None or (many and not len(targets)):
        first = None
    else:
        first = float(targets[0] if many else targets)
    result = quelm.optimize(m, c, rf, first, bounds=b)
    if many:
        frontier = [result["frontier_weights"]] if len(targets) else []
        frontier += [quelm.optimize(m, c, rf, float(t), bounds=b)["frontier_weights"] for t in targets[1:]]
        frontier = np.array(frontier, dtype=np.float64).reshape(len(targets), len(m))
    else:
        frontier = result["frontier_weights"]
    if labels is None:
        out = {k: np.array(v, dtype=np.float64) for k, v in result.items() if k != "frontier_weights"}
        out["frontier_weights"] = None if frontier is None else np.asarray(frontier, dtype=np.float64)
        return out
    import pandas as pd

    out = {k: pd.Series(v, index=labels, dtype=np.float64) for k, v in result.items() if k != "frontier_weights"}
    if frontier is None:
        out["frontier_weights"] = None
    elif many:
        out["frontier_weights"] = pd.DataFrame(frontier, index=pd.Index(targets, name="target"), columns=labels)
    else:
        out["frontier_weights"] = pd.Series(frontier, index=labels, dtype=np.float64)
    return out
