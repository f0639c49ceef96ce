// The common decimal numbers read without the C library, for the scans of this folder: a number
// of up to 19 digits and a decimal exponent of at most 22 is one exactly rounded product or
// quotient of two exact doubles, hence the correctly rounded value that strtod gives; longer
// mantissas and larger exponents go through std::from_chars, correctly rounded too.
//
// That equality rests on what the C library's conversion does, which the scans cannot check:
// - the C numeric locale (a "." decimal point, no grouping): the programs never call setlocale,
//   and a caller that sets another LC_NUMERIC changes strtod but not these scans;
// - round-to-nearest: the products and quotients below round in the current rounding mode, glibc's
//   strtod always to nearest, so a caller must not change the mode while reading;
// - a correctly rounding strtod, as glibc's is (elsewhere the reference is the portable scan,
//   which converts with std::from_chars);
// - double arithmetic in double precision and no fused multiply-add (FLT_EVAL_METHOD 0, the
//   library is compiled with -ffp-contract=off); elsewhere every number goes through from_chars.
// Private to the text library.
#pragma once

#include <array>
#include <cfloat>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <system_error>

// A quotient of two doubles is rounded once only where double arithmetic is done in double
// precision; elsewhere (x87 registers) every number goes through std::from_chars.
#define NORVALEX_EXACT_PRODUCTS (FLT_EVAL_METHOD == 0)

namespace norvalex::plain_decimal {

// Every power of ten up to 1e22 is a double exactly; so is every integer up to 2^53. A product
// or quotient of two exact doubles is rounded once, so it is the correctly rounded value of the
// decimal number, the one the C library's conversion gives.
inline constexpr std::array<double, 23> exact_powers_of_ten{
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
inline constexpr std::int64_t MAX_EXACT_POWER = 22;
inline constexpr std::uint64_t MAX_EXACT_MANTISSA = std::uint64_t{1} << 53;
// Decimal digits that always fit a 64-bit mantissa.
inline constexpr std::ptrdiff_t MAX_MANTISSA_DIGITS = 19;
// An exponent this large already leaves the range of doubles for any mantissa; larger ones
// are not accumulated further (the rare path reads the text itself).
inline constexpr std::int64_t EXPONENT_CAP = 100000;

inline bool is_digit(char c) {
  return static_cast<unsigned char>(c - '0') < 10;
}

// A number ends for certain where white space follows it.
inline bool ends_number(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Numbers beyond the exact products: many digits or large exponents. std::from_chars is
// correctly rounded too; it reports a result out of the range of doubles as an error where the
// C library returns a value, so such a number is left to the C library's path.
[[gnu::noinline]] inline bool convert_rare(const char* first, const char* last, double& value) {
  const auto [stop, error] = std::from_chars(first, last, value, std::chars_format::general);
  return error == std::errc() && stop == last;
}

// Reads one number at `p` (no white space before it), a character at a time:
//   [+|-] digits [. [digits]] | [+|-] . digits, then optionally (e|E) [+|-] digits,
// followed by white space or, when `Bounded`, by `last`. Returns the position after it, or
// nullptr for every other text and for a value out of the range of doubles. With `Bounded` it
// reads nothing at or past `last`; without, `last` is not looked at and the text must go on to
// a byte that is neither a digit nor a sign, point or exponent letter (the zero padding after a
// buffered text).
template <bool Bounded>
[[gnu::noinline]] const char* scan(const char* p, const char* last, double& value) {
  // The byte at `q`, or a zero byte at `last`, which ends every loop below.
  const auto at = [last](const char* q) { return Bounded && q == last ? '\0' : *q; };
  const char first = at(p);
  const bool negative = first == '-';
  p += (first == '-') | (first == '+');
  const char* const digits = p;
  std::uint64_t mantissa = 0;
  while (is_digit(at(p)))
    mantissa = mantissa * 10 + static_cast<unsigned>(*p++ - '0');
  std::ptrdiff_t digit_count = p - digits;
  std::int64_t scale = 0;
  if (at(p) == '.') {
    const char* const fraction = ++p;
    while (is_digit(at(p)))
      mantissa = mantissa * 10 + static_cast<unsigned>(*p++ - '0');
    digit_count += p - fraction;
    scale = -(p - fraction);
  }
  if (digit_count == 0)
    return nullptr;
  if ((at(p) | 0x20) == 'e') {
    const char* e = p + 1;
    const char exponent_sign = at(e);
    const bool exponent_negative = exponent_sign == '-';
    e += (exponent_sign == '-') | (exponent_sign == '+');
    if (!is_digit(at(e)))
      return nullptr; // "1e", "1e+", "1ex": how the C library reads these is its own business
    std::int64_t exponent = 0;
    for (; is_digit(at(e)); ++e) {
      if (exponent < EXPONENT_CAP)
        exponent = exponent * 10 + (*e - '0');
    }
    scale += exponent_negative ? -exponent : exponent;
    p = e;
  }
  if (!(Bounded && p == last) && !ends_number(*p))
    return nullptr;

  double magnitude;
  if (NORVALEX_EXACT_PRODUCTS && digit_count <= MAX_MANTISSA_DIGITS &&
      mantissa <= MAX_EXACT_MANTISSA && scale >= -MAX_EXACT_POWER && scale <= MAX_EXACT_POWER) {
    const double m = static_cast<double>(mantissa);
    magnitude = scale < 0 ? m / exact_powers_of_ten[static_cast<std::size_t>(-scale)]
                          : m * exact_powers_of_ten[static_cast<std::size_t>(scale)];
  } else if (digit_count <= MAX_MANTISSA_DIGITS && mantissa == 0) {
    magnitude = 0;
  } else if (!convert_rare(digits, p, magnitude)) {
    return nullptr;
  }
  value = negative ? -magnitude : magnitude;
  return p;
}

} // namespace norvalex::plain_decimal
