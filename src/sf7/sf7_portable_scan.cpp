#include "sf7/sf7_portable_scan.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

namespace norvalex {

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool is_hex_digit(char c) {
  return is_digit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c | 0x20) : c;
}

// True when `word` (lower case) stands at `p` in any case. Stops at a NUL, which matches no
// letter, so it never reads past the end of the text.
bool starts_with_word(const char* p, const char* word) {
  for (; *word != '\0'; ++p, ++word) {
    if (lower(*p) != *word)
      return false;
  }
  return true;
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

// The text glibc's scanner took for one number, as strtod then reads it: [first, last) holds
// the mantissa and exponent without sign and without "0x".
struct NumberText {
  const char* first;
  const char* last;
  bool hex;
  bool negative;
};

// Whether a correctly rounded value outside the range of doubles lies above it (infinity) or
// below it (zero). The two are thousands of binary orders apart, so the order of magnitude of
// the leading digit decides it.
bool beyond_largest(const NumberText& number) {
  const int digit_weight = number.hex ? 4 : 1; // exponent steps per digit
  const char exponent_letter = number.hex ? 'p' : 'e';
  std::int64_t order = 0;
  bool seen_point = false;
  bool seen_nonzero = false;
  const char* p = number.first;
  for (; p < number.last && lower(*p) != exponent_letter; ++p) {
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
  if (p < number.last) {
    ++p;
    const bool negative = *p == '-';
    p += *p == '-' || *p == '+';
    const std::int64_t exponent = exponent_value(p, number.last);
    order += negative ? -exponent : exponent;
  }
  return order >= 0;
}

double convert(const NumberText& number) {
  double magnitude = 0;
  const auto [stop, error] =
      std::from_chars(number.first, number.last, magnitude,
                      number.hex ? std::chars_format::hex : std::chars_format::general);
  if (error == std::errc::result_out_of_range) {
    // strtod's results, where from_chars reports the range instead.
    magnitude = beyond_largest(number) ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return number.negative ? -magnitude : magnitude;
}

// The part of [p, end) that strtod reads as an exponent: the letter, an optional sign and at
// least one digit; otherwise none of it.
const char* exponent_end(const char* p, const char* end, char letter) {
  if (p == end || lower(*p) != letter)
    return p;
  const char* q = p + 1;
  q += q < end && (*q == '-' || *q == '+');
  if (q == end || !is_digit(*q))
    return p;
  while (q < end && is_digit(*q))
    ++q;
  return q;
}

} // namespace

const char* scan_double_as_glibc(const char* text, double& value) noexcept {
  const char* p = text;
  while (is_scan_space(*p))
    ++p;
  if (*p == '\0')
    return nullptr; // input failure: nothing left to read
  const char* const start = p;
  const bool negative = *p == '-';
  const bool sign = *p == '-' || *p == '+';
  p += sign;
  if (*p == '\0')
    return nullptr;

  // "nan" is taken without a payload in parentheses; "inf" goes on to "infinity" once an "i"
  // follows it, and then must be "infinity" whole.
  if (lower(*p) == 'n') {
    if (!starts_with_word(p, "nan"))
      return nullptr;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    value = negative ? -nan : nan;
    return p + 3;
  }
  if (lower(*p) == 'i') {
    if (!starts_with_word(p, "inf"))
      return nullptr;
    p += 3;
    if (lower(*p) == 'i') {
      if (!starts_with_word(p, "inity"))
        return nullptr;
      p += 5;
    }
    const double infinity = std::numeric_limits<double>::infinity();
    value = negative ? -infinity : infinity;
    return p;
  }

  // The scanner's loop: digits (hexadecimal ones after "0x"), one point before the exponent,
  // the exponent letter after a digit, a sign right after that letter. The first character
  // that fits none of these is left for the next directive.
  bool hex = false;
  bool got_digit = false;
  bool got_point = false;
  bool got_exponent = false;
  char exponent_letter = 'e';
  if (*p == '0') {
    ++p;
    if (lower(*p) == 'x') {
      hex = true;
      exponent_letter = 'p';
      ++p;
    } else {
      got_digit = true;
    }
  }
  const char* const mantissa = hex ? p : start + sign;
  for (;; ++p) {
    const char c = *p;
    if (is_digit(c) || (hex && !got_exponent && is_hex_digit(c))) {
      got_digit = true;
    } else if (got_exponent && lower(p[-1]) == exponent_letter && (c == '-' || c == '+')) {
      continue; // the exponent's sign
    } else if (got_digit && !got_exponent && lower(c) == exponent_letter) {
      got_exponent = got_point = true;
    } else if (!got_point && c == '.') {
      got_point = true;
    } else {
      break;
    }
  }
  const char* const taken = p;
  if (taken == start + sign || (hex && taken == start + sign + 2))
    return nullptr;

  // strtod reads the longest number at the start of what was taken: "1e+" as 1, "0x." as 0.
  const char* q = mantissa;
  bool mantissa_digit = false;
  const auto digit = hex ? is_hex_digit : is_digit;
  for (; q < taken && digit(*q); ++q)
    mantissa_digit = true;
  if (q < taken && *q == '.') {
    for (++q; q < taken && digit(*q); ++q)
      mantissa_digit = true;
  }
  NumberText number{mantissa, q, hex, negative};
  if (!mantissa_digit) {
    // "." or "-." is no number for strtod; of "0x" without digits it reads the 0.
    if (!hex)
      return nullptr;
    number = {start + sign, start + sign + 1, false, negative};
  } else {
    number.last = exponent_end(q, taken, exponent_letter);
  }
  value = convert(number);
  return taken;
}

int scan_point_portable(const char* line, std::span<double, SF7_COLUMN_COUNT> values) noexcept {
  return scan_numbers_portable(line, values);
}

int scan_numbers_portable(const char* line, std::span<double> values) noexcept {
  int found = 0;
  const char* p = line;
  for (double& value : values) {
    p = scan_double_as_glibc(p, value);
    if (p == nullptr)
      break;
    ++found;
  }
  return found;
}

namespace {

// True when the text [p, end) is `word` (lower case) in any case.
bool is_word(const char* p, const char* end, const char* word) {
  for (; *word != '\0'; ++p, ++word) {
    if (p == end || lower(*p) != *word)
      return false;
  }
  return p == end;
}

} // namespace

const char* scan_token_portable(const char* p, const char* end, double& value) noexcept {
  if (p == end || is_scan_space(*p))
    return nullptr;
  const char* last = p;
  while (last < end && !is_scan_space(*last))
    ++last;
  const bool negative = *p == '-';
  const char* const body = p + (*p == '-' || *p == '+');
  if (body == last)
    return nullptr;
  if (lower(*body) == 'i' || lower(*body) == 'n') {
    double special;
    if (is_word(body, last, "inf") || is_word(body, last, "infinity"))
      special = std::numeric_limits<double>::infinity();
    else if (is_word(body, last, "nan"))
      special = std::numeric_limits<double>::quiet_NaN();
    else
      return nullptr;
    value = negative ? -special : special;
    return last;
  }
  const bool hex = last - body > 2 && body[0] == '0' && lower(body[1]) == 'x';
  const char* const first = hex ? body + 2 : body;
  // from_chars takes a minus sign of its own, strtod no second sign.
  if (*first == '-' || *first == '+')
    return nullptr;
  double magnitude = 0;
  const auto [stop, error] = std::from_chars(
      first, last, magnitude, hex ? std::chars_format::hex : std::chars_format::general);
  if (stop != last || (error != std::errc() && error != std::errc::result_out_of_range))
    return nullptr;
  value = convert({first, last, hex, negative});
  return last;
}

} // namespace norvalex
