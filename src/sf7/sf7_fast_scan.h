// Fast scanning of point lines: the common forms of decimal numbers read in place, with exactly
// the doubles the exact path (scan_point_exact) gives for the same line.
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

// Zero bytes that must follow the buffered text given to scan_point_fast: it classifies up to
// 144 bytes from the start of a line at once, whatever the line's length.
inline constexpr std::size_t SF7_SCAN_PADDING = 192;

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

// What scan_point_fast remembers of the last line it read in full: the places and shapes of
// its six numbers and the line's bytes with digits and signs blotted out, up to its line feed.
// The next lines that match it are read without classifying them again.
struct Sf7ScanMemo {
  bool usable = false;
  unsigned line_feed = 0; // offset of the line feed, below 128
  alignas(16) std::array<unsigned char, 128> key{};
  std::array<Sf7TokenShape, SF7_COLUMN_COUNT> shapes{};
};

// Scans the point line that starts at `line`, inside buffered text that ends at `end`, where
// SF7_SCAN_PADDING zero bytes must stand. Returns the position just past the line's line feed when
// the line is shorter than the line buffer's piece limit and starts with six numbers that are each
//   [+|-] digits [. [digits]] | [+|-] . digits, then optionally (e|E) [+|-] digits,
// each followed by white space; `values` then holds them exactly as scan_point_exact reads them
// (correctly rounded). Returns nullptr for every other line (fewer numbers, hexadecimal,
// infinities and NaNs, a number glued to other characters, a zero byte, a value out of the
// range of doubles, a line without its line feed in the buffer, a long line): such a line is
// for the exact path, and `values` is then unspecified.
// `memo` carries what one line teaches the scan of the next ones; it never changes a result.
const char* scan_point_fast(Sf7ScanMemo& memo, const char* line, const char* end,
                            std::span<double, SF7_COLUMN_COUNT> values) noexcept;

} // namespace norvalex
