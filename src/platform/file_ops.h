// The file-system calls behind an output file's promise that a failed output leaves every file as
// it was (output_file.h): finding what a name stands for, the temporary file that replaces a file
// whole, the lock and the cut back of an append. POSIX in file_ops_posix.cpp and Windows in
// file_ops_windows.cpp. Every function that can fail returns -1 with the system's error number
// in errno and throws nothing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace norvalex {

// What a named output is, and so how it is written.
enum class OutputTargetKind {
  missing, // nothing of that name yet: a file is created
  regular, // a regular file: replaced through a temporary file, or appended to under a lock
  // Anything else, written by its own name as it stands: a device, a FIFO, a folder or a name
  // that the system refuses (whose open then reports why), and a link through /proc such as
  // /dev/stdout, which names an open file rather than a place in a folder.
  in_place,
};

// How an output file that is not finished yet is undone: the output file keeps it up to date,
// and a program's interruption handler reads a copy of it (process.h).
struct OutputUndo {
  std::string temp_path;   // the temporary file that replaces the target at the commit, or ""
  std::string target_path; // the file replaced or appended to, symbolic links followed
  // The appended file's descriptor, which holds its lock and cuts it back; -1 when none.
  int target_fd = -1;
  std::int64_t start_length = -1; // the appended file's length under the lock; -1: no cut back
  bool remove_target = false;     // the append created the file: undone by removing it
};

struct OutputTarget {
  OutputTargetKind kind = OutputTargetKind::in_place;
  // The name with every symbolic link followed, so that the file a link points to is the one
  // written and the link stays; the name itself for in_place.
  std::string path;
};

OutputTarget find_output_target(const char* name);

// Opens `name` by its name for writing: created if missing, and emptied. Returns the descriptor.
int open_in_place(const char* name);

// The name of a temporary file for `target_path` in its `folder` (the path's folder part with its
// separator, or ""): a dot, the file's name cut to 200 bytes, ".tmp-" and six letters mixed from
// `entropy` (the clock and the process) and a count of the names made. Unlikely to be taken; the
// exclusive create decides.
std::string temp_name(const std::string& folder, const std::string& target_path,
                      std::uint64_t entropy);

// Creates a new temporary file in the folder of `target` (exclusively, so never through a
// planted link), with the permission bits, owner and group of the regular file it is to replace
// where the system allows, else those of a new file (0666 less the umask). A regular target is
// opened for writing first and closed again: that open is the check that it may be written at
// all. Returns the temporary file's descriptor and its name in `temp_path`.
int create_temp_file(const OutputTarget& target, std::string& temp_path);

// Puts the temporary file `temp_path` in the place of `target_path` in one step, and makes the
// folder's new entry durable. No lock is waited for: an append under way to the old file ends
// in the old file. Where a file that is open cannot be replaced (Windows), the rename is tried
// again for about a second before it fails. Returns 0 on success.
int replace_file(const std::string& temp_path, const std::string& target_path);

// Opens `target` (found for `name`) for appending. A missing file is created exclusively and
// `created` set. A regular file gets an exclusive advisory lock, held until the descriptor is
// closed, so that appenders queue; its length under the lock goes to `length`, and the
// descriptor is the one of the file that is at `target`'s place once the lock is held, not of
// one removed or replaced meanwhile (`target` is then updated). Anything else is opened as it
// stands, `length` -1. Returns the descriptor.
int open_for_append(const char* name, OutputTarget& target, bool& created, std::int64_t& length);

// 0 when `path` names the file open on `fd`; -1 otherwise, with errno ENOENT when nothing is
// there (or the file is being removed) and EEXIST when another file is. Async-signal-safe on
// POSIX systems.
int same_file(int fd, const char* path);

// Writes the file's data through to the storage device.
int sync_file(int fd);
// Cuts the file back to `length` bytes.
int cut_back(int fd, std::int64_t length);
int remove_file(const std::string& path);
// A second descriptor of the open file of `fd`, which an appending stream writes through.
int duplicate_descriptor(int fd);
int close_descriptor(int fd);
// A binary stream on `fd`, which it then owns, written at the end of the file with `append`.
// On failure `fd` is closed.
std::FILE* stream_of(int fd, bool append);

} // namespace norvalex
