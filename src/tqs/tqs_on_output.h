// The TQS writer on an output file that a caller inside the project owns: the programs open their
// outputs in their own code (src/cli), where their interruption handler is, and the mesh layer
// writes its TQS form into the file that it or a program opened.
#pragma once

#include "norvalex/tqs.h"
#include "platform/output_file.h"

namespace norvalex {

// Writes `output` into `file`, which the caller opened (OutputFile::open or use_stream) and which
// outlives the output; the file's name names it in messages, and `append` starts it with a
// "creator" block instead of a file header. A failed or interrupted write leaves the file given
// up, for its owner to undo; tqs_close_output commits it, as it commits a file it opened.
NORVALEX_TQS_API void tqs_use_output(TqsOutput& output, OutputFile& file, bool append);

} // namespace norvalex
