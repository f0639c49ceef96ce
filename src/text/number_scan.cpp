#include "text/number_scan.h"

#include "text/plain_decimal.h"
#include "text/portable_number.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace norvalex {

namespace {

#ifdef __GLIBC__
// Words up to this long that end at `last` are copied to the stack for strtod, which needs a
// byte after them that ends the number; a longer one goes to the portable scan, which gives the
// same double.
constexpr std::size_t WORD_COPY_SIZE = 256;

// glibc's strtod over the word [first, word_end), which white space or `last` follows: in
// place when white space follows (strtod stops there at the latest), else from a copy that ends
// in a zero byte.
NumberScanResult scan_number_glibc(const char* first, const char* word_end, const char* last,
                                   double& value) {
  const auto length = static_cast<std::size_t>(word_end - first);
  if (word_end == last && length >= WORD_COPY_SIZE)
    return scan_number_portable(first, last, value);
  std::array<char, WORD_COPY_SIZE> copy;
  const char* text = first;
  if (word_end == last) {
    std::memcpy(copy.data(), first, length);
    copy[length] = '\0';
    text = copy.data();
  }
  const int saved_errno = errno;
  char* stop = nullptr;
  const double result = std::strtod(text, &stop);
  errno = saved_errno;
  if (static_cast<std::size_t>(stop - text) != length)
    return {first, std::errc::invalid_argument};
  // "nan(...)" is a NaN whose payload strtod takes from the parentheses: not read here. A plain
  // NaN is "nan" after at most a sign.
  if (std::isnan(result) && length != 3 + std::size_t{*first == '-' || *first == '+'})
    return {first, std::errc::invalid_argument};
  value = result;
  return {word_end, number_range_status(first, word_end, result)};
}
#endif

} // namespace

NumberScanResult scan_number(const char* first, const char* last, double& value) noexcept {
  const char* word_end = first;
  while (word_end < last && !is_scan_space(*word_end))
    ++word_end;
  if (word_end == first)
    return {first, std::errc::invalid_argument};
  // The common decimal forms without the C library: correctly rounded, always in range.
  double plain;
  if (plain_decimal::scan<true>(first, word_end, plain) == word_end) {
    value = plain;
    return {word_end, std::errc()};
  }
#ifdef __GLIBC__
  return scan_number_glibc(first, word_end, last, value);
#else
  return scan_number_portable(first, last, value);
#endif
}

int count_numbers(std::string_view line, int most) noexcept {
  int numbers = 0;
  for (std::size_t k = 0; k < line.size();) {
    while (k < line.size() && is_scan_space(line[k]))
      ++k;
    if (k == line.size())
      break;
    double value = 0;
    const NumberScanResult result = scan_number(line.data() + k, line.data() + line.size(), value);
    if (result.ec == std::errc::invalid_argument || ++numbers > most)
      return -1;
    k = static_cast<std::size_t>(result.ptr - line.data());
  }
  return numbers;
}

} // namespace norvalex
