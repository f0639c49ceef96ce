// What the writer keeps of an output beside its stream and name, and the program's access to the
// undo of an unfinished output, which its interruption handler copies (platform/process.h).
#pragma once

#include "norvalex/tqs.h"
#include "platform/file_ops.h"

#include <memory>

namespace norvalex {

struct TqsOutput::State {
  bool owns_stream = false; // the writer opened the stream and closes it
  bool failed = false;      // a write failed: what the stream holds may end inside a record
  // The stream buffer of a file the writer opened, released after the stream is closed.
  std::unique_ptr<char[]> buffer;
  // How the output is undone until it is finished; cleared by tqs_close_output.
  OutputUndo undo;
};

// The undo of `output`; nothing to undo for an output that is not a file the writer opened.
NORVALEX_TQS_API const OutputUndo& tqs_output_undo(const TqsOutput& output);

} // namespace norvalex
