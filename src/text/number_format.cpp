#include "text/number_format.h"

#include "text/plain_decimal.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

namespace norvalex {

namespace {

// The fast path takes the doubles from 1e-8 to below 1e15 that are decimals of at most 15
// significant digits. Two such decimals lie at least 10^(p-14) apart where the smaller is
// d * 10^p (1 <= d < 10), while the rounding interval of a double between them is at most
// 2^-52 times it, under 0.23 * 10^(p-14): a double has at most one of them within its interval,
// and one that rounds to it is therefore its shortest decimal, the digits std::to_chars writes.
constexpr double SHORT_MIN = 1e-8;
constexpr double SHORT_MAX = 1e15;
constexpr int SHORT_DIGITS = 15;
constexpr std::uint64_t SHORT_LIMIT = 1'000'000'000'000'000; // 10^15
// A scaled magnitude below this is nearer an integer below 10^15 (its doubles are 1/8 apart).
constexpr double SCALED_LIMIT = 999'999'999'999'999.5;

// A decimal `digits` * 10^-`scale`.
struct Decimal {
  std::uint64_t digits;
  int scale;
};

// The decimal of at most 15 significant digits that rounds to `magnitude`, one of the doubles
// SHORT_MIN <= magnitude < SHORT_MAX, when there is one; {0, 0} otherwise. The magnitude scaled
// to 15 digits, m = magnitude * 10^k rounded to an integer, is such a decimal m / 10^k exactly
// when that quotient of two exact doubles, rounded once, is the magnitude again. It finds every
// one: a 15-digit decimal D = M / 10^k with k = 14 - floor(log10 D) differs from the magnitude by
// at most half its step, so that the scaled magnitude is within 0.18 of the integer M.
Decimal short_decimal(double magnitude) {
  if constexpr (!NORVALEX_EXACT_PRODUCTS) {
    return {0, 0};
  } else {
    const int binary_exponent = static_cast<int>(std::bit_cast<std::uint64_t>(magnitude) >> 52) -
                                1023; // magnitude is positive and normal
    // floor(log10 2^e), which is floor(log10 magnitude) or one less.
    const int decimal_exponent = (binary_exponent * 78913) >> 18;
    const auto power = [](int k) {
      return plain_decimal::exact_powers_of_ten[static_cast<std::size_t>(k)];
    };
    int scale = std::min(SHORT_DIGITS - 1 - decimal_exponent,
                         static_cast<int>(plain_decimal::MAX_EXACT_POWER));
    double scaled = magnitude * power(scale);
    if (scaled >= SCALED_LIMIT) {
      if (scale == 0)
        return {0, 0};
      --scale;
      scaled = magnitude * power(scale);
    }
    const auto digits = static_cast<std::uint64_t>(scaled + 0.5);
    if (digits >= SHORT_LIMIT || static_cast<double>(digits) / power(scale) != magnitude)
      return {0, 0};
    return {digits, scale};
  }
}

constexpr auto POWERS_OF_TEN = [] {
  std::array<std::uint64_t, SHORT_DIGITS + 1> powers{};
  std::uint64_t power = 1;
  for (std::uint64_t& p : powers) {
    p = power;
    power *= 10;
  }
  return powers;
}();

// Writes the `count` digits of `m` before `last`, with a decimal point before the digit at
// `point` (none for `count`).
void write_digits(std::uint64_t m, int count, int point, char* last) {
  for (int k = count - 1; k >= 0; --k, m /= 10) {
    *--last = static_cast<char>('0' + m % 10);
    if (k == point)
      *--last = '.';
  }
}

// Writes the decimal as std::to_chars writes a shortest text: fixed or scientific, whichever is
// shorter, fixed on a tie; a scientific exponent of at least two digits.
char* write_decimal(bool negative, Decimal decimal, char* out) {
  std::uint64_t m = decimal.digits;
  int exponent = -decimal.scale; // of the last digit
  for (const auto& [power, zeros] :
       {std::pair<std::uint64_t, int>{100'000'000, 8}, {10'000, 4}, {100, 2}, {10, 1}}) {
    if (m % power == 0) {
      m /= power;
      exponent += zeros;
    }
  }
  const int guess = (static_cast<int>(std::bit_width(m)) * 1233) >> 12; // log10 of m, or one more
  const int count = guess + 1 - (m < POWERS_OF_TEN[static_cast<std::size_t>(guess)] ? 1 : 0);
  const int leading = count - 1 + exponent; // the exponent of the first digit
  const int scientific_length = count + (count > 1 ? 1 : 0) + 4;
  const int fixed_length = leading < 0           ? count + 1 - leading
                           : count > leading + 1 ? count + 1
                                                 : leading + 1;
  if (negative)
    *out++ = '-';
  if (fixed_length <= scientific_length) {
    if (leading < 0) { // 0.000ddd
      std::memset(out, '0', static_cast<std::size_t>(1 - leading));
      out[1] = '.';
      out += 1 - leading + count;
      write_digits(m, count, count, out);
    } else if (count <= leading + 1) { // ddd000
      write_digits(m, count, count, out + count);
      std::memset(out + count, '0', static_cast<std::size_t>(leading + 1 - count));
      out += leading + 1;
    } else { // dd.ddd
      out += count + 1;
      write_digits(m, count, leading + 1, out);
    }
    return out;
  }
  out += count + (count > 1 ? 1 : 0);
  write_digits(m, count, 1, out);
  const int size = leading < 0 ? -leading : leading; // below 100 within the fast path's range
  *out++ = 'e';
  *out++ = leading < 0 ? '-' : '+';
  *out++ = static_cast<char>('0' + size / 10);
  *out++ = static_cast<char>('0' + size % 10);
  return out;
}

// The fast path: the text of zero or of a short decimal, nullptr for any other value.
char* format_short(double value, char* first) {
  const bool negative = std::signbit(value);
  const double magnitude = std::abs(value);
  if (magnitude == 0) {
    if (negative)
      *first++ = '-';
    *first = '0';
    return first + 1;
  }
  if (!(magnitude >= SHORT_MIN && magnitude < SHORT_MAX))
    return nullptr;
  const Decimal decimal = short_decimal(magnitude);
  return decimal.digits == 0 ? nullptr : write_decimal(negative, decimal, first);
}

char* format_any(double value, char* first) {
  return std::to_chars(first, first + SHORTEST_TEXT_MAX, value).ptr;
}

} // namespace

char* format_shortest(double value, char* first) {
  char* const end = format_short(value, first);
  return end != nullptr ? end : format_any(value, first);
}

char* format_shorter(double value, std::ptrdiff_t length, char* first) {
  char* end = format_short(value, first);
  if (end == nullptr) {
    // Within the fast path's range a double it does not take has 16 significant digits or more.
    const double magnitude = std::abs(value);
    if (NORVALEX_EXACT_PRODUCTS && length <= SHORT_DIGITS + 1 && magnitude >= SHORT_MIN &&
        magnitude < SHORT_MAX)
      return nullptr;
    end = format_any(value, first);
  }
  return end - first < length ? end : nullptr;
}

ShortestNumber shortest_number(double value) {
  ShortestNumber number{value, 0, {}};
  number.length = static_cast<std::uint8_t>(format_shortest(value, number.digits.data()) -
                                            number.digits.data());
  return number;
}

} // namespace norvalex
