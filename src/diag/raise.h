// How the libraries raise their failures: each helper formats the final text and throws
// norvalex::Error. Private to the libraries; callers only catch.
#pragma once

#include "norvalex/error.h"

#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>

namespace norvalex {

// Message 0 for `file_name` with the system's text for `error_number`.
[[noreturn]] NORVALEX_DIAG_API void raise_file_error(const char* file_name, int error_number);
// A message whose one argument is `file_name` (Unexpected end of file, Not a TQ-File, ...).
[[noreturn]] NORVALEX_DIAG_API void raise_file_message(Message message, const char* file_name);
// A message without arguments (Not enough memory, ...).
[[noreturn]] NORVALEX_DIAG_API void raise_message(Message message);

// A defect of `file_name` found with `line_number` lines read; the text carries no newline.
[[noreturn, gnu::format(gnu_printf, 3, 4)]] NORVALEX_DIAG_API void
raise_input_error(const char* file_name, std::int32_t line_number, const char* format, ...);
// An input that cannot be read at all, or memory that ran out: `error_number` is the system's
// error (ENOMEM for memory). The text carries no newline.
[[noreturn, gnu::format(gnu_printf, 3, 4)]] NORVALEX_DIAG_API void
raise_input_failure(const char* file_name, int error_number, const char* format, ...);

// Formats a message row with its arguments, cut at MESSAGE_TEXT_LIMIT characters.
[[gnu::format(gnu_printf, 1, 0)]] NORVALEX_DIAG_API std::string
format_message_text(const char* format, std::va_list args);
// The whole formatted text, however long: for texts that are never cut (input errors, progress).
[[gnu::format(gnu_printf, 1, 0)]] NORVALEX_DIAG_API std::string
format_whole_text(const char* format, std::va_list args);

// Text that comes from outside the program (an input's bytes, a file name, a command-line word)
// as messages show it: each control byte (0x00-0x1F and 0x7F) as "\xNN" with two upper-case hex
// digits, every other byte (those above 0x7F too) as it is. So no such text can move a terminal's
// cursor, retitle or clear it, split an error line in two, or end a message early (a NUL).
NORVALEX_DIAG_API std::string escape_control_bytes(std::string_view text);

// The shortest text that reads back as `value` ("1e+305", "0.25", "inf"), for messages.
NORVALEX_DIAG_API std::string number_text(double value);
// A text of a file or a caller, as messages show it: escaped, in double quotes, cut at 64 bytes
// of the text ("...").
NORVALEX_DIAG_API std::string quoted_text(std::string_view text);

} // namespace norvalex
