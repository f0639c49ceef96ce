// The interruption's undo on Windows. The system runs a console control handler on a thread of
// its own while the main thread goes on, so the handler first takes the lock that an output's
// opening holds until its undo is noted, and stops the main thread before it undoes the output.
#include "platform/process.h"

#include "platform/platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace norvalex {

namespace {

// The undo of the open output, copied from it under the lock.
SRWLOCK undo_lock = SRWLOCK_INIT;
bool lock_held_by_hold = false; // the main thread's own InterruptionHold holds it
char undo_path[MAX_PATH * 3];   // the temporary file (UTF-8 names take up to 3 bytes a unit)
HANDLE undo_handle = INVALID_HANDLE_VALUE; // the appended file's handle, which holds its lock
LARGE_INTEGER undo_length{};               // the appended file's length before, to cut it back to
bool undo_remove = false;                  // the append created the file: remove it instead
HANDLE main_thread = nullptr;
bool handler_installed = false; // by undo_output_on_interruption

// Only the Win32 calls below: the stopped main thread may hold a lock of the C library or of
// the heap. The lock is never released: the process ends here.
BOOL WINAPI undo_output_and_end(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)
    return FALSE;
  AcquireSRWLockExclusive(&undo_lock);
  // The main thread stops first: neither a write after the cut nor a failed rename of a
  // temporary file just deleted (with its error line) can follow.
  if (main_thread != nullptr) {
    SuspendThread(main_thread);
    alignas(16) CONTEXT context{}; // returns once the thread has stopped
    context.ContextFlags = CONTEXT_CONTROL;
    GetThreadContext(main_thread, &context);
  }
  if (undo_path[0] != '\0') {
    // Once renamed into place the file is whole and no longer found here.
    DeleteFileA(undo_path);
  } else if (undo_handle != INVALID_HANDLE_VALUE && main_thread != nullptr) {
    if (undo_remove) {
      FILE_DISPOSITION_INFO remove{TRUE};
      SetFileInformationByHandle(undo_handle, FileDispositionInfo, &remove, sizeof remove);
    } else if (SetFilePointerEx(undo_handle, undo_length, nullptr, FILE_BEGIN) != 0) {
      SetEndOfFile(undo_handle);
    }
  }
  TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  return TRUE;
}

} // namespace

void occupy_closed_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    // The lowest free descriptor is taken, which is this one: the ones below are open by now.
    if (_get_osfhandle(fd) == -1)
      _open("NUL", _O_RDONLY | _O_BINARY);
  }
}

void ignore_output_failure_signals() {
  // Windows has neither SIGPIPE nor SIGXFSZ: such writes fail with an error number anyway.
}

void undo_output_on_interruption() {
  handler_installed = true;
  main_thread = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, GetCurrentThreadId());
  SetConsoleCtrlHandler(undo_output_and_end, TRUE);
}

bool interruption_undoes_output() {
  return handler_installed;
}

void note_output_undo(const OutputUndo& output) {
  if (!lock_held_by_hold)
    AcquireSRWLockExclusive(&undo_lock);
  undo_path[0] = '\0';
  undo_handle = INVALID_HANDLE_VALUE;
  if (!output.temp_path.empty()) {
    if (output.temp_path.size() < sizeof undo_path)
      std::memcpy(undo_path, output.temp_path.c_str(), output.temp_path.size() + 1);
  } else if (output.target_fd >= 0 && output.start_length >= 0) {
    undo_handle = reinterpret_cast<HANDLE>(_get_osfhandle(output.target_fd));
    undo_length.QuadPart = output.start_length;
    undo_remove = output.remove_target;
  }
  if (!lock_held_by_hold)
    ReleaseSRWLockExclusive(&undo_lock);
}

InterruptionHold::InterruptionHold(bool hold) : held_(hold) {
  if (held_) {
    AcquireSRWLockExclusive(&undo_lock);
    lock_held_by_hold = true;
  }
}

InterruptionHold::~InterruptionHold() {
  if (held_) {
    lock_held_by_hold = false;
    ReleaseSRWLockExclusive(&undo_lock);
  }
}

void platform_binary_standard_streams() {
  platform_set_binary(stdout);
  platform_set_binary(stderr);
}

void platform_ignore_broken_pipe_signal() {}

int platform_broken_pipe_status() {
  return 0;
}

void platform_end_by_broken_pipe() {
  // No signal to end by: the reader chose to quit, which is no failure of the program's. Nothing
  // is flushed: what the buffers hold has no reader.
  std::_Exit(0);
}

const char* platform_program_name(char* argv0) {
  char* name = argv0;
  for (char* p = argv0; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\' || *p == ':')
      name = p + 1;
  }
  const std::size_t length = std::strlen(name);
  if (length >= 4 && _stricmp(name + length - 4, ".exe") == 0)
    name[length - 4] = '\0';
  return name;
}

} // namespace norvalex
