#include "platform/process.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

namespace norvalex {

namespace {

constexpr int interrupting_signals[] = {SIGINT, SIGTERM, SIGHUP};

// The undo of the open output, copied from it into plain static storage: a signal handler may
// read nothing else.
char undo_path[PATH_MAX]; // the temporary file, or the appended file the run created; or ""
int undo_fd = -1;         // the appended file's descriptor, which holds its lock; or -1
off_t undo_length = -1;   // the appended file's length before, to cut it back to
volatile sig_atomic_t undo_noted = 0;
bool handler_installed = false; // by undo_output_on_interruption

sigset_t interrupting_set() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : interrupting_signals)
    sigaddset(&set, signal_number);
  return set;
}

// Ends the process as `signal_number` ends it by default, so that its parent sees the signal.
// Async-signal-safe calls only.
void end_by_signal(int signal_number) {
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  sigaction(signal_number, &default_action, nullptr);
  sigset_t unblocked;
  sigemptyset(&unblocked);
  sigaddset(&unblocked, signal_number);
  sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
  raise(signal_number);
}

// Async-signal-safe calls only.
void undo_output_and_end(int signal_number) {
  if (undo_noted) {
    if (undo_fd < 0) {
      unlink(undo_path);
    } else if (undo_path[0] != '\0') {
      // Removed only while it is still the file the run created, never one made in its place.
      if (same_file(undo_fd, undo_path) == 0)
        unlink(undo_path);
    } else {
      // The interrupted write never resumes: the process ends below.
      [[maybe_unused]] const int cut = ftruncate(undo_fd, undo_length);
    }
  }
  end_by_signal(signal_number);
}

bool copy_path(const std::string& path) {
  if (path.size() >= sizeof undo_path)
    return false;
  std::memcpy(undo_path, path.c_str(), path.size() + 1);
  return true;
}

} // namespace

void occupy_closed_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    // The lowest free descriptor is taken, which is this one: the ones below are open by now.
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF)
      open("/dev/null", O_RDONLY);
  }
}

void ignore_output_failure_signals() {
  platform_ignore_broken_pipe_signal();
  std::signal(SIGXFSZ, SIG_IGN);
}

void undo_output_on_interruption() {
  handler_installed = true;
  struct sigaction action {};
  action.sa_handler = undo_output_and_end;
  action.sa_mask = interrupting_set(); // one undo at a time
  for (int signal_number : interrupting_signals) {
    struct sigaction previous {};
    // A signal ignored from the start (nohup, a background job) stays ignored.
    if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN)
      sigaction(signal_number, &action, nullptr);
  }
}

bool interruption_undoes_output() {
  return handler_installed;
}

void note_output_undo(const OutputUndo& output) {
  // An append is noted with the signals free: the fences keep the compiler from moving the
  // note's fields past the flag, so the handler never acts on a half-written note.
  undo_noted = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  undo_path[0] = '\0';
  undo_fd = -1;
  bool noted = false;
  if (!output.temp_path.empty()) {
    noted = copy_path(output.temp_path);
  } else if (output.target_fd >= 0 && output.start_length >= 0) {
    undo_fd = output.target_fd;
    undo_length = static_cast<off_t>(output.start_length);
    noted = !output.remove_target || copy_path(output.target_path);
  }
  std::atomic_signal_fence(std::memory_order_seq_cst);
  undo_noted = noted;
}

InterruptionHold::InterruptionHold(bool hold) : held_(hold), previous_() {
  const sigset_t set = interrupting_set();
  if (held_)
    sigprocmask(SIG_BLOCK, &set, &previous_);
}

InterruptionHold::~InterruptionHold() {
  if (held_)
    sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

void platform_binary_standard_streams() {}

void platform_ignore_broken_pipe_signal() {
  std::signal(SIGPIPE, SIG_IGN);
}

int platform_broken_pipe_status() {
  return 128 + SIGPIPE;
}

void platform_end_by_broken_pipe() {
  end_by_signal(SIGPIPE);
  _exit(platform_broken_pipe_status()); // not reached: the signal ends the process
}

const char* platform_program_name(char* argv0) {
  const char* slash = std::strrchr(argv0, '/');
  return slash ? slash + 1 : argv0;
}

} // namespace norvalex
