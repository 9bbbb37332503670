"""The tour's figures: the array helpers they stand on give exactly the scalar answers, the
made-up market data is what it claims to be, and each figure is a titled, labelled
1200 x 800 picture."""
from __future__ import annotations

import math
import struct
import sys
from pathlib import Path

import pytest

np = pytest.importorskip("numpy")

import quelm  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "examples"))

from figures import elementwise, market  # noqa: E402

CURVE = quelm.YieldCurve.from_zero_rates([0.5, 1.0, 2.0, 5.0], [0.041, 0.0395, 0.037, 0.0368], "natural-cubic")
SPOTS = np.array([80.0, 100.0, 125.0])[:, None]
STRIKES = np.array([90.0, 100.0, 110.0, 120.0])[None, :]
KINDS = np.array(["call", "put", "c", "P"])[None, :]

# name, array call, scalar call per element, broadcast inputs
ELEMENTWISE = [
    ("black_scholes", lambda *a: elementwise.black_scholes(*a, 0.01), lambda *a: quelm.black_scholes(*a, 0.01),
     (SPOTS, STRIKES, 0.05, 0.2, 0.75, KINDS)),
    ("implied_volatility", elementwise.implied_volatility, quelm.implied_volatility,
     (np.array([[15.0], [22.0]]), 100.0, STRIKES, 0.03, 1.0, "call")),
    ("binomial", lambda *a: elementwise.binomial(*a, steps=50), lambda *a: quelm.binomial(*a, steps=50),
     (SPOTS, 100.0, 0.05, 0.3, 1.0, "put", np.array(["european", "american"])[:, None, None])),
    ("zero_rate", lambda t: elementwise.zero_rate(CURVE, t), CURVE.zero_rate, (np.linspace(0.5, 5.0, 7),)),
    ("forward_rate", lambda a, b: elementwise.forward_rate(CURVE, a, b), CURVE.forward_rate,
     (np.array([0.5, 1.5, 3.0])[:, None], np.array([[3.5, 5.0]]))),
]


@pytest.mark.parametrize("name, array_call, scalar_call, inputs", ELEMENTWISE, ids=[e[0] for e in ELEMENTWISE])
def test_elementwise_matches_the_scalar_call_bit_for_bit(name, array_call, scalar_call, inputs):
    got = array_call(*inputs)
    arrays = np.broadcast_arrays(*(np.asarray(a) for a in inputs))
    assert got.shape == arrays[0].shape
    for index in np.ndindex(got.shape):
        want = scalar_call(*(a[index].item() for a in arrays))
        assert got[index].tobytes() == np.float64(want).tobytes(), (name, index)


def test_elementwise_greeks_is_a_dict_of_arrays_in_the_scalar_order():
    got = elementwise.greeks(SPOTS, STRIKES, 0.05, 0.2, 0.5, "put")
    assert list(got) == list(quelm.greeks(100, 100, 0.05, 0.2, 0.5, "put"))
    for index in np.ndindex(3, 4):
        want = quelm.greeks(SPOTS[index[0], 0], STRIKES[0, index[1]], 0.05, 0.2, 0.5, "put")
        assert {k: got[k][index] for k in got} == want


def test_elementwise_errors_raise_with_the_index_or_leave_nan():
    strikes = np.array([[100.0, -5.0], [90.0, 0.0]])
    with pytest.raises(ValueError, match=r"^at index \(0, 1\): invalid input: "):
        elementwise.black_scholes(100.0, strikes, 0.05, 0.2, 1.0, "call")
    got = elementwise.black_scholes(100.0, strikes, 0.05, 0.2, 1.0, "call", errors="nan")
    assert np.isnan(got).tolist() == [[False, True], [False, True]]
    assert got[1, 0] == quelm.black_scholes(100.0, 90.0, 0.05, 0.2, 1.0, "call")
    with pytest.raises(ValueError, match="errors must be"):
        elementwise.black_scholes(100.0, 100.0, 0.05, 0.2, 1.0, "call", errors="ignore")
    with pytest.raises(ValueError, match="option_type"):  # a bad string is not silenced into NaN by "raise"
        elementwise.black_scholes(100.0, 100.0, 0.05, 0.2, 1.0, np.array(["call", "straddle"]))


