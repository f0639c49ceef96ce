#include "convert/converter_output.h"

#include "cli/diagnostics.h"
#include "cli/program_output.h"
#include "tqs/tqs_on_output.h"

namespace norvalex {

int tqs_open_output(const char* output_name, const char* append_name, OutputFile& file,
                    TqsOutput& output) {
  if (output_name && append_name) {
    report_message(library_messages, static_cast<int>(Message::output_and_append), output_name,
                   append_name);
  }
  const bool append = append_name != nullptr;
  bool buffered = false;
  if ((!output_name && !append_name) || is_standard_output_name(output_name) ||
      is_standard_output_name(append_name)) {
    if (!open_standard_output(file, buffered)) {
      report_message(library_messages, static_cast<int>(Message::terminal_output));
    }
  } else {
    buffered = open_output_file(file, append ? append_name : output_name,
                                append ? OutputMode::append : OutputMode::replace);
  }
  tqs_use_output(output, file, append);
  return buffered ? 0 : -1;
}

} // namespace norvalex
