// Writes TQS files: into a file it opens (replaced whole, or written at its end when appending)
// or into a stream the caller owns, such as standard output. Every failure throws norvalex::Error
// with a numbered library message. An output whose write failed, or that is not open, is never
// written to again: every later write throws message 0 with "Bad file descriptor", so no block
// can follow a record cut short.
//
// A named file is never left half-written. A regular file (or a new name) is written into a
// temporary file beside it, which only a successful tqs_close_output puts in its place; an append
// to a regular file holds an exclusive lock on it and, when it fails or is given up, cuts the file
// back to its length before (or removes it when this output created it). Devices, FIFOs and
// names like /dev/stdout are written in place.
#pragma once

#include "tqs_format.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// Size of the one full buffer every output file gets.
inline constexpr std::size_t TQS_BUFFER_SIZE = 1048576;

struct NORVALEX_TQS_API TqsBufferDeleter {
  void operator()(char* buffer) const;
};

// An open output. `stream` and `name` come first and in this order: other parts of the library
// share that layout. An output that goes out of scope without a successful tqs_close_output
// (after a failure, say) is undone: its temporary file is removed, or the appended file is cut
// back (or removed) as described above.
struct NORVALEX_TQS_API TqsOutput {
  std::FILE* stream = nullptr;
  const char* name = nullptr; // "-" for standard output, else the caller's file name (borrowed)
  int append = 0; // non-zero when appending: a "creator" block stands in for the file header
  bool owns_stream = false; // the writer opened the stream and closes it
  bool failed = false;      // a write failed: what the stream holds may end inside a record
  // The stream buffer of a file the writer opened, released after the stream is closed.
  std::unique_ptr<char, TqsBufferDeleter> buffer;

  // How the output is undone, until it is finished; a program that undoes it on a signal reads
  // these (see tqs_close_output for when they are cleared).
  std::string temp_path;   // the temporary file that replaces the target at the close, or ""
  std::string target_path; // the file replaced or appended to, symbolic links followed
  // A descriptor of the target that holds its lock: the file replaced (locked at the rename)
  // or the file appended to (locked from the open, and cut back through it); -1 when none.
  int target_fd = -1;
  std::int64_t start_length = -1; // the appended file's length under the lock; -1: no cut back
  bool remove_target = false;     // the append created the file: undone by removing it

  TqsOutput() = default;
  TqsOutput(const TqsOutput&) = delete;
  TqsOutput& operator=(const TqsOutput&) = delete;
  ~TqsOutput();
};

// Opens the file `name`: a new file that replaces it at the close (written in place for a device,
// a FIFO and the like), or with `append` created if missing and written at its end under the
// lock. Throws message 0 with `name` when it cannot be opened. Returns 0 when the stream got its
// full buffer of TQS_BUFFER_SIZE bytes, -1 when it keeps the C library's buffering.
NORVALEX_TQS_API int tqs_open_file(TqsOutput& output, const char* name, bool append);

// Writes to `stream`, which the caller opened and keeps open; `name` names it in messages.
NORVALEX_TQS_API void tqs_use_stream(TqsOutput& output, std::FILE* stream, const char* name,
                                     bool append);

// Writes the 48-byte file header, or in append mode a "creator" string block holding `creator`
// (the second name and the version bytes are then dropped).
NORVALEX_TQS_API void tqs_write_header(TqsOutput& output, const char* creator,
                                       std::uint8_t creator_version0, std::uint8_t creator_version1,
                                       const char* second_name, std::uint8_t second_version0,
                                       std::uint8_t second_version1);

// Fills every byte of `header`; names longer than 15 bytes are cut to 15. The creation time is
// taken last.
NORVALEX_TQS_API void tqs_fill_header(TqsFileHeader& header, const char* creator,
                                      std::uint8_t creator_version0, std::uint8_t creator_version1,
                                      const char* second_name, std::uint8_t second_version0,
                                      std::uint8_t second_version1);

// Writes an array block of `count` elements of the code in `type`, straight from `data`. An
// element type without a size, a negative count, or a byte size beyond the 32-bit size word is
// refused before anything of the block is written.
NORVALEX_TQS_API void tqs_write_array(TqsOutput& output, const char* name, std::int32_t count,
                                      std::uint32_t type, const void* data);

// Writes a single-value string block; its data is `value` with its NUL. `flags` is normally 0.
NORVALEX_TQS_API void tqs_write_string(TqsOutput& output, const char* name, std::uint32_t flags,
                                       const char* value);

// Writes `header` and then its `size` bytes from `data`; `data` is not read when `size` is 0.
NORVALEX_TQS_API void tqs_write_block(TqsOutput& output, const TqsBlockHeader& header,
                                      const void* data);

// Flushes a caller's stream and leaves it open, or closes the file the writer opened: a
// temporary file is written through to the storage device and renamed over its target; an
// appended file is unlocked. A failure that shows only now throws like any other write failure,
// after the output has been undone; the output is finished either way, and the fields that
// undo it are cleared.
NORVALEX_TQS_API void tqs_close_output(TqsOutput& output);
