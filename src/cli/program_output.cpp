#include "cli/program_output.h"

#include "diag/raise.h"
#include "platform/platform.h"

#include <cstring>

namespace norvalex {

namespace {

// Standard output outlives every output file, so its buffer does too.
char stdout_buffer[OUTPUT_BUFFER_SIZE];

} // namespace

bool is_standard_output_name(const char* name) {
  return name && std::strcmp(name, "-") == 0;
}

bool open_standard_output(OutputFile& file, bool& buffered) {
  if (platform_is_terminal(stdout)) {
    return false;
  }
  // In text mode every 0x0A byte of the data would become 0D 0A on Windows.
  platform_set_binary(stdout);
  file.use_stream(stdout, "-");
  buffered = std::setvbuf(stdout, stdout_buffer, _IOFBF, OUTPUT_BUFFER_SIZE) == 0;
  return true;
}

bool open_output_file(OutputFile& file, const char* name, OutputMode mode) {
  if (const int error_number = file.open(name, mode))
    raise_file_error(name, error_number);
  return file.buffered();
}

void close_output_file(OutputFile& file) {
  if (const int error_number = file.commit())
    raise_file_error(file.name(), error_number);
}

} // namespace norvalex