@pytest.mark.parametrize("axis", [0, 1])
def test_per_series_helpers_take_the_series_along_axis(axis):
    panel = np.random.default_rng(5).normal(0.0, 0.01, (40, 3))
    if axis == 1:
        panel = panel.T.copy()
    series = [panel[:, j] if axis == 0 else panel[j] for j in range(3)]
    var = elementwise.value_at_risk(panel, 0.9, "cornish-fisher", axis=axis)
    assert var.tolist() == [quelm.value_at_risk(s.tolist(), 0.9, "cornish-fisher") for s in series]
    report = elementwise.stats(panel, axis=axis, periods_per_year=12.0)
    assert list(report) == list(quelm.stats(returns=series[0].tolist()))
    assert report["sharpe"].tolist() == [quelm.stats(returns=s.tolist(), periods_per_year=12.0)["sharpe"]
                                         for s in series]
    # A report entry that is None for the scalar call becomes NaN: lag-5 autocorrelation of 4 points.
    assert np.isnan(elementwise.stats(np.zeros((4, 2)) + [[0.01], [-0.02], [0.0], [0.03]], lag=5)["autocorr_at_lag"]).all()


def test_the_chain_is_quoted_like_a_market():
    c = market.chain()
    forward = market.SPOT * np.exp((market.RATE - market.DIVIDEND) * c["expiry"])
    assert ((c["option_type"] == "put") == (c["strike"] < forward)).all()  # out of the money only
    quoted = ~np.isnan(c["quote"])
    cents = c["quote"][quoted] / market.TICK
    assert np.allclose(cents, np.round(cents), atol=1e-6) and (c["quote"][quoted] >= market.TICK).all()
    assert quoted.sum() > 0.8 * quoted.size and not quoted[0].all()  # short-dated wings go unquoted
    iv = market.implied_from_quotes(c)
    assert (np.isnan(iv) == ~quoted).all()
    # Near the money a cent of rounding moves the implied volatility by far less than a point.
    near = quoted & (np.abs(np.log(c["strike"] / forward)) < 0.1)
    assert np.abs(iv[near] - c["model_vol"][near]).max() < 2e-3
    assert (np.diff(c["model_vol"][:, 0]) < 0).all()  # the put wing flattens with expiry


def test_the_return_series_is_seeded_and_clustered():
    a, sigma = market.garch_returns(days=600, seed=3)
    b, _ = market.garch_returns(days=600, seed=3)
    assert a.tobytes() == b.tobytes() and len(a) == 600
    assert sigma.max() > 1.5 * sigma.min() > 0.0
    z = (a - 0.0004) / sigma
    assert abs(z.std() - 1.0) < 0.15  # returns are drawn at the stated conditional volatility
    days = market.business_days(30)
    assert (np.diff(days).astype(int) > 0).all() and np.is_busday(days).all()


def test_underwater_and_trailing_windows():
    pytest.importorskip("matplotlib")
    from figures import drawdown
    prices = np.array([100.0, 110.0, 99.0, 104.5, 121.0, 96.8, 130.0])
    water = drawdown.underwater(prices)
    assert water[[0, 1, 4, 6]].tolist() == [0.0, 0.0, 0.0, 0.0]
    assert math.isclose(-water.min(), quelm.max_drawdown(prices)["max_drawdown"], rel_tol=1e-12)
    returns = np.random.default_rng(9).normal(0.0, 0.01, 30)
    forecast = drawdown.trailing(returns, 10, lambda p: elementwise.value_at_risk(p, 0.9, axis=1))
    assert np.isnan(forecast[:10]).all()
    for i in (10, 17, 29):  # day i is forecast from the ten days before it, never from itself
        assert forecast[i] == quelm.value_at_risk(returns[i - 10:i].tolist(), 0.9)


