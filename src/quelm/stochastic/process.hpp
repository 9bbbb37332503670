// The six stochastic process models the path engine runs, their name parser,
// parameter checks and closed-form terminal moments. Time in years; rates,
// intensities and volatilities per year.
#pragma once

#include <optional>
#include <string_view>
#include <variant>

#include "quelm/core/error.hpp"
#include "quelm/core/choice.hpp"

namespace quelm::stochastic {

struct Gbm { double mu, sigma; };
struct OrnsteinUhlenbeck { double kappa, theta, sigma; };
struct Vasicek { double kappa, theta, sigma; };
struct Cir { double kappa, theta, sigma; };
struct MertonJump { double mu, sigma, lambda, jump_mean, jump_std; };
struct Heston { double mu, v0, kappa, theta, xi, rho; };

// Alternative order is the model tag; it indexes the canonical names.
using Process = std::variant<Gbm, OrnsteinUhlenbeck, Vasicek, Cir, MertonJump, Heston>;

enum class ProcessKind : unsigned char { Gbm, OrnsteinUhlenbeck, Vasicek, Cir, MertonJump, Heston };

// Every keyword parameter a caller may give; a model takes only its own.
struct ProcessParams {
    double mu = 0.05, sigma = 0.20, kappa = 1.0, theta = 0.04, lambda = 0.5;
    double jump_mean = -0.1, jump_std = 0.15, v0 = 0.04, xi = 0.30, rho = -0.6;
};

// Case-insensitive model names; the first of each is the one a rejection lists.
inline constexpr Choices<ProcessKind, 8> kProcessKinds{
    "process", Listing::Slashed,
    {{{"gbm", ProcessKind::Gbm}, {"ou", ProcessKind::OrnsteinUhlenbeck},
      {"ornstein-uhlenbeck", ProcessKind::OrnsteinUhlenbeck}, {"vasicek", ProcessKind::Vasicek},
      {"cir", ProcessKind::Cir}, {"merton", ProcessKind::MertonJump}, {"merton-jump", ProcessKind::MertonJump},
      {"heston", ProcessKind::Heston}}}};

[[nodiscard]] Process make_process(ProcessKind kind, const ProcessParams& p);

[[nodiscard]] const char* canonical_name(const Process& process);

// The model's own parameter checks, first failure only.
[[nodiscard]] Status validate(const Process& process);

struct Moments {
    double mean;
    std::optional<double> variance;  // absent for Heston
};

// Terminal mean and variance from x0 over horizon t (t >= 0, after validation).
[[nodiscard]] Moments analytic_moments(const Process& process, double x0, double t);

}  // namespace quelm::stochastic
