// Where the converter's TQS data go, as its command line asks.
#pragma once

#include "norvalex/tqs.h"
#include "platform/output_file.h"

namespace norvalex {

// Opens standard output when neither name is given or either is exactly "-", otherwise the
// named file: replaced for `output_name`, written at its end for `append_name`, with the undo of
// the file noted for an interrupting signal (cli/program_output.h). `output` writes into `file`,
// and tqs_close_output commits it. Giving both names and a terminal on standard output are
// refused with messages 9 and 10, which end the process; a file that cannot be opened throws.
// Returns 0 when the stream got its full buffer, -1 otherwise.
int tqs_open_output(const char* output_name, const char* append_name, OutputFile& file,
                    TqsOutput& output);

} // namespace norvalex
