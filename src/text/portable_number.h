// glibc's strtod without the C library, for builds whose C library reads numbers otherwise
// (MinGW's strtod does not round every number correctly), so that a file gives the same doubles
// everywhere; the tests compare it with glibc's strtod on generated and awkward words.
#pragma once

#include "text/number_scan.h"

namespace norvalex {

// What strtod gives for the digits [first, last), which hold a mantissa with an optional point
// and an exponent, without sign: decimal digits with an exponent after "e" or "E", or, when
// `hex`, hexadecimal digits (after the "0x", which is not in the text) with a binary exponent
// after "p" or "P". Correctly rounded; beyond the range of doubles infinity or zero, as strtod
// gives them. The text must be one number of that form: at least one digit, an exponent with
// at least one digit.
double strtod_magnitude(const char* first, const char* last, bool hex) noexcept;

// The status that scan_number gives for the word [first, last) that strtod read whole as
// `value`: std::errc::result_out_of_range for a number that strtod took to infinity or to zero
// from a mantissa that is not zero, std::errc() for every other.
std::errc number_range_status(const char* first, const char* last, double value) noexcept;

// scan_number with glibc's results where the C library is not glibc, from std::from_chars.
NumberScanResult scan_number_portable(const char* first, const char* last, double& value) noexcept;

} // namespace norvalex
