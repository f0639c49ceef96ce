// The TQS library's numbered messages: every failure of the library is one row of this table,
// formatted with its arguments into the text that callers and the programs show.
#pragma once

#include "api.h"

#include <array>
#include <cstdarg>
#include <cstddef>
#include <string>

// A message's number is its row's position. Rows that nothing raises keep their places: callers
// know messages by number.
enum class Message : int {
  system_error,                  // file name, the system's text for the error number
  not_enough_memory,             //
  unexpected_end_of_file,        // file name
  not_a_tq_file,                 // file name
  invalid_tqs_version,           // file name
  invalid_memory_representation, //
  unknown_type_to_file,          // file name
  unknown_type_to_memory,        //
  invalid_option_count,          //
  output_and_append,             // output file name, append file name
  terminal_output,               //
};

inline constexpr std::size_t MESSAGE_COUNT = 11;

// printf formats without a trailing newline, in message number order.
inline constexpr std::array<const char*, MESSAGE_COUNT> message_formats{
    "\"%s\": %s",
    "Not enough memory",
    "\"%s\": Unexpected end of file",
    "\"%s\": Not a TQ-File",
    "\"%s\": Invalid TQS-version",
    "Invalid memory representation of datafile",
    "Writing unknown data type to \"%s\"",
    "Writing unknown data type to memory",
    "Invalid number of command line options",
    "Output cannot be written to \"%s\" and appended to \"%s\" at the same time",
    "TQS output can not be read from or written to a terminal",
};
static_assert(static_cast<std::size_t>(Message::terminal_output) + 1 == MESSAGE_COUNT,
              "one enumerator per row");

// Longest formatted message text; a longer text is cut to this many characters.
inline constexpr std::size_t MESSAGE_TEXT_LIMIT = 511;

constexpr const char* message_format(Message message) {
  return message_formats[static_cast<std::size_t>(message)];
}

// Formats a message row with its arguments, cut at MESSAGE_TEXT_LIMIT characters.
[[gnu::format(printf, 1, 0)]] NORVALEX_DIAG_API std::string format_message_text(const char* format,
                                                                                std::va_list args);
// The whole formatted text, however long: for texts that are never cut (input errors, progress).
[[gnu::format(printf, 1, 0)]] NORVALEX_DIAG_API std::string format_whole_text(const char* format,
                                                                              std::va_list args);
