// The one exception type of the libraries. Every failure is formatted into its final text where
// it happens and thrown; a library caller catches it, and the programs turn it into their exact
// error line and exit status.
#pragma once

#include "api.h"
#include "message_table.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace norvalex {

// Where a failure comes from, which decides how the programs print it.
enum class ErrorOrigin {
  message,    // a numbered message of the library's table
  input_line, // a defect of an input at one of its lines; what() is "<file>(<line>): <detail>"
  input_file, // an input that cannot be read as a whole, or memory that ran out
};

class NORVALEX_DIAG_API Error : public std::runtime_error {
public:
  Error(ErrorOrigin origin, const std::string& text, int message_number, std::string file_name,
        std::int32_t line_number, int system_error);

  ErrorOrigin origin() const noexcept { return origin_; }
  // Row of the message table, -1 for the other origins.
  int message_number() const noexcept { return message_number_; }
  // The file the failure is about; empty when it concerns none (memory, say).
  const std::string& file_name() const noexcept { return file_name_; }
  // Lines of the input read up to the defect (0 before the first), -1 unless located.
  std::int32_t line_number() const noexcept { return line_number_; }
  // The error number behind a failed system call, 0 when there was none.
  int system_error() const noexcept { return system_error_; }
  // The text after the location: what() without "<file>(<line>): ".
  std::string detail() const;

private:
  ErrorOrigin origin_;
  int message_number_;
  std::string file_name_;
  std::int32_t line_number_;
  int system_error_;
};

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

} // namespace norvalex
