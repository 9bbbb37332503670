"""Portfolio analytics: covariance matrix and portfolio risk (100 assets x 2,520 days, list and
array input) vs NumPy, mwr on 120 monthly flows vs a SciPy brentq IRR, optimize vs np.linalg.solve,
and optimize within weight bounds vs quadprog."""
from __future__ import annotations

import datetime as dt

import numpy as np

import quelm

N_ASSETS, N_DAYS = 100, 2520


def _returns():
    rng = np.random.default_rng(2026)
    load = rng.normal(0.0, 0.01, (N_ASSETS, 1))
    market = rng.normal(0.0003, 0.01, N_DAYS)
    return load * market / 0.01 + rng.normal(0.0002, 0.015, (N_ASSETS, N_DAYS))


def _flows():
    dates, amounts = [], []
    for m in range(120):
        y, mo = divmod(m, 12)
        dates.append(dt.date(2015 + y, mo + 1, 15).isoformat())
        amounts.append(-1000.0)
    amounts[0], amounts[-1] = -10000.0, 200000.0
    return dates, amounts


def _numpy_risk(x, w, z):
    cov = np.cov(x, bias=True)
    var = float(w @ cov @ w)
    port = w @ x
    return {"variance": var, "volatility": var ** 0.5, "annualized_volatility": (252.0 * var) ** 0.5,
            "historical_var": -float(np.quantile(port, 0.05)),
            "parametric_var": -(float(port.mean()) + float(port.std()) * z)}


def cases(quick: bool) -> list:
    x = _returns()
    x_list = x.tolist()
    w = np.full(N_ASSETS, 1.0 / N_ASSETS)
    w_list = w.tolist()
    reps = 3 if quick else 20
    out = [
        {"name": "covariance_matrix 100x2520 (array)", "quelm": lambda: quelm.covariance_matrix(x),
         "peers": {"np.cov(bias=True).tolist()": lambda: np.cov(x, bias=True).tolist(),
                   "np.cov(bias=True) ndarray only": lambda: np.cov(x, bias=True)}, "number": reps,
         "note": "both return nested lists; quelm entries equal the pairwise formula bit for bit"},
        {"name": "covariance_matrix 100x2520 (list)", "quelm": lambda: quelm.covariance_matrix(x_list),
         "peers": {"np.cov(np.asarray(list))": lambda: np.cov(np.asarray(x_list), bias=True).tolist()},
         "number": reps},
    ]
    try:
        from scipy.optimize import brentq
        from scipy.stats import norm
        z = float(norm.ppf(0.05))
        out += [
            {"name": "portfolio_risk 100x2520 (array)", "quelm": lambda: quelm.portfolio_risk(x, w),
             "peers": {"NumPy cov, w@S@w, quantile, std": lambda: _numpy_risk(x, w, z)}, "number": reps},
            {"name": "portfolio_risk 100x2520 (list)", "quelm": lambda: quelm.portfolio_risk(x_list, w_list),
             "peers": {"NumPy (asarray first)": lambda: _numpy_risk(np.asarray(x_list), np.asarray(w_list), z)},
             "number": reps},
        ]
        dates, amounts = _flows()

        def scipy_mwr(ds, am):
            # Same inputs (ISO strings, floats) and the same search range as mwr.
            d = [dt.date.fromisoformat(s).toordinal() for s in ds]
            years = (np.array(d, float) - d[0]) / 365.0
            a = np.asarray(am, float)
            return brentq(lambda r: float(np.sum(a / (1.0 + r) ** years)), -0.9999, 10.0, xtol=1e-12)

        d0 = [dt.date.fromisoformat(s).toordinal() for s in dates]
        years0 = (np.array(d0, float) - d0[0]) / 365.0
        a0 = np.asarray(amounts, float)

        def scipy_irr_only():
            return brentq(lambda r: float(np.sum(a0 / (1.0 + r) ** years0)), -0.9999, 10.0, xtol=1e-12)

        out.append({"name": "mwr 120 monthly flows", "quelm": lambda: quelm.mwr(dates, amounts),
                    "peers": {"SciPy brentq (ISO parse + NumPy NPV)": lambda: scipy_mwr(dates, amounts),
                              "SciPy brentq (pre-parsed years)": scipy_irr_only},
                    "number": 200 if quick else 2000})
    except ImportError:
        pass
    rng = np.random.default_rng(9)
    a = rng.normal(size=(100, 100))
    cov = a @ a.T / 100 + 0.1 * np.eye(100)
    mu = rng.uniform(0.01, 0.1, 100)
    cov_list, mu_list = cov.tolist(), mu.tolist()

    def numpy_optimize():
        x = np.linalg.solve(cov, np.ones(100))
        y = np.linalg.solve(cov, mu)
        z = np.linalg.solve(cov, mu - 0.01)
        A, B, C = x.sum(), y.sum(), mu @ y
        D = A * C - B * B
        return (x / x.sum(), z / z.sum(), (y * (A * 0.08 - B) + x * (C - 0.08 * B)) / D)

    out.append({"name": "optimize 100 assets (with target)",
                "quelm": lambda: quelm.optimize(mu_list, cov_list, rf=0.01, target=0.08),
                "peers": {"np.linalg.solve x3": numpy_optimize}, "number": 20 if quick else 200,
                "note": "quelm: one Gaussian elimination with partial pivoting for the three right-hand sides"})
    out += _bounded_cases(quick)
    return out


def _bounded_cases(quick: bool) -> list:
    """Long-only (0, 0.1) portfolios of 40 assets: the active-set programs against quadprog's
    Goldfarb-Idnani solver on the same three programs, where it is installed."""
    n = 40
    rng = np.random.default_rng(17)
    factors = rng.normal(size=(n, 8))
    cov = 1e-4 * (factors @ factors.T + np.diag(rng.uniform(0.5, 2.0, n)))
    mu = rng.normal(0.006, 0.004, n)
    cov_list, mu_list = cov.tolist(), mu.tolist()
    rf, target = 0.001, float(np.quantile(mu, 0.7))
    case = {"name": f"optimize {n} assets within bounds (0, 0.1), with target",
            "quelm": lambda: quelm.optimize(mu_list, cov_list, rf=rf, target=target, bounds=(0, 0.1)),
            "peers": {}, "number": 5 if quick else 50,
            "note": "three quadratic programs: minimum variance, tangency (in scaled holdings), target"}
    try:
        import quadprog
    except ImportError:
        return [case]
    eye, ones = np.eye(n), np.ones(n)

    def quadprog_three():
        box = np.column_stack([eye, -eye])
        limits = np.concatenate([np.zeros(n), -0.1 * ones])
        mv = quadprog.solve_qp(cov, np.zeros(n), np.column_stack([ones, box]), np.concatenate([[1.0], limits]), 1)[0]
        front = quadprog.solve_qp(cov, np.zeros(n), np.column_stack([ones, mu, box]),
                                  np.concatenate([[1.0, target], limits]), 2)[0]
        excess = mu - rf
        scaled = np.column_stack([excess, eye, 0.1 * ones[:, None] - eye])
        y = quadprog.solve_qp(cov, np.zeros(n), scaled, np.concatenate([[1.0], np.zeros(2 * n)]), 1)[0]
        return mv, y / y.sum(), front

    case["peers"]["quadprog (Goldfarb-Idnani) x3"] = quadprog_three
    return [case]
