// A field along the axis as a Fourier series over its interval, as Impact-T's Fourier form holds
// it: F(s) = a0/2 + sum over n of (a_n cos(2 pi n s / L) + b_n sin(2 pi n s / L)), s measured
// from the middle of the interval, L its length (the period). A series is its values a0, a1, b1,
// a2, b2, ...: (count - 1) / 2 harmonics, an even count leaving its last value unused.
#pragma once

#include "norvalex/error.h"

#include <complex>
#include <cstddef>
#include <span>
#include <vector>

namespace norvalex {

// The harmonics that a series of `count` values holds.
constexpr std::size_t series_harmonics(std::size_t count) {
  return count == 0 ? 0 : (count - 1) / 2;
}

// The series' value at `s` from the middle of its interval of length `period`.
NORVALEX_MESH_API double series_value(std::span<const double> values, double period, double s);

// The coefficients of equally spaced samples over their interval (the first sample at one end,
// the last at the other), by the trapezoid rule on their grid, the samples first divided by their
// largest magnitude: a_n = (2/L) * integral of F cos(2 pi n s / L) ds, b_n the same with sin.
// The sums are one discrete Fourier transform of the samples with the two ends folded together
// (fft.h), and the error of every count follows from Parseval's sums.
class NORVALEX_MESH_API FourierAnalysis {
public:
  // At least two samples.
  explicit FourierAnalysis(std::span<const double> samples);

  // The largest magnitude of the samples, which the series divides out (0 for a zero field).
  double peak() const { return peak_; }
  // The most harmonics that the samples tell apart: fewer than half their intervals.
  std::size_t resolved_harmonics() const { return (intervals_ - 1) / 2; }
  // The first `count` values (odd, at most 2 resolved_harmonics() + 1) of the divided samples.
  std::vector<double> values(std::size_t count) const;
  // The root-mean-square deviation of the series of `count` values from the divided samples,
  // over all of them: within 1 of the peak.
  double error(std::size_t count) const;
  // The fewest values, odd and at most `most`, whose error is within `goal`; where none is, the
  // count of the smallest error.
  std::size_t fewest_values(std::size_t most, double goal) const;

private:
  // The error of `harmonics` harmonics whose series is `first` at the first sample, a0/2 + the
  // sum of (-1)^n a_n.
  double error_at(std::size_t harmonics, double first) const;

  std::size_t intervals_ = 1;
  double peak_ = 0;
  std::vector<std::complex<double>> spectrum_; // of the folded, divided samples, 0 .. M/2
  std::vector<double> tail_energy_; // (1/M) sum of |X_k|^2 over the harmonics above n, by n
  double end_jump_ = 0;             // (F_first - F_last)^2 / 2 of the divided samples
  double folded_first_ = 0;         // (F_first + F_last) / 2
};

} // namespace norvalex
