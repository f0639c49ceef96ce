// The numbers of an SF7 point line as the C library's "%lf" directives read them: how many of the
// first N a sscanf with N "%lf" converts, stopping at the first it cannot, and the doubles it
// stores. Where the C library is glibc, its sscanf itself (the reference); elsewhere the scan
// below, which takes the characters glibc's scanner takes and converts them as glibc's strtod
// (text/portable_number.h), so that a map gives the same doubles everywhere (MinGW's sscanf
// does not round every number correctly). The tests compare the two on generated and awkward
// lines. The fast scan of the text layer (text/line_scan.h) gives the same doubles for the
// lines it takes.
#pragma once

#include "norvalex/sf7.h"
// The white space that "%lf" skips is is_scan_space's.
#include "text/number_scan.h"

#include <cstddef>
#include <span>

namespace norvalex {

// Most numbers that the reading takes from one line, and so most columns of a table.
inline constexpr std::size_t SF7_MAX_LINE_NUMBERS = 32;

// Scans the numbers of one point line as glibc's "%lf" does: with glibc's sscanf where the C
// library is glibc, with scan_point_portable elsewhere. Returns how many of the first six were
// found, stopping at the first that cannot be read.
NORVALEX_SF7_API int scan_point_exact(const char* line, std::span<double, SF7_COLUMN_COUNT> values);

// The same for the first values.size() numbers (at most SF7_MAX_LINE_NUMBERS): one sscanf with
// as many "%lf" directives (six go through scan_point_exact itself), or scan_numbers_portable
// where the C library is not glibc. Returns how many were found.
NORVALEX_SF7_API int scan_numbers_exact(const char* line, std::span<double> values);

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
int scan_numbers_portable(const char* line, std::span<double> values) noexcept;

} // namespace norvalex
