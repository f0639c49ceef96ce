#include "mesh/fft.h"

#include <cmath>
#include <cstddef>
#include <numbers>

namespace norvalex {

namespace {

using Complex = std::complex<double>;

// The largest prime that a butterfly of its own serves; a length with a larger prime factor goes
// through Bluestein's convolution.
constexpr std::size_t LARGEST_RADIX = 13;

// Products written out: std::complex's operator* checks for NaN results at every product.
inline Complex mul(Complex a, Complex b) {
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}

// i * a
inline Complex times_i(Complex a) {
  return {-a.imag(), a.real()};
}

// exp(-2 pi i j / n) for j < count: each the product of one of about sqrt(count) coarse roots and
// one of as many fine ones, both from the C library's sine and cosine (within two units in the
// last place), for the cost of a product each.
std::vector<Complex> unit_roots(std::size_t n, std::size_t count) {
  std::size_t block = 1;
  while (block * block < count)
    ++block;
  const auto root = [n](std::size_t j) {
    const double angle = -2 * std::numbers::pi * static_cast<double>(j) / static_cast<double>(n);
    return Complex(std::cos(angle), std::sin(angle));
  };
  std::vector<Complex> fine(block);
  for (std::size_t j = 0; j < block; ++j)
    fine[j] = root(j);
  std::vector<Complex> roots(count);
  for (std::size_t start = 0; start < count; start += block) {
    const Complex coarse = root(start);
    for (std::size_t j = start; j < count && j < start + block; ++j)
      roots[j] = mul(coarse, fine[j - start]);
  }
  return roots;
}

// The prime factors of n, 4s first, then 2, 3, 5, ...
std::vector<std::size_t> radices(std::size_t n) {
  std::vector<std::size_t> factors;
  while (n % 4 == 0) {
    factors.push_back(4);
    n /= 4;
  }
  for (std::size_t p = 2; n > 1;) {
    if (p * p > n) {
      factors.push_back(n);
      break;
    }
    if (n % p == 0) {
      factors.push_back(p);
      n /= p;
    } else {
      p += p == 2 ? 1 : 2;
    }
  }
  return factors;
}

// A transform of one length whose prime factors are all small: decimation in time, recursive,
// each level a butterfly of one radix over the transforms of the level below.
class MixedRadix {
public:
  explicit MixedRadix(std::size_t n) : n_(n), radices_(radices(n)), roots_(unit_roots(n, n)) {}

  void transform(const Complex* in, Complex* out) const { level(out, in, 1, 0, n_); }

private:
  void level(Complex* out, const Complex* in, std::size_t stride, std::size_t depth,
             std::size_t n) const {
    const std::size_t p = radices_[depth];
    const std::size_t m = n / p;
    if (m == 1) {
      for (std::size_t j = 0; j < p; ++j)
        out[j] = in[j * stride];
    } else {
      for (std::size_t j = 0; j < p; ++j)
        level(out + j * m, in + j * stride, stride * p, depth + 1, m);
    }
    switch (p) {
    case 2:
      radix2(out, stride, m);
      break;
    case 3:
      radix3(out, stride, m);
      break;
    case 4:
      radix4(out, stride, m);
      break;
    case 5:
      radix5(out, stride, m);
      break;
    default:
      radix_any(out, stride, m, p);
    }
  }

  void radix2(Complex* out, std::size_t stride, std::size_t m) const {
    for (std::size_t k = 0; k < m; ++k) {
      const Complex t = mul(out[k + m], roots_[k * stride]);
      out[k + m] = out[k] - t;
      out[k] += t;
    }
  }

  void radix3(Complex* out, std::size_t stride, std::size_t m) const {
    const double half_root3 = std::sqrt(3.0) / 2; // -Im exp(-2 pi i / 3)
    for (std::size_t k = 0; k < m; ++k) {
      const Complex s0 = out[k];
      const Complex s1 = mul(out[k + m], roots_[k * stride]);
      const Complex s2 = mul(out[k + 2 * m], roots_[2 * k * stride]);
      const Complex sum = s1 + s2;
      const Complex turned = times_i(s1 - s2) * half_root3;
      const Complex middle = s0 - sum * 0.5;
      out[k] = s0 + sum;
      out[k + m] = middle - turned;
      out[k + 2 * m] = middle + turned;
    }
  }

  void radix4(Complex* out, std::size_t stride, std::size_t m) const {
    for (std::size_t k = 0; k < m; ++k) {
      const Complex s0 = out[k];
      const Complex s1 = mul(out[k + m], roots_[k * stride]);
      const Complex s2 = mul(out[k + 2 * m], roots_[2 * k * stride]);
      const Complex s3 = mul(out[k + 3 * m], roots_[3 * k * stride]);
      const Complex a = s0 + s2;
      const Complex b = s0 - s2;
      const Complex c = s1 + s3;
      const Complex d = times_i(s1 - s3);
      out[k] = a + c;
      out[k + m] = b - d;
      out[k + 2 * m] = a - c;
      out[k + 3 * m] = b + d;
    }
  }

