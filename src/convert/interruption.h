// The converter's process set-up against closed descriptors and interrupting signals, and the
// undo of its output when SIGINT, SIGTERM or SIGHUP ends a run: POSIX calls only, kept here.
#pragma once

#include "tqs/tqs_writer.h"

#include <csignal>

// Opens /dev/null, read-only, on each of descriptors 0, 1 and 2 that is closed, so that no file
// or pipe the program opens takes its place and receives what is meant for it. A write there
// fails with "Bad file descriptor", as it does on the closed descriptor.
void occupy_closed_standard_descriptors();

// Ignores SIGPIPE and SIGXFSZ, so that a write into a pipe whose reader has quit fails with EPIPE
// and a write past a file-size limit with EFBIG, reported like a full disk.
void ignore_output_failure_signals();

// Makes SIGINT, SIGTERM and SIGHUP (each unless it was ignored when the program started) undo
// the output noted by note_output_undo and then end the process by the same signal, so that the
// shell sees the usual status.
void undo_output_on_interruption();

// Notes in static storage what undoes `output` (its temporary file to remove, or the appended
// file to cut back or remove), for the signal handler. Called with the signals held back, right
// after the output was opened. The note may outlive the output: the handler's steps then find
// nothing (the temporary file renamed or removed, the descriptor closed) and do nothing.
void note_output_undo(const TqsOutput& output);

// Holds SIGINT, SIGTERM and SIGHUP back while it lives (when `hold` is set), so that no signal
// falls between the creation of an output file and the note of its undo.
class InterruptionHold {
public:
  explicit InterruptionHold(bool hold);
  ~InterruptionHold();
  InterruptionHold(const InterruptionHold&) = delete;
  InterruptionHold& operator=(const InterruptionHold&) = delete;

private:
  bool held_;
  sigset_t previous_;
};
