// The system calls that only the programs make on their process: binary standard streams, the
// program's name, descriptors and signals that output failures and interruptions arrive by, and
// the undo of an output when a run is interrupted: by SIGINT, SIGTERM or SIGHUP on POSIX systems
// (process_posix.cpp), by Ctrl-C, Ctrl-Break or the closing of its console on Windows
// (process_windows.cpp). The command-line layer sets a program's process up with these; an output
// file (output_file.h) notes its undo here by itself once the process has asked for it.
#pragma once

#include "platform/file_ops.h"

#ifndef _WIN32
#include <csignal>
#endif

namespace norvalex {

// Standard output and standard error in binary mode, before anything is written to them: a
// program's messages then end in a line feed alone on Windows too.
void platform_binary_standard_streams();

// Writes to a pipe whose reader has quit do not raise a signal (SIGPIPE, where it exists) but
// fail with EPIPE, so that they are reported like a full disk.
void platform_ignore_broken_pipe_signal();

// The status that end_by_broken_pipe ends the process with, as its parent sees it: 128 + SIGPIPE
// (141) where the signal exists, as a shell shows a process ended by it; 0 on Windows.
int platform_broken_pipe_status();

// Ends the process as a text tool ends whose reader has quit: by SIGPIPE with its default action
// (held back or ignored before, it is let through now), so that the parent sees a process ended
// by that signal; on Windows, which has no SIGPIPE, with status 0. Nothing more is written.
[[noreturn]] void platform_end_by_broken_pipe();

// The program's name in `argv0`: the part after the last '/' (on Windows also '\\' and ':'),
// and on Windows without a last ".exe" in any case, which is cut off in place.
const char* platform_program_name(char* argv0);

// Opens /dev/null (NUL on Windows), read-only, on each of descriptors 0, 1 and 2 that is closed, so
// that no file or pipe the program opens takes its place and receives what is meant for it. A write
// there fails with "Bad file descriptor", as it does on the closed descriptor.
void occupy_closed_standard_descriptors();

// Ignores SIGPIPE and SIGXFSZ where they exist, so that a write into a pipe whose reader has quit
// fails with EPIPE and a write past a file-size limit with EFBIG, reported like a full disk.
void ignore_output_failure_signals();

// Makes SIGINT, SIGTERM and SIGHUP (each unless it was ignored when the program started) undo
// the output noted by note_output_undo and then end the process by the same signal, so that the
// shell sees the usual status. On Windows, Ctrl-C, Ctrl-Break and the closing of the console
// (each handled on a thread of its own there) undo it and end the process with the status of a
// console program ended by Ctrl-C, STATUS_CONTROL_C_EXIT (0xC000013A).
void undo_output_on_interruption();

// Whether undo_output_on_interruption was called: the output files opened from then on note
// their undo. A library caller (the Python module, say) never calls it, and keeps its own
// signal handling. The handler and the note are this copy of the platform layer's: a shared
// library has a copy of its own, so a program opens its outputs in its own code (src/cli).
bool interruption_undoes_output();

// Notes in static storage what undoes an output (its temporary file to remove, or the appended
// file to cut back or remove), for the signal handler; an OutputUndo with nothing to undo clears
// the note. Called with the signals held back, right after a replacement was opened, and as the
// output file finishes.
void note_output_undo(const OutputUndo& undo);

// Holds the interruptions back while it lives (when `hold` is set), so that none falls between
// the creation of an output file and the note of its undo. On Windows the handler then waits.
class InterruptionHold {
public:
  explicit InterruptionHold(bool hold);
  ~InterruptionHold();
  InterruptionHold(const InterruptionHold&) = delete;
  InterruptionHold& operator=(const InterruptionHold&) = delete;

private:
  bool held_;
#ifndef _WIN32
  sigset_t previous_;
#endif
};

} // namespace norvalex
