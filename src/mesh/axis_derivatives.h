// The field along the axis with its first three derivatives at equally spaced samples, as
// Impact-T's derivative form holds it, from the quintic spline through the samples: its value
// and its derivatives up to the fourth are continuous, and its fifth derivative too at the second
// and third knots from either end ("not-a-knot"), so that it gives any polynomial of degree five
// or less back exactly.
#pragma once

#include "norvalex/error.h"

#include <array>
#include <cstddef>
#include <span>
#include <vector>

namespace norvalex {

// The fewest samples that the spline takes: the four end conditions need six knots.
inline constexpr std::size_t SPLINE_MIN_SAMPLES = 6;

// F, F', F'' and F''' at a sample, in the field's unit per m^k.
using AxisDerivatives = std::array<double, 4>;

// The spline's value (the sample itself) and derivatives at each of `samples`, `step` (m)
// apart; at least SPLINE_MIN_SAMPLES samples.
NORVALEX_MESH_API std::vector<AxisDerivatives> axis_derivatives(std::span<const double> samples,
                                                                double step);

// The field at `t` (0 to 1) of the way from a sample `left` to the next, `right`, `step` apart:
// the quintic that has their values and first two derivatives.
NORVALEX_MESH_API double hermite_quintic(const AxisDerivatives& left, const AxisDerivatives& right,
                                         double step, double t);

} // namespace norvalex
