#include "cli/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

// Never read before the option parser sets it, but a library message raised without a parse
// (a test, another caller of the library) still gets a sensible name.
const char* program_name = "norvalex";
const char* input_file_name = "";
std::int32_t input_line_number = 0;

void print_stderr(const char* text) {
  std::fputs(text, stderr);
}

ProcessEndHook process_end_hook = nullptr;

void end_process(int status) {
  if (process_end_hook != nullptr)
    process_end_hook(status);
  std::exit(status);
}

namespace {

[[gnu::format(printf, 2, 0)]] void print_converter_error(bool with_location, const char* format,
                                                         std::va_list args) {
  std::fputs("Error: ", stderr);
  if (with_location) {
    std::fprintf(stderr, "%s(%d): ", input_file_name, static_cast<int>(input_line_number));
  }
  std::vfprintf(stderr, format, args);
}

[[gnu::format(printf, 2, 0)]] void print_library_message(const char* severity, const char* format,
                                                         std::va_list args) {
  // Buffered TQS data on standard output leaves the process ahead of the message.
  std::fflush(stdout);
  std::fflush(stderr);
  std::fprintf(stderr, "%s: %s: ", program_name, severity);
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

} // namespace

// The argument list is ended before the process is: a process-end hook may throw instead.
void report_error(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  print_converter_error(true, format, args);
  va_end(args);
  end_process(1);
}

void report_fatal(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  print_converter_error(false, format, args);
  va_end(args);
  end_process(1);
}

int fatal_message_handler(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  print_library_message("Error", format, args);
  va_end(args);
  end_process(1);
}

int warning_message_handler(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  print_library_message("Warning", format, args);
  va_end(args);
  return 0;
}

MessageHandler fatal_handler_slot = fatal_message_handler;
MessageHandler warning_handler_slot = warning_message_handler;

constexpr std::array<MessageEntry, 11> library_messages{{
    {&fatal_handler_slot, "\"%s\": %s"},
    {&fatal_handler_slot, "Not enough memory"},
    {&fatal_handler_slot, "\"%s\": Unexpected end of file"},
    {&fatal_handler_slot, "\"%s\": Not a TQ-File"},
    {&fatal_handler_slot, "\"%s\": Invalid TQS-version"},
    {&fatal_handler_slot, "Invalid memory representation of datafile"},
    {&fatal_handler_slot, "Writing unknown data type to \"%s\""},
    {&fatal_handler_slot, "Writing unknown data type to memory"},
    {&fatal_handler_slot, "Invalid number of command line options"},
    {&fatal_handler_slot,
     "Output cannot be written to \"%s\" and appended to \"%s\" at the same time"},
    {&fatal_handler_slot, "TQS output can not be read from or written to a terminal"},
}};

void report_message(std::span<const MessageEntry> table, int number, ...) {
  const MessageEntry& entry = table[static_cast<std::size_t>(number)];
  char text[MESSAGE_TEXT_LIMIT + 1];
  std::va_list args;
  va_start(args, number);
  std::vsnprintf(text, sizeof text, entry.format, args); // cuts a longer text, never overruns
  va_end(args);
  // The slot is read now, so a handler stored after start-up takes every later message.
  MessageHandler handler = *entry.handler_slot;
  handler("%s", text);
}
