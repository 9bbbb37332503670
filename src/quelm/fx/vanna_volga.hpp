// Castagna and Mercurio's vanna-volga smile ("The vanna-volga method for implied
// volatilities", Risk, January 2007), in its second-order form: through three pillars
// (K1 < K2 < K3, vols s1, s2, s3) the vol at K is
//     s2 + (-s2 + sqrt(s2^2 + d1 d2 (2 s2 D1 + D2))) / (d1 d2),
// D1 = y1 s1 + y2 s2 + y3 s3 - s2, D2 = y1 d1(K1) d2(K1) (s1 - s2)^2 + y3 d1(K3) d2(K3) (s3 - s2)^2,
// the y's the log-strike weights and d1, d2 at the middle pillar's vol. Where the radicand
// is negative (far wings) the first-order form s2 + D1 is taken.
#pragma once

namespace quelm::fx {

struct Pillars3 {
    double k[3];
    double vol[3];
};

[[nodiscard]] double vanna_volga_vol(double forward, double t, const Pillars3& p, double strike);

}  // namespace quelm::fx
