#include "convert/converter_output.h"

#include "cli/diagnostics.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "tqs/tqs_output_state.h"

#include <cstring>

namespace norvalex {

namespace {

// Standard output outlives every output handle, so its buffer does too.
char stdout_buffer[TQS_BUFFER_SIZE];

bool is_standard_output_name(const char* name) {
  return name && std::strcmp(name, "-") == 0;
}

} // namespace

int tqs_open_output(const char* output_name, const char* append_name, TqsOutput& output) {
  if (output_name && append_name) {
    report_message(library_messages, static_cast<int>(Message::output_and_append), output_name,
                   append_name);
  }
  const bool append = append_name != nullptr;
  if ((!output_name && !append_name) || is_standard_output_name(output_name) ||
      is_standard_output_name(append_name)) {
    if (platform_is_terminal(stdout)) {
      report_message(library_messages, static_cast<int>(Message::terminal_output));
    }
    // In text mode every 0x0A byte of the data would become 0D 0A on Windows.
    platform_set_binary(stdout);
    tqs_use_stream(output, stdout, "-", append);
    return std::setvbuf(stdout, stdout_buffer, _IOFBF, TQS_BUFFER_SIZE) == 0 ? 0 : -1;
  }
  // No signal may fall between the creation of a temporary file and the note of its undo. An
  // append opens with the signals free: it may wait for the lock of another append, and must
  // stay interruptible there; so must the open of a FIFO, which waits for a reader, and like any
  // special file is written in place, without a temporary file.
  const InterruptionHold hold(!append && !platform_is_special_file(output_name));
  const int result = tqs_open_file(output, append ? append_name : output_name, append);
  note_output_undo(tqs_output_undo(output));
  return result;
}

} // namespace norvalex
