// Fast scanning of point lines: the common forms of decimal numbers read in place, with exactly
// the doubles the exact path (scan_point_exact) gives for the same line.
#pragma once

#include "convert/sf7_reader.h"

#include <cstddef>
#include <span>

// Zero bytes that must follow the buffered text given to scan_point_fast: it classifies up to
// 144 bytes from the start of a line at once, whatever the line's length.
inline constexpr std::size_t SF7_SCAN_PADDING = 192;

// Scans the point line that starts at `line`, inside buffered text that ends at `end`, where
// SF7_SCAN_PADDING zero bytes must stand. Returns the position just past the line's line feed when
// the line is shorter than the line buffer's piece limit and starts with six numbers that are each
//   [+|-] digits [. [digits]] | [+|-] . digits, then optionally (e|E) [+|-] digits,
// each followed by white space; `values` then holds them exactly as scan_point_exact reads them
// (correctly rounded). Returns nullptr for every other line (fewer numbers, hexadecimal,
// infinities and NaNs, a number glued to other characters, a zero byte, a value out of the
// range of doubles, a line without its line feed in the buffer, a long line): such a line is
// for the exact path, and `values` is then unspecified.
const char* scan_point_fast(const char* line, const char* end,
                            std::span<double, SF7_COLUMN_COUNT> values) noexcept;
