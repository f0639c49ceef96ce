#include "mesh/axis_derivatives.h"

#include <cmath>
#include <utility>

namespace norvalex {

namespace {

// Right-hand sides solved together: the samples' and the four end coefficients' responses.
constexpr std::size_t SIDES = 5;
using Sides = std::array<double, SIDES>;

// Solves the symmetric pentadiagonal system of rows (1, 26, 66, 26, 1) for every right-hand side
// at once, by elimination without pivoting (its diagonal outweighs the rest of each row).
void solve_pentadiagonal(std::vector<Sides>& sides) {
  const std::size_t n = sides.size();
  std::vector<double> diagonal(n, 66.0);
  std::vector<double> upper1(n, 26.0); // column i + 1 of row i, after elimination
  std::vector<double> lower1(n, 26.0); // column i - 1 of row i, before its elimination
  for (std::size_t i = 0; i + 1 < n; ++i) {
    // Row i + 1 loses its column i, row i + 2 its column i (entry 1).
    const double factor1 = lower1[i + 1] / diagonal[i];
    diagonal[i + 1] -= factor1 * upper1[i];
    upper1[i + 1] -= factor1 * 1.0;
    for (std::size_t s = 0; s < SIDES; ++s)
      sides[i + 1][s] -= factor1 * sides[i][s];
    if (i + 2 < n) {
      const double factor2 = 1.0 / diagonal[i];
      lower1[i + 2] -= factor2 * upper1[i];
      diagonal[i + 2] -= factor2 * 1.0;
      for (std::size_t s = 0; s < SIDES; ++s)
        sides[i + 2][s] -= factor2 * sides[i][s];
    }
  }
  for (std::size_t i = n; i-- > 0;) {
    for (std::size_t s = 0; s < SIDES; ++s) {
      double x = sides[i][s];
      if (i + 1 < n)
        x -= upper1[i] * sides[i + 1][s];
      if (i + 2 < n)
        x -= sides[i + 2][s];
      sides[i][s] = x / diagonal[i];
    }
  }
}

// Solves the 4 x 4 system `a` x = `b` by elimination with partial pivoting, into `b`.
void solve4(std::array<std::array<double, 4>, 4>& a, std::array<double, 4>& b) {
  for (std::size_t col = 0; col < 4; ++col) {
    std::size_t pivot = col;
    for (std::size_t row = col + 1; row < 4; ++row) {
      if (std::abs(a[row][col]) > std::abs(a[pivot][col]))
        pivot = row;
    }
    std::swap(a[col], a[pivot]);
    std::swap(b[col], b[pivot]);
    for (std::size_t row = col + 1; row < 4; ++row) {
      const double factor = a[row][col] / a[col][col];
      for (std::size_t k = col; k < 4; ++k)
        a[row][k] -= factor * a[col][k];
      b[row] -= factor * b[col];
    }
  }
  for (std::size_t row = 4; row-- > 0;) {
    for (std::size_t k = row + 1; k < 4; ++k)
      b[row] -= a[row][k] * b[k];
    b[row] /= a[row][row];
  }
}

} // namespace

// The spline is sum_j c_j B(x/h - j) over the centred quintic B-spline B, knots at the samples,
// j from -2 to n + 1. At a knot B and its derivatives are (1, 26, 66, 26, 1) / 120, (-1, -10, 0,
// 10, 1) / 24, (1, 2, -6, 2, 1) / 6 and (-1, 2, 0, -2, 1) / 2 over c_{i-2} .. c_{i+2}; the jump of
// the fifth derivative at knot i is the sixth difference of c_{i-3} .. c_{i+3}. The n
// interpolation rows give c_0 .. c_{n-1} once the four outer coefficients are known: the inner
// ones are the samples' response less the outer ones' responses, and the four end conditions
// then fix the outer ones.
std::vector<AxisDerivatives> axis_derivatives(std::span<const double> samples, double step) {
  const std::size_t n = samples.size();
  std::vector<Sides> sides(n, Sides{});
  for (std::size_t i = 0; i < n; ++i)
    sides[i][0] = 120 * samples[i];
  // The outer coefficients c_{-2}, c_{-1}, c_n, c_{n+1} in the first and last two rows.
  sides[0][1] = 1;
  sides[0][2] = 26;
  sides[1][2] = 1;
  sides[n - 2][3] = 1;
  sides[n - 1][3] = 26;
  sides[n - 1][4] = 1;
  solve_pentadiagonal(sides);
  // c_j = inner[j][0] - sum over b of outer_b inner[j][b + 1]; as a row over (1, outer...).
  const auto coefficient_row = [&](std::ptrdiff_t j) {
    std::array<double, SIDES> row{};
    if (j < 0 || j >= static_cast<std::ptrdiff_t>(n)) {
      const std::size_t b = j == -2 ? 0 : j == -1 ? 1 : j == static_cast<std::ptrdiff_t>(n) ? 2 : 3;
      row[b + 1] = 1;
      return row;
    }
    row[0] = sides[static_cast<std::size_t>(j)][0];
    for (std::size_t b = 0; b < 4; ++b)
      row[b + 1] = -sides[static_cast<std::size_t>(j)][b + 1];
    return row;
  };
  constexpr std::array<double, 7> SIXTH_DIFFERENCE{1, -6, 15, -20, 15, -6, 1};
  const auto last = static_cast<std::ptrdiff_t>(n) - 1;
  const std::array<std::ptrdiff_t, 4> knots{1, 2, last - 2, last - 1};
  std::array<std::array<double, 4>, 4> matrix{};
  std::array<double, 4> outer{};
  for (std::size_t r = 0; r < 4; ++r) {
    for (std::size_t m = 0; m < 7; ++m) {
      const auto row = coefficient_row(knots[r] - 3 + static_cast<std::ptrdiff_t>(m));
      outer[r] -= SIXTH_DIFFERENCE[m] * row[0];
      for (std::size_t b = 0; b < 4; ++b)
        matrix[r][b] += SIXTH_DIFFERENCE[m] * row[b + 1];
    }
  }
  solve4(matrix, outer);
  std::vector<double> c(n + 4); // c_{j} at j + 2
  for (std::ptrdiff_t j = -2; j <= last + 2; ++j) {
    const auto row = coefficient_row(j);
    double value = row[0];
    for (std::size_t b = 0; b < 4; ++b)
      value += row[b + 1] * outer[b];
    c[static_cast<std::size_t>(j + 2)] = value;
  }
  std::vector<AxisDerivatives> result(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double before2 = c[i];
    const double before1 = c[i + 1];
    const double here = c[i + 2];
    const double after1 = c[i + 3];
    const double after2 = c[i + 4];
    result[i] = {samples[i], ((after2 - before2) + 10 * (after1 - before1)) / (24 * step),
                 (before2 + 2 * before1 - 6 * here + 2 * after1 + after2) / (6 * step * step),
                 ((after2 - before2) / 2 - (after1 - before1)) / (step * step * step)};
  }
  return result;
}

double hermite_quintic(const AxisDerivatives& left, const AxisDerivatives& right, double step,
                       double t) {
  const double t2 = t * t;
  const double t3 = t2 * t;
  const double t4 = t3 * t;
  const double t5 = t4 * t;
  const double h2 = step * step;
  return left[0] * (1 - 10 * t3 + 15 * t4 - 6 * t5) +
         left[1] * step * (t - 6 * t3 + 8 * t4 - 3 * t5) +
         left[2] * h2 * (t2 - 3 * t3 + 3 * t4 - t5) / 2 + right[0] * (10 * t3 - 15 * t4 + 6 * t5) +
         right[1] * step * (-4 * t3 + 7 * t4 - 3 * t5) + right[2] * h2 * (t3 - 2 * t4 + t5) / 2;
}

} // namespace norvalex
