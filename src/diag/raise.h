// How the libraries raise their failures: each helper formats the final text and throws
// norvalex::Error. Private to the libraries; callers only catch.
#pragma once

#include "norvalex/error.h"

#include <cstdarg>
#include <cstdint>
#include <string>

namespace norvalex {

// Message 0 for `file_name` with the system's text for `error_number`.
[[noreturn]] NORVALEX_DIAG_API void raise_file_error(const char* file_name, int error_number);
// A message whose one argument is `file_name` (Unexpected end of file, Not a TQ-File, ...).
[[noreturn]] NORVALEX_DIAG_API void raise_file_message(Message message, const char* file_name);
// A message without arguments (Not enough memory, ...).
[[noreturn]] NORVALEX_DIAG_API void raise_message(Message message);

// A defect of `file_name` found with `line_number` lines read; the text carries no newline.
[[noreturn, gnu::format(printf, 3, 4)]] NORVALEX_DIAG_API void
raise_input_error(const char* file_name, std::int32_t line_number, const char* format, ...);
// An input that cannot be read at all, or memory that ran out: `error_number` is the system's
// error (ENOMEM for memory). The text carries no newline.
[[noreturn, gnu::format(printf, 3, 4)]] NORVALEX_DIAG_API void
raise_input_failure(const char* file_name, int error_number, const char* format, ...);

// Formats a message row with its arguments, cut at MESSAGE_TEXT_LIMIT characters.
[[gnu::format(printf, 1, 0)]] NORVALEX_DIAG_API std::string format_message_text(const char* format,
                                                                                std::va_list args);
// The whole formatted text, however long: for texts that are never cut (input errors, progress).
[[gnu::format(printf, 1, 0)]] NORVALEX_DIAG_API std::string format_whole_text(const char* format,
                                                                              std::va_list args);

} // namespace norvalex
