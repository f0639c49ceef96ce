// The command line described by one static table: single-letter options after a "-", clustered
// in one word or not, each setting a program variable through the callback of its row. The same
// table carries everything that the usage and help printers show.
#pragma once

#include <cstddef>

namespace norvalex {

// Called with the option's value and the row's target; the terminator row's callback is called
// with the row's description and the rest of the word from the unknown letter on.
using OptionCallback = void (*)(const char* value, void* target);

struct OptionSpec {
  int letter;                // option character; 0 ends the table
  void* target;              // variable that the callback sets
  OptionCallback callback;   // required in option rows, may be null in the terminator
  const char* argument_name; // null for a flag; in the header: the positional argument's name
  const char* description;   // help text; in the header the program's (or null); in the
                             // terminator the unknown-option warning text
};

// Points at a table's header row (letter ' '); the option rows follow in the order that usage
// and help list them, and a row with the letter 0 ends the table.
using OptionTable = const OptionSpec*;

// Number of unknown option letters met by the last parse.
extern int unknown_option_count;

// One output line of the command-line printers is assembled here before it is printed.
inline constexpr std::size_t HELP_LINE_SIZE = 256;
extern char help_line[HELP_LINE_SIZE];

// Appends `text` to `help_line`, cut where it would leave fewer than `keep_free` characters
// free before the terminating zero byte. Reserving 1 keeps room for the line's closing "\n".
void append_to_help_line(const char* text, std::size_t keep_free = 0);
// The same for text from outside the program (a command-line word), with its control bytes
// escaped as escape_control_bytes shows them. An escaped byte takes its four characters of the
// line and is never split: where they do not all fit, the text is cut before it.
void append_escaped_to_help_line(const char* text, std::size_t keep_free = 0);

// Takes the program name from the first word, then reads the option words in front of the first
// positional word, calling the rows' callbacks in command-line order. Afterwards `*argv` points
// at the first word left and `*argc` holds how many are left. Returns `unknown_option_count`,
// or 1 at once when the last word ends with an option that lacks its argument.
int parse_options(int* argc, char*** argv, OptionTable table);

// Option callbacks: store 1 in the int target, or the value itself (not a copy) in the
// `const char*` target.
void set_flag(const char* value, void* target);
void set_string(const char* value, void* target);

// Terminator callback: prints `text`, the rest of the word and "\n" as one line on standard error.
void warn_unknown_option(const char* text, void* rest_of_word);

} // namespace norvalex
