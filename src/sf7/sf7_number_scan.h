// The reader's exact and fast number scans for text that is a stream of numbers separated by
// white space, such as the T7 grid files that the post-processor also writes: a point is 4 or 2
// numbers, normally one point a line, but old files wrap a point over several lines or put
// several points on one line. A caller reads such a file in blocks into a buffer with
// SF7_SCAN_PADDING zero bytes after the buffered text, takes each line that
// scan_line_numbers_fast reads in place, and reads every other line word by word with
// scan_token_exact. Both give exactly the doubles that glibc's strtod gives
// for the same words, under the conditions that sf7_fast_scan.h lists.
#pragma once

#include "sf7/sf7_fast_scan.h"
#include "sf7/sf7_input.h"

#include <cstddef>
#include <span>

namespace norvalex {

// Reads every word of the line at `line` as a number, inside buffered text that ends at `end`,
// where SF7_SCAN_PADDING zero bytes must stand. Returns the position just past the line's line
// feed, with the numbers in the first `count` of `values`, when each word of the line is a
// number of the forms that scan_point_fast reads, the words are at most values.size(), and the
// line is shorter than the line buffer's piece limit (1023 characters, a CR right before the
// line feed not counted); a line of white space alone gives a count of 0. Returns nullptr for
// every other line (a word that is no plain number: hexadecimal, infinities and NaNs, a value
// out of the range of doubles, "1.5abc"; more words than values; a zero byte; a long line; no
// line feed in the buffer): the caller then reads that line with scan_token_exact. `count` and
// `values` are then unspecified. `memo` carries the layout of one line to the next; a memo is
// for lines of this scan or of scan_point_fast, one kind at a time, and never changes a result.
NORVALEX_SF7_API const char* scan_line_numbers_fast(Sf7ScanMemo& memo, const char* line,
                                                    const char* end, std::span<double> values,
                                                    std::size_t& count) noexcept;

// Reads the word at `p`, up to the first white space (blank, tab, line feed, vertical tab, form
// feed, carriage return) or `end`, as one number, exactly as glibc's strtod reads it, and only
// when strtod takes the whole word: decimal and hexadecimal numbers correctly rounded (to
// infinity or zero with their sign out of the range of doubles), "inf", "infinity" and "nan" in
// any case, each with an optional sign. Returns the end of the word and sets `value`; returns
// nullptr and leaves `value` as it was when `p` is at `end` or at white space, when the word is
// not entirely a number ("1.5abc", "1e", "0x", "--5", a zero byte in it), or when it is a NaN
// with a payload ("nan(1)"). Reads nothing at or past `end`, and leaves errno as it was. Where
// the C library is not glibc, scan_token_portable (sf7_portable_scan.h) gives glibc's results.
NORVALEX_SF7_API const char* scan_token_exact(const char* p, const char* end,
                                              double& value) noexcept;

} // namespace norvalex
