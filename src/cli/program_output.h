// Where a program's output goes: standard output, or a named file that is replaced whole (or
// appended to under a lock) and undone when the run fails or is interrupted. Opened here, in the
// program's own code, so that the undo is noted for the program's interruption handler.
#pragma once

#include "platform/output_file.h"

namespace norvalex {

// True when `name` is exactly "-", which names standard output.
bool is_standard_output_name(const char* name);

// Standard output as `file`, named "-", in binary mode with the full buffer; false, with nothing
// done, when it is a terminal, which the caller refuses. Returns through `buffered` whether the
// buffer could be set.
bool open_standard_output(OutputFile& file, bool& buffered);

// Opens the file `name` as `file` in `mode`, with its undo noted for an interruption
// (platform/process.h). A file that cannot be opened throws message 0 with `name`. Returns
// whether the stream got its full buffer.
bool open_output_file(OutputFile& file, const char* name, OutputMode mode);

// Commits `file`; a failure throws message 0 with its name, after the file has been undone.
void close_output_file(OutputFile& file);

} // namespace norvalex
