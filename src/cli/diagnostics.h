// The programs' error and warning output: the converter's own error lines, the handlers of the
// library's numbered messages, and the turning of a library error (norvalex::Error) into the
// program's exact line on standard error and exit status 1. Every line shows the control bytes
// of its file names, texts and program name as escape_control_bytes does (src/cli/process.h):
// only the newline that ends it is the program's own.
#pragma once

#include "cli/process.h"
#include "norvalex/error.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace norvalex {

// Location of the converter's errors: the input path as given on the command line and the
// number of input lines read so far (0 before the first line). Set from a reading's error.
extern const char* input_file_name;
extern std::int32_t input_line_number;

// "Error: " + "<input>(<line>): " + the formatted text (which carries its own newline); exit 1.
[[noreturn, gnu::format(printf, 1, 2)]] void report_error(const char* format, ...);
// "Error: " + the formatted text; exit 1.
[[noreturn, gnu::format(printf, 1, 2)]] void report_fatal(const char* format, ...);

// Handles one library message; called with "%s" and the finished text. The result is unused.
using MessageHandler = int (*)(const char* format, ...);

// Prints "<program>: Error: <text>\n" after flushing standard output, then exits with status 1.
[[gnu::format(printf, 1, 2)]] int fatal_message_handler(const char* format, ...);
// Prints "<program>: Warning: <text>\n" after flushing standard output, and returns.
[[gnu::format(printf, 1, 2)]] int warning_message_handler(const char* format, ...);

// Replaceable handlers: a message goes to whatever its row's slot holds when it is raised.
extern MessageHandler fatal_handler_slot;
extern MessageHandler warning_handler_slot;

struct MessageEntry {
  MessageHandler* handler_slot;
  const char* format; // printf format without a trailing newline
};

// The library's messages with the handler that prints each: a message's number is its row's
// position.
extern const std::array<MessageEntry, MESSAGE_COUNT> library_messages;

// Formats message `number` of `table` with the arguments its format asks for and hands the
// finished text to the handler in the row's slot. Returns only if that handler returns.
void report_message(std::span<const MessageEntry> table, int number, ...);

// Whether report_library_error names the program in front of an input's error too, as in every
// other error line of the program ("fieldmap: Error: map.t7(5): Not a number: x"); false keeps
// the converter's own lines ("Error: map.sf7(33): ..."). Set once by a program at its start.
extern bool input_errors_name_the_program;

// Prints `error` as the program's error line: a library message through its row's handler, a
// defect of the input as report_error does, any other failure of the input as report_fatal
// does. Then ends the process with status 1.
[[noreturn]] void report_library_error(const Error& error);

// Ends the run with "<program>: Error: <text>" on standard error and status 1: a command line
// or a request that the program refuses.
[[noreturn]] void refuse(const std::string& text);

// Runs `body`; an error it throws ends the run through report_library_error.
template <class Body> void run_reporting_errors(Body&& body) {
  try {
    body();
  } catch (const Error& error) {
    report_library_error(error);
  }
}

} // namespace norvalex
