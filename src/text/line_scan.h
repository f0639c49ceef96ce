// Fast scans of whole lines of numbers in buffered text, read in place: the common forms of
// decimal numbers, with exactly the doubles that scan_number (number_scan.h), and so glibc's
// strtod, gives for each of them, under the conditions that plain_decimal.h lists. A line that
// they do not take is left to the caller, who reads it word by word with scan_number (or by the
// rules of its format). They are the performance path of the text readers: a line is classified
// sixteen bytes at a time, and a line that differs from the one before only in its digits and
// signs, as most lines of a solver's table do, is read from what the scan remembers of that one.
#pragma once

#include "text/text_input.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace norvalex {

// The bytes from a line's start that the scans classify at once, sixteen at a time: a line
// whose line feed stands within them is read from bit masks, a longer one a character at a
// time. Nine numbers of a 14-character layout and their line end fit.
inline constexpr std::size_t SCAN_WINDOW = 256;

// Zero bytes that must follow the buffered text given to the scans: they classify up to
// SCAN_WINDOW + 16 bytes from the start of a line at once, whatever the line's length.
inline constexpr std::size_t SCAN_PADDING = 320;

// Most numbers of a line whose places a memo holds; lines of more are read a character at a
// time.
inline constexpr std::size_t SCAN_MEMO_NUMBERS = 32;

// Where a number of the usual shape stands in a line and how it is written:
// [sign] digits "." digits [(E|e) (+|-) digit digit], or [sign] digits.
struct TokenShape {
  std::uint8_t start;    // offset of the number in the line
  std::uint8_t sign;     // 1 when a sign comes first
  std::uint8_t point;    // digits before the decimal point (all of a whole number's)
  std::uint8_t digits;   // all digits of the mantissa, at most 16
  std::uint8_t fraction; // digits after the decimal point
  std::uint8_t exponent; // offset of the E from the number's start, 0 without one
};

// What the scans remember of the last line they read in full: the places and shapes of its
// numbers and the line's bytes with digits and signs blotted out, up to its line feed. The next
// lines that match it are read without classifying them again. It serves one kind of scan at a
// time: lines of `count` leading numbers for scan_leading_numbers_fast, or whole lines for
// scan_line_numbers_fast.
struct ScanMemo {
  bool usable = false;
  unsigned misses = 0; // lines in a row not of the remembered layout, and then of the memo's rest
  bool whole_line = false; // made by scan_line_numbers_fast: every word of the line is a number
  unsigned count = 0;      // the numbers it holds shapes of
  unsigned line_feed = 0;  // offset of the line feed, below SCAN_WINDOW
  alignas(16) std::array<unsigned char, SCAN_WINDOW> key{};
  std::array<TokenShape, SCAN_MEMO_NUMBERS> shapes{};
};

// Scans the line that starts at `line`, inside buffered text that ends at `end`, where
// SCAN_PADDING zero bytes must stand, for its first values.size() numbers (at least 1). Returns
// the position just past the line's line feed when the line is shorter than the line buffer's
// piece limit (LINE_PIECE_LIMIT, a CR right before the line feed not counted) and starts with
// values.size() numbers that are each
//   [+|-] digits [. [digits]] | [+|-] . digits, then optionally (e|E) [+|-] digits,
// each followed by white space; `values` then holds them, correctly rounded. The text after the
// last of them is not examined. Returns nullptr for every other line (fewer numbers,
// hexadecimal, infinities and NaNs, a number glued to other characters, a zero byte, a value out
// of the range of doubles, a line without its line feed in the buffer, a long line): `values`
// is then unspecified. `memo` carries what one line teaches the scan of the next ones; it never
// changes a result.
const char* scan_leading_numbers_fast(ScanMemo& memo, const char* line, const char* end,
                                      std::span<double> values) noexcept;

// Reads every word of the line at `line` as a number, inside buffered text that ends at `end`,
// where SCAN_PADDING zero bytes must stand. Returns the position just past the line's line feed,
// with the numbers in the first `count` of `values`, when each word of the line is a number of
// the forms that scan_leading_numbers_fast reads, the words are at most values.size(), and the
// line is shorter than the line buffer's piece limit; a line of white space alone gives a count
// of 0. Returns nullptr for every other line (a word that is no plain number: hexadecimal,
// infinities and NaNs, a value out of the range of doubles, "1.5abc"; more words than values; a
// zero byte; a long line; no line feed in the buffer): `count` and `values` are then
// unspecified. `memo` is as above.
const char* scan_line_numbers_fast(ScanMemo& memo, const char* line, const char* end,
                                   std::span<double> values, std::size_t& count) noexcept;

} // namespace norvalex
