// --dump: arrays of doubles of one series written as whitespace-separated text columns.
#pragma once

#include "cli/text_output.h"

namespace norvalex {

// Writes the arrays named in `names` (separated by commas) of series `series_number` of the file
// `path`: a header line "# " and the names, then one line per element index with the shortest
// round-trip text of each array's value. Every name must name exactly one block of doubles in
// the series, all with the same element count; otherwise nothing is written and the error
// names the fault. The file's blocks are read through the block reader, keeping only those of
// the names; all the arrays are loaded before the first line is written.
void write_dump(Output& out, const char* path, const char* names, int series_number);

} // namespace norvalex
