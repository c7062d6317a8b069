// The radius functions of the effects that run on the sphere driver (Sphere.h): spherize's,
// punch's and spherical bending's, each with its bound and the spreads of the short path.
#pragma once

#include <cmath>

#include "Common/Sphere.h"

namespace fx {

// Positive strength: r' = (asin(r / R)·(R / q) - r)·k + r; negative: (R·sin(r·q / R) - r)·k + r.
struct SpherizeRemap {
  static constexpr bool kEllipseBound = true;
  double k;
  bool outward;
  double Reach(const SphereGeometry& g) const { return EllipseReach(g); }
  double Bound(const SphereGeometry& g, double c, double s) const { return EllipseRadius(g, c, s); }
  double Map(double r, double R) const {
    constexpr double q = kSpherePi / 2.0;
    if (outward) return (std::asin(r / R) * (R / q) - r) * k + r;
    return (R * std::sin(r * q / R) - r) * k + r;
  }
  double BoundSpread(const SphereGeometry& g, double R) const { return EllipseBoundSpread(g, R); }
  // Outward: asin moves by at most |Δ(r / R)| / sqrt(1 - z²) with z = r / (R - dR) < 1, that
  // is by r dR / (R sqrt((R - dR - r)(R - dR + r))), and asin(r / R)·R / q by that times
  // (R + dR) / q plus asin's largest value times dR / q.
  // Inward: d/dR R·sin(r q / R) = sin w - w cos w lies in [0, 1] for w = r q / R in [0, pi/2].
  double MapSpread(double r, double R, double dR, double rp) const {
    constexpr double q = kSpherePi / 2.0;
    const double d = GrownSpread(dR, R);
    if (!outward) return 1.01 * (k * d + MapRounding(R, r, k, rp));
    const double room = (R - d - r) * (R - d + r);
    if (!(room > 0)) return HUGE_VAL;
    const double asinSpread = r * d / (R * std::sqrt(room)) + 8 * kRoundingUnit * kSpherePi;
    const double spread = (asinSpread * (R + d) + (kSpherePi / 2) * d) * (1 / q);
    return 1.01 * (k * spread + MapRounding(2 * R, r, k, rp));
  }
};

// Negative strength: r' = (r²/R - r)·k + r; positive: (sqrt(r·R) - r)·(1 - exp(e·r))·k + r.
struct PunchRemap {
  static constexpr bool kEllipseBound = true;
  double k;
  double e;  // -ramp / 1000
  bool outward;
  double Reach(const SphereGeometry& g) const { return EllipseReach(g); }
  double Bound(const SphereGeometry& g, double c, double s) const { return EllipseRadius(g, c, s); }
  double Map(double r, double R) const {
    if (outward) return (std::sqrt(r * R) - r) * (1.0 - std::exp(e * r)) * k + r;
    return (r * r / R - r) * k + r;
  }
  double BoundSpread(const SphereGeometry& g, double R) const { return EllipseBoundSpread(g, R); }
  // exp(e·r) is the same on both paths. d/dR sqrt(r R) = sqrt(r / R) / 2 <= 1/2 and
  // |d/dR r² / R| = r² / R² <= 1 for r < R.
  double MapSpread(double r, double R, double dR, double rp) const {
    const double d = GrownSpread(dR, R);
    if (outward) return 1.01 * (k * 0.5 * d + MapRounding(std::sqrt(r * R), r, k, rp));
    return 1.01 * (k * d + MapRounding(r * r / R, r, k, rp));
  }
};

// Spherical bending: spherize's remapping inside the circle of the half-diagonal D,
// q = pi / 2D.
struct BendRemap {
  static constexpr bool kEllipseBound = false;  // the bound is the half-diagonal, the reach
  double k;
  double D;
  double q;  // pi / 2D
  bool outward;
  double Reach(const SphereGeometry&) const { return D; }
  double Bound(const SphereGeometry&, double, double) const { return D; }
  double Map(double r, double) const {
    if (outward) return (std::asin(r / D) / q - r) * k + r;
    return (D * std::sin(r * q) - r) * k + r;
  }
  // The bound is D whatever the direction, so both paths remap the same r with the same D.
  double BoundSpread(const SphereGeometry&, double) const { return 0; }
  double MapSpread(double, double, double, double) const { return 0; }
};

inline BendRemap MakeBendRemap(const SphereGeometry& g, double k, bool outward) {
  return BendRemap{k, g.D, kSpherePi / (2.0 * g.D), outward};
}

}  // namespace fx
