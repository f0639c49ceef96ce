#include "sf7/sf7_point_scan.h"

#include "text/number_scan.h"
#include "text/portable_number.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <utility>

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
  double magnitude = 0;
  if (!mantissa_digit) {
    // "." or "-." is no number for strtod; of "0x" without digits it reads the 0.
    if (!hex)
      return nullptr;
  } else {
    magnitude = strtod_magnitude(mantissa, exponent_end(q, taken, exponent_letter), hex);
  }
  value = negative ? -magnitude : magnitude;
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

int scan_point_exact(const char* line, std::span<double, SF7_COLUMN_COUNT> values) {
#ifdef __GLIBC__
  // glibc's "%lf" is the reference: the portable scan reproduces it elsewhere.
  int found = std::sscanf(line, "%lf%lf%lf%lf%lf%lf", &values[0], &values[1], &values[2],
                          &values[3], &values[4], &values[5]);
  return found < 0 ? 0 : found;
#else
  return scan_point_portable(line, values);
#endif
}

namespace {

#ifdef __GLIBC__
// SF7_MAX_LINE_NUMBERS "%lf" directives; the format of n of them is its last 3*n characters.
constexpr std::array<char, 3 * SF7_MAX_LINE_NUMBERS + 1> all_directives = [] {
  std::array<char, 3 * SF7_MAX_LINE_NUMBERS + 1> text{};
  for (std::size_t k = 0; k < SF7_MAX_LINE_NUMBERS; ++k) {
    text[3 * k] = '%';
    text[3 * k + 1] = 'l';
    text[3 * k + 2] = 'f';
  }
  return text;
}();

// One sscanf with the given directives and a target for each of SF7_MAX_LINE_NUMBERS of them:
// the targets past the last directive are passed and never written.
template <std::size_t... K>
int scan_directives(const char* line, const char* format,
                    const std::array<double*, SF7_MAX_LINE_NUMBERS>& targets,
                    std::index_sequence<K...>) {
  return std::sscanf(line, format, targets[K]...);
}
#endif

} // namespace

int scan_numbers_exact(const char* line, std::span<double> values) {
  if (values.size() == SF7_COLUMN_COUNT)
    return scan_point_exact(line, values.first<SF7_COLUMN_COUNT>());
  // The format has directives for SF7_MAX_LINE_NUMBERS numbers at the most.
  values = values.first(std::min(values.size(), SF7_MAX_LINE_NUMBERS));
#ifdef __GLIBC__
  double unused = 0;
  std::array<double*, SF7_MAX_LINE_NUMBERS> targets{};
  for (std::size_t k = 0; k < SF7_MAX_LINE_NUMBERS; ++k)
    targets[k] = k < values.size() ? &values[k] : &unused;
  const char* const format = all_directives.data() + 3 * (SF7_MAX_LINE_NUMBERS - values.size());
  const int found =
      scan_directives(line, format, targets, std::make_index_sequence<SF7_MAX_LINE_NUMBERS>());
  return found < 0 ? 0 : found;
#else
  return scan_numbers_portable(line, values);
#endif
}

} // namespace norvalex
