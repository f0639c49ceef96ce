// The file-system calls behind the writer's promise that a failed output leaves every file as it
// was: finding what a name stands for, the temporary file that replaces a file whole, the lock
// and the cut back of an append. All of the platform's calls of the writer are here, POSIX in
// file_ops_posix.cpp and Windows in file_ops_windows.cpp. Every function that can fail returns
// -1 with the system's error number in errno and throws nothing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace norvalex {

// What a named output is, and so how it is written.
enum class TqsTargetKind {
  missing, // nothing of that name yet: a file is created
  regular, // a regular file: replaced through a temporary file, or appended to under a lock
  // Anything else, written by its own name as it stands: a device, a FIFO, a folder or a name
  // that the system refuses (whose open then reports why), and a link through /proc such as
  // /dev/stdout, which names an open file rather than a place in a folder.
  in_place,
};

// How an output file that is not finished yet is undone: the writer keeps it up to date, and a
// program's interruption handler reads a copy of it (process.h).
struct OutputUndo {
  std::string temp_path;   // the temporary file that replaces the target at the close, or ""
  std::string target_path; // the file replaced or appended to, symbolic links followed
  // A descriptor of the target that holds its lock: the file replaced (locked at the rename)
  // or the file appended to (locked from the open, and cut back through it); -1 when none.
  int target_fd = -1;
  std::int64_t start_length = -1; // the appended file's length under the lock; -1: no cut back
  bool remove_target = false;     // the append created the file: undone by removing it
};

struct TqsTarget {
  TqsTargetKind kind = TqsTargetKind::in_place;
  // The name with every symbolic link followed, so that the file a link points to is the one
  // written and the link stays; the name itself for in_place.
  std::string path;
};

TqsTarget tqs_find_target(const char* name);

// Opens `name` by its name for writing: created if missing, and emptied. Returns the descriptor.
int tqs_open_in_place(const char* name);

// The name of a temporary file for `target_path` in its `folder` (the path's folder part with its
// separator, or ""): a dot, the file's name cut to 200 bytes, ".tmp-" and six letters mixed from
// `entropy` (the clock and the process) and a count of the names made. Unlikely to be taken; the
// exclusive create decides.
std::string tqs_temp_name(const std::string& folder, const std::string& target_path,
                          std::uint64_t entropy);

// Creates a new temporary file in the folder of `target` (exclusively, so never through a
// planted link), with the permission bits, owner and group of the regular file it is to replace
// where the system allows, else those of a new file (0666 less the umask). For a regular target,
// `target_fd` receives a descriptor of it opened for writing: that open is the check that the
// file may be written at all, and the descriptor takes the lock when the replacement is made.
// Returns the temporary file's descriptor and its name in `temp_path`.
int tqs_create_temp(const TqsTarget& target, std::string& temp_path, int& target_fd);

// Puts the temporary file `temp_path` in the place of `target_path` in one step, after waiting
// for the lock of `target_fd` (when not -1) so that an append under way to the old file ends
// first, and makes the folder's new entry durable. Where a file that is open cannot be replaced
// (Windows), `target_fd` is closed and set to -1 on the way. Returns 0 on success.
int tqs_replace_file(const std::string& temp_path, const std::string& target_path, int& target_fd);

// Opens `target` (found for `name`) for appending. A missing file is created exclusively and
// `created` set. A regular file gets an exclusive advisory lock, held until the descriptor is
// closed, so that appenders queue; its length under the lock goes to `length`, and the
// descriptor is the one of the file that is at `target`'s place once the lock is held, not of
// one removed or replaced meanwhile (`target` is then updated). Anything else is opened as it
// stands, `length` -1. Returns the descriptor.
int tqs_open_append(const char* name, TqsTarget& target, bool& created, std::int64_t& length);

// Writes the file's data through to the storage device.
int tqs_sync_file(int fd);
// Cuts the file back to `length` bytes.
int tqs_cut_back(int fd, std::int64_t length);
int tqs_remove_file(const std::string& path);
int tqs_duplicate(int fd);
int tqs_close_file(int fd);
// A binary stream on `fd`, which it then owns, written at the end of the file with `append`.
// On failure `fd` is closed.
std::FILE* tqs_stream_of(int fd, bool append);

} // namespace norvalex
