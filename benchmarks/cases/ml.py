"""Neural engines at their defaults; differential_ml against the same training loop in PyTorch."""
from __future__ import annotations

import math

import quelm

S, K, R, V, T = 100.0, 100.0, 0.05, 0.2, 1.0


def _torch_differential(torch, samples=4096, epochs=60, spread=2.0, seed=1):
    """The differential training loop in PyTorch (CPU, float64): same network, batch, schedule, epochs."""
    import numpy as np

    def run():
        torch.manual_seed(seed)
        rng = np.random.default_rng(seed)
        z1, z2 = rng.standard_normal(samples), rng.standard_normal(samples)
        width = max(spread * V * math.sqrt(T), 1e-6)
        x = S * np.exp(width * z1 - 0.5 * width * width)
        st = x * np.exp(V * math.sqrt(T) * z2 + (R - 0.5 * V * V) * T)
        df = math.exp(-R * T)
        y = df * np.maximum(st - K, 0.0)
        d = np.where(st >= K, st / x * df, 0.0)
        xm, xs, ym, ys = x.mean(), max(x.std(), 1e-12), y.mean(), max(y.std(), 1e-12)
        xn = torch.tensor((x - xm) / xs).reshape(-1, 1)
        yn = torch.tensor((y - ym) / ys).reshape(-1, 1)
        dn = torch.tensor(d * xs / ys).reshape(-1, 1)
        ms = float((dn * dn).mean())
        lam2 = 1.0 / ms if ms > 0 else 1.0
        net = torch.nn.Sequential(torch.nn.Linear(1, 30), torch.nn.Softplus(), torch.nn.Linear(30, 30),
                                  torch.nn.Softplus(), torch.nn.Linear(30, 1)).double()
        opt = torch.optim.Adam(net.parameters(), lr=1e-8)
        batch = min(samples, max(256, samples // 16))
        total = -(-samples // batch) * epochs
        pts = [(0.0, 1e-8), (0.2, 0.1), (0.6, 0.01), (0.9, 1e-6), (1.0, 1e-8)]
        step = 0
        for _ in range(epochs):
            perm = torch.randperm(samples)
            for s0 in range(0, samples, batch):
                f = min(1.0, step / total)
                for (a, la), (b, lb) in zip(pts, pts[1:]):
                    if b >= f:
                        lr = la + (lb - la) * ((f - a) / (b - a))
                        break
                for g in opt.param_groups:
                    g["lr"] = lr
                idx = perm[s0:s0 + batch]
                xb = xn[idx].clone().requires_grad_(True)
                p = net(xb)
                (q,) = torch.autograd.grad(p.sum(), xb, create_graph=True)
                loss = (0.5 * (p - yn[idx]) ** 2 + 0.5 * lam2 * (q - dn[idx]) ** 2).mean()
                opt.zero_grad()
                loss.backward()
                opt.step()
                step += 1
        xq = torch.tensor([[(S - xm) / xs]], dtype=torch.float64, requires_grad=True)
        out = net(xq)
        (g,) = torch.autograd.grad(out.sum(), xq)
        return ym + out.item() * ys, g.item() * ys / xs

    return run


def cases(quick: bool) -> list:
    peers = {}
    try:
        import torch  # only for the peer; optional
        peers["PyTorch loop (float64, CPU)"] = _torch_differential(torch)
    except ImportError:
        pass
    out = [{
        "name": "differential_ml defaults (4096 samples, 60 epochs, 960 Adam steps)",
        "quelm": lambda: quelm.differential_ml(S, K, R, V, T),
        "peers": peers,
        "number": 1,
        "note": "target < 0.5 s and >= 3x the PyTorch loop",
    }]
    if not quick:
        for method in ("deep-lsm", "dos"):
            out.append({
                "name": f"american_ml {method} defaults (8192 paths, 50 steps, 20 epochs)",
                "quelm": (lambda m=method: quelm.american_ml(S, K, R, V, T, method=m)),
                "peers": {"lsm (polynomial regression, same paths)":
                          lambda: quelm.lsm(S, K, R, V, T, "put", paths=8192, steps=50, seed=11)},
                "number": 1, "yardsticks": ("lsm (polynomial regression, same paths)",),
                "note": "target < 2 s",
            })
    return out