def test_the_frontier_passes_through_its_named_portfolios():
    pytest.importorskip("matplotlib")
    from figures import frontier
    from tour_parts.portfolio import daily_returns
    returns = daily_returns()
    mean = np.array([np.mean(r) for r in returns])
    cov = np.array(quelm.covariance_matrix(returns))
    opt = quelm.optimize(mean, cov, rf=frontier.RF)
    low = frontier.point(opt["min_variance_weights"], mean, cov)
    tangent = frontier.point(opt["tangency_weights"], mean, cov)
    curve = frontier.frontier(mean, cov, np.linspace(mean.min(), mean.max(), 201))
    assert curve[:, 0].min() >= low[0] * (1 - 1e-9)
    sharpe = (curve[:, 1] - frontier.PERIODS * frontier.RF) / curve[:, 0]
    assert sharpe.max() <= (tangent[1] - frontier.PERIODS * frontier.RF) / tangent[0] * (1 + 1e-9)


def _png_size(path: Path) -> tuple[int, int]:
    head = path.read_bytes()[:24]
    assert head[:8] == b"\x89PNG\r\n\x1a\n"
    return struct.unpack(">II", head[16:24])


def test_every_figure_is_a_labelled_1200_by_800_png(tmp_path, monkeypatch):
    pytest.importorskip("matplotlib")
    import importlib

    import figures
    from figures import canvas, surrogate
    monkeypatch.setattr(surrogate, "SPOTS", np.array([90.0, 110.0]))  # two training runs are enough here
    stems = []
    for module in figures.MODULES:
        for stem, fig in importlib.import_module(f"figures.{module}").figures():
            assert fig._suptitle is not None and fig._suptitle.get_text(), stem
            plots = [ax for ax in fig.axes if ax.get_label() != "<colorbar>"]
            assert plots[-1].get_xlabel(), stem
            for ax in plots:
                assert ax.get_ylabel(), (stem, "y label")
                if hasattr(ax, "get_zlabel"):
                    assert ax.get_zlabel(), (stem, "z label")
                elif len(ax.get_lines()) > 1:
                    assert ax.get_legend() is not None or fig.legends, (stem, "legend")
            path = canvas.save(fig, tmp_path, stem)
            assert _png_size(path) == (1200, 800), stem
            assert path.stat().st_size > 20_000, stem  # drawn, not blank
            stems.append(stem)
    assert len(stems) == len(set(stems)) >= 9


def _figure(module: str, stem: str):
    import importlib

    return dict(importlib.import_module(f"figures.{module}").figures())[stem]


def test_the_smile_names_its_model_lines_and_joins_only_steady_quotes():
    pytest.importorskip("matplotlib")
    from figures import smile
    fig = _figure("smile", "iv_smile")
    ax = fig.axes[0]
    assert any("model" in t.get_text() for t in ax.get_legend().get_texts())
    c = market.chain()
    iv = market.implied_from_quotes(c)
    error = smile.rounding_error(c, iv)
    assert np.nanmax(error) > smile.SMOOTH        # the far wings do move with a cent's rounding
    steady = {(float(k), float(v)) for k, v, e in zip(c["strike"].ravel(), iv.ravel(), error.ravel())
              if e <= smile.SMOOTH}
    joined = [line for line in ax.get_lines() if line.get_linestyle() == "-" and line.get_marker() == "o"]
    assert len(joined) == len(market.EXPIRIES)
    for line in joined:  # a line through the quotes joins none that rounding can shake
        assert {(float(x), float(y)) for x, y in zip(*line.get_data())} <= steady


def test_the_surface_labels_its_height_and_its_colours_apart():
    pytest.importorskip("matplotlib")
    fig = _figure("smile", "iv_surface")
    [surface] = [ax for ax in fig.axes if hasattr(ax, "get_zlabel")]
    [bar] = [ax for ax in fig.axes if ax.get_label() == "<colorbar>"]
    assert surface.get_zlabel() and bar.get_ylabel() and surface.get_zlabel() != bar.get_ylabel()


