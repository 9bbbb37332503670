#include "quelm/ml/backprop.hpp"

#include <algorithm>
#include <span>

#include "quelm/core/math/lanes.hpp"
#include "quelm/core/portable.hpp"
#include "quelm/core/simd.hpp"
#include "quelm/ml/mlp_lanes.hpp"

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

namespace {

// prev[k] += sg[k] * t[k]: one layer's adjoints carried back through its activations.
template <class V>
QUELM_ALWAYS_INLINE void add_through(std::vector<double>& prev, const std::vector<double>& sg,
                                     std::span<const double> t) {
    double* p = prev.data();
    const double* s = sg.data();
    const double* tp = t.data();
    lanes::for_lanes<V>(prev.size(), [&]<class L>(std::size_t k) {
        lanes::store(p + k, lanes::load<L>(p + k) + lanes::load<L>(s + k) * lanes::load<L>(tp + k));
    });
}

// gb[k] += d[k].
template <class V>
QUELM_ALWAYS_INLINE void add_into(std::vector<double>& gb, const std::vector<double>& d) {
    double* g = gb.data();
    const double* dp = d.data();
    lanes::for_lanes<V>(gb.size(), [&]<class L>(std::size_t k) {
        lanes::store(g + k, lanes::load<L>(g + k) + lanes::load<L>(dp + k));
    });
}

template <class V>
void backward_value_adjoints_lanes(const Mlp& net, const Forward& f, double g, GradScratch& s) {
    const std::size_t L = net.layers.size();
    if (L == 2 && net.n_in == 1) {
        // One input, one hidden layer: the same sums written out, without the kernel calls.
        const std::size_t H = net.layers[0].rows;
        const double d1 = 0.0 + g;
        const double* s0 = f.sig[0].data();
        const double* w1 = net.layers[1].w.data();
        double* d0 = s.delta[0].data();
        s.delta[1][0] = d1;
        lanes::for_lanes<V>(H, [&]<class M>(std::size_t k) {
            lanes::store(d0 + k, 0.0 + lanes::load<M>(s0 + k) * (0.0 + lanes::load<M>(w1 + k) * d1));
        });
        return;
    }
    for (auto& d : s.delta) std::fill(d.begin(), d.end(), 0.0);
    s.delta[L - 1][0] += g;
    for (std::size_t l = L; l-- > 1;) {
        const Layer& W = net.layers[l];
        std::span<double> t(s.t.data(), W.cols);
        matvec_t_lanes<V>(W, s.delta[l], t);
        add_through<V>(s.delta[l - 1], f.sig[l - 1], t);
    }
}

template <class V>
void accumulate_value_lanes(const Mlp& net, const Forward& f, const GradScratch& s, Grad& grad) {
    for (std::size_t l = net.layers.size(); l-- > 0;) {
        const std::vector<double>& d = s.delta[l];
        accum_outer_lanes<V>(grad.w[l], net.layers[l].cols, d, f.a[l]);
        add_into<V>(grad.b[l], d);
    }
}

template <class V>
void differential_adjoints_lanes(const Mlp& net, const Forward& f, const Twin& tw, double e_v, double w,
                                 GradScratch& s) {
    const std::size_t L = net.layers.size();
    std::vector<std::vector<double>>& A = s.delta;
    for (auto& a : A) std::fill(a.begin(), a.end(), 0.0);
    const double tangent_in[1] = {w};
    matvec_lanes<V>(net.layers[0], tangent_in, s.zdot[0]);
    for (std::size_t l = 0; l + 1 < L; ++l) {
        const double* sg = f.sig[l].data();
        const double* zd = s.zdot[l].data();
        const double* ab = tw.abar[l].data();
        double* ad = s.adot[l].data();
        double* Al = A[l].data();
        lanes::for_lanes<V>(s.zdot[l].size(), [&]<class M>(std::size_t k) {
            const M sk = lanes::load<M>(sg + k);
            const M zk = lanes::load<M>(zd + k);
            lanes::store(ad + k, sk * zk);
            lanes::store(Al + k, lanes::load<M>(Al + k) + ((sk * (1.0 - sk)) * lanes::load<M>(ab + k)) * zk);
        });
        // The tangent of the output pre-activation is never read: skip it.
        if (l + 2 < L) matvec_lanes<V>(net.layers[l + 1], s.adot[l], s.zdot[l + 1]);
    }
    A[L - 1][0] += e_v;
    for (std::size_t l = L; l-- > 1;) {
        const Layer& W = net.layers[l];
        std::span<double> t(s.t.data(), W.cols);
        matvec_t_lanes<V>(W, A[l], t);
        add_through<V>(A[l - 1], f.sig[l - 1], t);
    }
    s.w = w;
}

template <class V>
void accumulate_differential_lanes(const Mlp& net, const Forward& f, const Twin& tw, const GradScratch& s,
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
        const double* ap = f.a[l].data();
        std::vector<double>& gw = grad.w[l];
        if (l == 0) {
            for (std::size_t i = 0; i < W.rows; ++i) {
                double* g = gw.data() + i * cols;
                g[0] = (g[0] + zb[i] * w);
                const double ai = Al[i];
                lanes::for_lanes<V>(cols, [&]<class M>(std::size_t j) {
                    lanes::store(g + j, lanes::load<M>(g + j) + ai * lanes::load<M>(ap + j));
                });
            }
        } else {
            const double* ti = s.adot[l - 1].data();
            for (std::size_t i = 0; i < W.rows; ++i) {
                const double zi = zb[i], ai = Al[i];
                double* g = gw.data() + i * cols;
                lanes::for_lanes<V>(cols, [&]<class M>(std::size_t j) {
                    lanes::store(g + j,
                                 (lanes::load<M>(g + j) + zi * lanes::load<M>(ti + j)) + ai * lanes::load<M>(ap + j));
                });
            }
        }
        add_into<V>(grad.b[l], Al);
    }
}

QUELM_SIMD_KERNEL(backward_value_adjoints_at_width, backward_value_adjoints_lanes)
QUELM_SIMD_KERNEL(accumulate_value_at_width, accumulate_value_lanes)
QUELM_SIMD_KERNEL(differential_adjoints_at_width, differential_adjoints_lanes)
QUELM_SIMD_KERNEL(accumulate_differential_at_width, accumulate_differential_lanes)

}  // namespace

void backward_value_adjoints(const Mlp& net, const Forward& f, double g, GradScratch& s) {
    backward_value_adjoints_at_width(net, f, g, s);
}

void accumulate_value(const Mlp& net, const Forward& f, const GradScratch& s, Grad& grad) {
    accumulate_value_at_width(net, f, s, grad);
}

void backward_value(const Mlp& net, const Forward& f, Grad& grad, double g, GradScratch& s) {
    backward_value_adjoints(net, f, g, s);
    accumulate_value(net, f, s, grad);
}

void differential_adjoints(const Mlp& net, const Forward& f, const Twin& tw, double e_v, double w, GradScratch& s) {
    differential_adjoints_at_width(net, f, tw, e_v, w, s);
}

void accumulate_differential(const Mlp& net, const Forward& f, const Twin& tw, const GradScratch& s, Grad& grad) {
    accumulate_differential_at_width(net, f, tw, s, grad);
}

void backward_differential(const Mlp& net, const Forward& f, const Twin& tw, double e_v, double w, Grad& grad,
                           GradScratch& s) {
    differential_adjoints(net, f, tw, e_v, w, s);
    accumulate_differential(net, f, tw, s, grad);
}

}  // namespace quelm::ml
