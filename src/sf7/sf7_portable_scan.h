// The C library's "%lf" as glibc implements it, without the C library: which characters a
// directive takes, whether it converts, and the double it stores. Builds whose C library reads
// numbers otherwise (MinGW's sscanf does not round every number correctly) read point lines
// with this, so that a map gives the same doubles everywhere; the tests compare it with glibc's
// sscanf on generated and awkward lines.
#pragma once

#include "sf7/sf7_exact.h"

#include <span>

namespace norvalex {

// One "%lf" directive at `text`: skips white space, then takes the longest text that glibc's
// scanner takes (decimal and hexadecimal numbers, "inf", "infinity", "nan" in any case, with a
// sign) and converts it as glibc's strtod does: correctly rounded, to infinity or zero out of
// range. Returns where the next directive starts and sets `value`, or returns nullptr when the
// directive converts nothing (`value` is then unchanged).
const char* scan_double_as_glibc(const char* text, double& value) noexcept;

// "%lf%lf%lf%lf%lf%lf" over `line`: how many of the six numbers were converted, stopping at the
// first directive that fails, as sscanf's count (an input failure before the first counts 0).
int scan_point_portable(const char* line, std::span<double, SF7_COLUMN_COUNT> values) noexcept;

// The same with values.size() "%lf" directives.
NORVALEX_SF7_API int scan_numbers_portable(const char* line, std::span<double> values) noexcept;

// The word at `p`, up to the first white space or `end`, read as glibc's strtod reads it when
// strtod takes the whole word: decimal and hexadecimal numbers correctly rounded, to infinity or
// zero out of range, "inf", "infinity" and "nan" in any case, each with an optional sign. Returns
// the end of the word and sets `value`, or returns nullptr (`value` unchanged) when `p` is at
// `end` or at white space, when strtod would take less than the word ("1.5abc", "1e", "0x", a
// zero byte), or when the word is a NaN with a payload ("nan(1)"), whose bits are glibc's own
// business. Reads nothing at or past `end`.
NORVALEX_SF7_API const char* scan_token_portable(const char* p, const char* end,
                                                 double& value) noexcept;

} // namespace norvalex
