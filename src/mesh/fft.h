// The discrete Fourier transform of real samples, fast for any length: a mixed-radix transform
// (radices 4, 2, 3, 5 and the other primes up to 13), and Bluestein's chirp convolution on such
// a length for a length with a larger prime factor. Twiddle factors come from two short tables of
// sines and cosines, so a transform of 100,000 samples costs about a millisecond.
#pragma once

#include "norvalex/error.h"

#include <complex>
#include <span>
#include <vector>

namespace norvalex {

// X_k = sum over j of x_j exp(-2 pi i j k / n), n = x.size() (at least 1), for k = 0 .. n / 2:
// the rest are their complex conjugates.
NORVALEX_MESH_API std::vector<std::complex<double>> real_dft(std::span<const double> x);

// X_k for every k = 0 .. n - 1 of complex samples.
NORVALEX_MESH_API std::vector<std::complex<double>>
complex_dft(std::span<const std::complex<double>> x);

} // namespace norvalex
