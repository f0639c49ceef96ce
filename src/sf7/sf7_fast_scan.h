// Fast scanning of point lines: the common forms of decimal numbers read in place, with exactly
// the doubles the exact path (scan_point_exact, scan_numbers_exact) gives for the same line.
//
// That equality rests on what the exact path's "%lf" does, which the scan cannot check:
// - the C numeric locale (a "." decimal point, no grouping): the programs never call setlocale,
//   and a caller that sets another LC_NUMERIC changes "%lf" but not this scan;
// - round-to-nearest: the products and quotients below round in the current rounding mode,
//   "%lf" of glibc always to nearest, so a caller must not change the mode while reading;
// - a correctly rounding strtod behind "%lf", as glibc's is (elsewhere the exact path is
//   scan_point_portable, which converts with std::from_chars); std::from_chars, used for the
//   rare numbers, is correctly rounded by definition;
// - double arithmetic in double precision and no fused multiply-add (FLT_EVAL_METHOD 0, the
//   library is compiled with -ffp-contract=off); elsewhere every number goes through from_chars.
#pragma once

#include "sf7/sf7_exact.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace norvalex {

// The bytes from a line's start that the scan classifies at once, sixteen at a time: a line
// whose line feed stands within them is read from bit masks, a longer one a character at a
// time. Nine numbers of the solver's 14-character layout and their line end fit.
inline constexpr std::size_t SF7_SCAN_WINDOW = 256;

// Zero bytes that must follow the buffered text given to the scans: they classify up to
// SF7_SCAN_WINDOW + 16 bytes from the start of a line at once, whatever the line's length.
inline constexpr std::size_t SF7_SCAN_PADDING = 320;

// Where a number of the usual shape stands in a point line and how it is written:
// [sign] digits "." digits [(E|e) (+|-) digit digit].
struct Sf7TokenShape {
  std::uint8_t start;    // offset of the number in the line
  std::uint8_t sign;     // 1 when a sign comes first
  std::uint8_t point;    // digits before the decimal point
  std::uint8_t digits;   // all digits of the mantissa, at most 7
  std::uint8_t fraction; // digits after the decimal point
  std::uint8_t exponent; // offset of the E from the number's start, 0 without one
};

// What the scans remember of the last line they read in full: the places and shapes of its
// numbers and the line's bytes with digits and signs blotted out, up to its line feed. The next
// lines that match it are read without classifying them again. It serves one kind of scan at a
// time: lines of `count` numbers for scan_point_fast, or whole lines for scan_line_numbers_fast.
struct Sf7ScanMemo {
  bool usable = false;
  bool whole_line = false; // made by scan_line_numbers_fast: every word of the line is a number
  unsigned count = 0;      // the numbers it holds shapes of
  unsigned line_feed = 0;  // offset of the line feed, below SF7_SCAN_WINDOW
  alignas(16) std::array<unsigned char, SF7_SCAN_WINDOW> key{};
  std::array<Sf7TokenShape, SF7_MAX_LINE_NUMBERS> shapes{};
};

// Scans the point line that starts at `line`, inside buffered text that ends at `end`, where
// SF7_SCAN_PADDING zero bytes must stand, for its first values.size() numbers (at least 1;
// more than SF7_MAX_LINE_NUMBERS are read a character at a time, without the memo). Returns the
// position just past the line's line feed when the line is shorter than the line buffer's piece
// limit and starts with values.size() numbers that are each
//   [+|-] digits [. [digits]] | [+|-] . digits, then optionally (e|E) [+|-] digits,
// each followed by white space; `values` then holds them exactly as scan_numbers_exact reads
// them (correctly rounded). The text after the last of them is not examined. Returns nullptr for
// every other line (fewer numbers, hexadecimal, infinities and NaNs, a number glued to other
// characters, a zero byte, a value out of the range of doubles, a line without its line feed in
// the buffer, a long line): such a line is for the exact path, and `values` is then unspecified.
// `memo` carries what one line teaches the scan of the next ones; it never changes a result.
NORVALEX_SF7_API const char* scan_point_fast(Sf7ScanMemo& memo, const char* line, const char* end,
                                             std::span<double> values) noexcept;

} // namespace norvalex
