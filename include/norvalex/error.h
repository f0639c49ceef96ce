// The one exception type of the norvalex libraries and their numbered messages. Every failure is
// formatted into its final text where it happens and thrown as norvalex::Error; a library caller
// catches it, and the programs turn it into their exact error line and exit status.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

// Marks the declarations that make up the libraries' interface. A shared library exports these
// and hides every other symbol (it is compiled with hidden visibility); a static library needs no
// marks. NORVALEX_SHARED comes with the targets of a shared build, and CMake defines
// <target>_EXPORTS while it compiles that shared library itself.
#if defined(NORVALEX_SHARED)
#if defined(_WIN32)
#define NORVALEX_EXPORT_ __declspec(dllexport)
#define NORVALEX_IMPORT_ __declspec(dllimport)
#else
#define NORVALEX_EXPORT_ __attribute__((visibility("default")))
#define NORVALEX_IMPORT_ __attribute__((visibility("default")))
#endif
// One mark per library: while one of them is compiled, the others' declarations are imports.
#if defined(norvalex_diag_EXPORTS)
#define NORVALEX_DIAG_API NORVALEX_EXPORT_
#else
#define NORVALEX_DIAG_API NORVALEX_IMPORT_
#endif
#if defined(norvalex_tqs_EXPORTS)
#define NORVALEX_TQS_API NORVALEX_EXPORT_
#else
#define NORVALEX_TQS_API NORVALEX_IMPORT_
#endif
#if defined(norvalex_sf7_EXPORTS)
#define NORVALEX_SF7_API NORVALEX_EXPORT_
#else
#define NORVALEX_SF7_API NORVALEX_IMPORT_
#endif
#if defined(norvalex_mesh_EXPORTS)
#define NORVALEX_MESH_API NORVALEX_EXPORT_
#else
#define NORVALEX_MESH_API NORVALEX_IMPORT_
#endif
#else
#define NORVALEX_DIAG_API
#define NORVALEX_TQS_API
#define NORVALEX_SF7_API
#define NORVALEX_MESH_API
#endif

namespace norvalex {

// The TQS library's numbered messages: every failure of that library is one row of this table.
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

// Where a failure comes from, which decides how the programs print it.
enum class ErrorOrigin {
  message,     // a numbered message of the library's table
  input_line,  // a defect of an input at one of its lines; what() is "<file>(<line>): <detail>"
  input_file,  // an input that cannot be read as a whole, or memory that ran out
  interrupted, // the calling thread's interruption check asked the call to stop (below)
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

// Interrupting a long call. The libraries' long loops ask the calling thread's interruption
// check now and then: every block of a TQS file read or written, every 16 MiB piece of a block's
// data read, written or summed, every block of SF7 input (1 MiB). When it returns true, the call
// throws an Error of origin `interrupted` ("Interrupted"), which unwinds it as any failure does:
// an unfinished output is undone (and refuses every later write and close), whatever the call
// allocated is freed. No thread has a check unless its code sets one: the programs never do, and
// then a check costs a test of a null pointer. The Python module sets one that runs Python's
// signal handlers, so that Ctrl-C stops its calls; a new long loop of the libraries (the field
// mesh's readers, say) calls check_interruption at a similar pace to be stopped as well.
using InterruptionCheck = bool (*)(void* context);

// Makes `check` (called with `context`) the calling thread's interruption check while it lives,
// and the one before it again afterwards.
class NORVALEX_DIAG_API InterruptionScope {
public:
  InterruptionScope(InterruptionCheck check, void* context);
  ~InterruptionScope();
  InterruptionScope(const InterruptionScope&) = delete;
  InterruptionScope& operator=(const InterruptionScope&) = delete;

private:
  InterruptionCheck previous_check_;
  void* previous_context_;
};

// Asks the calling thread's interruption check, when it has one, and throws the `interrupted`
// Error when the check says so. What the libraries' long loops call.
NORVALEX_DIAG_API void check_interruption();

} // namespace norvalex
