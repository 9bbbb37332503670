#include "quelm/ml/backprop.hpp"

#include <algorithm>

#include "quelm/core/portable.hpp"

namespace quelm::ml {

Grad Grad::zeros_like(const Mlp& net) {
    Grad g;
    for (const Layer& l : net.layers) {
        g.w.emplace_back(l.w.size(), 0.0);
        g.b.emplace_back(l.b.size(), 0.0);
    }
    return g;
}

void Grad::clear() {
    for (auto& v : w) std::fill(v.begin(), v.end(), 0.0);
    for (auto& v : b) std::fill(v.begin(), v.end(), 0.0);
}

void Grad::scale(double factor) {
    for (auto& v : w)
        for (double& x : v) x = x * factor;
    for (auto& v : b)
        for (double& x : v) x = x * factor;
}

GradScratch::GradScratch(const Mlp& net) {
    std::size_t widest = net.n_in;
    for (const Layer& l : net.layers) {
        delta.emplace_back(l.rows, 0.0);
        zdot.emplace_back(l.rows, 0.0);
        widest = std::max(widest, l.cols);
    }
    for (std::size_t l = 0; l + 1 < net.layers.size(); ++l) adot.emplace_back(net.layers[l].rows, 0.0);
    t.assign(widest, 0.0);
}

QUELM_WIDE void backward_value_adjoints(const Mlp& net, const Forward& f, double g, GradScratch& s) {
    const std::size_t L = net.layers.size();
    if (L == 2 && net.n_in == 1) {
        // One input, one hidden layer: the same sums written out, without the kernel calls.
        const std::size_t H = net.layers[0].rows;
        const double d1 = 0.0 + g;
        const double* __restrict s0 = f.sig[0].data();
        const double* __restrict w1 = net.layers[1].w.data();
        double* __restrict d0 = s.delta[0].data();
        s.delta[1][0] = d1;
        for (std::size_t k = 0; k < H; ++k) d0[k] = 0.0 + s0[k] * (0.0 + w1[k] * d1);
        return;
    }
    for (auto& d : s.delta) std::fill(d.begin(), d.end(), 0.0);
    s.delta[L - 1][0] += g;
    for (std::size_t l = L; l-- > 1;) {
        const Layer& W = net.layers[l];
        std::span<double> t(s.t.data(), W.cols);
        matvec_t(W, s.delta[l], t);
        std::vector<double>& prev = s.delta[l - 1];
        const std::vector<double>& sg = f.sig[l - 1];
        for (std::size_t k = 0; k < prev.size(); ++k) prev[k] += sg[k] * t[k];
    }
}

QUELM_WIDE void accumulate_value(const Mlp& net, const Forward& f, const GradScratch& s, Grad& grad) {
    for (std::size_t l = net.layers.size(); l-- > 0;) {
        const std::vector<double>& d = s.delta[l];
        accum_outer(grad.w[l], net.layers[l].cols, d, f.a[l]);
        std::vector<double>& gb = grad.b[l];
        for (std::size_t k = 0; k < gb.size(); ++k) gb[k] += d[k];
    }
}

void backward_value(const Mlp& net, const Forward& f, Grad& grad, double g, GradScratch& s) {
    backward_value_adjoints(net, f, g, s);
    accumulate_value(net, f, s, grad);
}

QUELM_WIDE void differential_adjoints(const Mlp& net, const Forward& f, const Twin& tw, double e_v, double w,
                                      GradScratch& s) {
    const std::size_t L = net.layers.size();
    std::vector<std::vector<double>>& A = s.delta;
    for (auto& a : A) std::fill(a.begin(), a.end(), 0.0);
    const double tangent_in[1] = {w};
    matvec(net.layers[0], tangent_in, s.zdot[0]);
    for (std::size_t l = 0; l + 1 < L; ++l) {
        const std::vector<double>& sg = f.sig[l];
        const std::vector<double>& zd = s.zdot[l];
        const std::vector<double>& ab = tw.abar[l];
        std::vector<double>& ad = s.adot[l];
        std::vector<double>& Al = A[l];
        for (std::size_t k = 0; k < zd.size(); ++k) {
            const double sk = sg[k];
            ad[k] = sk * zd[k];
            Al[k] += ((sk * (1.0 - sk)) * ab[k]) * zd[k];
        }
        // The tangent of the output pre-activation is never read: skip it.
        if (l + 2 < L) matvec(net.layers[l + 1], ad, s.zdot[l + 1]);
    }
    A[L - 1][0] += e_v;
    for (std::size_t l = L; l-- > 1;) {
        const Layer& W = net.layers[l];
        std::span<double> t(s.t.data(), W.cols);
        matvec_t(W, A[l], t);
        std::vector<double>& prev = A[l - 1];
        const std::vector<double>& sg = f.sig[l - 1];
        for (std::size_t k = 0; k < prev.size(); ++k) prev[k] += sg[k] * t[k];
    }
    s.w = w;
}

QUELM_WIDE void accumulate_differential(const Mlp& net, const Forward& f, const Twin& tw, const GradScratch& s,
                                        Grad& grad) {
    // Per weight: outer(zbar_l, tangent input of layer l) first, then outer(A_l, a_l);
    // per bias: A_l. Each entry receives exactly these additions, in this order.
    const std::vector<std::vector<double>>& A = s.delta;
    const double w = s.w;
    for (std::size_t l = net.layers.size(); l-- > 0;) {
        const Layer& W = net.layers[l];
        const std::size_t cols = W.cols;
        const std::vector<double>& zb = tw.zbar[l];
        const std::vector<double>& Al = A[l];
        const std::vector<double>& al = f.a[l];
        std::vector<double>& gw = grad.w[l];
        if (l == 0) {
            for (std::size_t i = 0; i < W.rows; ++i) {
                double* g = gw.data() + i * cols;
                g[0] = (g[0] + zb[i] * w);
                for (std::size_t j = 0; j < cols; ++j) g[j] += Al[i] * al[j];
            }
        } else {
            const double* __restrict ti = s.adot[l - 1].data();
            const double* __restrict ap = al.data();
            for (std::size_t i = 0; i < W.rows; ++i) {
                const double zi = zb[i], ai = Al[i];
                double* __restrict g = gw.data() + i * cols;
                for (std::size_t j = 0; j < cols; ++j) g[j] = (g[j] + zi * ti[j]) + ai * ap[j];
            }
        }
        std::vector<double>& gb = grad.b[l];
        for (std::size_t k = 0; k < gb.size(); ++k) gb[k] += Al[k];
    }
}

void backward_differential(const Mlp& net, const Forward& f, const Twin& tw, double e_v, double w, Grad& grad,
                           GradScratch& s) {
    differential_adjoints(net, f, tw, e_v, w, s);
    accumulate_differential(net, f, tw, s, grad);
}

}  // namespace quelm::ml
