#include "mesh/fourier_series.h"

#include "mesh/fft.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace norvalex {

double series_value(std::span<const double> values, double period, double s) {
  if (values.empty())
    return 0;
  const double angle = 2 * std::numbers::pi * s / period;
  const double cos1 = std::cos(angle);
  const double sin1 = std::sin(angle);
  double sum = values[0] / 2;
  // cos(n angle) and sin(n angle) by turning one step at a time.
  double c = cos1;
  double s_n = sin1;
  for (std::size_t n = 1; n <= series_harmonics(values.size()); ++n) {
    sum += values[2 * n - 1] * c + values[2 * n] * s_n;
    const double next = c * cos1 - s_n * sin1;
    s_n = s_n * cos1 + c * sin1;
    c = next;
  }
  return sum;
}

// With M intervals of the samples f_0 .. f_M and s_j = (j/M - 1/2) L, the trapezoid sums are
// a_n = (2/M) (-1)^n sum_j g_j cos(2 pi n j / M) (b_n with sin) over the folded samples g_0 =
// (f_0 + f_M) / 2, g_j = f_j: a discrete Fourier transform X of g, a_n = (2/M) (-1)^n Re X_n and
// b_n = -(2/M) (-1)^n Im X_n. The series of K harmonics is the projection of g on the first
// harmonics, so by Parseval its squared deviation over g is (1/M) times the energy of X above
// K; over the samples themselves the ends add (g_0 - S(-L/2))^2 + (f_0 - f_M)^2 / 2.
FourierAnalysis::FourierAnalysis(std::span<const double> samples) : intervals_(samples.size() - 1) {
  for (const double f : samples)
    peak_ = std::max(peak_, std::abs(f));
  if (peak_ == 0)
    return;
  const std::size_t m = intervals_;
  std::vector<double> folded(samples.begin(), samples.end() - 1);
  for (double& g : folded)
    g /= peak_;
  const double first = samples.front() / peak_;
  const double last = samples.back() / peak_;
  folded[0] = (first + last) / 2;
  folded_first_ = folded[0];
  end_jump_ = (first - last) * (first - last) / 2;
  spectrum_ = real_dft(folded);
  // The energy above each count of harmonics, summed from the top so that small terms count.
  const std::size_t top = resolved_harmonics();
  tail_energy_.assign(top + 1, 0.0);
  double tail = 0;
  for (std::size_t k = spectrum_.size() - 1; k > top; --k)
    tail += (2 * k == m ? 1.0 : 2.0) * std::norm(spectrum_[k]);
  for (std::size_t k = top;; --k) {
    tail_energy_[k] = tail / static_cast<double>(m);
    if (k == 0)
      break;
    tail += 2 * std::norm(spectrum_[k]);
  }
}

std::vector<double> FourierAnalysis::values(std::size_t count) const {
  std::vector<double> values(count, 0.0);
  if (peak_ == 0)
    return values;
  const double scale = 2 / static_cast<double>(intervals_);
  values[0] = scale * spectrum_[0].real();
  for (std::size_t n = 1; n <= series_harmonics(count); ++n) {
    const double sign = n % 2 == 0 ? scale : -scale;
    values[2 * n - 1] = sign * spectrum_[n].real();
    values[2 * n] = -sign * spectrum_[n].imag();
  }
  return values;
}

double FourierAnalysis::error_at(std::size_t harmonics, double first) const {
  const double deviation = folded_first_ - first;
  const double squares = tail_energy_[harmonics] + deviation * deviation + end_jump_;
  return std::sqrt(std::max(squares, 0.0) / static_cast<double>(intervals_ + 1));
}

double FourierAnalysis::error(std::size_t count) const {
  if (peak_ == 0)
    return 0;
  const double m = static_cast<double>(intervals_);
  double first = spectrum_[0].real() / m;
  for (std::size_t n = 1; n <= series_harmonics(count); ++n)
    first += 2 * spectrum_[n].real() / m;
  return error_at(series_harmonics(count), first);
}

std::size_t FourierAnalysis::fewest_values(std::size_t most, double goal) const {
  if (peak_ == 0)
    return 1;
  const std::size_t top = std::min(series_harmonics(most), resolved_harmonics());
  const double m = static_cast<double>(intervals_);
  std::size_t best = 1;
  double best_error = std::numeric_limits<double>::infinity();
  double first = spectrum_[0].real() / m;
  for (std::size_t n = 0; n <= top; ++n) {
    if (n > 0)
      first += 2 * spectrum_[n].real() / m;
    const double error = error_at(n, first);
    if (error <= goal)
      return 2 * n + 1;
    if (error < best_error) {
      best_error = error;
      best = 2 * n + 1;
    }
  }
  return best;
}

} // namespace norvalex