def test_rolling_risk_reads_plainly_and_fits_its_data():
    pytest.importorskip("matplotlib")
    fig = _figure("drawdown", "rolling_risk")
    labels = [t.get_text() for t in fig.legends[0].get_texts()]
    assert any("VaR" in label for label in labels) and not any(label.startswith("-") for label in labels)
    returns, _ = market.garch_returns()
    low, high = fig.axes[0].get_ylim()
    span = returns.max() - returns.min()
    assert returns.min() - 0.15 * span <= low < returns.min() and returns.max() < high <= returns.max() + 0.15 * span


def test_the_tour_table_shows_portfolios_on_the_efficient_half():
    from tour_parts import portfolio
    returns = portfolio.daily_returns()
    cov = quelm.covariance_matrix(returns)
    mean = np.array([np.mean(r) for r in returns])
    floor = float(mean @ quelm.optimize(mean, cov)["min_variance_weights"])
    rows = portfolio.optimised_rows(mean.tolist(), cov)
    assert len(rows) >= 4
    for label, weights in rows:
        assert float(mean @ np.asarray(weights)) >= floor * (1 - 1e-12), label



def test_the_desk_dates_and_curves_sections_print_their_reference_numbers(capsys):
    from tour_parts import curves, dates, models
    models.show()
    dates.show()
    curves.show()
    out = capsys.readouterr().out
    assert "value 29,929.89" in out and "-4,164.98" in out  # the curves page's swap and its DV01
    assert "1.701051" in out  # Haug's Black-76 example
    assert "3.8021978" in out and "-0.1758242" in out and "7.49518%" in out  # the gilt's accrued and yield
    assert "99.057893" in out  # the Treasury example of 31 CFR 356


def test_the_rates_fx_and_credit_section_prints_consistent_numbers(capsys):
    from tour_parts import desks
    desks.show()
    out = capsys.readouterr().out
    # The smile's ATM pillar is the quoted ATM vol; the CDS bought at a coupon above its par
    # spread is paid an upfront (negative for the buyer); a Bermudan is worth at least nothing.
    assert "7.6500%" in out.split("pillar vols")[1].split("\n")[0]
    assert "upfront -" in out and "par spread 0.9" in out
    assert "Hull-White" in out and "Bermudan" in out


def test_the_vol_surface_smiles_run_through_their_quotes():
    pytest.importorskip("matplotlib")
    from figures import vol_surface
    surface, c, iv = vol_surface.fitted_surface()
    assert len(surface.slices()) == len(market.EXPIRIES)
    for row, t in enumerate(market.EXPIRIES):
        quoted = ~np.isnan(iv[row])
        fitted = np.array([surface.vol(k, t) for k in c["strike"][row][quoted]])
        assert np.max(np.abs(fitted - iv[row][quoted])) < 0.02, t  # two vol points, in the rounded wings
    fig = _figure("vol_surface", "vol_surface_smiles")
    assert len([line for line in fig.axes[0].get_lines() if line.get_linestyle() == "-"]) == len(market.EXPIRIES)


@pytest.mark.parametrize("quoted, solid, dashed", [
    ([85.0, 100.0, 112.5], (85.0, 112.5), [(60.0, 85.0), (112.5, 150.0)]),  # inside: dashed both sides
    ([60.0, 125.0], (60.0, 125.0), [(125.0, 150.0)]),                     # quotes from the first strike
    ([60.0, 150.0], (60.0, 150.0), []),                                   # quoted across: no extrapolation
    ([61.3, 149.9], (61.3, 149.9), [(60.0, 61.3), (149.9, 150.0)]),        # ends between grid points
])
def test_slice_pieces_split_where_the_quotes_end(quoted, solid, dashed):
    pytest.importorskip("matplotlib")
    from figures import vol_surface
    fine = np.linspace(60.0, 150.0, 181)
    pieces = vol_surface.slice_pieces(fine, np.array(quoted))
    [inside] = [x for x, style in pieces if style == "-"]
    assert (inside[0], inside[-1]) == solid and np.all(np.diff(inside) > 0)
    assert [(x[0], x[-1]) for x, style in pieces if style == "--"] == dashed
    covered = np.concatenate([x for x, _ in pieces])
    assert set(fine) <= set(covered)                 # every grid strike is drawn, in one style or the other


