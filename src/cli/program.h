// The running program as the command-line layer sees it: its process set-up, the name it was
// invoked under, the print operation for standard error, and the one way a run ends.
#pragma once

#include "diag/raise.h"

#include <string>
#include <string_view>

namespace norvalex {

// Sets up the process of a program before it reads its command line: standard output and
// standard error in binary mode (the same bytes on Windows as on Linux, line ends of messages
// included), and a write into a pipe whose reader has quit failing with EPIPE, reported as an
// error line, instead of ending the process silently. A program that writes files
// (`writes_files`) also gets its closed standard descriptors occupied, a file-size limit reported
// as "File too large" like a full disk, and its output undone when the run is interrupted
// (platform/process.h).
void prepare_process(bool writes_files);

// Makes a write to standard output that fails because its reader has quit (EPIPE: "tqsinfo ... |
// head") end the process quietly, as the standard text tools end: by SIGPIPE where it exists, so
// that the parent sees a process ended by that signal (status 141 in a shell), with status 0 on
// Windows, and with no error line. Only the programs' text output (text_output.h) asks; every
// other failed write, a full disk among them, stays an error. The converter never calls this:
// its TQS data are its product, and a reader that quit has not received them.
void end_quietly_when_reader_quits();

// Ends the process as end_quietly_when_reader_quits describes when it was called and
// `error_number` is EPIPE (calling process_end_hook first with platform_broken_pipe_status());
// returns otherwise.
void end_if_reader_quit(int error_number);

// Name under which the program was invoked: the first word after its last "/" (on Windows also
// "\\" and ":", without ".exe"), by platform_program_name; set by the option parser.
extern const char* program_name;

// A print operation writes one string unchanged and adds nothing.
using PrintFunction = void (*)(const char* text);
void print_stderr(const char* text);

// Text that comes from outside the program is shown with escape_control_bytes (diag/raise.h).
// The print operation for lines made of such text (the reader's progress lines): print_stderr
// with every control byte escaped except the "\n" that ends the line.
void print_stderr_escaped(const char* line);

// Ends the process with `status`. Every path that ends a run goes through here.
[[noreturn]] void end_process(int status);

// Called by end_process with the status before the process ends, when set; null by default and
// never set by the programs. A harness that runs many inputs in one process (a fuzz target)
// stores a function here that throws, so that it goes on after a run that ended with an error
// or with help. A hook that returns changes nothing: the process then ends as always.
using ProcessEndHook = void (*)(int status);
extern ProcessEndHook process_end_hook;

} // namespace norvalex
