#include "text/portable_number.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace norvalex {

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c;
}

// Caps exponents far beyond the range of doubles, so that no count overflows.
constexpr std::int64_t EXPONENT_CAP = 1'000'000;

// The exponent digits at `p` (after the exponent letter and its sign).
std::int64_t exponent_value(const char* p, const char* end) {
  std::int64_t exponent = 0;
  for (; p < end && is_digit(*p); ++p) {
    if (exponent < EXPONENT_CAP)
      exponent = exponent * 10 + (*p - '0');
  }
  return exponent;
}

// Whether a correctly rounded value outside the range of doubles lies above it (infinity) or
// below it (zero). The two are thousands of binary orders apart, so the order of magnitude of
// the leading digit decides it.
bool beyond_largest(const char* first, const char* last, bool hex) {
  const int digit_weight = hex ? 4 : 1; // exponent steps per digit
  const char exponent_letter = hex ? 'p' : 'e';
  std::int64_t order = 0;
  bool seen_point = false;
  bool seen_nonzero = false;
  const char* p = first;
  for (; p < last && lower(*p) != exponent_letter; ++p) {
    if (*p == '.') {
      seen_point = true;
    } else if (!seen_nonzero && *p != '0') {
      seen_nonzero = true;
    } else if (!seen_nonzero && seen_point) {
      order -= digit_weight; // a zero between the point and the first other digit
    } else if (seen_nonzero && !seen_point) {
      order += digit_weight;
    }
  }
  if (p < last) {
    ++p;
    const bool negative = *p == '-';
    p += *p == '-' || *p == '+';
    const std::int64_t exponent = exponent_value(p, last);
    order += negative ? -exponent : exponent;
  }
  return order >= 0;
}

// True when the text [p, end) is `word` (lower case) in any case.
bool is_word(const char* p, const char* end, const char* word) {
  for (; *word != '\0'; ++p, ++word) {
    if (p == end || lower(*p) != *word)
      return false;
  }
  return p == end;
}

// Whether the number [body, last), after its sign, is hexadecimal: "0x" and more after it.
bool is_hex_number(const char* body, const char* last) {
  return last - body > 2 && body[0] == '0' && lower(body[1]) == 'x';
}

} // namespace

double strtod_magnitude(const char* first, const char* last, bool hex) noexcept {
  double magnitude = 0;
  const auto [stop, error] = std::from_chars(
      first, last, magnitude, hex ? std::chars_format::hex : std::chars_format::general);
  if (error == std::errc::result_out_of_range) {
    // strtod's results, where from_chars reports the range instead.
    magnitude = beyond_largest(first, last, hex) ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return magnitude;
}

std::errc number_range_status(const char* first, const char* last, double value) noexcept {
  const char* const body = first + (*first == '-' || *first == '+');
  if (std::isinf(value))
    return lower(*body) == 'i' ? std::errc() : std::errc::result_out_of_range;
  if (value != 0)
    return std::errc();
  // Zero from a mantissa with a digit other than 0 is a number below the range of doubles.
  const bool hex = is_hex_number(body, last);
  const char exponent_letter = hex ? 'p' : 'e';
  for (const char* p = hex ? body + 2 : body; p < last && lower(*p) != exponent_letter; ++p) {
    if (*p != '0' && *p != '.')
      return std::errc::result_out_of_range;
  }
  return std::errc();
}

NumberScanResult scan_number_portable(const char* first, const char* last, double& value) noexcept {
  const NumberScanResult not_a_number{first, std::errc::invalid_argument};
  if (first == last || is_scan_space(*first))
    return not_a_number;
  const char* word_end = first;
  while (word_end < last && !is_scan_space(*word_end))
    ++word_end;
  const bool negative = *first == '-';
  const char* const body = first + (*first == '-' || *first == '+');
  if (body == word_end)
    return not_a_number;
  double magnitude;
  if (lower(*body) == 'i' || lower(*body) == 'n') {
    if (is_word(body, word_end, "inf") || is_word(body, word_end, "infinity"))
      magnitude = std::numeric_limits<double>::infinity();
    else if (is_word(body, word_end, "nan"))
      magnitude = std::numeric_limits<double>::quiet_NaN();
    else
      return not_a_number;
  } else {
    const bool hex = is_hex_number(body, word_end);
    const char* const digits = hex ? body + 2 : body;
    // from_chars takes a minus sign of its own, strtod no second sign.
    if (*digits == '-' || *digits == '+')
      return not_a_number;
    double unused = 0;
    const auto [stop, error] = std::from_chars(
        digits, word_end, unused, hex ? std::chars_format::hex : std::chars_format::general);
    if (stop != word_end || (error != std::errc() && error != std::errc::result_out_of_range))
      return not_a_number;
    magnitude = strtod_magnitude(digits, word_end, hex);
  }
  value = negative ? -magnitude : magnitude;
  return {word_end, number_range_status(first, word_end, value)};
}

} // namespace norvalex
