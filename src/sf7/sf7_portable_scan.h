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

} // namespace norvalex
