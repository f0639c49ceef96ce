// Error and warning output of the whole program: the converter's own error calls, the
// numbered message table of the TQS library and the print operation used by the help printers.
// Every error ends the process with exit status 1; nothing is returned to a caller.
#pragma once

#include <array>
#include <cstdint>
#include <span>

// Name under which the program was invoked, after its last "/"; set by the option parser.
extern const char* program_name;

// Location of the converter's errors: the input path as given on the command line and the
// number of input lines read so far (0 before the first line).
extern const char* input_file_name;
extern std::int32_t input_line_number;

// A print operation writes one string unchanged and adds nothing.
using PrintFunction = void (*)(const char* text);
void print_stderr(const char* text);

// Ends the process with `status`. Every path that ends a run goes through here.
[[noreturn]] void end_process(int status);

// Called by end_process with the status before the process ends, when set; null by default and
// never set by the program. A harness that runs many inputs in one process (a fuzz target)
// stores a function here that throws, so that it goes on after a run that ended with an error
// or with help. A hook that returns changes nothing: the process then ends as always.
using ProcessEndHook = void (*)(int status);
extern ProcessEndHook process_end_hook;

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

// The TQS library's messages, addressed by number: a message's number is its row's position.
extern const std::array<MessageEntry, 11> library_messages;

// Longest formatted message text; a longer text is cut to this many characters.
inline constexpr std::size_t MESSAGE_TEXT_LIMIT = 511;

// Formats message `number` of `table` with the arguments its format asks for and hands the
// finished text to the handler in the row's slot. Returns only if that handler returns.
void report_message(std::span<const MessageEntry> table, int number, ...);
