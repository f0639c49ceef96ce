// One output file that is whole or as it was, whatever fails or interrupts its writing: a named
// file replaced through a temporary file beside it (or appended to under a lock), or a caller's
// stream such as standard output, which has nothing to undo. The writers of every format write
// through it and turn its error numbers into their messages; it throws nothing.
#pragma once

#include "platform/file_ops.h"

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace norvalex {

// The size of the one full buffer that every output file opened by name gets.
inline constexpr std::size_t OUTPUT_BUFFER_SIZE = std::size_t{1} << 20;

// How a named output is opened.
enum class OutputMode {
  // A new file created exclusively beside the target (with its permission bits, owner and
  // group), which the commit writes through to the device and renames over it. What a rename
  // cannot replace is written in place: a device, a FIFO, a name through /proc (/dev/stdout),
  // and a regular file that may be written in a folder that takes no new file.
  replace,
  // As replace, but a regular file in a folder that takes no new file is refused with the
  // system's error and left untouched: for a writer that writes the temporary file by its name.
  replace_by_rename,
  // Written at the end of the file under an exclusive lock (flock, LockFileEx), which appenders
  // queue for; a failure cuts the file back to its length before, or removes it when the append
  // created it. A FIFO or a device is written as it stands.
  append,
};

class OutputFile {
public:
  OutputFile() = default;
  // Undoes an output that was not committed: its temporary file goes, an appended file gets its
  // old length back.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens the file `name` (UTF-8), which must outlive the output. Returns 0, or the system's
  // error number with nothing left behind. When the process asked for the undo on interruption
  // (process.h), the undo is noted for its handler, and a replacement is created with the
  // interruptions held back until then; an append (which may wait for another's lock) and a
  // name written in place (a FIFO's open waits for a reader) are opened with them free.
  int open(const char* name, OutputMode mode);
  // Writes into `stream`, which the caller opened and keeps open, named `name` in messages
  // ("-" for standard output): nothing to undo, and the commit flushes it.
  void use_stream(std::FILE* stream, const char* name);

  const char* name() const noexcept { return name_; }
  // The stream the data go to; null before the output is opened and after its commit.
  std::FILE* stream() const noexcept { return stream_; }
  // Whether an opened file's stream got its full buffer of OUTPUT_BUFFER_SIZE bytes.
  bool buffered() const noexcept { return buffer_ != nullptr; }
  // The temporary file that the commit puts in the target's place, for a writer that writes it by
  // its name; "" when the output is written in place, appended or a caller's stream.
  const std::string& temp_path() const noexcept { return undo_.temp_path; }

  // Writes `bytes` bytes as one record, all or nothing (in pieces below 2 GiB where the C library
  // needs it). Returns 0 or the error number. An output whose write failed, or that was given
  // up or committed, is never written to again: EBADF.
  int write(const void* data, std::size_t bytes);
  // Gives the output up, interrupted with a record perhaps cut short: EBADF from then on.
  void give_up() noexcept { failed_ = true; }
  // Finishes the output: a caller's stream is flushed; a file's stream is flushed and closed, a
  // temporary file written through to the device (through the output's own descriptor), checked
  // to be still the file this output created, renamed over its target and the folder synced; an
  // append is unlocked. Returns 0, or the error number after undoing the output: EBADF for a
  // file whose write failed or that was given up.
  int commit();

private:
  int open_descriptor(const char* name, OutputMode mode, OutputTarget& target);
  int fail(int error_number) noexcept; // undoes the output and returns `error_number`
  void undo() noexcept;
  void finish() noexcept;

  const char* name_ = "";
  std::FILE* stream_ = nullptr;
  bool owns_stream_ = false; // the stream is this output's: closed by it
  bool failed_ = false;      // what the stream holds may end inside a record
  bool noted_ = false;       // the interruption handler's note is this output's undo
  // The stream buffer, released after the stream is closed.
  std::unique_ptr<char[]> buffer_;
  OutputUndo undo_; // how the output is undone until it is finished
};

} // namespace norvalex
