// Network internals for tests, and a plain reference of the network passes written
// straight from their definitions (rows of vectors, row-by-row dot products), against
// which the blocked kernels must agree bit for bit.
#include "quelm/core/math/elementary.hpp"
#include "quelm/ml/mlp.hpp"
#include "quelm/pricing/american_mc.hpp"
#include "quelm/ml/adam.hpp"
#include "quelm/ml/differential.hpp"
#include "testing/registry.hpp"

#include <cmath>
#include <string>
#include <vector>

namespace quelm::testing {

namespace {

using Vec = std::vector<double>;
using Mat = std::vector<Vec>;

// Network from the flat parameter list: per layer, the weights row by row, then the biases.
bool load(const std::vector<std::uint64_t>& hidden, std::span<const double> params, ml::Mlp& net) {
    Xoshiro256pp rng = seed_from_u64(0);
    net = ml::Mlp::create(1, hidden, rng);
    std::size_t k = 0;
    for (ml::Layer& l : net.layers) {
        for (double& w : l.w) w = k < params.size() ? params[k++] : 0.0;
        for (double& b : l.b) b = k < params.size() ? params[k++] : 0.0;
        l.sync_transposed();
    }
    if (k != params.size()) {
        py::raise_value_error("wrong parameter count");
        return false;
    }
    return true;
}

Vec flat(const std::vector<Vec>& w, const std::vector<Vec>& b) {
    Vec out;
    for (std::size_t l = 0; l < w.size(); ++l) {
        out.insert(out.end(), w[l].begin(), w[l].end());
        out.insert(out.end(), b[l].begin(), b[l].end());
    }
    return out;
}

// ---- plain reference ----
struct Ref {
    std::vector<Mat> W;
    std::vector<Vec> b;
};

Ref ref_of(const ml::Mlp& net) {
    Ref r;
    for (const ml::Layer& l : net.layers) {
        Mat m(l.rows, Vec(l.cols));
        for (std::size_t i = 0; i < l.rows; ++i)
            for (std::size_t j = 0; j < l.cols; ++j) m[i][j] = l.w[i * l.cols + j];
        r.W.push_back(m);
        r.b.push_back(l.b);
    }
    return r;
}

double dot(const Vec& u, const Vec& v) {
    double s = 0.0;
    for (std::size_t i = 0; i < std::min(u.size(), v.size()); ++i) s += u[i] * v[i];
    return s;
}
Vec mv(const Mat& W, const Vec& x) {
    Vec o;
    for (const Vec& row : W) o.push_back(dot(row, x));
    return o;
}
Vec mvt(const Mat& W, const Vec& v) {
    Vec o(W.empty() ? 0 : W[0].size(), 0.0);
    for (std::size_t i = 0; i < std::min(W.size(), v.size()); ++i)
        for (std::size_t c = 0; c < o.size(); ++c) o[c] += v[i] * W[i][c];
    return o;
}
void outer_add(Mat& G, const Vec& a, const Vec& b) {
    for (std::size_t i = 0; i < std::min(G.size(), a.size()); ++i)
        for (std::size_t j = 0; j < std::min(G[i].size(), b.size()); ++j) G[i][j] += a[i] * b[j];
}
double sp(double z) { return std::max(z, 0.0) + quelm::log1p(quelm::exp(-std::fabs(z))); }
double sg(double z) { return z >= 0.0 ? 1.0 / (1.0 + quelm::exp(-z)) : quelm::exp(z) / (1.0 + quelm::exp(z)); }

struct RefPass {
    std::vector<Vec> a, z, zbar, abar;
    Vec grad;
};

RefPass ref_pass(const Ref& n, const Vec& x) {
    RefPass p;
    const std::size_t L = n.W.size();
    p.a.push_back(x);
    for (std::size_t l = 0; l < L; ++l) {
        Vec z = mv(n.W[l], p.a[l]);
        for (std::size_t r = 0; r < z.size(); ++r) z[r] = z[r] + n.b[l][r];
        p.z.push_back(z);
        if (l + 1 < L)
            for (double& v : z) v = sp(v);
        p.a.push_back(z);
    }
    p.zbar.assign(L, Vec());
    p.abar.assign(L, Vec());
    p.zbar[L - 1] = {1.0};
    for (std::size_t l = L - 1; l >= 1; --l) {
        Vec ab = mvt(n.W[l], p.zbar[l]);
        p.abar[l - 1] = ab;
        Vec zb(std::min(ab.size(), p.z[l - 1].size()));
        for (std::size_t k = 0; k < zb.size(); ++k) zb[k] = ab[k] * sg(p.z[l - 1][k]);
        p.zbar[l - 1] = zb;
    }
    p.grad = mvt(n.W[0], p.zbar[0]);
    return p;
}

struct RefGrad {
    std::vector<Mat> w;
    std::vector<Vec> b;
    explicit RefGrad(const Ref& n) {
        for (std::size_t l = 0; l < n.W.size(); ++l) {
            w.emplace_back(n.W[l].size(), Vec(n.W[l].empty() ? 0 : n.W[l][0].size(), 0.0));
            b.emplace_back(n.b[l].size(), 0.0);
        }
    }
    [[nodiscard]] Vec flat() const {
        Vec out;
        for (std::size_t l = 0; l < w.size(); ++l) {
            for (const Vec& r : w[l]) out.insert(out.end(), r.begin(), r.end());
            out.insert(out.end(), b[l].begin(), b[l].end());
        }
        return out;
    }
};

void ref_value(const Ref& n, const RefPass& p, RefGrad& G, double g) {
    const std::size_t L = n.W.size();
    std::vector<Vec> delta;
    for (std::size_t l = 0; l < L; ++l) delta.emplace_back(p.z[l].size(), 0.0);
    delta[L - 1][0] += g;
    for (std::size_t l = L; l-- > 0;) {
        outer_add(G.w[l], delta[l], p.a[l]);
        for (std::size_t k = 0; k < G.b[l].size(); ++k) G.b[l][k] += delta[l][k];
        if (l == 0) break;
        const Vec t = mvt(n.W[l], delta[l]);
        for (std::size_t k = 0; k < delta[l - 1].size(); ++k) delta[l - 1][k] += sg(p.z[l - 1][k]) * t[k];
    }
}

void ref_diff(const Ref& n, const RefPass& p, RefGrad& G, double e_v, double w) {
    const std::size_t L = n.W.size();
    std::vector<Vec> zdot(L), A;
    for (std::size_t l = 0; l < L; ++l) A.emplace_back(p.z[l].size(), 0.0);
    zdot[0] = mv(n.W[0], Vec{w});
    outer_add(G.w[0], p.zbar[0], Vec{w});
    for (std::size_t l = 0; l + 1 < L; ++l) {
        Vec adot(p.z[l].size());
        for (std::size_t k = 0; k < adot.size(); ++k) {
            const double s = sg(p.z[l][k]);
            adot[k] = s * zdot[l][k];
            A[l][k] += (s * (1.0 - s)) * p.abar[l][k] * zdot[l][k];
        }
        zdot[l + 1] = mv(n.W[l + 1], adot);
        outer_add(G.w[l + 1], p.zbar[l + 1], adot);
    }
    A[L - 1][0] += e_v;
    for (std::size_t l = L; l-- > 0;) {
        outer_add(G.w[l], A[l], p.a[l]);
        for (std::size_t k = 0; k < G.b[l].size(); ++k) G.b[l][k] += A[l][k];
        if (l == 0) break;
        const Vec t = mvt(n.W[l], A[l]);
        for (std::size_t k = 0; k < A[l - 1].size(); ++k) A[l - 1][k] += sg(p.z[l - 1][k]) * t[k];
    }
}

// ---- bindings ----
PyObject* init_params(const std::vector<std::uint64_t>& hidden, std::uint64_t seed, std::uint64_t n_in) {
    Xoshiro256pp rng = seed_from_u64(seed);
    const ml::Mlp net = ml::Mlp::create(n_in, hidden, rng);
    std::vector<Vec> w, b;
    for (const ml::Layer& l : net.layers) {
        w.push_back(l.w);
        b.push_back(l.b);
    }
    return py::to_py(flat(w, b));
}

// (output, input gradient) of one input; plain=True uses the reference.
PyObject* evaluate(const std::vector<std::uint64_t>& hidden, const py::FloatSeq& params, double x,
                   PyObject* plain_obj) {
    const bool plain = PyObject_IsTrue(plain_obj) == 1;
    ml::Mlp net;
    if (!load(hidden, params.view(), net)) return nullptr;
    if (plain) {
        const RefPass p = ref_pass(ref_of(net), {x});
        return Py_BuildValue("(dd)", p.a.back()[0], p.grad[0]);
    }
    ml::Forward f(net);
    ml::Twin t(net);
    const double in[1] = {x};
    ml::forward(net, in, f);
    ml::twin(net, f, t);
    return Py_BuildValue("(dd)", f.output(), t.input_grad[0]);
}

// Flat gradient of one sample's loss: kind "diff" (value and derivative errors, weight lam2)
// or "value" (0.5 * (output - y)^2 through backward_value); plain=True uses the reference.
PyObject* sample_grad(const std::vector<std::uint64_t>& hidden, const py::FloatSeq& params, double x, double y,
                      double dn, double lam2, const std::string& kind, PyObject* plain_obj) {
    const bool plain = PyObject_IsTrue(plain_obj) == 1;
    ml::Mlp net;
    if (!load(hidden, params.view(), net)) return nullptr;
    const bool diff = kind == "diff";
    if (plain) {
        const Ref n = ref_of(net);
        const RefPass p = ref_pass(n, {x});
        RefGrad G(n);
        const double e_v = p.a.back()[0] - y, e_d = p.grad[0] - dn;
        if (diff) ref_diff(n, p, G, e_v, lam2 * e_d);
        else ref_value(n, p, G, e_v);
        return py::to_py(G.flat());
    }
    ml::Forward f(net);
    ml::Twin t(net);
    ml::GradScratch s(net);
    ml::Grad G = ml::Grad::zeros_like(net);
    const double in[1] = {x};
    ml::forward(net, in, f);
    ml::twin(net, f, t);
    const double e_v = f.output() - y, e_d = t.input_grad[0] - dn;
    if (diff) ml::backward_differential(net, f, t, e_v, lam2 * e_d, G, s);
    else ml::backward_value(net, f, G, e_v, s);
    return py::to_py(flat(G.w, G.b));
}

// Parameters after `steps` Adam steps with the same gradient and rate.
PyObject* adam_steps(const std::vector<std::uint64_t>& hidden, const py::FloatSeq& params, const py::FloatSeq& grads,
                     double lr, std::uint64_t steps) {
    ml::Mlp net, gnet;
    if (!load(hidden, params.view(), net) || !load(hidden, grads.view(), gnet)) return nullptr;
    ml::Grad G = ml::Grad::zeros_like(net);
    for (std::size_t l = 0; l < net.layers.size(); ++l) {
        G.w[l] = gnet.layers[l].w;
        G.b[l] = gnet.layers[l].b;
    }
    ml::Adam adam = ml::Adam::create(net);
    for (std::uint64_t i = 0; i < steps; ++i) adam.step(net, G, lr);
    std::vector<Vec> w, b;
    for (const ml::Layer& l : net.layers) {
        w.push_back(l.w);
        b.push_back(l.b);
    }
    return py::to_py(flat(w, b));
}

PyObject* softplus(double z) {
    return py::to_py_pair(ml::softplus(z), ml::logistic(z));
}

PyObject* lr(std::uint64_t step, std::uint64_t total) {
    return py::to_py(ml::learning_rate(step, total));
}

PyObject* batches(std::uint64_t n, std::uint64_t epochs) {
    const ml::BatchPlan p = ml::batch_plan(n, epochs);
    return Py_BuildValue("(KK)", (unsigned long long)p.batch, (unsigned long long)p.total);
}

// The differential training samples as [x, y, dydx] rows.
PyObject* samples(double spot, double strike, double rate, double vol, double maturity, const std::string& ot,
                  std::uint64_t n, std::uint64_t seed, double spread, double q) {
    OptionType type;
    if (!py::choose(kOptionTypes, ot, type)) return nullptr;
    const auto r = ml::generate_european({.strike = strike, .expiry = maturity, .option_type = type},
                                         {.spot = spot, .rate = rate, .vol = vol, .dividend_yield = q},
                                         {.hidden = {}, .samples = n, .epochs = 1, .spread = spread, .seed = seed});
    if (!r) return py::raise(r.error());
    std::vector<Vec> rows;
    for (const ml::DiffSample& d : *r) rows.push_back({d.x, d.y, d.dydx});
    return py::to_py(rows);
}

// The American path set as a list of paths.
PyObject* paths(double spot, double rate, double vol, double q, double maturity, std::uint64_t n, std::uint64_t steps,
                std::uint64_t seed) {
    if (n == 0) return py::raise_value_error("paths must be >= 1");
    if (steps == 0) return py::raise_value_error("steps must be >= 1");
    const auto r = pricing::simulate_gbm_paths({.spot = spot, .rate = rate, .vol = vol, .dividend_yield = q},
                                               maturity, n, steps, seed, never_cancel());
    if (!r) return py::raise(r.error());
    std::vector<Vec> rows(r->n_paths);
    for (std::size_t p = 0; p < r->n_paths; ++p)
        for (std::size_t j = 0; j <= r->steps; ++j) rows[p].push_back(r->at(p, j));
    return py::to_py(rows);
}

constexpr py::FunctionDef d8 = py::function<samples>(
    "ml_samples", {"spot", "strike", "rate", "vol", "maturity", "option_type", "n", "seed", "spread", {"q", "0.0"}},
    "Differential samples.");
QUELM_TESTING(d8);
constexpr py::FunctionDef d9 = py::function<paths>(
    "ml_paths", {"spot", "rate", "vol", "q", "maturity", "n", "steps", "seed"}, "Antithetic path set.");
QUELM_TESTING(d9);

constexpr py::FunctionDef d1 = py::function<init_params>(
    "ml_init", {"hidden", "seed", {"n_in", "1"}}, "Flat initial parameters from seed_from_u64(seed).");
QUELM_TESTING(d1);
constexpr py::FunctionDef d2 = py::function<evaluate>(
    "ml_eval", {"hidden", "params", "x", "plain"}, "(output, input gradient).");
QUELM_TESTING(d2);
constexpr py::FunctionDef d3 = py::function<sample_grad>(
    "ml_sample_grad", {"hidden", "params", "x", "y", "dn", "lam2", "kind", "plain"}, "Flat sample gradient.");
QUELM_TESTING(d3);
constexpr py::FunctionDef d4 = py::function<adam_steps>(
    "ml_adam", {"hidden", "params", "grads", "lr", "steps"}, "Parameters after Adam steps.");
QUELM_TESTING(d4);
constexpr py::FunctionDef d5 = py::function<softplus>("ml_softplus", {"z"}, "(softplus, logistic).");
QUELM_TESTING(d5);
constexpr py::FunctionDef d6 = py::function<lr>("ml_lr", {"step", "total"}, "Scheduled learning rate.");
QUELM_TESTING(d6);
constexpr py::FunctionDef d7 = py::function<batches>("ml_batches", {"n", "epochs"}, "(batch, total steps).");
QUELM_TESTING(d7);

}  // namespace

}  // namespace quelm::testing