  void radix5(Complex* out, std::size_t stride, std::size_t m) const {
    const double c1 = std::cos(2 * std::numbers::pi / 5);
    const double c2 = std::cos(4 * std::numbers::pi / 5);
    const double s1 = -std::sin(2 * std::numbers::pi / 5);
    const double s2 = -std::sin(4 * std::numbers::pi / 5);
    for (std::size_t k = 0; k < m; ++k) {
      Complex s[5];
      s[0] = out[k];
      for (std::size_t j = 1; j < 5; ++j)
        s[j] = mul(out[k + j * m], roots_[j * k * stride]);
      const Complex sum14 = s[1] + s[4];
      const Complex diff14 = s[1] - s[4];
      const Complex sum23 = s[2] + s[3];
      const Complex diff23 = s[2] - s[3];
      const Complex first = s[0] + sum14 * c1 + sum23 * c2;
      const Complex first_turn = times_i(diff14 * s1 + diff23 * s2);
      const Complex second = s[0] + sum14 * c2 + sum23 * c1;
      const Complex second_turn = times_i(diff14 * s2 - diff23 * s1);
      out[k] = s[0] + sum14 + sum23;
      out[k + m] = first + first_turn;
      out[k + 4 * m] = first - first_turn;
      out[k + 2 * m] = second + second_turn;
      out[k + 3 * m] = second - second_turn;
    }
  }

  // Any prime up to LARGEST_RADIX: the p sums of p products.
  void radix_any(Complex* out, std::size_t stride, std::size_t m, std::size_t p) const {
    Complex s[LARGEST_RADIX];
    const std::size_t step = stride * m; // exp(-2 pi i / p) is roots_[step]
    for (std::size_t k = 0; k < m; ++k) {
      s[0] = out[k];
      for (std::size_t j = 1; j < p; ++j)
        s[j] = mul(out[k + j * m], roots_[j * k * stride]);
      for (std::size_t q = 0; q < p; ++q) {
        Complex sum = s[0];
        for (std::size_t j = 1; j < p; ++j)
          sum += mul(s[j], roots_[(j * q % p) * step]);
        out[k + q * m] = sum;
      }
    }
  }

  std::size_t n_;
  std::vector<std::size_t> radices_;
  std::vector<Complex> roots_;
};

bool small_primes_only(std::size_t n) {
  for (const std::size_t p : radices(n)) {
    if (p > LARGEST_RADIX)
      return false;
  }
  return true;
}

// The smallest length from `least` on whose prime factors are 2, 3 and 5.
std::size_t smooth_length(std::size_t least) {
  for (std::size_t n = least;; ++n) {
    std::size_t rest = n;
    for (const std::size_t p : {std::size_t{2}, std::size_t{3}, std::size_t{5}}) {
      while (rest % p == 0)
        rest /= p;
    }
    if (rest == 1)
      return n;
  }
}

// Bluestein: X_k = w_k sum_j (x_j w_j) conj(w_{k-j}), w_j = exp(-pi i j^2 / n), a convolution
// done by transforms of a smooth length.
std::vector<Complex> chirp_dft(std::span<const Complex> x) {
  const std::size_t n = x.size();
  const std::size_t length = smooth_length(2 * n - 1);
  // exp(-pi i j^2 / n) = exp(-2 pi i (j^2 mod 2n) / 2n), the square taken exactly.
  const std::vector<Complex> roots = unit_roots(2 * n, 2 * n);
  std::vector<Complex> chirp(n);
  std::size_t square = 0; // j^2 mod 2n, by (j + 1)^2 = j^2 + 2j + 1
  for (std::size_t j = 0; j < n; ++j) {
    chirp[j] = roots[square];
    square = (square + 2 * j + 1) % (2 * n);
  }
  std::vector<Complex> a(length);
  std::vector<Complex> b(length);
  for (std::size_t j = 0; j < n; ++j) {
    a[j] = mul(x[j], chirp[j]);
    b[j] = std::conj(chirp[j]);
    if (j > 0)
      b[length - j] = b[j];
  }
  const MixedRadix transform(length);
  std::vector<Complex> a_hat(length);
  std::vector<Complex> b_hat(length);
  transform.transform(a.data(), a_hat.data());
  transform.transform(b.data(), b_hat.data());
  // The inverse as the conjugate of the transform of the conjugate.
  for (std::size_t k = 0; k < length; ++k)
    a[k] = std::conj(mul(a_hat[k], b_hat[k]));
  transform.transform(a.data(), b.data());
  std::vector<Complex> result(n);
  const double scale = 1 / static_cast<double>(length);
  for (std::size_t k = 0; k < n; ++k)
    result[k] = mul(chirp[k], std::conj(b[k]) * scale);
  return result;
}

} // namespace

std::vector<Complex> complex_dft(std::span<const Complex> x) {
  const std::size_t n = x.size();
  if (n <= 1)
    return {x.begin(), x.end()};
  if (!small_primes_only(n))
    return chirp_dft(x);
  std::vector<Complex> result(n);
  MixedRadix(n).transform(x.data(), result.data());
  return result;
}

std::vector<Complex> real_dft(std::span<const double> x) {
  const std::size_t n = x.size();
  if (n % 2 == 1 || n < 4) {
    std::vector<Complex> samples(x.begin(), x.end());
    std::vector<Complex> all = complex_dft(samples);
    all.resize(n / 2 + 1);
    return all;
  }
  // Even samples as real parts and odd ones as imaginary parts: one transform of half the length,
  // then X_k = E_k + exp(-2 pi i k / n) O_k.
  const std::size_t half = n / 2;
  std::vector<Complex> packed(half);
  for (std::size_t j = 0; j < half; ++j)
    packed[j] = {x[2 * j], x[2 * j + 1]};
  const std::vector<Complex> z = complex_dft(packed);
  const std::vector<Complex> roots = unit_roots(n, half + 1);
  std::vector<Complex> result(half + 1);
  for (std::size_t k = 0; k <= half; ++k) {
    const Complex zk = z[k == half ? 0 : k];
    const Complex zc = std::conj(z[k == 0 ? 0 : half - k]);
    const Complex even = (zk + zc) * 0.5;
    const Complex odd = times_i(zc - zk) * 0.5; // (zk - zc) / 2i
    result[k] = even + mul(roots[k], odd);
  }
  return result;
}

} // namespace norvalex
