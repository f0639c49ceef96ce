#include "cli/program_output.h"

#include "platform/platform.h"
#include "platform/process.h"
#include "tqs/tqs_output_state.h"

#include <cstring>

namespace norvalex {

namespace {

// Standard output outlives every output handle, so its buffer does too.
char stdout_buffer[TQS_BUFFER_SIZE];

} // namespace

bool is_standard_output_name(const char* name) {
  return name && std::strcmp(name, "-") == 0;
}

bool open_standard_output(TqsOutput& output, bool append, bool& buffered) {
  if (platform_is_terminal(stdout)) {
    return false;
  }
  // In text mode every 0x0A byte of the data would become 0D 0A on Windows.
  platform_set_binary(stdout);
  tqs_use_stream(output, stdout, "-", append);
  buffered = std::setvbuf(stdout, stdout_buffer, _IOFBF, TQS_BUFFER_SIZE) == 0;
  return true;
}

int open_output_file(TqsOutput& output, const char* name, bool append) {
  // No signal may fall between the creation of a temporary file and the note of its undo. An
  // append opens with the signals free: it may wait for the lock of another append, and must
  // stay interruptible there; so must the open of a FIFO, which waits for a reader, and like any
  // special file is written in place, without a temporary file.
  const InterruptionHold hold(!append && !platform_is_special_file(name));
  const int result = tqs_open_file(output, name, append);
  note_output_undo(tqs_output_undo(output));
  return result;
}

} // namespace norvalex
