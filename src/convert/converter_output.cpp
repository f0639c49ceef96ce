#include "convert/converter_output.h"

#include "cli/diagnostics.h"
#include "cli/program_output.h"

namespace norvalex {

int tqs_open_output(const char* output_name, const char* append_name, TqsOutput& output) {
  if (output_name && append_name) {
    report_message(library_messages, static_cast<int>(Message::output_and_append), output_name,
                   append_name);
  }
  const bool append = append_name != nullptr;
  if ((!output_name && !append_name) || is_standard_output_name(output_name) ||
      is_standard_output_name(append_name)) {
    bool buffered = false;
    if (!open_standard_output(output, append, buffered)) {
      report_message(library_messages, static_cast<int>(Message::terminal_output));
    }
    return buffered ? 0 : -1;
  }
  return open_output_file(output, append ? append_name : output_name, append);
}

} // namespace norvalex
