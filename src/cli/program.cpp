#include "cli/program.h"

#include "platform/process.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace norvalex {

void prepare_process(bool writes_files) {
  platform_binary_standard_streams();
  if (!writes_files) {
    platform_ignore_broken_pipe_signal();
    return;
  }
  occupy_closed_standard_descriptors();
  ignore_output_failure_signals();
  undo_output_on_interruption();
}

namespace {

bool reader_quitting_ends_quietly = false;

} // namespace

void end_quietly_when_reader_quits() {
  reader_quitting_ends_quietly = true;
}

void end_if_reader_quit(int error_number) {
  if (!reader_quitting_ends_quietly || error_number != EPIPE)
    return;
  if (process_end_hook != nullptr)
    process_end_hook(platform_broken_pipe_status());
  platform_end_by_broken_pipe();
}

// Never read before the option parser sets it, but a message raised without a parse (a test)
// still gets a sensible name.
const char* program_name = "norvalex";

void print_stderr(const char* text) {
  std::fputs(text, stderr);
}

void print_stderr_escaped(const char* line) {
  std::string_view text = line;
  const bool ends_line = !text.empty() && text.back() == '\n';
  if (ends_line)
    text.remove_suffix(1);
  std::string shown = escape_control_bytes(text);
  if (ends_line)
    shown += '\n';
  std::fputs(shown.c_str(), stderr);
}

ProcessEndHook process_end_hook = nullptr;

void end_process(int status) {
  if (process_end_hook != nullptr)
    process_end_hook(status);
  std::exit(status);
}

} // namespace norvalex