def test_the_vol_surface_smiles_dash_beyond_their_quotes():
    pytest.importorskip("matplotlib")
    from matplotlib.colors import to_hex
    from figures import vol_surface
    _, c, iv = vol_surface.fitted_surface()
    ax = _figure("vol_surface", "vol_surface_smiles").axes[0]
    lines = [line for line in ax.get_lines() if len(line.get_xdata())]
    extrapolated = 0
    for row, solid in enumerate(line for line in lines if line.get_linestyle() == "-"):
        quoted = c["strike"][row][~np.isnan(iv[row])]
        x = solid.get_xdata()
        assert (x[0], x[-1]) == (quoted.min(), quoted.max())
        for dashed in (line for line in lines if line.get_linestyle() == "--"
                       and to_hex(line.get_color()) == to_hex(solid.get_color())):
            xd = dashed.get_xdata()
            assert xd.max() <= quoted.min() or xd.min() >= quoted.max()
            extrapolated += 1
    assert extrapolated >= 2   # the short expiries are quoted over part of the strike axis only
    assert any("extrapolated" in t.get_text() for t in ax.get_legend().get_texts())


def test_the_swaption_cube_panels_show_each_nodes_quotes_and_fit():
    pytest.importorskip("matplotlib")
    from figures import swaption_cube as sc
    vols = sc.quotes()
    ticks = vols / sc.TICK
    assert vols.shape == (22, 14, 11) and np.allclose(ticks, np.round(ticks), atol=1e-6)
    # The ATM quote is the level sabr_parameters aims at: at beta = 0 Hagan et al. (2002, eq. B.69a)
    # give sigma_N(F, F) = alpha (1 + (2 - 3 rho^2) nu^2 T / 24); the option time differs a little
    # from the label's years, so allow a tick beyond the rounding.
    atm = [sc.sabr_parameters(1.0, 10.0), sc.sabr_parameters(2.0, 10.0)]
    for (alpha, rho, nu), e in zip(atm, ("1Y", "2Y")):
        want = alpha * (1 + (2 - 3 * rho * rho) * nu * nu * 1.0 * int(e[0]) / 24)
        assert abs(vols[sc.EXPIRIES.index(e), sc.TENORS.index("10Y"), sc.OFFSETS.index(0)] - want) < 1.5 * sc.TICK
    cube = sc.fitted_cube(vols)
    report = cube.report()
    assert len(report) == 22 * 14 and all(node["converged"] for node in report)
    assert max(node["rmse"] for node in report) < 0.5 * sc.TICK  # fitted to within the quotes' rounding
    fig = _figure("swaption_cube", "swaption_cube")
    assert len(fig.axes) == len(sc.PANEL_EXPIRIES) * len(sc.PANEL_TENORS)
    for k, ax in enumerate(fig.axes):
        e, n = sc.PANEL_EXPIRIES[k // 3], sc.PANEL_TENORS[k % 3]
        node = cube.parameters(e, n)
        [line] = [x for x in ax.get_lines() if x.get_linestyle() == "-"]
        [dots] = [x for x in ax.get_lines() if x.get_marker() == "o"]
        assert dots.get_xdata().tolist() == sc.OFFSETS
        assert np.allclose(dots.get_ydata(), vols[sc.EXPIRIES.index(e), sc.TENORS.index(n)] * 1e4, rtol=0, atol=1e-12)
        x, y = line.get_data()
        assert x[0] == -200 and x[-1] == 200 and 0.0 in x
        assert y[list(x).index(0.0)] == cube.vol(e, n, node["forward"]) * 1e4
        assert ax.get_title().startswith(f"{e} x {n}") and f"rmse {node['rmse'] * 1e4:.3f} bp" in ax.get_title()
