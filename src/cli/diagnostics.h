// The programs' error and warning output: the converter's own error lines, the handlers of the
// library's numbered messages, and the turning of a library error (norvalex::Error) into the
// program's exact line on standard error and exit status 1. Every line shows the control bytes
// of its file names, texts and program name as escape_control_bytes does (src/cli/program.h):
// only the newline that ends it is the program's own.
#pragma once

#include "cli/program.h"
#include "norvalex/error.h"

#include <array>
#include <cstdint>
#include <exception>
#include <new>
#include <span>
#include <string>

namespace norvalex {

// Location of the converter's errors: the input path as given on the command line and the
// number of input lines read so far (0 before the first line). Set from a reading's error.
extern const char* input_file_name;
extern std::int32_t input_line_number;

// "Error: " + "<input>(<line>): " + the formatted text (which carries its own newline); exit 1.
[[noreturn, gnu::format(gnu_printf, 1, 2)]] void report_error(const char* format, ...);
// "Error: " + the formatted text; exit 1.
[[noreturn, gnu::format(gnu_printf, 1, 2)]] void report_fatal(const char* format, ...);

// Handles one library message; called with "%s" and the finished text. The result is unused.
using MessageHandler = int (*)(const char* format, ...);

// Prints "<program>: Error: <text>\n" after flushing standard output, then exits with status 1.
[[gnu::format(gnu_printf, 1, 2)]] int fatal_message_handler(const char* format, ...);
// Prints "<program>: Warning: <text>\n" after flushing standard output, and returns.
[[gnu::format(gnu_printf, 1, 2)]] int warning_message_handler(const char* format, ...);

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

// The file that the program works on now (the one it reads, lists, checks or writes), which its
// memory line names; null while it works on none (on its command line, say). Set by WorkingOn.
extern const char* file_in_work;

// Makes `file` (which must outlive the run) the file in work while it lives, and the one before
// it again afterwards; left by an exception, it keeps `file` in work, so that the error line
// that the exception leads to can name it.
class WorkingOn {
public:
  explicit WorkingOn(const char* file)
      : previous_(file_in_work), exceptions_(std::uncaught_exceptions()) {
    file_in_work = file;
  }
  ~WorkingOn() {
    if (std::uncaught_exceptions() == exceptions_)
      file_in_work = previous_;
  }
  WorkingOn(const WorkingOn&) = delete;
  WorkingOn& operator=(const WorkingOn&) = delete;

private:
  const char* previous_;
  int exceptions_;
};

// Ends the run after memory ran out: "<program>: Error: \"<file in work>\": Not enough memory",
// or "<program>: Error: Not enough memory" with no file in work, and status 1. It allocates
// nothing, so that it works with the memory full.
[[noreturn]] void report_out_of_memory();

// When set, report_library_error prints the libraries' own memory errors (their message 1 and the
// reader's "Not enough memory") as report_out_of_memory does, naming the file in work, so that a
// program has one memory line; tqsinfo sets it. The converter leaves it unset and keeps its lines
// as they always were ("norvalex: Error: Not enough memory" and the reader's "Error: Not enough
// memory").
extern bool memory_errors_name_the_file;

// Runs `body`; an error it throws ends the run through report_library_error, and memory that
// runs out anywhere in it (std::bad_alloc) through report_out_of_memory.
template <class Body> void run_reporting_errors(Body&& body) {
  // A harness whose process end hook throws goes on after the report: the file that the report
  // named is no longer in work then, however the run was left.
  struct FileInWorkBefore {
    const char* file = file_in_work;
    ~FileInWorkBefore() { file_in_work = file; }
  } const before;
  try {
    body();
  } catch (const Error& error) {
    report_library_error(error);
  } catch (const std::bad_alloc&) {
    report_out_of_memory();
  }
}

} // namespace norvalex
