#include "cli/diagnostics.h"

#include "diag/raise.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <string>

namespace norvalex {

const char* input_file_name = "";
std::int32_t input_line_number = 0;

namespace {

// "Error: ", the location "<file>(<line>): " unless `file` is null, then the caller's text. File
// names and texts hold bytes from outside, so their control bytes are escaped; the newline that
// ends the caller's text is the program's own.
[[gnu::format(gnu_printf, 3, 0)]] void
print_converter_error(const char* file, std::int32_t line, const char* format, std::va_list args) {
  std::string text;
  if (file != nullptr) {
    text = std::string(file) + "(" + std::to_string(line) + "): ";
  }
  text += format_whole_text(format, args);
  std::fputs("Error: ", stderr);
  print_stderr_escaped(text.c_str());
}

[[gnu::format(gnu_printf, 2, 0)]] void
print_library_message(const char* severity, const char* format, std::va_list args) {
  const std::string line = escape_control_bytes(program_name) + ": " + severity + ": " +
                           escape_control_bytes(format_whole_text(format, args)) + "\n";
  // Buffered TQS data on standard output leaves the process ahead of the message.
  std::fflush(stdout);
  std::fflush(stderr);
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

} // namespace

// The argument list is ended before the process is: a process-end hook may throw instead.
void report_error(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  print_converter_error(input_file_name, input_line_number, format, args);
  va_end(args);
  end_process(1);
}

void report_fatal(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  print_converter_error(nullptr, 0, format, args);
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

namespace {

constexpr std::array<MessageEntry, MESSAGE_COUNT> make_library_messages() {
  std::array<MessageEntry, MESSAGE_COUNT> rows{};
  for (std::size_t number = 0; number < MESSAGE_COUNT; ++number)
    rows[number] = {&fatal_handler_slot, message_formats[number]};
  return rows;
}

} // namespace

constexpr std::array<MessageEntry, MESSAGE_COUNT> library_messages = make_library_messages();

void report_message(std::span<const MessageEntry> table, int number, ...) {
  const MessageEntry& entry = table[static_cast<std::size_t>(number)];
  std::va_list args;
  va_start(args, number);
  const std::string text = format_message_text(entry.format, args);
  va_end(args);
  // The slot is read now, so a handler stored after start-up takes every later message.
  MessageHandler handler = *entry.handler_slot;
  handler("%s", text.c_str());
}

const char* file_in_work = nullptr;
bool memory_errors_name_the_file = false;

namespace {

// Writes `text` to standard error with its control bytes escaped, allocating nothing.
void put_escaped(const char* text) {
  static constexpr char hex_digits[] = "0123456789ABCDEF";
  for (const char* p = text; *p != '\0'; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    if (byte < 0x20 || byte == 0x7F) {
      const char escape[] = {'\\', 'x', hex_digits[byte >> 4], hex_digits[byte & 0xF], '\0'};
      std::fputs(escape, stderr);
    } else {
      std::fputc(*p, stderr);
    }
  }
}

} // namespace

void report_out_of_memory() {
  std::fflush(stdout);
  std::fflush(stderr);
  put_escaped(program_name);
  std::fputs(": Error: ", stderr);
  if (file_in_work != nullptr) {
    std::fputc('"', stderr);
    put_escaped(file_in_work);
    std::fputs("\": ", stderr);
  }
  std::fputs(message_format(Message::not_enough_memory), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  end_process(1);
}

bool input_errors_name_the_program = false;

void report_library_error(const Error& error) {
  if (memory_errors_name_the_file && error.system_error() == ENOMEM &&
      (error.origin() == ErrorOrigin::input_file ||
       error.message_number() == static_cast<int>(Message::not_enough_memory))) {
    report_out_of_memory();
  }
  if (input_errors_name_the_program && error.origin() != ErrorOrigin::message &&
      error.origin() != ErrorOrigin::interrupted) {
    fatal_message_handler("%s", error.what());
  }
  switch (error.origin()) {
  case ErrorOrigin::message: {
    const MessageEntry& entry = library_messages[static_cast<std::size_t>(error.message_number())];
    MessageHandler handler = *entry.handler_slot;
    handler("%s", error.what());
    break;
  }
  case ErrorOrigin::input_line:
    // The text is "<file>(<line>): <detail>", the location that report_error prints.
    input_line_number = error.line_number();
    [[fallthrough]];
  case ErrorOrigin::input_file:
    report_fatal("%s\n", error.what());
  case ErrorOrigin::interrupted:
    // The programs set no interruption check, so this comes from a harness that does.
    fatal_message_handler("%s", error.what());
  }
  end_process(1);
}

void refuse(const std::string& text) {
  fatal_message_handler("%s", text.c_str());
  end_process(1); // the handler has ended the process already
}

} // namespace norvalex
