"""Portfolio functions over return panels and labelled data: the bits of the scalar calls, the
assets found by label, never by position alone."""
from __future__ import annotations

import pytest

import quelm

np = pytest.importorskip("numpy")
pd = pytest.importorskip("pandas")
from quelm import vec as vp  # noqa: E402

ASSETS = ["ACME", "BOLT", "CORE", "DUNE"]


def returns_frame(days: int = 250, seed: int = 4) -> pd.DataFrame:
    rng = np.random.default_rng(seed)
    data = rng.normal(0.0004, 0.01, (days, len(ASSETS))) + rng.normal(0, 0.006, (days, 1))
    return pd.DataFrame(data, columns=ASSETS, index=pd.bdate_range("2024-01-01", periods=days))


def same_bits(a, b) -> bool:
    a, b = np.asarray(a, dtype=np.float64), np.asarray(b, dtype=np.float64)
    return a.shape == b.shape and a.tobytes() == b.tobytes()


def test_covariance_of_a_frame_reads_its_columns_as_assets():
    frame = returns_frame()
    scalar = quelm.covariance_matrix(frame.T.to_numpy().tolist())
    got = vp.covariance_matrix(frame)
    assert list(got.index) == ASSETS and list(got.columns) == ASSETS
    assert same_bits(got.to_numpy(), scalar)
    # The same panel as an array (days x assets), assets as rows with axis=1, or an F-ordered copy.
    assert same_bits(vp.covariance_matrix(frame.to_numpy()), scalar)
    assert same_bits(vp.covariance_matrix(frame.T, axis=1).to_numpy(), scalar)
    assert same_bits(vp.covariance_matrix(np.asfortranarray(frame.to_numpy())), scalar)
    with pytest.raises(ValueError, match="panel"):
        vp.covariance_matrix(frame["ACME"].to_numpy())
    with pytest.raises(TypeError, match="argument 'returns'"):
        vp.covariance_matrix(frame.assign(ACME="x"))


def test_portfolio_risk_matches_weights_to_assets_by_label():
    frame = returns_frame()
    weights = pd.Series({"DUNE": 0.1, "ACME": 0.4, "CORE": 0.2, "BOLT": 0.3})   # another order
    ordered = [0.4, 0.3, 0.2, 0.1]
    scalar = quelm.portfolio_risk(frame.T.to_numpy().tolist(), ordered, 252.0, 0.99)
    got = vp.portfolio_risk(frame, weights, confidence=0.99)
    assert got.to_dict() == scalar
    assert vp.portfolio_risk(frame.to_numpy(), ordered, confidence=0.99) == scalar
    books = pd.DataFrame([ordered, [0.25] * 4], index=["core", "equal"], columns=ASSETS)[ASSETS[::-1]]
    table = vp.portfolio_risk(frame, books)
    assert list(table.index) == ["core", "equal"]
    assert table.loc["equal"].to_dict() == quelm.portfolio_risk(frame.T.to_numpy().tolist(), [0.25] * 4)
    with pytest.raises(ValueError, match="weights must name each asset"):
        vp.portfolio_risk(frame, weights.drop("DUNE"))


def test_optimize_keeps_labels_and_takes_bounds_by_asset():
    frame = returns_frame()
    mean = frame.mean()
    cov = vp.covariance_matrix(frame)
    shuffled = cov.loc[ASSETS[::-1], ASSETS[::-1]]
    target = float(mean.mean())
    scalar = quelm.optimize(mean.tolist(), cov.to_numpy().tolist(), 1e-5, target, bounds=[(0, 0.4)] * 4)
    got = vp.optimize(mean, shuffled, 1e-5, target, bounds={a: (0, 0.4) for a in ASSETS})
    for key, weights in scalar.items():
        assert list(got[key].index) == ASSETS and got[key].tolist() == weights, key
    plain = vp.optimize(mean.to_numpy(), cov.to_numpy(), 1e-5)
    assert plain["frontier_weights"] is None
    assert plain["tangency_weights"].tolist() == quelm.optimize(mean.tolist(), cov.to_numpy().tolist(),
                                                                1e-5)["tangency_weights"]
    # A frontier: one row per target, each the scalar call's weights.
    targets = np.linspace(mean.min(), mean.max(), 5)
    frontier = vp.optimize(mean, cov, target=targets, bounds=(0, 1))["frontier_weights"]
    assert list(frontier.columns) == ASSETS and frontier.index.name == "target"
    for t, row in zip(targets, frontier.to_numpy()):
        assert row.tolist() == quelm.optimize(mean.tolist(), cov.to_numpy().tolist(), 0.0, float(t),
                                              bounds=(0, 1))["frontier_weights"]
    with pytest.raises(ValueError, match="mean and cov must label the same assets"):
        vp.optimize(mean.drop("ACME"), cov)
    with pytest.raises(ValueError, match="bounds name assets"):
        vp.optimize(mean, cov, bounds={"ZETA": (0, 1)})
