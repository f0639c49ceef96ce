// Where a program's output goes: standard output, or a named file written with the TQS library's
// guarantees (replaced whole, or appended to under a lock) and undone when the run is
// interrupted.
#pragma once

#include "norvalex/tqs.h"

namespace norvalex {

// True when `name` is exactly "-", which names standard output.
bool is_standard_output_name(const char* name);

// Standard output for the output's data, in binary mode with the full buffer; false, with
// nothing done, when it is a terminal, which the caller refuses. Returns through `buffered`
// whether the buffer could be set.
bool open_standard_output(TqsOutput& output, bool append, bool& buffered);

// Opens the file `name` (tqs_open_file) with the undo of the output noted for an interruption
// (platform/process.h). Returns as tqs_open_file does; a file that cannot be opened throws.
int open_output_file(TqsOutput& output, const char* name, bool append);

} // namespace norvalex
