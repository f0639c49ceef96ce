// Numbers in text, one word at a time: which bytes separate words, and the scan of one word as a
// number, shaped like std::from_chars, with exactly the doubles that glibc's strtod gives for it.
// Behind it, the common decimal forms are read without the C library (plain_decimal.h); every
// other word goes to glibc's strtod where the C library is glibc, and to scan_number_portable
// (portable_number.h), which gives glibc's results, elsewhere. For whole lines of numbers read
// in place, line_scan.h has the faster scans that give the same doubles.
#pragma once

#include <string_view>
#include <system_error>

namespace norvalex {

// White space between numbers, as strtod and scanf skip it: space, tab, line feed, vertical tab,
// form feed and carriage return.
constexpr bool is_scan_space(char c) noexcept {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// Where a scan stopped, and how it went.
struct NumberScanResult {
  const char* ptr;
  std::errc ec;
};

// Reads the word at `first`, the bytes up to the first white space or `last`, as one number,
// exactly as glibc's strtod reads it when strtod takes the whole word: decimal and hexadecimal
// numbers correctly rounded, "inf", "infinity" and "nan" in any case, each after one optional
// sign. Reads nothing at or past `last`, allocates nothing and leaves errno as it was.
//
// - ec == std::errc(): the word is one number within the range of doubles (subnormal numbers
//   included); `value` holds it and `ptr` is the end of the word.
// - ec == std::errc::result_out_of_range: the word is one decimal or hexadecimal number beyond
//   the range of doubles ("1e400", "-1e-400"). Unlike std::from_chars, `value` then holds what
//   strtod gives for it, infinity or zero with the number's sign, and `ptr` is the end of the
//   word.
// - ec == std::errc::invalid_argument: `value` is unchanged and `ptr` is `first`, because
//   - no word starts at `first`: it is `last`, or white space stands there;
//   - the word is not entirely one number: strtod would take less of it ("1.5abc", "1e", "0x",
//     "--5", "1,5", "infinit") or nothing ("x", ".", "-"); a zero byte in a word ends what
//     strtod takes;
//   - the word is a NaN with a payload ("nan(1)"), whose bits are the C library's own business.
NumberScanResult scan_number(const char* first, const char* last, double& value) noexcept;

// How many numbers `line` holds, words apart by white space, each read by scan_number (a number
// beyond the range of doubles counts); -1 when a word is no number or there are more than
// `most`. For the signatures that tell a form by the numbers of its first lines.
int count_numbers(std::string_view line, int most) noexcept;

} // namespace norvalex
